// Windows error codes in the words the rest of the tree expects (the C
// library's texts, as on POSIX): a Windows implementation file turns
// GetLastError() into an errno value and its text with these. Only the
// platform's *_win.cc files include this header.
#ifndef MARROWGATE_PLATFORM_WIN_ERROR_H_
#define MARROWGATE_PLATFORM_WIN_ERROR_H_

#include <string>

namespace marrowgate::platform {

// The errno value closest to a Windows error code.
int ErrnoOfWindowsError(unsigned long code);
// The text of an errno value, worded as POSIX systems word it.
std::string TextOfErrno(int code);
// Sets errno from GetLastError() and, when `reason` is given, stores its
// text there.
void ReasonFromLastWindowsError(std::string* reason);

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_WIN_ERROR_H_
