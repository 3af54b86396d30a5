# Shared by scripts/run, scripts/test and scripts/bench: the Wine prefix, the
# virtual X server and the environment every Wine process of ours runs in.
# Source it; it defines functions and starts nothing by itself.

project_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${PATHDROP_BUILD_DIR:-$project_dir/build}

export WINEPREFIX=$build_dir/wineprefix
export WINEDEBUG=${WINEDEBUG:--all}
# Users' machines run with the Japanese ANSI code page (932).
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
# No Mono or Gecko installers: the programs need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Where the kernel runs no 32-bit code, 32-bit Wine runs under qemu-user
# (see scripts/setup). Wine sets up its address space far faster when
# qemu gives the guest 2 GiB; a native run ignores this.
export QEMU_RESERVED_VA=0x7fff0000

started_pids=()

stop_started() {
  if [ -n "${wineserver_started:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
  fi
  local pid
  for pid in "${started_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${started_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  started_pids=()
}

# Starts a virtual X server on a free display and exports DISPLAY.
start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    local pid=$!
    local tries
    for tries in $(seq 50); do
      if [ -e "/tmp/.X11-unix/X$n" ]; then
        started_pids+=("$pid")
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
  done
  echo "could not start a virtual X server" >&2
  return 1
}

# Starts our wineserver as a daemon, its output sent away so that no caller's
# pipe is held open. Creates the prefix on first use (once per build tree) and
# applies our registry settings whenever they have changed.
start_wine() {
  mkdir -p "$build_dir"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix in $WINEPREFIX" >&2
    wine wineboot -i >/dev/null 2>&1 </dev/null
    # Let the server write the new prefix out and end before ours starts.
    wineserver -w
  fi
  wineserver -p >/dev/null 2>&1 </dev/null
  wineserver_started=1
  # Bring up Wine's own services and desktop process now, detached from every
  # pipe: started later by a test, they would hold its output open.
  wine wineboot >/dev/null 2>&1 </dev/null
  local settings=$project_dir/scripts/wine.reg.in stamp=$WINEPREFIX/pathdrop-settings.reg
  if ! cmp -s "$settings" "$stamp"; then
    # regedit reads UTF-16 with a byte-order mark.
    { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$settings"; } >"$build_dir/wine.reg"
    wine regedit /S "$(winepath -w "$build_dir/wine.reg")" >/dev/null 2>&1 </dev/null
    cp "$settings" "$stamp"
  fi
}
