#!/usr/bin/env bash
# Makes a Wine prefix ready once: booted, Arial replaced by the metric-compatible
# Liberation Sans so that text measures and looks as it does on Windows, and windows
# left unmanaged (Xvfb has no window manager; waiting for one costs a second per hide).
# Usage: tools/wine-prefix.sh PREFIX [win32|win64]   (win32 by default)
# A win64 prefix is started by the 64-bit loader and never needs 32-bit Wine.
set -euo pipefail
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
  "$loader" wineboot -i >/dev/null 2>&1 || true
  "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ /d 'Liberation Sans' /f >/dev/null 2>&1
  "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$ready"
fi
