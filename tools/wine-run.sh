#!/usr/bin/env bash
# Runs a Windows executable of the build under 32-bit Wine, in a Wine prefix of
# that build's own (made on first use, with Liberation Sans standing in for Arial).
# Used by ctest as the cross-compiling emulator, and by hand: tools/wine-run.sh X.exe args
set -euo pipefail
exe=$1; shift

if [[ -z "${WINEPREFIX:-}" ]]; then
  dir=$(cd "$(dirname "$exe")" && pwd)
  while [[ "$dir" != / && ! -f "$dir/CMakeCache.txt" ]]; do dir=$(dirname "$dir"); done
  [[ -f "$dir/CMakeCache.txt" ]] || dir=$(cd "$(dirname "$exe")" && pwd)
  export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32

"$(dirname "$0")/wine-prefix.sh" "$WINEPREFIX"
exec wine "$exe" "$@"
