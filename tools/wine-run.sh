#!/usr/bin/env bash
# Runs a Windows executable of a build under Wine of its own width (32-bit Wine for an
# i686 program, 64-bit Wine for an x86_64 one), in a Wine prefix of that build's own
# (made on first use, with Liberation Sans standing in for Arial).
# Used by ctest as the cross-compiling emulator, and by hand: tools/wine-run.sh X.exe args
# With --prepare first, it only makes the prefix ready for X.exe and returns: whoever then
# waits for the program's window does not count the prefix's first boot against it.
# A program that writes the start mark (every test and demo program; not the shipped ones)
# goes through tools/wine-start.sh, which starts it again when Wine lost its start.
set -euo pipefail
# Wine maps the shared user data at a fixed address (0x7ffe0000) as every process starts.
# Debian's Wine has no preloader to keep that address free, and with address space
# randomisation the heap of its loader (linked at 0x7d000000) starts anywhere in the GiB
# above it: now and then over that address, and Wine ends the process before any of the
# program's code ran ("failed to map the shared user data: c0000018", exit status 1, no
# output under WINEDEBUG=-all). Without randomisation the heap follows the loader. Where
# the system refuses that (a container's seccomp), such a start is only tried again.
# (Once only: the variable also stops a loop where the personality cannot be read.)
if [[ "${ZEPHRA_WINE_NORANDOM:-}" != 1 ]] && ! ((0x$(cat /proc/self/personality 2>/dev/null || echo 0) & 0x40000)) &&
  setarch -R true 2>/dev/null; then
  export ZEPHRA_WINE_NORANDOM=1
  exec setarch -R "$BASH" "$0" "$@"
fi
prepare=0
if [[ "${1:-}" == --prepare ]]; then prepare=1; shift; fi
exe=$1; shift

if [[ -z "${WINEPREFIX:-}" ]]; then
  dir=$(cd "$(dirname "$exe")" && pwd)
  while [[ "$dir" != / && ! -f "$dir/CMakeCache.txt" ]]; do dir=$(dirname "$dir"); done
  [[ -f "$dir/CMakeCache.txt" ]] || dir=$(cd "$(dirname "$exe")" && pwd)
  export WINEPREFIX="$dir/wineprefix"
fi

# The machine field of the PE header: 0x8664 for x86_64, 0x014c for i686.
pe_offset=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$exe" | tr -d ' ')
case "$machine" in
  8664) arch=win64 loader=/usr/lib/wine/wine64 ;;
  014c) arch=win32 loader=/usr/lib/wine/wine ;;
  *) echo "wine-run: $exe is not an i686 or x86_64 Windows program" >&2; exit 2 ;;
esac
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEARCH="$arch" WINELOADER="$loader"

"$(dirname "$0")/wine-prefix.sh" "$WINEPREFIX" "$arch" ||
  { echo "wine-run: the Wine prefix $WINEPREFIX could not be made ready (see above), so $exe did not run" >&2; exit 1; }
if ((prepare)); then exit 0; fi
if grep -qaF ZEPHRA_START_MARK "$exe"; then
  exec "$(dirname "$0")/wine-start.sh" "$loader" "$exe" "$@"
fi
exec "$loader" "$exe" "$@"
