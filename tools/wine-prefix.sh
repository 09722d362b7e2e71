#!/usr/bin/env bash
# Makes a Wine prefix ready once: booted, Arial replaced by the metric-compatible
# Liberation Sans so that text measures and looks as it does on Windows, and windows
# left unmanaged (Xvfb has no window manager; waiting for one costs a second per hide).
set -euo pipefail
prefix=$1
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
exec 9>"$prefix.lock"
flock 9
ready="$prefix/.zephra-ready-2"
if [[ ! -f "$ready" ]]; then
  wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ /d 'Liberation Sans' /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  touch "$ready"
fi
