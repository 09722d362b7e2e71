#!/usr/bin/env bash
# Makes a Wine prefix ready once: booted, Arial replaced by the metric-compatible
# Liberation Sans so that text measures and looks as it does on Windows, and windows
# left unmanaged (Xvfb has no window manager; waiting for one costs a second per hide).
# Usage: tools/wine-prefix.sh PREFIX [win32|win64]   (win32 by default)
# A win64 prefix is started by the 64-bit loader and never needs 32-bit Wine: its first
# boot hides the 32-bit loader (a private mount namespace, where there is one to be had),
# so that Wine does not set up its 32-bit half. That half runs no program of ours, and on a
# kernel without 32-bit programs it would run under the emulator: two minutes instead of
# fifteen seconds.
set -euo pipefail
# Its Wine starts without address space randomisation, as tools/wine-run.sh says why.
# (Once only: the variable also stops a loop where the personality cannot be read.)
if [[ "${ZEPHRA_WINE_NORANDOM:-}" != 1 ]] && ! ((0x$(cat /proc/self/personality 2>/dev/null || echo 0) & 0x40000)) &&
  setarch -R true 2>/dev/null; then
  export ZEPHRA_WINE_NORANDOM=1
  exec setarch -R "$BASH" "$0" "$@"
fi
prefix=$1
arch=${2:-win32}
case "$arch" in
  win32) loader=/usr/lib/wine/wine ;;
  win64) loader=/usr/lib/wine/wine64 ;;
  *) echo "wine-prefix: unknown Wine architecture '$arch' (win32 or win64)" >&2; exit 2 ;;
esac
mkdir -p "$(dirname "$prefix")"
# No Mono, no Gecko, no menu entries: a boot then takes seconds instead of minutes.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH="$arch" WINELOADER="$loader"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
exec 9>"$prefix.lock"
flock 9
ready="$prefix/.zephra-ready-2"
if [[ ! -f "$ready" ]]; then
  if [[ "$arch" == win64 ]]; then
    echo "wine-prefix: setting up Wine for the first time in $prefix (once; about 15 s)" >&2
  else
    echo "wine-prefix: setting up Wine for the first time in $prefix (once; about half a minute)" >&2
  fi
  wine32=/usr/lib/wine/wine
  if [[ "$arch" == win64 && -e "$wine32" ]] &&
    unshare --mount --propagation private true 2>/dev/null; then
    unshare --mount --propagation private sh -c \
      'mount --bind /dev/null "$1" || true; "$2" wineboot -i; wineserver -w' boot "$wine32" "$loader" >/dev/null 2>&1 || true
  else
    "$loader" wineboot -i >/dev/null 2>&1 || true
  fi
  # A step that fails says so: without the ready mark the next program tries again, and
  # a failure hidden here would end that program's test with no word of why.
  for setting in 'HKCU\Software\Wine\Fonts\Replacements|Arial|Liberation Sans' 'HKCU\Software\Wine\X11 Driver|Managed|N'; do
    IFS='|' read -r key name value <<<"$setting"
    if ! out=$("$loader" reg add "$key" /v "$name" /t REG_SZ /d "$value" /f 2>&1); then
      echo "wine-prefix: setting $key\\$name in $prefix failed: $out" >&2
      exit 1
    fi
  done
  wineserver -w
  touch "$ready"
fi
