#!/usr/bin/env bash
# Sets up the machine, builds the Windows program and runs its main job. There is no
# Tavik drive here, so the demo build runs it against the simulated machine.
# The 32-bit program runs where this kernel runs 32-bit programs natively; elsewhere (or
# with ZEPHRA_NO_NATIVE_32BIT=1) the 64-bit one runs under 64-bit Wine. Whatever cannot
# run ends in one plain sentence saying what and why.
# ZEPHRA_RUN_DIR names another folder than the build's own for the Wine prefix, the
# drive's state and the screenshot (the test command's first-run check uses a fresh one).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

fail() {
  echo "run: $*" >&2
  exit 1
}

# Sets build, toolchain and width for the program this machine can run.
choose_build() {
  if [[ "$(cat "$root/build/host-32bit" 2>/dev/null)" == native && "${ZEPHRA_NO_NATIVE_32BIT:-}" != 1 ]]; then
    build="$root/build/windows" toolchain=mingw-i686.cmake width=32
    echo "run: the 32-bit program, under 32-bit Wine"
  else
    build="$root/build/windows64" toolchain=mingw-x86_64.cmake width=64
    local why="this kernel runs no 32-bit programs natively"
    [[ "${ZEPHRA_NO_NATIVE_32BIT:-}" == 1 ]] && why="ZEPHRA_NO_NATIVE_32BIT=1 treats this machine as one whose kernel runs none"
    echo "run: the 64-bit program, under 64-bit Wine: $why, and 32-bit Wine does not finish under the emulator"
  fi
}

# run_program EXE ARGS...: the Windows program under Wine of its width, in the build's prefix.
run_program() {
  local exe=$1 status=0
  shift
  export WINEPREFIX="$run_dir/wineprefix"
  "$root/tools/wine-run.sh" "$exe" "$@" || status=$?
  wineserver -k 2>/dev/null || true
  return "$status"
}

bash "$root/tools/setup.sh" ||
  fail "setting up the machine failed (see above); the build needs Debian 12 and root to install packages"
choose_build
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null ||
  fail "configuring the $width-bit Windows build in $build failed (see above)"
cmake --build "$build" -j "$(nproc)" --target zephra-demo zephra ||
  fail "building the $width-bit demo failed (see the compiler's messages above)"
demo=$(find "$build" -name zephra-demo.exe -not -path '*/CMakeFiles/*' | head -n 1)
[[ -n "$demo" ]] || fail "the build made no zephra-demo.exe in $build"
run_dir=${ZEPHRA_RUN_DIR:-$build}

# The VX310's state outlives the simulated shutdown in this file, so that the next run
# starts in the state the switch left.
state=()
[[ " $* " == *" --state-file "* || "${1:-}" == --report ]] || state=(--state-file "Z:$run_dir/vx310.state")
# A window on the user's display when there is one; otherwise under Xvfb, with a
# screenshot. The report and the help need no window.
status=0
if [[ -n "${DISPLAY:-}" || " $* " == *" --report "* || " $* " == *" --help "* ]]; then
  run_program "$demo" "$@" "${state[@]}" || status=$?
else
  shot="$run_dir/screenshots/zephra-demo.png"
  export WINEPREFIX="$run_dir/wineprefix"
  "$root/tools/headless-run.sh" "$shot" "$demo" "$@" "${state[@]}" || status=$?
  wineserver -k 2>/dev/null || true
  ((status == 0)) && echo "run: no display here, so the demo ran under Xvfb; its window is in $shot"
fi
case $status in
  0) ;;
  126 | 127) fail "Wine could not start the $width-bit demo (exit status $status): this machine cannot run its loader" ;;
  *) fail "the demo ended with exit status $status" ;;
esac
