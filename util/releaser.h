// Ownership of objects that are disposed of through their virtual Release().
//
//   Owned<VirtualFile> file(fs->Open(path, kOpenRead));
//
// releases the file when `file` goes out of scope.
#ifndef MARROWGATE_UTIL_RELEASER_H_
#define MARROWGATE_UTIL_RELEASER_H_

#include <memory>

namespace marrowgate {

template <class T>
struct Releaser {
  void operator()(T* object) const {
    if (object != nullptr) object->Release();
  }
};

template <class T>
using Owned = std::unique_ptr<T, Releaser<T>>;

}  // namespace marrowgate

#endif  // MARROWGATE_UTIL_RELEASER_H_
