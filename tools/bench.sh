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
# The main window's images at start at every scale Windows offers up to 300 %, each
# against 96 DPI beside its area ratio; the same scales' first paint under Wine follows.
echo "== display_scale_start (native)"
"$bench/tests/bench/display_scale_start" 41

# The benchmarks that need Windows, under Wine on a headless display: zephra.exe's start-up
# against a bare window program, the panel refresh on a device change, and the main
# window's drawing at every display scale up to 300 % against 100 %.
if [[ "$(cat "$root/build/host-32bit" 2>/dev/null)" == native ]]; then
  windows="$root/build/windows" toolchain=mingw-i686.cmake
else
  windows="$root/build/windows64" toolchain=mingw-x86_64.cmake
fi
cmake -S "$root" -B "$windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$windows" -j "$(nproc)" --target zephra bare_window bare_window_imports bench_startup \
  bench_panel_refresh zephra-cli-demo bare_console bench_console bench_display_scale
export WINEPREFIX="$windows/wineprefix"
# The prefix first, so that its first boot is never part of a measured start.
"$root/tools/wine-run.sh" --prepare "$windows/tests/bench-wine/bench_startup.exe"
wine_path() { local p=$1; echo "Z:${p//\//\\}"; }
# Between the two, the bare window that also imports zephra.exe's system DLLs: what Wine's
# loader takes for them, apart from the program's own start.
echo "== bench_startup ($(basename "$windows"))"
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tools/wine-run.sh" "$windows/tests/bench-wine/bench_startup.exe" 15 \
  "$(wine_path "$windows/tests/bench-wine/bare_window.exe")" \
  "$(wine_path "$windows/tests/bench-wine/bare_window_imports.exe")" "$(wine_path "$windows/app/zephra.exe")"
echo "== bench_panel_refresh ($(basename "$windows"))"
xvfb-run -a -s "-screen 0 1280x1024x24" "$root/tools/wine-run.sh" "$windows/tests/bench-wine/bench_panel_refresh.exe" 30
# zephra-cli status on a simulated machine of 64 disks (63 of other makers on NVMe, SATA and
# USB, the VX310 last), process start to exit, against a bare console program. The rows
# between tell the rest apart: the program loaded and gone at once (--help), then with the
# simulated machine built but nothing enumerated (help), then the status itself.
echo "== bench_console ($(basename "$windows")): zephra-cli status, 64 disks"
disks=()
for ((i = 0; i < 63; i++)); do
  case $((i % 3)) in 0) disks+=(--drive other-nvme) ;; 1) disks+=(--drive other-sata) ;; 2) disks+=(--drive other-usb) ;; esac
done
disks+=(--drive inbox)
cli_demo=$(wine_path "$windows/demo/zephra-cli-demo.exe")
"$root/tools/wine-run.sh" "$windows/tests/bench-wine/bench_console.exe" 21 \
  "$(wine_path "$windows/tests/bench-wine/bare_console.exe")" \
  "$cli_demo --help" "$cli_demo ${disks[*]} help" "$cli_demo ${disks[*]} status"
echo "== bench_display_scale ($(basename "$windows"))"
# It has been seen not to finish under Wine 8 on a loaded machine: bounded, so the rest still runs.
# A screen that holds the window at 300 % (2100 x 1470).
timeout 300 xvfb-run -a -s "-screen 0 2400x1600x24" "$root/tools/wine-run.sh" "$windows/tests/bench-wine/bench_display_scale.exe" 20 ||
  echo "bench: bench_display_scale did not finish within 300 s; no figures from it"
wineserver -k 2>/dev/null || true
