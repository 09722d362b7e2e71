#!/usr/bin/env bash
# Runs a windowed program of a build where there is no display: under Xvfb, until its
# 700x490 main window has painted; saves a screenshot of the window with its shadow,
# closes it with a click on its close button and waits for it to end.
# Usage: tools/headless-run.sh SCREENSHOT.png PROGRAM.exe [ARGS...]
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
shot=$1
shift
mkdir -p "$(dirname "$shot")"
export ZEPHRA_TOOLS="$tools" ZEPHRA_SHOT="$shot"
# The prefix first: its first boot is no part of the wait for the window below.
"$tools/wine-run.sh" --prepare "$1"
exec xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -uo pipefail
  exe=$1
  name=$(basename "$exe")
  "$ZEPHRA_TOOLS/wine-run.sh" "$@" &
  pid=$!
  geometry=
  for _ in $(seq 1 450); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid"; echo "headless-run: $name ended before it showed its window" >&2; exit 1; }
    geometry=$(xwininfo -root -children | grep -F "(\"$name\"" | grep -oE " 700x490\+-?[0-9]+\+-?[0-9]+ +\+-?[0-9]+\+-?[0-9]+" | head -n 1)
    [[ -n "$geometry" ]] && break
    sleep 0.2
  done
  [[ -n "$geometry" ]] || { echo "headless-run: no window of $name within 90 s" >&2; kill "$pid"; exit 1; }
  # The window shows before it is centred: on a busy machine the first look may catch it
  # at the corner. It is where it stays once two looks, a paint apart, agree.
  for _ in $(seq 1 10); do
    sleep 2  # the first paint and the shadow
    settled=$(xwininfo -root -children | grep -F "(\"$name\"" | grep -oE " 700x490\+-?[0-9]+\+-?[0-9]+ +\+-?[0-9]+\+-?[0-9]+" | head -n 1)
    [[ "$settled" == "$geometry" ]] && break
    geometry=$settled
  done
  read -r x y <<<"$(sed -E "s/.* \+(-?[0-9]+)\+(-?[0-9]+)$/\1 \2/" <<<"$geometry")"
  import -window root -crop "716x506+$((x - 8))+$((y - 8))" +repage "$ZEPHRA_SHOT"
  xdotool mousemove $((x + 687)) $((y + 13)) click 1
  for _ in $(seq 1 150); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "headless-run: $name did not end within 30 s of the click on its close button" >&2
    kill "$pid"
    wait "$pid"
    [[ -n "${WINEPREFIX:-}" ]] && wineserver -k 2>/dev/null
    exit 1
  fi
  wait "$pid"
  status=$?
  # Wine'"'"'s own processes end while the display is still there.
  [[ -n "${WINEPREFIX:-}" ]] && wineserver -k 2>/dev/null
  exit $status
' headless-run "$@"
