# Sourced by the Windows scripts: a Wine prefix made ready for running many
# programs quickly and without a display.
#
#   wine_prepare PREFIX   # exports WINEPREFIX, WINEDEBUG, MARROWGATE_WINE,
#                         # MARROWGATE_WINEPATH; starts a persistent wineserver
#   wine_stop             # ends that wineserver
#
# Wine's helper processes keep a program's output pipe open until
# wineserver goes idle, which costs seconds per program; a persistent
# wineserver that has already started them lets every program return at
# once. Nothing here needs a display: the null graphics driver is set, and
# window messages between processes work with it.

wine_prepare() {
  export WINEPREFIX=${WINEPREFIX:-$1}
  export WINEDEBUG=${WINEDEBUG:--all}
  # No Mono or Gecko installer prompts when the prefix is made.
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  unset DISPLAY WAYLAND_DISPLAY
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
  timeout -k 10 120 "$MARROWGATE_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
    >/dev/null 2>&1 || true
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
