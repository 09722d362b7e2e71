#!/usr/bin/env bash
# Starts a Windows program through a Wine loader, and starts it again only when Wine lost
# the start: the process ended before any code of the program ran. Wine now and then ends
# a new process during its own start-up (no output, an exit within milliseconds; a Windows
# parent sees CreateProcess fail with error 1359); tools/wine-run.sh removes the one cause
# known where the system allows it, and this catches what is left. A program that ran and
# failed is never started again.
#
# Usage: tools/wine-start.sh LOADER PROGRAM.exe [ARGUMENT ...]
#
# How the two are told apart: the program's first code (tests/winestart/StartMark.cpp,
# linked into every test and demo program) creates the file that ZEPHRA_START_MARK names
# (a path as the program sees it: Z: is the Unix root). No file after the process ended:
# none of its code ran. A launcher may leave the mark to the program it starts, so that a
# start Wine lost there is tried again too.
#
# Wine's error messages (its "err" debug class) are kept aside while the program runs:
# written to standard error only when the start was lost, as its cause; otherwise they are
# dropped, as WINEDEBUG=-all did before. Everything else of standard error passes through.
# Each line this script writes begins with "wine-start: ", for harnesses that compare a
# program's standard error to take out.
set -uo pipefail
if (($# < 2)); then
  echo "usage: wine-start.sh LOADER PROGRAM.exe [ARGUMENT ...]" >&2
  exit 2
fi
loader=$1 exe=$2
shift 2
attempts=3
name=$(basename -- "$exe")

work=$(mktemp -d "${TMPDIR:-/tmp}/zephra-start.XXXXXX") || exit 2
child= filter= stopping=0
trap 'rm -rf "$work"' EXIT
# ctest's timeout and the harnesses' ends reach the program, not only this script, and
# no start follows them.
trap 'stopping=1; [[ -n "$child" ]] && kill -TERM "$child" 2>/dev/null' TERM INT HUP

mark="$work/started"
export ZEPHRA_START_MARK="Z:${mark//\//\\}"
export WINEDEBUG=-all,err+all
# The program's standard input (a background job would get /dev/null); none if closed.
{ exec 3<&0; } 2>/dev/null || exec 3</dev/null

# Wine's debug lines start with the class, after a thread id (and, with +pid, a process
# id) once the process has its first thread.
wine_error='^([0-9a-f]+:)?([0-9a-f]+:)?err:'

status=0
for ((attempt = 1; attempt <= attempts; attempt++)); do
  rm -f "$mark" "$work/errors" "$work/stderr"
  mkfifo "$work/stderr" || exit 2
  awk -v pattern="$wine_error" '
    $0 ~ pattern { print; fflush(); next }
    { print >"/dev/stderr"; fflush("/dev/stderr") }' <"$work/stderr" >"$work/errors" &
  filter=$!
  "$loader" "$exe" "$@" <&3 2>"$work/stderr" &
  child=$!
  wait "$child" 2>/dev/null  # no job notice for a killed start: it is reported below
  status=$?
  # A signal handled above interrupts the wait; the program's own end comes after it.
  while kill -0 "$child" 2>/dev/null; do
    wait "$child" 2>/dev/null
    status=$?
  done
  child=
  # The program's last lines of standard error, through the filter. Not waited for longer:
  # Wine's own processes, when this start began the server's session, may hold the stream
  # open long after the program ended, and whoever reads it waits for its end anyway.
  for _ in $(seq 1 20); do
    kill -0 "$filter" 2>/dev/null || break
    sleep 0.1
  done
  [[ -e "$mark" ]] && exit "$status"
  ((stopping)) && exit 143
  kill "$filter" 2>/dev/null
  filter=
  how="exit status $status"
  ((status > 128)) && how="signal $((status - 128)) ($(kill -l $((status - 128)) 2>/dev/null))"
  if ((attempt < attempts)); then
    echo "wine-start: $name did not start: Wine ended it with $how before any of its code ran; starting it again ($((attempt + 1)) of $attempts)" >&2
  else
    echo "wine-start: $name did not start: Wine ended it with $how before any of its code ran, $attempts times; giving up" >&2
  fi
  if [[ -s "$work/errors" ]]; then
    echo "wine-start: Wine's messages about that start:" >&2
    sed 's/^/wine-start:   /' "$work/errors" >&2
  else
    echo "wine-start: Wine printed no message about that start" >&2
  fi
  sleep 0.5
  ((stopping)) && exit 143
done
((status != 0)) || status=1  # never a success for a program that did not run
exit "$status"
