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
