# Shared by the scripts: the build folder's lock, building, a private Xvfb display and a
# persistent Wine server. Everything started here is recorded by pid and stopped by stop_all
# (installed as an EXIT trap).

ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
export WINEPREFIX=${WINEPREFIX:-$BUILD_DIR/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs: nothing here needs .NET or the HTML engine.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

# The build folder and its Wine prefix serve one script at a time: two builds in one folder
# overwrite each other, and stop_all's `wineserver -k` would end the other script's programs.
# A script calls this first, with its arguments. It waits for the lock on BUILD_DIR/.lock, then
# runs the script again as a child that holds no descriptor of the lock, so that nothing the
# script starts (Xvfb, a wine service) can keep holding it; the lock goes once the child has
# ended and stopped what it started.
lock_build_dir() {
  [ "${LUNETRIX_BUILD_LOCK:-}" = "$BUILD_DIR" ] && return 0
  mkdir -p "$BUILD_DIR"
  local lock status=0
  exec {lock}>>"$BUILD_DIR/.lock"
  if ! flock -n "$lock"; then
    echo "$(basename "$0"): waiting for the other script that uses $BUILD_DIR to end" >&2
    flock "$lock"
  fi
  LUNETRIX_BUILD_LOCK=$BUILD_DIR "$BASH" "$0" "$@" {lock}>&- || status=$?
  exit "$status"
}

STARTED_PIDS=()
XVFB_PID=""
WINESERVER_STARTED=0

# Configures the build folder and builds everything, or only TARGET when one is given.
build_project() {
  local generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  if [ -f "$BUILD_DIR/CMakeCache.txt" ]; then
    generator=()  # the cache keeps its generator
  else
    local took=" (a few minutes on 2 cores)"
    [ -n "${1:-}" ] && took=""  # one target alone takes seconds
    echo "$(basename "$0"): first build in $BUILD_DIR, libpng's included$took" >&2
  fi
  cmake -S "$ROOT" -B "$BUILD_DIR" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DLIBPNG_SOURCE_DIR="${LUNETRIX_CACHE:-/var/cache/lunetrix}/libpng-src" >/dev/null
  cmake --build "$BUILD_DIR" --parallel "$(nproc)" ${1:+--target "$1"}
}

# Starts a private Xvfb and waits until it answers. Xvfb picks a free display number itself
# (-displayfd) and writes it once it listens, so two scripts started at once never take the same
# one; the server counts as ready when xdpyinfo gets an answer from it, not when a socket exists.
start_display() {
  local numbers n="" i
  exec {numbers}< <(exec Xvfb -displayfd 1 -screen 0 1280x800x24 -nolisten tcp \
                      </dev/null 2>/dev/null)
  XVFB_PID=$!
  STARTED_PIDS+=("$XVFB_PID")
  # A line, or end of file when Xvfb gave up.
  read -r -t 20 -u "$numbers" n || n=""
  exec {numbers}<&-
  if [ -n "$n" ]; then
    export DISPLAY=":$n"
    for i in $(seq 1 20); do
      if timeout 2 xdpyinfo >/dev/null 2>&1; then
        /usr/bin/python3 "$ROOT/scripts/wm-state" </dev/null &
        STARTED_PIDS+=("$!")
        return 0
      fi
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
  fi
  echo "Xvfb did not start${n:+ (display :$n does not answer)}" >&2
  return 1
}

# NOTE: Wine's background services inherit the standard streams of the process that started
# them; if that were a CTest test, CTest would wait for the pipe forever. So the server and the
# prefix's boot start here, with every stream on /dev/null, before any test runs.
# NOTE: a new prefix is made and configured in a session of its own, which is then waited out.
# Made under the persistent server instead, the first boot measured two services.exe, a dead
# rpcss and an unresponsive desktop process, and every later program that opened a window
# waited about 20 s for its display driver.
start_wine() {
  mkdir -p "$WINEPREFIX"
  if [ ! -f "$WINEPREFIX/.lunetrix-booted" ]; then
    echo "$(basename "$0"): making the Wine prefix $WINEPREFIX (about 30 s, once)" >&2
    wineboot -i </dev/null >/dev/null 2>&1
    configure_wine
    wineserver -w </dev/null >/dev/null 2>&1
    touch "$WINEPREFIX/.lunetrix-booted"
  fi
  wineserver -p </dev/null >/dev/null 2>&1
  WINESERVER_STARTED=1
  wineboot </dev/null >/dev/null 2>&1 || true
  configure_wine
}

# Settings of the prefix, applied once per version of this list.
configure_wine() {
  local marker="$WINEPREFIX/.lunetrix-settings-3"
  [ -f "$marker" ] && return
  # NOTE: Debian's Wine 8 looks for its own fonts (fonts-wine, in /usr/share/wine/fonts) under
  # "Z:\usr\share\wine\../fonts", a path it cannot resolve, so it finds no Marlett and draws
  # every caption button as the letter that stands for its glyph (the close box is an "r").
  # The fonts folder of the prefix, which Wine does read, gets links to them.
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
  # A crash prints a backtrace and ends the process instead of waiting on a dialog.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1
  # NOTE: with no window manager on Xvfb, Wine leaves window frames to the (absent) manager and
  # a window has no caption to drag or close box to click. Undecorated, Wine draws the frame
  # itself, as Windows does.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
    </dev/null >/dev/null 2>&1
  touch "$marker"
}

stop_all() {
  if [ "$WINESERVER_STARTED" = 1 ]; then
    wineserver -k </dev/null >/dev/null 2>&1 || true
    WINESERVER_STARTED=0
  fi
  local pid
  for pid in "${STARTED_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  STARTED_PIDS=()
}
trap stop_all EXIT
