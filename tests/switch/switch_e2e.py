#!/usr/bin/env python3
"""The optimize switch of zephra-demo.exe as a user meets it: under Wine on the X display,
the switch clicked with the real pointer (xdotool), the confirmation box read from a
screenshot and answered, the trace of system calls checked, and the demo started again on
the same state file to see the drive's new state after the simulated shutdown.

usage: switch_e2e.py SCENARIO --build DIR --skin DIR --tools DIR [--shots DIR]
"""
import os
import re
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "programs"))
import program_harness as pt  # noqa: E402  the harness of the program tests
from program_harness import Failure, box_buttons, check, find_box, wait_box_gone  # noqa: E402

CONFIRMATION_FIRST_LINE = "Computer will shut down after this process."
# The drive's device-control calls on the switch's own handle, by path: identify, then the
# one vendor write.
SWITCH_CALLS = {
    "inbox": ["0x2D1400", "0x2DD3C0"],     # protocol property (identify), protocol command (write)
    "miniport": ["0x4D008", "0x4D008"],    # "NvmeMini" request, twice
    # Intel RST: the disk's SCSI address, read once to check it is still the listed drive's,
    # then the "IntelNvm" identify and write at the port
    "rst": ["0x41018", "0x4D008", "0x4D008"],
}
TRACE_LINE = re.compile(r"^(\d{6}) (ui|worker) ([A-Za-z_]+)\((.*)\) -> (.+)$")


def trace_lines(path):
    with open(path) as f:
        return f.read().splitlines()


def parsed(lines):
    out = []
    for line in lines:
        m = TRACE_LINE.match(line)
        check(m, "trace line out of format: %r" % line)
        out.append(m.groups())
    return out


def confirmation(options, program, main, name):
    """The confirmation box: placed over the main window, with its shadow; the screenshot
    kept; its text and buttons read back."""
    box = find_box(program, main)
    centred = (main[3] + pt.WIDTH // 2 - box[1] // 2, main[4] + pt.HEIGHT // 2 - box[2] // 2)
    check((box[3], box[4]) == centred, "box %s is not centred on the main window %s" % (box, main))
    shot = os.path.join(options.shots, name + ".png")
    pt.stable_screenshot(shot, (box[3], box[4], box[1], box[2]))
    # The whole screen too: the box over the main window.
    shutil.copyfile(shot, os.path.join(options.shots, name + "-screen.png"))
    pt.run("convert", shot, "-crop", "%dx%d+%d+%d" % (box[1] + 2 * pt.SHADOW, box[2] + 2 * pt.SHADOW,
                                                      box[3] - pt.SHADOW, box[4] - pt.SHADOW), "+repage", shot)
    inner = (box[0], box[1], box[2], pt.SHADOW, pt.SHADOW)
    yes, no = box_buttons(box)
    label = lambda b: (b[0] + 16, b[1] + 4, b[2] - 32, b[3] - 8)  # the middle, where the text is
    seen = {
        "shot": shot,
        "line": pt.read_text(shot, inner, (18, 58, box[1] - 36, 17)),
        "yes": pt.read_text(shot, inner, label(yes), True),
        "no": pt.read_text(shot, inner, label(no), True),
    }
    print("confirmation", {k: v for k, v in seen.items() if k != "shot"}, "size %dx%d" % (box[1], box[2]))
    check(seen["line"] == CONFIRMATION_FIRST_LINE, "box text %r" % seen["line"])
    check((seen["yes"], seen["no"]) == ("Yes", "No"), "buttons %r %r" % (seen["yes"], seen["no"]))
    return box


def click_in_box(box, which):
    yes, no = box_buttons(box)
    pt.click(box, yes if which == "yes" else no)


def demo(options, args):
    return pt.demo(options, args)


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


def ui_calls_after(lines, mark):
    return [p for p in parsed(lines[mark:]) if p[1] == "ui"]


def switch_yes(options, path, state, tmp, extra=(), health=None):
    """A VX310 behind `path` in `state`: the switch clicked, Yes, the drive identified and
    written once, the shutdown requested with flags 5 and the demo ended by it; started
    again on the same state file, the panel shows the other state."""
    state_file = os.path.join(tmp, "vx310-%s.state" % path)
    trace = os.path.join(options.shots, "switch-%s-%s-trace.txt" % (path, state))
    wanted = "2" if state == "0" else "0"
    program = demo(options, ["--drive", path, "--state", state, "--state-file", wine_path(state_file),
                             "--trace", wine_path(trace)] + list(extra))
    try:
        pt.park_pointer()
        main = pt.check_placement(program)
        before = pt.panel(options, program, main, "switch-%s-before" % path)
        pt.expect_panel(before, state)
        if health:
            check(before["health"] == health, "health line %r, not %r" % (before["health"], health))
        mark = len(trace_lines(trace))
        pt.click(main, pt.BUTTON)
        box = confirmation(options, program, main, "switch-%s-confirmation" % path)
        click_in_box(box, "yes")
        code = program.wait_end(20)
        check(code is not None, "the demo still runs after Yes: the shutdown did not end it")
        check(code == 0, "the demo ended with %s" % code)
    finally:
        program.kill()

    calls = ui_calls_after(trace_lines(trace), mark)
    check_switch_calls(calls, path)
    print("switch trace (%s, %s -> %s):" % (path, state, wanted))
    for c in calls:
        print("  %s %s %s(%s) -> %s" % c)

    with open(state_file) as f:
        kept = f.read().strip()
    check(kept == wanted, "state file says %r, not %r" % (kept, wanted))

    # The next run, after the "restart": the drive comes up in its new state.
    again = demo(options, ["--drive", path, "--state-file", wine_path(state_file)])
    try:
        pt.park_pointer()
        main = pt.check_placement(again)
        seen = pt.panel(options, again, main, "switch-%s-after-restart" % path)
        print("after the restart", {k: v for k, v in seen.items() if k != "shot"})
        pt.expect_panel(seen, wanted)
        check(seen["button"] == ("Off" if wanted == "0" else "On"), "button text %r" % seen["button"])
        pt.close_by_mouse(again, main)
    finally:
        again.kill()


def check_switch_calls(calls, path):
    """The switch's calls after Yes: the first sector read, the drive opened once,
    identified and written once, then the shutdown."""
    device = [c for c in calls if c[2] in ("CreateFileW", "DeviceIoControl", "ReadFile", "SetFilePointer")]
    # Through Intel RST each command opens the adapter's SCSI port (\\.\ScsiN:) as well.
    opened = [i for i, c in enumerate(device) if c[2] == "CreateFileW" and ", 0xC0000000," in c[3]
              and not re.match(r'^"(\\\\){2}\.\\\\Scsi\d+:"', c[3])]
    check(len(opened) == 1, "opened for the switch %d times: %s" % (len(opened), device))
    first_sector = device[:opened[0]]
    check([c[2] for c in first_sector] == ["CreateFileW", "SetFilePointer", "ReadFile"],
          "before the open: %s" % first_sector)
    check("PhysicalDrive" in first_sector[0][3] and ", 0x80000000," in first_sector[0][3],
          "the first sector is read through a handle of its own: %s" % (first_sector[0],))
    open_call = device[opened[0]]
    if path == "miniport":
        check("\\\\?\\" in open_call[3] or "scsi" in open_call[3].lower(), "miniport opened by %s" % open_call[3])
    else:
        check("physicaldrive" in open_call[3].lower(), "opened %s" % open_call[3])
    controls = [c for c in device[opened[0] + 1:] if c[2] == "DeviceIoControl"]
    codes = [c[3].split(", ")[1] for c in controls]
    check(codes == SWITCH_CALLS[path], "device controls after the open: %s" % codes)
    check(all(c[4].startswith("true") for c in controls), "a device control failed: %s" % controls)
    names = [c[2] for c in calls]
    shutdown = names[names.index("OpenProcessToken"):]
    check(shutdown[:3] == ["OpenProcessToken", "LookupPrivilegeValueW", "AdjustTokenPrivileges"],
          "shutdown calls %s" % shutdown)
    last = calls[-1]
    check(last[2] == "ExitWindowsEx" and last[3] == "0x5, 0x0" and last[4].startswith("true"),
          "the last call is %s" % (last,))


def demo_switch_yes(options):
    with tempfile.TemporaryDirectory() as tmp:
        switch_yes(options, "inbox", "2", tmp)
        switch_yes(options, "miniport", "0", tmp)
        # A drive that refuses its health log is switched all the same.
        switch_yes(options, "inbox", "0", tmp, ["--health", "refused"], health="Unavailable")


def demo_switch_rst(options):
    """A VX310 behind Intel RST ("RAID On"): shown, switched through RST's pass-through."""
    with tempfile.TemporaryDirectory() as tmp:
        switch_yes(options, "rst", "2", tmp)


def demo_switch_no(options):
    """No: no device access at all, no shutdown, the panel as it was, the state kept."""
    with tempfile.TemporaryDirectory() as tmp:
        state_file = os.path.join(tmp, "vx310.state")
        trace = os.path.join(options.shots, "switch-no-trace.txt")
        program = demo(options, ["--drive", "usb", "--state", "2", "--state-file", wine_path(state_file),
                                 "--trace", wine_path(trace)])
        try:
            pt.park_pointer()
            main = pt.check_placement(program)
            mark = len(trace_lines(trace))
            pt.click(main, pt.BUTTON)
            box = confirmation(options, program, main, "switch-no-confirmation")
            click_in_box(box, "no")
            wait_box_gone(program, box)
            pt.park_pointer()
            pt.expect_panel(pt.panel(options, program, main, "switch-no-after"), "2")
            calls = ui_calls_after(trace_lines(trace), mark)
            check(calls == [], "calls after No: %s" % calls)
            pt.close_by_mouse(program, main)
        finally:
            program.kill()
        with open(state_file) as f:
            kept = f.read().strip()
        check(kept == "2", "state file says %r" % kept)


def keyboard_shot(options, program, main, name):
    shot = os.path.join(options.shots, name + ".png")
    pt.stable_screenshot(shot, (main[3], main[4], pt.WIDTH, pt.HEIGHT))
    return shot


def demo_switch_keys(options):
    """The switch from the keyboard alone, with real key events: the focus starts on the
    switch and is drawn once a key is used; Space opens the confirmation, Escape answers
    No and Enter (No has the focus) too, and Alt+F4 closes it, without any device access;
    a held Space opens one box and does not answer it; Y switches: identify, one write,
    the shutdown."""
    with tempfile.TemporaryDirectory() as tmp:
        state_file = os.path.join(tmp, "vx310.state")
        trace = os.path.join(options.shots, "switch-keys-trace.txt")
        program = demo(options, ["--drive", "inbox", "--state", "2", "--state-file", wine_path(state_file),
                                 "--trace", wine_path(trace)])
        try:
            pt.park_pointer()
            main = pt.check_placement(program)
            pt.focus(main)
            # Whether the focus is drawn before a key is used follows the system's keyboard-cue
            # setting (Wine's prefix shows the cues at all times); once a key is used it is.
            keyboard_shot(options, program, main, "keys-start")
            pt.press("Tab", "Tab", "Tab")  # round the switch, minimise and close, back to the switch
            cue = keyboard_shot(options, program, main, "keys-focus-on-switch")
            pt.press("Tab")
            on_min = keyboard_shot(options, program, main, "keys-focus-on-minimise")
            drawn = pt.changed_pixels(on_min, cue, main, pt.BUTTON)
            print("focus cue on the switch: %d pixels changed" % drawn)
            check(drawn >= 100, "no focus cue on the switch (%d pixels changed)" % drawn)
            check(pt.changed_pixels(on_min, cue, main, pt.MIN_BUTTON) > 0, "no focus cue on minimise")
            pt.press("shift+Tab")

            mark = len(trace_lines(trace))
            pt.press("space")
            box = confirmation(options, program, main, "keys-confirmation")
            pt.press("Escape")
            wait_box_gone(program, box)
            check(ui_calls_after(trace_lines(trace), mark) == [], "calls after Escape")

            pt.press("Return")  # the switch has the focus: the confirmation again
            box = find_box(program, main)
            pt.press("Return")  # No has the focus
            wait_box_gone(program, box)
            check(ui_calls_after(trace_lines(trace), mark) == [], "calls after Enter on the confirmation")

            pt.press("space")
            box = find_box(program, main)
            pt.press("alt+F4")  # closes the box without an answer
            wait_box_gone(program, box)
            check(ui_calls_after(trace_lines(trace), mark) == [], "calls after Alt+F4 on the confirmation")

            # Held down, Space repeats (the display repeats a held key about 25 times a
            # second): the repeats do not answer the box it opened.
            pt.run("xdotool", "keydown", "space")
            try:
                box = find_box(program, main)
                time.sleep(1.5)
            finally:
                pt.run("xdotool", "keyup", "space")
            time.sleep(0.5)
            check(box[0] in [w[0] for w in program.windows()], "a held Space answered the box it opened")
            check(ui_calls_after(trace_lines(trace), mark) == [], "calls while the box is open")

            pt.press("y")
            code = program.wait_end(20)
            check(code is not None, "the demo still runs after Y: the shutdown did not end it")
            check(code == 0, "the demo ended with %s" % code)
        finally:
            program.kill()
        calls = ui_calls_after(trace_lines(trace), mark)
        check_switch_calls(calls, "inbox")
        print("switch trace from the keyboard:")
        for c in calls:
            print("  %s %s %s(%s) -> %s" % c)
        with open(state_file) as f:
            kept = f.read().strip()
        check(kept == "0", "state file says %r" % kept)


def demo_keys_close(options):
    """Escape ends the program as Cancel does; so does Alt+F4."""
    for keys in ("Escape", "alt+F4"):
        program = demo(options, ["--drive", "inbox"])
        try:
            pt.park_pointer()
            main = pt.check_placement(program)
            pt.focus(main)
            pt.press(keys)
            code = program.wait_end(15)
            check(code == 0, "%s: the demo %s" % (keys, "still runs" if code is None else "ended with %s" % code))
        finally:
            program.kill()


SCENARIOS = {
    "demo-switch-yes": demo_switch_yes,
    "demo-switch-rst": demo_switch_rst,
    "demo-switch-no": demo_switch_no,
    "demo-switch-keys": demo_switch_keys,
    "demo-keys-close": demo_keys_close,
}


if __name__ == "__main__":
    sys.exit(pt.main(SCENARIOS))
