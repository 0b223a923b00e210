// The open modes shared by packages, package items, sealed streams and the
// file systems.
#ifndef MARROWGATE_PACKAGE_FILE_OPEN_MODE_H_
#define MARROWGATE_PACKAGE_FILE_OPEN_MODE_H_

namespace marrowgate {

enum OpenMode : int {
  kOpenRead = 1,    // must exist; read-only
  kOpenCreate = 2,  // created (or replaced); read-write
  kOpenUpdate = 3,  // must exist; read-write
  kOpenRaw = 4,     // must exist; read-only, the stored bytes as they are
};

inline bool IsReadOnlyMode(int mode) { return mode == kOpenRead || mode == kOpenRaw; }
inline bool IsValidOpenMode(int mode) { return mode >= kOpenRead && mode <= kOpenRaw; }

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_FILE_OPEN_MODE_H_
