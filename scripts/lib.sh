# Shared by the scripts: building, a private Xvfb display and a persistent Wine server.
# Everything started here is recorded by pid and stopped by stop_all (installed as an EXIT trap).

ROOT=${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
BUILD_DIR=${BUILD_DIR:-$ROOT/build}
export WINEPREFIX=${WINEPREFIX:-$BUILD_DIR/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs: nothing here needs .NET or the HTML engine.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

STARTED_PIDS=()
XVFB_PID=""
WINESERVER_STARTED=0

build_project() {
  local generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  [ -f "$BUILD_DIR/CMakeCache.txt" ] && generator=()  # the cache keeps its generator
  cmake -S "$ROOT" -B "$BUILD_DIR" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DLIBPNG_SOURCE_DIR="${LUNETRIX_CACHE:-/var/cache/lunetrix}/libpng-src" >/dev/null
  cmake --build "$BUILD_DIR" --parallel "$(nproc)"
}

# A free display number: no lock file and no socket for it.
free_display() {
  local n
  for n in $(seq 90 150); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      echo "$n"
      return
    fi
  done
  return 1
}

start_display() {
  local n
  n=$(free_display)
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  XVFB_PID=$!
  STARTED_PIDS+=("$XVFB_PID")
  export DISPLAY=":$n"
  local i
  for i in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && return 0
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "Xvfb did not start on :$n" >&2
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
  local marker="$WINEPREFIX/.lunetrix-settings-2"
  [ -f "$marker" ] && return
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
