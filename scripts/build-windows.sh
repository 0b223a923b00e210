#!/usr/bin/env bash
# Builds Marrowgate for Windows with MinGW-w64 and runs its unit tests and
# the marrowgate-pack checks under Wine.
#
#   bash scripts/build-windows.sh                          # see "Which flavour"
#   MARROWGATE_WIN_ARCH=i686 bash scripts/build-windows.sh   # 32-bit
#   MARROWGATE_WIN_ARCH=x86_64 bash scripts/build-windows.sh # 64-bit
#   MARROWGATE_WIN_TESTS=0 bash scripts/build-windows.sh     # build only
#
# Which flavour: the patcher is a 32-bit program, so i686 is built when its
# tests can run, that is when Wine's 32-bit half (wine32) is installed or
# can be installed. When it cannot (a multiarch i386 index that does not
# match the machine's packages, say), the same sources are built and tested
# as x86_64 under wine64, and the script says so.
#
# Steps: install the cross compilers and Wine (apt-get, as root, only what
# is missing); build Crypto++, libdeflate, ISA-L and librsync from the
# distribution's source packages, and GoogleTest from /usr/src/googletest,
# into a prefix that is kept and reused (MARROWGATE_MINGW_PREFIX, by default
# ~/.cache/marrowgate-mingw/<arch>); configure and build the project into
# MARROWGATE_WIN_BUILD (build-windows/ for i686, build-windows64/ for
# x86_64); run every test program once under Wine (scripts/test-windows.sh)
# and marrowgate-pack.exe against the Linux marrowgate-pack
# (scripts/check-windows-pack.sh; the Linux program is MARROWGATE_LINUX_PACK,
# else build/tools/marrowgate-pack, else one built for the purpose).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
arch=${MARROWGATE_WIN_ARCH:-auto}
case "$arch" in
  auto | i686 | x86_64) ;;
  *) echo "build-windows: unknown architecture '$arch' (i686 or x86_64)" >&2; exit 2 ;;
esac
jobs=${JOBS:-2}
run_tests=${MARROWGATE_WIN_TESTS:-1}
# The Windows version the project and Crypto++ are both built for.
winnt=0x0601

log() { echo "build-windows: $*" >&2; }
now() { date +%s; }

# Where the time went: "part seconds" per timed part, printed at the end
# whatever the outcome.
timings=()
timed() {
  local part=$1 t0 rc=0
  shift
  t0=$(now)
  "$@" || rc=$?
  timings+=("$part $(( $(now) - t0 ))")
  return "$rc"
}
print_timings() {
  local line
  [ ${#timings[@]} -gt 0 ] || return 0
  log "time per part (s):"
  for line in "${timings[@]}"; do printf '  %-22s %5s\n' "${line% *}" "${line##* }" >&2; done
  log "total $(( $(now) - started )) s"
}

# ------------------------------------------------------------------ tools

apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@" >/dev/null
}

# apt-get update reports a failure when one index of many could not be
# fetched; the install that follows tells whether it mattered.
apt_update() { apt-get update -qq || log "apt-get update reported errors; going on"; }

install_tools() {
  local wanted=(g++-mingw-w64-"${arch//_/-}"-posix libz-mingw-w64-dev dpkg-dev wine wine64 xvfb
                cmake googletest pkgconf python3 ccache)
  local missing=()
  for p in "${wanted[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    apt_update
    apt_install "${missing[@]}"
  fi
}

have_wine32() { dpkg -s wine32 >/dev/null 2>&1 || dpkg -s wine32:i386 >/dev/null 2>&1; }

# Whether this machine runs 32-bit x86 programs at all: a kernel can have
# its 32-bit emulation turned off (ia32_emulation=off), and then no 32-bit
# Wine runs, whatever is installed. Tried with a 32-bit ELF program of a few
# bytes that only exits (no 32-bit library needed).
can_run_32bit() {
  local probe status
  probe=$(mktemp "${TMPDIR:-/tmp}/marrowgate-probe32.XXXXXX") || return 1
  python3 - "$probe" <<'EOF_PROBE' || { rm -f "$probe"; return 1; }
import struct, sys
code = bytes([0x31, 0xdb, 0xb8, 1, 0, 0, 0, 0xcd, 0x80])  # exit(0) by int 0x80
base, ehsize, phsize = 0x08048000, 52, 32
header = b'\x7fELF' + bytes([1, 1, 1, 0]) + bytes(8) + struct.pack(
    '<HHIIIIIHHHHHH', 2, 3, 1, base + ehsize + phsize, ehsize, 0, 0, ehsize, phsize, 1, 0, 0, 0)
size = ehsize + phsize + len(code)
program = struct.pack('<IIIIIIII', 1, 0, base, base, size, size, 5, 0x1000)
with open(sys.argv[1], 'wb') as out:
    out.write(header + program + code)
EOF_PROBE
  chmod +x "$probe"
  "$probe" >/dev/null 2>&1
  status=$?
  rm -f "$probe"
  [ "$status" = 0 ]
}

# 32-bit programs need Wine's 32-bit half and a kernel that runs 32-bit
# programs; one attempt to install the former when the latter holds.
try_wine32() {
  if ! can_run_32bit; then
    log "this machine does not run 32-bit programs (its kernel's 32-bit emulation is off)"
    return 1
  fi
  have_wine32 && return 0
  log "installing wine32 (Wine for 32-bit programs)"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt_update
  apt_install wine32:i386 && return 0
  log "wine32 could not be installed (apt-get install wine32:i386 failed)"
  return 1
}

# Settles the flavour (see the top of this file).
resolve_arch() {
  if [ "$arch" = auto ]; then
    if [ "$run_tests" = 0 ] || try_wine32; then
      arch=i686
    else
      arch=x86_64
      log "no 32-bit Wine on this machine: building and testing the 64-bit flavour"
      log "(x86_64, run by wine64) instead; the sources are the same"
    fi
  elif [ "$arch" = i686 ] && [ "$run_tests" != 0 ]; then
    try_wine32 || true
  fi
  log "flavour: $arch"
}

# A deb-src entry for every deb entry of the machine's apt sources, so
# that apt-get source works; written once, beside the others.
add_source_entries() {
  local dir=/etc/apt/sources.list.d
  local out822=$dir/marrowgate-deb-src.sources out_list=$dir/marrowgate-deb-src.list
  if grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list "$dir"; then return; fi
  log "adding deb-src entries derived from the apt sources"
  local f
  for f in "$dir"/*.sources; do
    [ -e "$f" ] || continue
    awk 'BEGIN { RS = ""; ORS = "\n\n" }
         /(^|\n)Types:[^\n]*deb([ \t\n]|$)/ {
           sub(/Types:[^\n]*/, "Types: deb-src")
           gsub(/\nArchitectures:[^\n]*/, "")
           print
         }' "$f"
  done >"$out822"
  for f in /etc/apt/sources.list "$dir"/*.list; do
    [ -e "$f" ] || continue
    [ "$f" = "$out_list" ] && continue
    sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}/deb-src \1/p' "$f"
  done >"$out_list"
  [ -s "$out822" ] || rm -f "$out822"
  [ -s "$out_list" ] || rm -f "$out_list"
  apt_update
}

# ------------------------------------------------------------ dependencies

# Unpacks the source package $1 under $prefix/src and prints its folder.
fetch_source() {
  local package=$1 src=$prefix/src/$1
  if [ ! -d "$src" ] || [ -z "$(ls -d "$src"/*/ 2>/dev/null)" ]; then
    rm -rf "$src"
    mkdir -p "$src"
    # When the Debian part of a source package cannot be fetched, its
    # upstream tarball (fetched first) is enough: the build uses upstream's
    # own makefiles.
    (cd "$src" && apt-get source -qq "$package" >/dev/null 2>&1) || true
    if [ -z "$(ls -d "$src"/*/ 2>/dev/null)" ]; then
      local orig
      orig=$(ls "$src"/*.orig.tar.* 2>/dev/null | head -n 1)
      if [ -z "$orig" ] || ! tar -xf "$orig" -C "$src"; then
        log "apt-get source $package failed"
        return 1
      fi
    fi
  fi
  ls -d "$src"/*/ | head -n 1
}

write_pc() {  # name, version, libs, [cflags]
  mkdir -p "$prefix/lib/pkgconfig"
  cat >"$prefix/lib/pkgconfig/$1.pc" <<EOF
prefix=$prefix
Name: $1
Description: $1 for $host
Version: $2
Cflags: -I\${prefix}/include ${4:-}
Libs: -L\${prefix}/lib $3
EOF
}

cryptopp_sources=(cryptlib.cpp cpu.cpp integer.cpp adler32.cpp algparam.cpp allocate.cpp asn.cpp
  basecode.cpp dll.cpp ec2n.cpp ecp.cpp filters.cpp fips140.cpp gf2n.cpp gf2n_simd.cpp gfpcrypt.cpp
  hex.cpp hmac.cpp hrtimer.cpp iterhash.cpp misc.cpp modes.cpp mqueue.cpp nbtheory.cpp oaep.cpp
  osrng.cpp pkcspad.cpp pubkey.cpp queue.cpp randpool.cpp rdtables.cpp rijndael.cpp
  rijndael_simd.cpp rng.cpp rsa.cpp sha.cpp sha_simd.cpp sse_simd.cpp zdeflate.cpp zinflate.cpp
  zlib.cpp)

build_cryptopp() {
  [ -f "$prefix/lib/libcryptopp.a" ] && return
  log "building Crypto++"
  local src
  src=$(fetch_source libcrypto++) || return 1
  # Debian's makefile names the library libcrypto++.a, upstream's
  # libcryptopp.a.
  # Only the objects the project's programs and tests link (41 of 174,
  # found by following the programs' undefined symbols through the full
  # library): a third of the compile time.
  if ! ls "$src"/libcrypto*.a >/dev/null 2>&1; then
    CXXFLAGS="-DNDEBUG -O2 -D_WIN32_WINNT=$winnt -DWINVER=$winnt" \
      make -C "$src" -f GNUmakefile -j"$jobs" static SRCS="${cryptopp_sources[*]}" \
        CXX="$host-g++-posix" AR="$host-ar" RANLIB="$host-ranlib" >"$prefix/cryptopp-build.log" 2>&1 || {
        tail -n 30 "$prefix/cryptopp-build.log" >&2
        return 1
      }
  fi
  mkdir -p "$prefix/include/cryptopp" "$prefix/lib"
  cp "$src"/*.h "$prefix/include/cryptopp/" || return 1
  cp "$(ls "$src"/libcrypto*.a | head -n 1)" "$prefix/lib/libcryptopp.a" || return 1
  write_pc libcrypto++ 8 "-lcryptopp -lws2_32"
}

build_libdeflate() {
  [ -f "$prefix/lib/libdeflate.a" ] && return
  log "building libdeflate"
  local src
  src=$(fetch_source libdeflate) || return 1
  # For a Windows target its makefile names the static library
  # libdeflatestatic.lib (an ar archive all the same).
  make -C "$src" -j"$jobs" libdeflatestatic.lib CC="$host-gcc" AR="$host-ar" \
    CFLAGS="-O2" >"$prefix/libdeflate-build.log" 2>&1 || {
    tail -n 30 "$prefix/libdeflate-build.log" >&2
    return 1
  }
  mkdir -p "$prefix/include" "$prefix/lib"
  cp "$src/libdeflate.h" "$prefix/include/" || return 1
  cp "$src/libdeflatestatic.lib" "$prefix/lib/libdeflate.a" || return 1
  write_pc libdeflate 1 -ldeflate
}

build_isal() {
  [ -f "$prefix/lib/libisal.a" ] && return
  log "building ISA-L (portable C)"
  local src
  src=$(fetch_source libisal) || return 1
  # Its byte-swap helpers are left undefined for a 32-bit MinGW target;
  # a header included first maps them to the compiler's built-ins.
  cat >"$prefix/isal_bswap.h" <<'EOF'
#ifndef isal_bswap16
#define isal_bswap16(x) __builtin_bswap16(x)
#define isal_bswap32(x) __builtin_bswap32(x)
#define isal_bswap64(x) __builtin_bswap64(x)
#endif
EOF
  make -C "$src" -f Makefile.unx -j"$jobs" arch=noarch lib_name=bin/libisal.a \
    CC="$host-gcc" AR="$host-ar" DEFINES="-include $prefix/isal_bswap.h" lib \
    >"$prefix/isal-build.log" 2>&1 || {
    tail -n 30 "$prefix/isal-build.log" >&2
    return 1
  }
  mkdir -p "$prefix/include/isa-l" "$prefix/lib"
  cp "$src"/include/*.h "$prefix/include/isa-l/" || return 1
  cp "$src/bin/libisal.a" "$prefix/lib/" || return 1
  write_pc libisal 2 -lisal
}

# The library is static: its export header must say so to every user
# (otherwise the declarations ask for DLL imports).
mark_librsync_static() {
  local header=$prefix/include/librsync_export.h
  grep -q '^#define LIBRSYNC_STATIC_DEFINE' "$header" && return
  { echo '#ifndef LIBRSYNC_STATIC_DEFINE'
    echo '#define LIBRSYNC_STATIC_DEFINE'
    echo '#endif'
    cat "$header"
  } >"$header.new"
  mv "$header.new" "$header"
}

build_librsync() {
  if [ -f "$prefix/lib/librsync.a" ] && [ -f "$prefix/include/librsync_export.h" ]; then
    mark_librsync_static
    return
  fi
  log "building librsync"
  local src
  src=$(fetch_source librsync) || return 1
  cmake -S "$src" -B "$prefix/librsync-build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
    -DBUILD_RDIFF=OFF -DUSE_LIBB2=OFF -DCMAKE_DISABLE_FIND_PACKAGE_POPT=ON \
    >"$prefix/librsync-build.log" 2>&1 &&
    cmake --build "$prefix/librsync-build" -j"$jobs" --target rsync >>"$prefix/librsync-build.log" 2>&1 || {
    tail -n 30 "$prefix/librsync-build.log" >&2
    return 1
  }
  mkdir -p "$prefix/include" "$prefix/lib"
  cp "$src/src/librsync.h" "$prefix/include/" || return 1
  cp "$src/src/librsync_export.h" "$prefix/include/" || return 1
  mark_librsync_static
  cp "$prefix/librsync-build/librsync.a" "$prefix/lib/librsync.a" || return 1
}

build_googletest() {
  [ -f "$prefix/lib/libgtest.a" ] && return
  log "building GoogleTest"
  cmake -S /usr/src/googletest -B "$prefix/gtest-build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-mingw.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=OFF \
    >"$prefix/gtest-build.log" 2>&1 || return 1
  cmake --build "$prefix/gtest-build" -j"$jobs" >>"$prefix/gtest-build.log" 2>&1 || return 1
  cmake --install "$prefix/gtest-build" >>"$prefix/gtest-build.log" 2>&1 || return 1
}

# ------------------------------------------------------------------ main

started=$(now)
trap print_timings EXIT
# A step that fails stops the script (each build step checks its own commands,
# since a function called through timed runs without errexit).
timed "flavour" resolve_arch
host=$arch-w64-mingw32
prefix=${MARROWGATE_MINGW_PREFIX:-$HOME/.cache/marrowgate-mingw/$arch}
# (An assignment takes the status of its substitution: the test must not
# fail it under errexit when the flavour is i686.)
build_suffix=""
[ "$arch" = x86_64 ] && build_suffix=64
build=${MARROWGATE_WIN_BUILD:-$root/build-windows$build_suffix}
timed "tools (apt)" install_tools
timed "deb-src entries" add_source_entries
mkdir -p "$prefix"
timed "Crypto++" build_cryptopp
timed "libdeflate" build_libdeflate
timed "ISA-L" build_isal
timed "librsync" build_librsync
timed "GoogleTest" build_googletest
log "dependencies ready ($prefix)"

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
timed "project configure" cmake -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-mingw.cmake" \
  -DMARROWGATE_MINGW_PREFIX="$prefix" \
  -DMARROWGATE_TESTS="$([ "$run_tests" = 0 ] && echo OFF || echo ON)" -DMARROWGATE_BENCH=OFF >/dev/null
timed "project build" cmake --build "$build" -j"$jobs"
log "project built ($build)"

if [ "$run_tests" = 0 ]; then
  exit 0
fi
if [ "$arch" = i686 ] && ! { can_run_32bit && have_wine32; }; then
  log "no 32-bit Wine (wine32) that runs on this machine: the i686 tests cannot run;"
  log "build and test the same sources with MARROWGATE_WIN_ARCH=x86_64 instead"
  exit 1
fi

# A Linux marrowgate-pack to compare packages with.
linux_pack=${MARROWGATE_LINUX_PACK:-$root/build/tools/marrowgate-pack}
if [ ! -x "$linux_pack" ]; then
  log "building a Linux marrowgate-pack to compare with"
  timed "Linux pack configure" cmake -S "$root" -B "$build/linux" -DMARROWGATE_TESTS=OFF \
    -DMARROWGATE_BENCH=OFF >/dev/null
  timed "Linux pack build" cmake --build "$build/linux" -j"$jobs" --target marrowgate-pack
  linux_pack=$build/linux/tools/marrowgate-pack
fi

status=0
timed "tests under Wine" env MARROWGATE_LINUX_PACK="$linux_pack" \
  bash "$root/scripts/test-windows.sh" "$build" || status=1
timed "pack checks" bash "$root/scripts/check-windows-pack.sh" "$build" "$linux_pack" || status=1
exit "$status"
