#!/usr/bin/env python3
"""zephra-demo.exe on screens of 96, 144, 168 and 192 DPI (100 %, 150 %, 175 % and
200 %): the window, its shadow, its texts, the sharpness of the switch's edge and the
confirmation box.

Each scale runs in a Wine prefix of its own (a copy of the build's, its LogPixels set),
with its own wine server, on an X display of its own large enough for the window at
200 %: the other tests of the suite never see the changed DPI.

usage: display_scale_tests.py --build DIR --skin DIR --tools DIR [--shots DIR]
"""
import argparse
import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

import program_harness as pt
from program_harness import Failure, check, run

SCALES = (96, 144, 168, 192)
SCREEN = (2400, 1600)
CONFIRMATION_FIRST_LINE = "Computer will shut down after this process."


def scaled(value, dpi):
    """The skin library's rule: value * dpi / 96, halves away from zero."""
    return (2 * value * dpi + 96) // 192


def scaled_box(box, dpi):
    x, y, w, h = box
    return scaled(x, dpi), scaled(y, dpi), scaled(w, dpi), scaled(h, dpi)


@contextlib.contextmanager
def display():
    """An X server of our own, its number chosen by the server."""
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "%dx%dx24" % SCREEN, "-nolisten",
                               "tcp"], pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as pipe:
        number = pipe.readline().strip()
    if not number:
        server.kill()
        raise Failure("Xvfb did not start")
    try:
        yield ":" + number
    finally:
        server.terminate()
        server.wait()


def wine_env(prefix, exe_width):
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    env["WINELOADER"] = "/usr/lib/wine/wine64" if exe_width == 64 else "/usr/lib/wine/wine"
    return env


@contextlib.contextmanager
def prefix_at(options, dpi, exe_width, tmp):
    """A throwaway copy of the build's prefix whose screen has dpi; its wine server is
    ended and the copy removed afterwards."""
    prefix = os.path.join(tmp, "prefix-%d" % dpi)
    source = os.path.join(options.build, "wineprefix")
    if os.path.isfile(os.path.join(source, ".zephra-ready-2")):
        # Linked, not copied (the prefix is large); the registry files, the only ones
        # written here, are real copies.
        run("cp", "-al", source, prefix)
        for name in os.listdir(source):
            if name.endswith(".reg"):
                os.unlink(os.path.join(prefix, name))
                shutil.copy2(os.path.join(source, name), os.path.join(prefix, name))
    else:
        run(os.path.join(options.tools, "wine-prefix.sh"), prefix, "win64" if exe_width == 64 else "win32")
    env = wine_env(prefix, exe_width)
    loader = env["WINELOADER"]
    # Where Wine reads the screen's DPI: the desktop settings of the user, and the
    # current hardware profile's font settings (older versions).
    for key in (r"HKCU\Control Panel\Desktop",
                r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts"):
        subprocess.run([loader, "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                       env=env, check=True, capture_output=True)
    subprocess.run(["wineserver", "-w"], env=env, check=True)
    try:
        yield prefix
    finally:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        shutil.rmtree(prefix, ignore_errors=True)


def main_window(program, width, height, timeout=90):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if program.process.poll() is not None:
            raise Failure("the demo ended before it showed a window:\n%s" % program.text_output())
        mains = [w for w in program.windows() if (w[1], w[2]) == (width, height)]
        if mains:
            return mains[0]
        time.sleep(0.2)
    raise Failure("no %dx%d window within %ds; windows %s" % (width, height, timeout, program.windows()))


def shadow_of(program, window, reach, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for w in program.windows():
            if (w[1], w[2]) == (window[1] + 2 * reach, window[2] + 2 * reach):
                return w
        time.sleep(0.2)
    raise Failure("no shadow %d pixels around %s; windows %s" % (reach, window, program.windows()))


def channel_rows(shot, crop):
    """RGB rows of a crop of a screenshot."""
    x, y, w, h = crop
    data = subprocess.run(["convert", shot, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", "-depth", "8",
                           "rgb:-"], check=True, capture_output=True).stdout
    return [[tuple(data[(r * w + c) * 3:(r * w + c) * 3 + 3]) for c in range(w)] for r in range(h)]


def edge_width(row):
    """Pixels of a scan from the backdrop into the switch that are neither: each one's
    place between the first pixel (backdrop) and the last (the switch's fill), kept when
    it is between 15 % and 85 % of the way."""
    outer, inner = row[0], row[-1]
    axis = [b - a for a, b in zip(outer, inner)]
    length = sum(v * v for v in axis)
    if length == 0:
        return 0
    count = 0
    for p in row:
        t = sum((c - a) * v for c, a, v in zip(p, outer, axis)) / length
        if 0.15 < t < 0.85:
            count += 1
    return count


def switch_edge(shot, window, dpi):
    """The mean width, in pixels, of the blend across the switch's left end, on the rows
    of the middle half of its height, where the end is nearly upright."""
    x, y, w, h = pt.BUTTON
    left = window[3] + scaled(x, dpi)
    middle = window[4] + scaled(y + 18, dpi)  # the pill's middle: its ends' centre
    reach = scaled(17, dpi) // 2
    span = scaled(10, dpi)
    rows = channel_rows(shot, (left - span, middle - reach, 2 * span, 2 * reach + 1))
    return sum(edge_width(r) for r in rows) / len(rows)


def read_panel(shot, window, dpi):
    inner = (window[0], window[1], window[2], window[3], window[4])
    at = lambda box: scaled_box(box, dpi)
    value = lambda box: pt.read_text(shot, inner, at(box)) if pt.has_text(shot, inner, at(box)) else ""
    x, y, w, h = pt.BUTTON
    return {
        "heading": pt.read_text(shot, inner, at(pt.HEADING)),
        "model": value(pt.MODEL),
        "capacity": value(pt.CAPACITY),
        "status": value(pt.STATUS),
        "health": value(pt.HEALTH),
        "button": pt.read_text(shot, inner, at((x + 40, y + 4, w - 80, h - 8)), True),
    }


def find_box(program, main, reach, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        windows = program.windows()
        sizes = {(w[1], w[2]) for w in windows}
        boxes = [w for w in windows if w[0] != main[0] and (w[1] + 2 * reach, w[2] + 2 * reach) in sizes]
        if boxes:
            return boxes[0]
        time.sleep(0.2)
    raise Failure("no message box within %ds; windows %s" % (timeout, program.windows()))


def red_rows(shot, box):
    """First and last row of the box that holds the message-box buttons' red."""
    rows = channel_rows(shot, (box[3], box[4], box[1], box[2]))
    red = [i for i, r in enumerate(rows) if sum(1 for p in r if p[0] > 150 and p[1] < 110 and p[2] < 110) > 20]
    return (red[0], red[-1]) if red else (None, None)


def one_scale(options, dpi, exe, tmp):
    """Runs the demo at dpi; returns what was seen."""
    width = 64 if "windows64" in os.path.realpath(options.build) else 32
    seen = {}
    with prefix_at(options, dpi, width, tmp) as prefix, display() as x_display:
        os.environ["DISPLAY"] = x_display
        os.environ["WINEPREFIX"] = prefix
        program = pt.Program(options, exe, ["--drive", "inbox", "--state", "2"])
        try:
            pt.park_pointer()
            W, H, reach = scaled(pt.WIDTH, dpi), scaled(pt.HEIGHT, dpi), scaled(pt.SHADOW, dpi)
            window = main_window(program, W, H)
            check((window[3], window[4]) == ((SCREEN[0] - W) // 2, (SCREEN[1] - H) // 2),
                  "%dx%d window at %d,%d is not centred" % (W, H, window[3], window[4]))
            shadow = shadow_of(program, window, reach)
            check((shadow[3], shadow[4]) == (window[3] - reach, window[4] - reach),
                  "shadow at %d,%d, window at %d,%d" % (shadow[3], shadow[4], window[3], window[4]))
            shot = os.path.join(options.shots, "display-scale-%d.png" % dpi)
            pt.stable_screenshot(shot, (window[3], window[4], W, H))
            seen.update(read_panel(shot, window, dpi))
            seen["edge"] = switch_edge(shot, window, dpi)
            seen["window"] = window
            seen["shot"] = shot
            kept = os.path.join(tmp, "full-%d.png" % dpi)
            shutil.copyfile(shot, kept)
            seen["full"] = kept
            run("convert", shot, "-crop", "%dx%d+%d+%d" % (W + 2 * reach, H + 2 * reach, window[3] - reach,
                                                            window[4] - reach), "+repage", shot)

            # The confirmation box, over the main window.
            x, y, w, h = scaled_box(pt.BUTTON, dpi)
            run("xdotool", "mousemove", str(window[3] + x + w // 2), str(window[4] + y + h // 2), "click", "1")
            box = find_box(program, window, reach)
            box_shot = os.path.join(options.shots, "display-scale-%d-box.png" % dpi)
            pt.stable_screenshot(box_shot, (box[3], box[4], box[1], box[2]))
            seen["box"] = (box[1], box[2])
            seen["red"] = red_rows(box_shot, box)
            inner = (box[0], box[1], box[2], box[3], box[4])
            seen["line"] = pt.read_text(box_shot, inner, (scaled(18, dpi), scaled(58, dpi), box[1] - scaled(36, dpi),
                                                          scaled(17, dpi)))
            run("convert", box_shot, "-crop", "%dx%d+%d+%d" % (box[1] + 2 * reach, box[2] + 2 * reach,
                                                                box[3] - reach, box[4] - reach), "+repage", box_shot)
            # No: the box goes, the demo stays; then closed by its close button.
            no_left = (box[1] + scaled(20, dpi)) // 2
            no_top = box[2] - scaled(28, dpi) - scaled(20, dpi)
            run("xdotool", "mousemove", str(box[3] + no_left + scaled(40, dpi)),
                str(box[4] + no_top + scaled(14, dpi)), "click", "1")
            time.sleep(1)
            cx, cy, cw, ch = scaled_box(pt.CLOSE_BUTTON, dpi)
            run("xdotool", "mousemove", str(window[3] + cx + cw // 2), str(window[4] + cy + ch // 2), "click", "1")
            check(program.wait_end(15) is not None, "the demo still runs after the close click")
        finally:
            program.kill()
    return seen


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--skin", required=True)
    parser.add_argument("--tools", required=True)
    parser.add_argument("--shots")
    options = parser.parse_args()
    options.shots = options.shots or os.path.join(options.build, "screenshots")
    os.makedirs(options.shots, exist_ok=True)
    for tool in ("Xvfb", "xwininfo", "xdotool", "import", "tesseract"):
        if not shutil.which(tool):
            print("missing", tool, "(tools/setup.sh installs it)")
            return 1
    exe = os.path.join(options.build, "demo", "zephra-demo.exe")
    try:
        with tempfile.TemporaryDirectory() as tmp:
            seen = {dpi: one_scale(options, dpi, exe, tmp) for dpi in SCALES}
            base = seen[96]
            for dpi in SCALES:
                s = seen[dpi]
                print(dpi, {k: v for k, v in s.items() if k not in ("shot", "full", "window")})
                # The same texts as at 100 %.
                check(s["heading"] == "Tavik VX310 Series SSD", "%d: heading %r" % (dpi, s["heading"]))
                check(s["model"].startswith(pt.MODEL_TEXT), "%d: model %r" % (dpi, s["model"]))
                check(s["capacity"] == pt.CAPACITY_TEXT, "%d: capacity %r" % (dpi, s["capacity"]))
                check(s["status"] == "Optimizable", "%d: status %r" % (dpi, s["status"]))
                check(s["button"] == "On", "%d: button %r" % (dpi, s["button"]))
                # The health line fits in its band at every scale (the OCR may miss the middle dots).
                read = "".join(c for c in s["health"].lower() if c.isalnum() or c == "%")
                check(read.startswith("good") and read.endswith("3%used"), "%d: health %r" % (dpi, s["health"]))
                check(s["line"] == CONFIRMATION_FIRST_LINE, "%d: box text %r" % (dpi, s["line"]))
                # The box by the scaled arithmetic: its text measured in the scaled font
                # (within a few per cent of the 100 % text scaled), the button row the
                # scaled 28 high, its bottom the scaled 20 above the box's bottom.
                bw, bh = s["box"]
                check(abs(bw - scaled(base["box"][0], dpi)) <= max(3, bw // 30),
                      "%d: box %dx%d, at 96 %dx%d" % (dpi, bw, bh, base["box"][0], base["box"][1]))
                check(abs(bh - scaled(base["box"][1], dpi)) <= max(3, bh // 30),
                      "%d: box %dx%d, at 96 %dx%d" % (dpi, bw, bh, base["box"][0], base["box"][1]))
                top, bottom = s["red"]
                check(top is not None, "%d: no red button in the box" % dpi)
                want_bottom = bh - scaled(20, dpi) - 1
                want_top = bh - scaled(20, dpi) - scaled(28, dpi)
                check(abs(bottom - want_bottom) <= 1 and abs(top - want_top) <= 1,
                      "%d: buttons on rows %d..%d, not %d..%d" % (dpi, top, bottom, want_top, want_bottom))
            # Sharp: the switch's edge at every larger scale blends over clearly fewer pixels
            # than the 100 % window enlarged to that scale (about one, as at 100 %).
            for dpi in SCALES[1:]:
                factor = dpi / 96
                enlarged = os.path.join(tmp, "enlarged-%d.png" % dpi)
                w96 = base["window"]
                run("convert", base["full"], "-crop", "%dx%d+%d+%d" % (w96[1], w96[2], w96[3], w96[4]), "+repage",
                    "-resize", "%d%%" % round(factor * 100), enlarged)
                enlarged_edge = switch_edge_at(enlarged, dpi)
                print("%d: switch edge blends over %.2f px; the 96-DPI window enlarged: %.2f px" %
                      (dpi, seen[dpi]["edge"], enlarged_edge))
                check(seen[dpi]["edge"] < 0.8 * enlarged_edge and seen[dpi]["edge"] <= 2,
                      "%d: switch edge %.2f px, enlarged 96-DPI %.2f px" % (dpi, seen[dpi]["edge"], enlarged_edge))
    except Failure as failure:
        print("FAIL:", failure)
        return 1
    print("ok")
    return 0


def switch_edge_at(image, dpi):
    """The same measure on an image of the window alone at that scale."""
    return switch_edge(image, (None, None, None, 0, 0), dpi)


if __name__ == "__main__":
    sys.exit(main())
