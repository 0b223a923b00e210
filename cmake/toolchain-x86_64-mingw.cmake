# 64-bit Windows with MinGW-w64:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-mingw.cmake ...
set(MARROWGATE_WIN_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
