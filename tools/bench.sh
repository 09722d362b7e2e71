#!/usr/bin/env bash
# Builds and runs the benchmarks natively (64-bit, optimised). Not part of the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh"
bench="$root/build/bench"
cmake -S "$root" -B "$bench" -DZEPHRA_BENCH=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$bench" -j "$(nproc)"
for exe in "$bench"/tests/bench/bench_*; do
  [[ -x "$exe" && -f "$exe" ]] || continue
  echo "== $(basename "$exe")"
  "$exe" "$@"
done

# The benchmarks that need Windows, under Wine on a headless display: zephra.exe's start-up
# against a bare window program, and the panel refresh on a device change.
if [[ "$(cat "$root/build/host-32bit" 2>/dev/null)" == native ]]; then
  windows="$root/build/windows" toolchain=mingw-i686.cmake
else
  windows="$root/build/windows64" toolchain=mingw-x86_64.cmake
fi
cmake -S "$root" -B "$windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$windows" -j "$(nproc)" --target zephra bare_window bench_startup bench_panel_refresh
export WINEPREFIX="$windows/wineprefix"
# The prefix first, so that its first boot is never part of a measured start.
"$root/tools/wine-run.sh" --prepare "$windows/tests/bench-wine/bench_startup.exe"
wine_path() { local p=$1; echo "Z:${p//\//\\}"; }
echo "== bench_startup ($(basename "$windows"))"
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tools/wine-run.sh" "$windows/tests/bench-wine/bench_startup.exe" 15 \
  "$(wine_path "$windows/tests/bench-wine/bare_window.exe")" "$(wine_path "$windows/app/zephra.exe")"
echo "== bench_panel_refresh ($(basename "$windows"))"
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tools/wine-run.sh" "$windows/tests/bench-wine/bench_panel_refresh.exe" 30
wineserver -k 2>/dev/null || true
