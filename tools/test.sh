#!/usr/bin/env bash
# Runs every test, in this order:
#   1. the native suites, 32-bit (-m32) and 64-bit, both under AddressSanitizer and UBSan;
#   2. the Windows x86_64 build under 64-bit Wine;
#   3. the Windows i686 build under 32-bit Wine;
#   4. the release: tools/release.sh into throwaway folders, unsigned and signed with a
#      throwaway certificate (tests/release);
#   5. the first run: tools/run.sh with no display and no Wine prefix yet, on each way the
#      run command can go on this machine.
# The Windows suites run under headless X for the window tests. On a kernel that runs no
# 32-bit programs natively (or with ZEPHRA_NO_NATIVE_32BIT=1) the 32-bit native suite runs
# under qemu-user and the i686 Windows suite is skipped, each with a line saying so.
# Every stage runs even when an earlier one fails; the summary names what failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if ! bash "$root/tools/setup.sh"; then
  echo "test: setting up the machine failed (see above); the tests need Debian 12 and root to install packages" >&2
  exit 1
fi
jobs=$(nproc)
host32=$(cat "$root/build/host-32bit")
if [[ "${ZEPHRA_NO_NATIVE_32BIT:-}" == 1 ]]; then
  why32="ZEPHRA_NO_NATIVE_32BIT=1 treats this machine as one whose kernel runs no 32-bit programs"
else
  why32="this kernel runs no 32-bit programs natively"
fi
qemu=/usr/bin/qemu-i386-static

failed=()
summary=()
stage_start=0
begin() { echo; echo "==== $*"; stage_start=$SECONDS; }
# end NAME STATUS
end() {
  local took=$((SECONDS - stage_start))
  if (($2 == 0)); then
    summary+=("$(printf '%-26s passed  %4d s' "$1" "$took")")
  else
    summary+=("$(printf '%-26s FAILED  %4d s' "$1" "$took")")
    failed+=("$1")
  fi
}

# native_suite NAME BUILD-DIR TOOLCHAIN [EMULATOR]
native_suite() {
  local name=$1 dir=$2 toolchain=$3 emulator=${4:-} asan=detect_leaks=1 status=0
  begin "$name"
  # Under qemu-user a 32-bit program has less room than on a kernel that runs it: the
  # allocator's default quarantine (freed memory held back to catch a late use) can use up
  # what mmap gives, and AddressSanitizer then stops the test. A smaller one still catches
  # a use right after the free.
  [[ -n "$emulator" ]] && asan=detect_leaks=0:quarantine_size_mb=16
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DZEPHRA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" >/dev/null &&
    cmake --build "$dir" -j "$jobs" &&
    ASAN_OPTIONS=$asan UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir "$dir" --output-on-failure -j "$jobs" || status=$?
  end "$name" "$status"
}

# windows_build NAME BUILD-DIR TOOLCHAIN
windows_build() {
  cmake -S "$root" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$3" -DCMAKE_BUILD_TYPE=Release >/dev/null &&
    cmake --build "$2" -j "$jobs"
}

# windows_suite NAME BUILD-DIR TOOLCHAIN WINEARCH
windows_suite() {
  local name=$1 dir=$2 status=0
  begin "$name"
  if windows_build "$@"; then
    export WINEPREFIX="$dir/wineprefix"
    # One wine server for the whole suite: test programs started side by side then never
    # meet a server that is just shutting down ("cannot connect to it"). The prefix's
    # services and desktop start with the server's first program and then live as long as
    # the server: started first by wineboot, on the display and writing nowhere, they hold
    # no test's output open (ctest would wait for that output to end, for ever).
    # A server that an interrupted run left behind is ended first: "wineserver -p" fails
    # beside it (silently), and its desktop would belong to that run's display, long gone.
    # A test program that Wine still ends before any of its code ran is started again by
    # tools/wine-start.sh, which says so in the test's output.
    # The whole suite runs without address space randomisation where the system allows
    # it, the Wine programs its harnesses start themselves too (tools/wine-run.sh says why).
    local loader=/usr/lib/wine/wine norandom=()
    [[ "$4" == win64 ]] && loader=/usr/lib/wine/wine64
    setarch -R true 2>/dev/null && norandom=(setarch -R)
    wineserver -k 2>/dev/null && wineserver -w 2>/dev/null
    "$root/tools/wine-prefix.sh" "$WINEPREFIX" "$4" &&
      { wineserver -p || { echo "test: cannot start the wine server for $WINEPREFIX" >&2; false; }; } &&
      WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
      "${norandom[@]}" xvfb-run -a -s "-screen 0 1280x1024x24" bash -c \
        '"$0" wineboot </dev/null >/dev/null 2>&1 || echo "test: wineboot ended with status $? before the tests" >&2
         exec ctest --test-dir "$1" --output-on-failure -j "$2"' \
        "$loader" "$dir" "$jobs" || status=$?
    wineserver -k 2>/dev/null || true
    unset WINEPREFIX
  else
    status=1
  fi
  end "$name" "$status"
}

# first_run NAME [VAR=VALUE...]: tools/run.sh as a new user meets it, with no display and
# a Wine prefix that does not exist yet (in a folder of its own, so the suites' prefixes
# stay as they are); the programs are the ones the suites built. It passes when the demo
# left its screenshot.
first_run() {
  local name=$1 dir="$root/build/first-run" status=0
  shift
  begin "$name"
  rm -rf "$dir"
  env -u DISPLAY "$@" ZEPHRA_RUN_DIR="$dir" bash "$root/tools/run.sh" &&
    [[ -s "$dir/screenshots/zephra-demo.png" ]] || status=1
  rm -rf "$dir/wineprefix"
  end "$name" "$status"
}

# The whole run is one function, read before it starts: editing this file (a pull, say)
# while the tests run does not change the running script under its feet.
main() {
  if [[ "$host32" == native ]]; then
    native_suite "native 32-bit" "$root/build/native" native-i386.cmake
  else
    echo "test: the 32-bit native tests run under $qemu ($why32), with leak detection off:" \
      "LeakSanitizer does not finish under the emulator, and a smaller quarantine of freed memory"
    native_suite "native 32-bit (qemu-user)" "$root/build/native" native-i386.cmake "$root/tools/emulate-i386.sh"
  fi
  native_suite "native 64-bit" "$root/build/native64" native-x86_64.cmake
  windows_suite "Windows x86_64 (Wine 64)" "$root/build/windows64" mingw-x86_64.cmake win64
  if [[ "$host32" == native ]]; then
    windows_suite "Windows i686 (Wine 32)" "$root/build/windows" mingw-i686.cmake win32
  else
    begin "Windows i686 (build only)"
    status=0
    windows_build "Windows i686" "$root/build/windows" mingw-i686.cmake || status=$?
    end "Windows i686 build" "$status"
    echo "test: SKIPPED the Windows i686 tests: $why32, and 32-bit Wine does not finish under the emulator;" \
      "the Windows x86_64 tests above ran in their place"
    summary+=("$(printf '%-26s SKIPPED (no native 32-bit; x86_64 ran instead)' "Windows i686 tests")")
  fi
  begin "release"
  status=0
  python3 "$root/tests/release/check_release.py" "$root" || status=$?
  end "release" "$status"
  # The 64-bit way first: its set-up leaves the machine marked as one without 32-bit
  # programs, which the plain run then puts right.
  if [[ "$host32" == native ]]; then
    first_run "first run (64-bit way)" ZEPHRA_NO_NATIVE_32BIT=1
  fi
  first_run "first run"

  echo
  echo "==== summary"
  printf '%s\n' "${summary[@]}"
  if ((${#failed[@]})); then
    echo "test: failed: ${failed[*]}"
    exit 1
  fi
  echo "test: every suite passed"
}

main "$@"
