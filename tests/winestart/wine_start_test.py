#!/usr/bin/env python3
"""tools/wine-start.sh against a fake Wine loader: a start that Wine lost (the process
ended before any code of the program ran, so no start mark) is tried again; a program
that ran is never started again, whatever its end; Wine's error lines are the cause
shown for a lost start and are dropped otherwise.

usage: wine_start_test.py TOOLS/wine-start.sh
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

# The fake loader plays one line of its plan per start: "lost STATUS" ends the process
# as Wine does when a start fails (no mark), "killed" by a signal; "ran STATUS" is the program running: it
# writes the mark, echoes its arguments and standard input, and ends with STATUS; "hang"
# writes the mark and runs until it is told to end. Every start prints a line of Wine's
# "err" class, numbered, first: the one Wine gives when it loses a start at the shared
# user data's address, or one that a program that runs may meet.
FAKE_LOADER = r"""#!/usr/bin/env bash
plan=$FAKE_PLAN
n=$(( $(cat "$plan.count" 2>/dev/null || echo 0) + 1 ))
echo "$n" >"$plan.count"
read -r kind status <<<"$(sed -n "${n}p" "$plan")"
if [[ $kind == lost || $kind == killed ]]; then
  # As Wine says it before the process has a thread: no thread id in front.
  echo "err:virtual:virtual_alloc_first_teb wine: failed to map the shared user data: c0000018 (start $n)" >&2
  [[ $kind == killed ]] && kill -KILL $$
  exit "$status"
fi
echo "0024:err:ntoskrnl:ZwLoadDriver failed to create driver L\"mountmgr\": c0000142 (start $n)" >&2
mark=${ZEPHRA_START_MARK#Z:}
: >"${mark//\\//}"
echo "start $n of $1: arguments [${*:2}], WINEDEBUG=$WINEDEBUG"
IFS= read -r line && echo "input [$line]"
echo "program's own error line" >&2
if [[ $kind == hang ]]; then
  sleep 30 >/dev/null 2>&1 &
  trap 'kill $!; exit 143' TERM
  wait
fi
exit "$status"
"""

LOST = "wine-start: program.exe did not start: Wine ended it with "
CAUSE = "wine-start:   err:virtual:virtual_alloc_first_teb wine: failed to map the shared user data: c0000018 (start %d)"

# name, plan, expected exit status, expected number of starts, lines standard error must
# hold, lines it must not hold.
CASES = [
    ("runs at once", ["ran 0"], 0, 1,
     ["program's own error line"], ["wine-start:", "err:"]),
    ("lost once, then runs and its status is kept", ["lost 1", "ran 3"], 3, 2,
     [LOST + "exit status 1 before any of its code ran; starting it again (2 of 3)", CAUSE % 1, "program's own error line"],
     ["(start 2)", "giving up"]),
    ("killed at its start, then runs", ["killed", "ran 0"], 0, 2,
     [LOST + "signal 9 (KILL) before any of its code ran; starting it again (2 of 3)", CAUSE % 1], ["(start 2)", "Killed"]),
    ("fails on its own: never started again", ["ran 1", "ran 0"], 1, 1,
     ["program's own error line"], ["wine-start:", "err:"]),
    ("lost every time: gives up, never a success", ["lost 0", "lost 0", "lost 0", "ran 0"], 1, 3,
     [LOST + "exit status 0 before any of its code ran, 3 times; giving up", CAUSE % 1, CAUSE % 3], []),
]


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def setup(tmp, plan):
    loader = os.path.join(tmp, "fake-wine")
    with open(loader, "w") as f:
        f.write(FAKE_LOADER)
    os.chmod(loader, 0o755)
    plan_file = os.path.join(tmp, "plan")
    with open(plan_file, "w") as f:
        f.write("\n".join(plan) + "\n")
    env = dict(os.environ, FAKE_PLAN=plan_file, TMPDIR=tmp)
    return loader, plan_file, env


def starts(plan_file):
    with open(plan_file + ".count") as f:
        return int(f.read())


def marks_left(tmp):
    return [name for name in os.listdir(tmp) if name.startswith("zephra-start.")]


def run_case(script, name, plan, status, count, present, absent):
    with tempfile.TemporaryDirectory() as tmp:
        loader, plan_file, env = setup(tmp, plan)
        done = subprocess.run([script, loader, "program.exe", "two words", "--flag"], input="typed\n",
                              capture_output=True, text=True, env=env, timeout=60)
        lines = done.stderr.splitlines()
        check(done.returncode == status, "exit status %d, not %d\n%s" % (done.returncode, status, done.stderr))
        check(starts(plan_file) == count, "%d starts, not %d" % (starts(plan_file), count))
        for line in present:
            check(line in lines, "standard error lacks %r:\n%s" % (line, done.stderr))
        for text in absent:
            check(not any(text in line for line in lines), "standard error holds %r:\n%s" % (text, done.stderr))
        if plan[count - 1].startswith("ran"):
            check("of program.exe: arguments [two words --flag], WINEDEBUG=-all,err+all" in done.stdout,
                  "arguments or WINEDEBUG: %r" % done.stdout)
            check("input [typed]" in done.stdout, "standard input did not reach the program: %r" % done.stdout)
        check(not marks_left(tmp), "left behind: %s" % marks_left(tmp))


def run_termination(script):
    """ctest's timeout and a harness's end reach the running program through the script."""
    with tempfile.TemporaryDirectory() as tmp:
        loader, plan_file, env = setup(tmp, ["hang", "ran 0"])
        process = subprocess.Popen([script, loader, "program.exe"], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
        deadline = time.monotonic() + 30
        while not os.path.exists(plan_file + ".count") and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(0.5)
        process.send_signal(signal.SIGTERM)
        try:
            out, err = process.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            raise Failure("the script did not end after SIGTERM")
        check(process.returncode == 143, "exit status %d, not 143\n%s" % (process.returncode, err))
        check(starts(plan_file) == 1, "started again after it was ended: %d starts" % starts(plan_file))
        check("wine-start:" not in err, "an ended program counted as a lost start:\n%s" % err)


def main():
    script = os.path.abspath(sys.argv[1])
    failed = 0
    tests = [(name, lambda c=case: run_case(script, *c)) for case in CASES for name in [case[0]]]
    tests.append(("ended by SIGTERM: passed on, not started again", lambda: run_termination(script)))
    for name, test in tests:
        try:
            test()
            print("ok: %s" % name)
        except Failure as error:
            failed += 1
            print("FAILED: %s: %s" % (name, error))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
