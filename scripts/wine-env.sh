# Sourced by the Windows scripts: a Wine prefix made ready for running many
# programs quickly, without a display or on one.
#
#   wine_prepare PREFIX           # exports WINEPREFIX, WINEDEBUG, MARROWGATE_WINE,
#                                 # MARROWGATE_WINEPATH; starts a persistent wineserver
#   wine_prepare PREFIX display   # the same on the display of $DISPLAY
#   wine_stop                     # ends that wineserver
#
# Wine's helper processes keep a program's output pipe open until
# wineserver goes idle, which costs seconds per program; a persistent
# wineserver that has already started them lets every program return at
# once. Without a display the null graphics driver is set, and window
# messages between processes work with it. A prefix's desktop keeps the
# driver it started with, so programs that draw (the dialog's tests, the
# patch run) use a prefix of their own, with Wine's X11 driver, on a
# virtual display (xvfb-run).

wine_prepare() {
  local mode=${2:-}
  if [ "$mode" = display ]; then
    export WINEPREFIX=$1
    if [ -z "${DISPLAY:-}" ]; then
      echo "wine-env: no DISPLAY for the prefix $WINEPREFIX (run under xvfb-run)" >&2
      return 1
    fi
  else
    export WINEPREFIX=${WINEPREFIX:-$1}
    unset DISPLAY WAYLAND_DISPLAY
  fi
  export WINEDEBUG=${WINEDEBUG:--all}
  # No Mono or Gecko installer prompts when the prefix is made.
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  MARROWGATE_WINE=${MARROWGATE_WINE:-$(command -v wine || command -v wine64 || true)}
  MARROWGATE_WINEPATH=$(command -v winepath || true)
  local server
  server=$(command -v wineserver || true)
  if [ -z "$MARROWGATE_WINE" ] || [ -z "$server" ]; then
    echo "wine-env: Wine is not installed (apt-get install wine wine64)" >&2
    return 1
  fi
  export MARROWGATE_WINE MARROWGATE_WINEPATH
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-env: making the Wine prefix $WINEPREFIX" >&2
    timeout -k 10 600 "$MARROWGATE_WINE" wineboot -i >/dev/null 2>&1 || {
      echo "wine-env: wineboot failed in $WINEPREFIX" >&2
      return 1
    }
  fi
  "$server" -p
  timeout -k 10 120 "$MARROWGATE_WINE" cmd /c exit >/dev/null 2>&1 || {
    echo "wine-env: Wine does not start programs (wine cmd /c exit failed)" >&2
    return 1
  }
  # A program that crashes ends at once, its backtrace in its output, rather
  # than waiting in Wine's crash dialog until the time limit.
  timeout -k 10 120 "$MARROWGATE_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
    /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
  if [ "$mode" != display ]; then
    timeout -k 10 120 "$MARROWGATE_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
      >/dev/null 2>&1 || true
    # The desktop started above kept the driver it found (none usable
    # without a display, in a prefix just made): start again so that the
    # null driver serves every program, or no window can be made.
    "$server" -k >/dev/null 2>&1 || true
    "$server" -w >/dev/null 2>&1 || true
    "$server" -p
    timeout -k 10 120 "$MARROWGATE_WINE" cmd /c exit >/dev/null 2>&1 || {
      echo "wine-env: Wine does not start programs (wine cmd /c exit failed)" >&2
      return 1
    }
  fi
  if [ -z "$MARROWGATE_WINEPATH" ]; then
    MARROWGATE_WINEPATH=wine_path_fallback
  fi
}

# winepath without the winepath script: Z: is the root of the file system.
wine_path_fallback() {
  [ "$1" = -w ] && shift
  printf 'Z:%s\n' "${1//\//\\}"
}

wine_stop() {
  local server
  server=$(command -v wineserver || true)
  [ -n "$server" ] && [ -n "${WINEPREFIX:-}" ] && "$server" -k >/dev/null 2>&1
  return 0
}
