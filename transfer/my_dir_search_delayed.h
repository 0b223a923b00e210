// MyDirSearchDelayed: the copy walker of delayed_dircp (transfer/
// dir_copy.h). Files whose relative path is in the delayed-name set are held
// back during the walk; ActionOnDelayedFiles copies every listed name after
// the walk, provided at least one file was held back. An optional last
// name is held back too and copied after all the others, and only when no
// file of the run was left out after an error: a file that marks the copy
// as complete (a version file) is never written beside an incomplete copy.
#ifndef MARROWGATE_TRANSFER_MY_DIR_SEARCH_DELAYED_H_
#define MARROWGATE_TRANSFER_MY_DIR_SEARCH_DELAYED_H_

#include <cstdint>

#include "transfer/dir_copy.h"
#include "transfer/my_dir_search.h"
#include "util/hash_table.h"

namespace marrowgate {

class MyDirSearchDelayed : public MyDirSearch {
 public:
  // Fills the delayed-name set from `names` (borrowed, null-ended; null is
  // an empty list) and `last_name` (borrowed, may be null). std::bad_alloc
  // when memory runs out.
  MyDirSearchDelayed(const DIRCP_PARAM_T& params, HeldBackNames names,
                     const char* last_name = nullptr);

  int32_t ActionOnFile(const char* name) override;
  // Copies one listed name N from szSrcDir/N to szDstDir/N (with the
  // suffix; nCutTail does not apply). A name the source lacks is passed
  // over with 0 and no notification; one the source has but cannot open
  // (an item whose header is damaged) is sent as cb_ERROR(-1, "Can not
  // open %s!") and gives -2 when the sink asks to stop, else 0 (skipped);
  // an item damaged further on fails as it is read (-21 or 0).
  virtual int32_t ActionOnDelayedFile(const char* name);
  // 0 when no file was held back; otherwise copies every listed name in
  // list order, then the last name (unless FilesLeftOut() is above 0), and
  // returns the first non-zero code less 4000.
  int32_t ActionOnDelayedFiles();

  bool HeldBack() const { return held_back_; }

 private:
  StringHashSet delayed_set_;
  bool held_back_ = false;
  HeldBackNames names_;
  const char* last_name_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_MY_DIR_SEARCH_DELAYED_H_
