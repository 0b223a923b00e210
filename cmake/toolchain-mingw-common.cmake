# Shared part of the MinGW-w64 toolchain files; MARROWGATE_WIN_ARCH is set
# by the file that includes this one (i686 or x86_64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MARROWGATE_WIN_ARCH})
set(mingw_host ${MARROWGATE_WIN_ARCH}-w64-mingw32)

# The -posix compilers: std::thread and std::mutex on winpthreads.
set(CMAKE_C_COMPILER ${mingw_host}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_host}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_host}-windres)

# Dependencies built for this target (scripts/build-windows.sh).
if(NOT MARROWGATE_MINGW_PREFIX)
  if(DEFINED ENV{MARROWGATE_MINGW_PREFIX})
    set(MARROWGATE_MINGW_PREFIX $ENV{MARROWGATE_MINGW_PREFIX})
  else()
    set(MARROWGATE_MINGW_PREFIX $ENV{HOME}/.cache/marrowgate-mingw/${MARROWGATE_WIN_ARCH})
  endif()
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MARROWGATE_WIN_ARCH MARROWGATE_MINGW_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_host} ${MARROWGATE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} ${MARROWGATE_MINGW_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Windows 7 API level, the same Crypto++ is built with.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601")
# Self-contained programs: no MinGW run-time DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run through Wine (no binfmt handler is assumed).
find_program(MARROWGATE_WINE wine)
if(MARROWGATE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MARROWGATE_WINE})
endif()
