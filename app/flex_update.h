// FlexUpdate: the object of one patch run. It is the bindable record of
// the UPDATE block of the package's "cfg.txt" (type "FlexUpdate::CFGINFO_T",
// no parent):
//
//   UPDATE
//   {
//     szUpdateDir = update       // folder of the package copied (259 chars)
//     szValidityStr = 1.2.0.0    // lowest client version served (15 chars)
//     PACKAGE = data/sound       // each line: MakeSurePackage of that name
//   }
//
// Longer text values are cut to the field (259 and 15 characters).
//
//   FlexUpdate update;
//   update.SetJob(&job);                  // borrowed for the run
//   update.SetFileManager(fileManager);   // owned from now on
//   int rc = update.ParseCfg(cfgFile);    // 0, or -1 after cb_ERROR(-1000)
//   if (rc == 0 && IsVersionLower(job.pszClientVersion, update.szValidityStr)) ...
//
// A PACKAGE line runs MakeSurePackage (transfer/make_sure_package.h) with
// the job's szInstallDir and pNotify and the run's FileManager, while the
// file is read; its non-zero result fails that line and so the read.
//
// One object serves one run; the job, the FileManager and the copy engine
// live exactly as long as the run.
#ifndef MARROWGATE_APP_FLEX_UPDATE_H_
#define MARROWGATE_APP_FLEX_UPDATE_H_

#include <cstdint>
#include <string_view>

#include "app/patch_job.h"
#include "config/cfg_record.h"
#include "package/file_manager.h"
#include "package/virtual_file.h"
#include "transfer/dir_copy.h"
#include "util/releaser.h"

namespace marrowgate {

// Texts and codes of ParseCfg.
inline constexpr char kTextCanNotAnalyzeCfg[] = "Can not analyze cfgfile rst:%d %s%s";
constexpr int32_t kNotifyCfgError = -1000;

// Block name of the record in "cfg.txt".
inline constexpr char kUpdateBlockName[] = "UPDATE";

class FlexUpdate : public CfgRecord {
 public:
  static constexpr int32_t kUpdateDirSize = 260;
  static constexpr int32_t kValiditySize = 16;

  // The type description "FlexUpdate::CFGINFO_T" and its rows.
  static const CfgFieldInfo CFGINFO_ROWS[];
  static const CfgTypeInfo CFGINFO_T;

  FlexUpdate() = default;
  FlexUpdate(const FlexUpdate&) = delete;
  FlexUpdate& operator=(const FlexUpdate&) = delete;
  ~FlexUpdate() override;

  const CfgTypeInfo* GetTypeInfo() const override { return &CFGINFO_T; }

  // The job of the run (borrowed; may be null to detach).
  void SetJob(PatchJob* job) { job_ = job; }
  PatchJob* job() const { return job_; }

  // Hands over the run's FileManager (owned from now on; an earlier one is
  // released). PACKAGE lines mount their packages in it.
  void SetFileManager(FileManager* fileManager) { fileManager_.reset(fileManager); }
  FileManager* file_manager() const { return fileManager_.get(); }

  // Reads the UPDATE block of the open `file` (not closed here). 0, or -1
  // when the reader failed: then "Can not analyze cfgfile rst:<rst>
  // <error text>\n" was sent to cb_ERROR(-1000) of the job's sink (when
  // there is a job with a sink). A null file gives -1 and sends nothing. Values bound before a failure stay, and so
  // do packages made by earlier PACKAGE lines.
  int ParseCfg(VirtualFile* file);

  // The handler of PACKAGE: MakeSurePackage of `name` in the job's install
  // folder through the run's FileManager (kPackageNameRefused without a job
  // or a FileManager).
  int OnPackage(std::string_view name);

  // The record.
  char szUpdateDir[kUpdateDirSize] = "update";
  char szValidityStr[kValiditySize] = {};

  // FlexUpdate::Run(PatchJob*), the patch run itself, goes here; it uses
  // the members below.

 private:
  PatchJob* job_ = nullptr;           // borrowed for the run
  Owned<FileManager> fileManager_;    // the run's FileManager; null until set
  Owned<dircp> copyEngine_;           // the run's copy engine; null until made
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_FLEX_UPDATE_H_
