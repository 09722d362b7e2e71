#!/usr/bin/env bash
# Runs every test: the native 32-bit build under AddressSanitizer and UBSan,
# then the Windows build under Wine (headless X for the window tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh"
jobs=$(nproc)

native="$root/build/native"
cmake -S "$root" -B "$native" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/native-i386.cmake" \
  -DZEPHRA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$native" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$native" --output-on-failure -j "$jobs"

windows="$root/build/windows"
cmake -S "$root" -B "$windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$windows" -j "$jobs"
export WINEPREFIX="$windows/wineprefix"
"$root/tools/wine-prefix.sh" "$WINEPREFIX"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "$windows" --output-on-failure -j "$jobs" || status=$?
wineserver -k 2>/dev/null || true
exit $status
