# 32-bit Windows with MinGW-w64:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake ...
set(MARROWGATE_WIN_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
