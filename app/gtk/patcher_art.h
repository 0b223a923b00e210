// The window's pictures, compiled into the program: PNG files of
// app/gtk/art/ (drawn by scripts/draw-patcher-art.py) as byte arrays.
#ifndef MARROWGATE_APP_GTK_PATCHER_ART_H_
#define MARROWGATE_APP_GTK_PATCHER_ART_H_

#include <cstddef>

namespace marrowgate {

// The picture on the left of the dialog (bitmap 129).
extern const unsigned char kPatcherPicturePng[];
extern const size_t kPatcherPicturePngSize;
// The window's icon (icon 128).
extern const unsigned char kPatcherIconPng[];
extern const size_t kPatcherIconPngSize;

}  // namespace marrowgate

#endif  // MARROWGATE_APP_GTK_PATCHER_ART_H_
