#!/usr/bin/env python3
"""Drives zephra.exe and zephra-demo.exe under Wine on the X display as a user would:
finds their windows through the X server, reads what they show from screenshots (text by
OCR, the switch button by its colour), clicks with the real pointer (xdotool) and checks
that the program ends.

usage: program_tests.py SCENARIO --build DIR --skin DIR --tools DIR [--shots DIR]
"""
import os
import re
import subprocess
import sys
import time

from program_harness import (BUTTON, HEALTH, HEIGHT, MIN_BUTTON, SHADOW, WIDTH, Failure, Program, box_buttons,
                             check, check_placement, click, close_by_mouse, demo, expect_panel, find_box, main,
                             panel, park_pointer, read_text, run, stable_screenshot, wait_box_gone)


# ---- scenarios ----

def product_without_drive(options):
    """zephra.exe where Wine lists no disks: the empty panel; the close click ends it."""
    program = Program(options, os.path.join(options.build, "app", "zephra.exe"))
    try:
        park_pointer()
        window = check_placement(program)
        seen = panel(options, program, window, "zephra-no-device")
        expect_panel(seen, None)
        check(seen["button"] == "On", "button text %r" % seen["button"])
        took = close_by_mouse(program, window)
        print("closed %.2fs after the click" % took)
        # Wine's configuration manager refuses the rescan: the worker's line, once a cycle.
        lines = program.text_output().count("CM_Locate_DevNode   failed:   ")
        check(lines >= 1, "no rescan line in %r" % program.text_output()[:200])
    finally:
        program.kill()


def demo_paths_and_states(options):
    """A VX310 on each path, in each state: the panel, then a close with the mouse."""
    for path in ("inbox", "miniport", "usb"):
        for state in ("0", "2", "ff"):
            program = demo(options, ["--drive", "other-nvme", "--drive", path, "--state", state])
            try:
                park_pointer()
                window = check_placement(program)
                seen = panel(options, program, window, "demo-%s-%s" % (path, state))
                print(path, state, {k: v for k, v in seen.items() if k != "shot"})
                expect_panel(seen, state)
                check(seen["button"] == ("Off" if state == "0" else "On"), "button text %r" % seen["button"])
                close_by_mouse(program, window)
            finally:
                program.kill()


def wait_for_heading(options, program, window, wanted, name, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        seen = panel(options, program, window, name)
        if seen["heading"] == wanted:
            return seen
        time.sleep(0.2)
    raise Failure("the heading never became %r (last %r)" % (wanted, seen["heading"]))


def demo_unplug_and_plug(options):
    """The drive shown goes at the 6th rescan and comes back at the 30th (gone long enough
    for the screen to be read under load); the trace
    shows that the worker made no call after the window went."""
    trace = os.path.join(options.shots, "unplug-plug-trace.txt")
    program = demo(options, ["--drive", "usb", "--state", "0", "--unplug-after", "6", "--plug-after", "30",
                             "--trace", "Z:" + trace.replace("/", "\\")])
    try:
        park_pointer()
        window = check_placement(program)
        expect_panel(panel(options, program, window, "demo-plugged"), "0")
        gone = wait_for_heading(options, program, window, "No device detected", "demo-unplugged")
        # The button keeps the text and images of the drive that went, disabled.
        expect_panel(gone, None, look="off_down")
        check(gone["button"] == "Off", "button text %r after the unplug" % gone["button"])
        back = wait_for_heading(options, program, window, "Tavik VX310 Series SSD", "demo-plugged-again", timeout=40)
        expect_panel(back, "0")
        close_by_mouse(program, window)
    finally:
        program.kill()
    with open(trace) as f:
        lines = f.read().splitlines()
    check_trace(lines)
    arrivals = [i for i, line in enumerate(lines) if "CM_Reenumerate_DevNode" in line]
    check(len(arrivals) >= 30, "only %d rescans traced" % len(arrivals))


def check_trace(lines):
    pattern = re.compile(r"^\d{6} (ui|worker) [A-Za-z_]+\(.*\) -> .+$")
    bad = [line for line in lines if not pattern.match(line)]
    check(not bad, "trace lines out of format: %s" % bad[:3])
    check([int(line[:6]) for line in lines] == list(range(1, len(lines) + 1)), "trace sequence has gaps")
    unregistered = [i for i, line in enumerate(lines) if "UnregisterDeviceNotification" in line]
    check(len(unregistered) == 1, "%d withdrawals of the registration" % len(unregistered))
    late = [line for line in lines[unregistered[0]:] if " worker " in line]
    # The stop is raised before the withdrawal: at most the cycle then under way follows.
    check(len(late) <= 2, "worker calls after the stop: %s" % late)
    check(not any(" worker " in line and "CM_" not in line for line in lines), "worker made other calls")


def demo_minimise_and_fault(options):
    """The minimise button by mouse hides the window; a refused state read shows Unknown."""
    program = demo(options, ["--drive", "miniport", "--fault", "state-read"])
    try:
        park_pointer()
        window = check_placement(program)
        seen = panel(options, program, window, "demo-state-read-refused")
        expect_panel(seen, "ff")
        click(window, MIN_BUTTON)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and [w for w in program.windows() if (w[1], w[2]) == (WIDTH, HEIGHT)]:
            time.sleep(0.2)
        check(not [w for w in program.windows() if (w[1], w[2]) == (WIDTH, HEIGHT)], "still shown after minimise")
    finally:
        program.kill()


def health_colour_is_warning(shot):
    """Whether the text of the health line is red (the warning colour) rather than black:
    the mean colour of its pixels that are not near the white background."""
    x, y, w, h = HEALTH
    crop = "%dx%d+%d+%d" % (w, h, x + 8, y + 8)  # the shot starts at the shadow's corner
    text = subprocess.run(["convert", shot, "-crop", crop, "+repage", "-fuzz", "30%", "-transparent", "white",
                           "-resize", "1x1!", "-alpha", "off", "-format", "%[fx:r] %[fx:g] %[fx:b]", "info:"],
                          check=True, capture_output=True, text=True).stdout
    r, g, b = (float(v) for v in text.split())
    return r > g + 0.15 and r > b + 0.15


def squeezed(text):
    return "".join(c for c in text.lower() if c.isalnum() or c == "%")


def demo_health(options):
    """The health line for each kind of log the demo can set, each on another path; the
    warning kinds in the warning colour; a refused or short log reads "Unavailable"."""
    cases = [
        ("healthy", "inbox", ["Good", "38", "3 % used"], False),
        # Red text's first capital is the OCR's weak spot ("W" read as "VY"): the colour
        # says warning, the words after it say which.
        ("worn", "miniport", ["orn", "112 % used"], True),
        ("hot", "usb", ["arning", "temperature out of range"], True),
        ("spare-low", "inbox", ["arning", "spare below threshold"], True),
        ("read-only", "miniport", ["arning", "read-only media"], True),
        ("refused", "usb", ["Unavailable"], False),
        ("short", "inbox", ["Unavailable"], False),
    ]
    for kind, path, words, warning in cases:
        program = demo(options, ["--drive", path, "--health", kind])
        try:
            park_pointer()
            window = check_placement(program)
            seen = panel(options, program, window, "demo-health-%s" % kind)
            print(kind, path, repr(seen["health_caption"]), repr(seen["health"]))
            expect_panel(seen, "2")  # the rows above and the switch are as without the line
            check(seen["health_caption"] == "Health:", "caption %r" % seen["health_caption"])
            # Compared without spaces, case and punctuation: the OCR reads "3 %" as "3%" and
            # the middle dots as anything.
            read = squeezed(seen["health"])
            for word in words:
                check(squeezed(word) in read, "%s: %r not in %r" % (kind, word, seen["health"]))
            check(health_colour_is_warning(seen["shot"]) == warning,
                  "%s: the line is %sin the warning colour" % (kind, "not " if warning else ""))
            close_by_mouse(program, window)
        finally:
            program.kill()


def box_text(options, box, name):
    """The first line of a box's message, read from a screenshot of the box."""
    shot = os.path.join(options.shots, name + ".png")
    stable_screenshot(shot, (box[3], box[4], box[1], box[2]))
    run("convert", shot, "-crop", "%dx%d+%d+%d" % (box[1] + 2 * SHADOW, box[2] + 2 * SHADOW,
                                                    box[3] - SHADOW, box[4] - SHADOW), "+repage", shot)
    return read_text(shot, (box[0], box[1], box[2], SHADOW, SHADOW), (18, 58, box[1] - 36, 17))


def demo_write_and_state_faults(options):
    """The drive answers the switch's write with nothing: one error box with the code of a
    short reply, 13, and no shutdown; the program stays with the panel as it was. A state
    read whose reply stops after its signature: "Unknown", the switch disabled."""
    trace = os.path.join(options.shots, "empty-write-trace.txt")
    program = demo(options, ["--drive", "inbox", "--state", "2", "--fault", "empty-write",
                             "--trace", "Z:" + trace.replace("/", "\\")])
    try:
        park_pointer()
        window = check_placement(program)
        expect_panel(panel(options, program, window, "empty-write-before"), "2")
        click(window, BUTTON)
        confirmation = find_box(program, window)
        click(confirmation, box_buttons(confirmation)[0])  # Yes
        wait_box_gone(program, confirmation)
        error = find_box(program, window)
        text = box_text(options, error, "empty-write-error")
        print("error box %dx%d: %r" % (error[1], error[2], text))
        check(text == "Open Optimize error, error code 13", "error box text %r" % text)
        time.sleep(1)
        check(program.process.poll() is None, "the demo ended after a failed write")
        # The box's one button, centred 20 above its bottom.
        click(error, ((error[1] - 80) // 2, error[2] - 28 - 20, 80, 28))
        wait_box_gone(program, error)
        check(find_box_or_none(program, window) is None, "another box after the error box")
        park_pointer()
        expect_panel(panel(options, program, window, "empty-write-after"), "2")
        close_by_mouse(program, window)
    finally:
        program.kill()
    with open(trace) as f:
        calls = f.read()
    check("ExitWindowsEx" not in calls and "AdjustTokenPrivileges" not in calls, "a shutdown was asked for")

    program = demo(options, ["--drive", "inbox", "--state", "0", "--fault", "cut-state"])
    try:
        park_pointer()
        window = check_placement(program)
        seen = panel(options, program, window, "cut-state")
        print("cut state reply", {k: v for k, v in seen.items() if k != "shot"})
        expect_panel(seen, "ff")
        check(seen["button"] == "On", "button text %r" % seen["button"])
        close_by_mouse(program, window)
    finally:
        program.kill()


def find_box_or_none(program, window):
    try:
        return find_box(program, window, timeout=1)
    except Failure:
        return None


SCENARIOS = {
    "demo-health": demo_health,
    "product-without-drive": product_without_drive,
    "demo-paths-and-states": demo_paths_and_states,
    "demo-unplug-and-plug": demo_unplug_and_plug,
    "demo-minimise-and-fault": demo_minimise_and_fault,
    "demo-write-and-state-faults": demo_write_and_state_faults,
}


if __name__ == "__main__":
    sys.exit(main(SCENARIOS))
