# Sourced by ./corvane and by the test runner: one private Wine prefix per build
# folder, a Japanese locale (ANSI code page 932), and an X server of our own.
# Usage: wine_env BUILD_DIR; wine_session_start [--use-display]; wine_session_stop

wine_env() {
  local build
  build=$(cd "$1" && pwd)
  export CORVANE_BUILD="$build"
  export WINEPREFIX="$build/wineprefix"
  export WINEARCH=win32
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # Wine takes the ANSI code page from the locale; xvfb-run would drop these.
  export LANG=ja_JP.UTF-8
  export LC_ALL=ja_JP.UTF-8
}

# Starts Xvfb (unless a display is wanted and present), makes the prefix on
# first use, and keeps one wineserver alive so that each test starts fast.
wine_session_start() {
  _wine_sessions enter
  local own=1
  if [ "${1:-}" = "--use-display" ] && [ -n "${DISPLAY:-}" ]; then
    own=0
  fi
  if [ "$own" = 1 ]; then
    # Xvfb picks a display no other server holds and names it on fd 5: a
    # display chosen by its lock file alone may belong to a server that
    # another file-system root (a container, a chroot) cannot see.
    local shown
    shown=$(mktemp "${TMPDIR:-/tmp}/corvane-display-XXXXXX")
    Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$shown" >/dev/null 2>&1 &
    CORVANE_XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
      [ -s "$shown" ] && break
      kill -0 "$CORVANE_XVFB_PID" 2>/dev/null || break
      sleep 0.05
    done
    if [ ! -s "$shown" ]; then
      rm -f "$shown"
      echo "corvane: Xvfb did not start" >&2
      return 1
    fi
    export DISPLAY=":$(tr -d '\n' <"$shown")"
    rm -f "$shown"
    # The display is the session's own: nobody watches it.
    export CORVANE_OWN_DISPLAY=1
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    local began=$SECONDS
    echo "corvane: creating the Wine prefix $WINEPREFIX (once per build folder, about 20 s)" >&2
    echo "corvane:   Wine's first start: its registry, system folders and services..." >&2
    wineboot -i </dev/null >/dev/null 2>&1 || true
    wineserver -w
    # Without a window manager, managed windows make every dialog take seconds to close.
    echo "corvane:   windows without a window manager (X11 driver: Managed=N)..." >&2
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
    wineserver -w
    echo "corvane:   the prefix is made ($((SECONDS - began)) s)" >&2
  fi
  # A wineserver that outlives each test process by a few seconds keeps starts
  # fast; the session's stop ends it unless another session still uses it.
  # When another session's wineserver already serves the prefix, -p fails and
  # that one serves us too.
  wineserver -p10 </dev/null >/dev/null 2>&1 || true
  # The dialogs ask for the Japanese system fonts by name; without them Wine
  # falls back to wider bitmap fonts that cut the labels. The IPA fonts share
  # their metrics. Once per prefix, older prefixes included.
  if [ ! -f "$WINEPREFIX/.corvane-fonts" ]; then
    echo "corvane:   the Japanese system fonts' names mapped to the IPA fonts..." >&2
    local pair
    for pair in 'ＭＳ Ｐゴシック=IPAPGothic' 'ＭＳ ゴシック=IPAGothic' 'MS UI Gothic=IPAPGothic' \
      'ＭＳ Ｐ明朝=IPAPMincho' 'ＭＳ 明朝=IPAMincho'; do
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${pair%%=*}" /d "${pair#*=}" /f \
        </dev/null >/dev/null 2>&1 || true
    done
    touch "$WINEPREFIX/.corvane-fonts"
  fi
  # Start Wine's background services once with null streams, or they inherit
  # the test runner's pipes and keep it waiting.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# Ends the prefix's wineserver at once when no other session uses it, or else
# leaves it to them: no wait for its persistence to run out.
wine_session_stop() {
  _wine_sessions leave
  if [ -n "${CORVANE_XVFB_PID:-}" ]; then
    kill "$CORVANE_XVFB_PID" >/dev/null 2>&1 || true
    wait "$CORVANE_XVFB_PID" 2>/dev/null || true
    CORVANE_XVFB_PID=
  fi
}

# The sessions on this build folder's prefix, one file a process, under a lock:
# "enter" adds ours; "leave" removes it and those of ended processes, and ends
# the server when no other session is left (under the lock, so that no session
# starting meanwhile loses its server).
_wine_sessions() {
  local dir="$CORVANE_BUILD/.wine-sessions" others=0 f lock
  mkdir -p "$dir"
  exec {lock}>"$dir/.lock"
  flock "$lock"
  if [ "$1" = enter ]; then
    # The process itself, also in a subshell, where $$ names the parent.
    CORVANE_SESSION_PID=$BASHPID
    : >"$dir/$CORVANE_SESSION_PID"
  else
    rm -f "$dir/${CORVANE_SESSION_PID:-$BASHPID}"
    for f in "$dir"/*; do
      [ -e "$f" ] || continue
      if kill -0 "${f##*/}" 2>/dev/null; then others=1; else rm -f "$f"; fi
    done
    if [ "$others" = 0 ]; then
      wineserver -k >/dev/null 2>&1 || true
      wineserver -w >/dev/null 2>&1 || true
    fi
  fi
  exec {lock}>&-
}

# Windows form of a Unix path (Wine maps / to Z:).
wine_path() {
  local p
  p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  echo "Z:${p//\//\\}"
}
