#!/usr/bin/env bash
# Makes a Wine prefix ready once: booted, and Arial replaced by the metric-compatible
# Liberation Sans so that text measures and looks as it does on Windows.
set -euo pipefail
prefix=$1
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
exec 9>"$prefix.lock"
flock 9
if [[ ! -f "$prefix/.zephra-ready" ]]; then
  wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ /d 'Liberation Sans' /f >/dev/null 2>&1
  wineserver -w
  touch "$prefix/.zephra-ready"
fi
