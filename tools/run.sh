#!/usr/bin/env bash
# Sets up the machine, builds the Windows program and runs its main job.
# There is no Tavik drive here, so the demo build runs it against the simulated machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh"
windows="$root/build/windows"
cmake -S "$root" -B "$windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$windows" -j "$(nproc)" --target zephra-demo
export WINEPREFIX="$windows/wineprefix"
# The VX310's state outlives the simulated shutdown in this file, so that the next run
# starts in the state the switch left.
state=()
[[ " $* " == *" --state-file "* || "${1:-}" == --report ]] || state=(--state-file "Z:$windows/vx310.state")
status=0
"$root/tools/wine-run.sh" "$windows/demo/zephra-demo.exe" "$@" "${state[@]}" || status=$?
wineserver -k 2>/dev/null || true
exit $status
