#!/usr/bin/env python3
"""The harness of the program tests: Windows programs of the build started under Wine on
the X display and driven as a user would. Their windows are found through the X server,
what they show is read from screenshots (text by OCR, the switch button by its colour),
and they are clicked with the real pointer (xdotool). Also the main window's layout and
how its panel is read and checked, and the command line every test script shares.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

WIDTH, HEIGHT, SHADOW = 700, 490, 8
# Where mainSkin.xml puts what is read back (x, y, width, height in the window).
HEADING = (81, 112, 302, 44)
MODEL = (210, 174, 180, 30)
CAPACITY = (210, 223, 180, 30)
STATUS = (210, 270, 180, 30)
HEALTH_CAPTION = (105, 302, 91, 28)
HEALTH = (210, 302, 400, 28)
BUTTON = (272, 425, 159, 38)
CLOSE_BUTTON = (679, 5, 16, 16)
MIN_BUTTON = (658, 5, 16, 16)

MODEL_TEXT = "Tavik VX310"  # the label shows the start of "Tavik VX310 Series SSD 512GB"
CAPACITY_TEXT = "476.94 GB"
STATUS_TEXT = {"0": "Has been optimized", "2": "Optimizable", "ff": "Unknown"}
# Which image the switch shows: state 0 "Off" images, else "On"; disabled: the down image.
BUTTON_LOOK = {"0": "off_normal", "2": "on_normal", "ff": "on_down", None: "on_down"}


class Failure(Exception):
    pass


def run(*command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs).stdout


class Program:
    """A Windows program of the build started under Wine, and its windows on the display."""

    def __init__(self, options, exe, args=(), name=None):
        self.options = options
        self.name = name or os.path.basename(exe)
        self.output = tempfile.TemporaryFile(mode="w+")
        # The prefix first: its first boot is no part of the program's start-up.
        subprocess.run([os.path.join(options.tools, "wine-run.sh"), "--prepare", exe], check=True)
        self.started = time.monotonic()
        self.process = subprocess.Popen([os.path.join(options.tools, "wine-run.sh"), exe, *args],
                                        stdout=self.output, stderr=subprocess.STDOUT)

    def windows(self):
        """Mapped top-level windows of this program: (id, width, height, x, y)."""
        found = []
        mine = self.pids()
        for line in run("xwininfo", "-root", "-children").splitlines():
            m = re.match(r'\s*(0x[0-9a-f]+) .*\("([^"]*)" "[^"]*"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)',
                         line)
            if not m or m.group(2).lower() != self.name.lower():
                continue
            try:
                if "IsViewable" not in run("xwininfo", "-id", m.group(1)):
                    continue
                # Only this run's windows: another run of the same program may still be ending.
                pid = re.search(r"= (\d+)", run("xprop", "-id", m.group(1), "_NET_WM_PID"))
            except subprocess.CalledProcessError:
                continue  # the window went between the listing and the question
            if pid and int(pid.group(1)) not in mine:
                continue
            found.append((m.group(1), int(m.group(3)), int(m.group(4)), int(m.group(5)), int(m.group(6))))
        return found

    def main_window(self, timeout=90):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise Failure("%s ended before it showed a window:\n%s" % (self.name, self.text_output()))
            mains = [w for w in self.windows() if (w[1], w[2]) == (WIDTH, HEIGHT)]
            if mains:
                return mains
            time.sleep(0.2)
        raise Failure("no %dx%d window of %s within %ds" % (WIDTH, HEIGHT, self.name, timeout))

    def text_output(self):
        self.output.seek(0)
        return self.output.read()

    def wait_end(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def pids(self):
        """This run's processes: the one started, and the Wine process that tools/wine-start.sh
        started in turn (it waits for it, to start it again when Wine lost the start)."""
        found = {self.process.pid}
        for entry in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/stat" % entry) as f:
                    stat = f.read()
            except OSError:
                continue  # it ended meanwhile
            # The parent's id is the second field after the name, which is in parentheses.
            fields = stat.rsplit(")", 1)[-1].split()
            if len(fields) > 1 and fields[1] == str(self.process.pid):
                found.add(int(entry))
        return found

    def kill(self):
        if self.process.poll() is None:
            for pid in self.pids() - {self.process.pid}:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            self.process.kill()
            self.process.wait()


def screen_size():
    m = re.search(r"Width: (\d+).*?Height: (\d+)", run("xwininfo", "-root"), re.S)
    return int(m.group(1)), int(m.group(2))


def screenshot(path):
    run("import", "-window", "root", path)


def stable_screenshot(path, box, timeout=10):
    """A screenshot once the window's pixels stop changing (it has painted)."""
    x, y, w, h = box
    previous = None
    deadline = time.monotonic() + timeout
    while True:
        screenshot(path)
        digest = run("convert", path, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage", "-format", "%#", "info:")
        if digest == previous or time.monotonic() > deadline:
            return
        previous = digest
        time.sleep(0.3)


def has_text(shot, window, box):
    """Whether anything dark (text is black) is drawn in the box."""
    x, y, w, h = box
    darkest = run("convert", shot, "-crop", "%dx%d+%d+%d" % (w, h, window[3] + x, window[4] + y), "+repage",
                  "-colorspace", "Gray", "-format", "%[fx:minima]", "info:")
    return float(darkest) < 0.5


def read_text(shot, window, box, light_on_colour=False):
    """OCR of one label: cropped, enlarged, grey. Light text on a coloured button is read
    from the darkest channel of each pixel, where the text stands out on blue and orange."""
    x, y, w, h = box
    with tempfile.TemporaryDirectory() as tmp:
        crop = os.path.join(tmp, "label.png")
        command = ["convert", shot, "-crop", "%dx%d+%d+%d" % (w, h, window[3] + x, window[4] + y), "+repage"]
        if light_on_colour:
            command += ["-separate", "-evaluate-sequence", "Min", "-negate"]
        else:
            command += ["-colorspace", "Gray"]
        run(*command, "-resize", "400%", "-bordercolor", "white", "-border", "30", crop)
        text = run("tesseract", crop, "-", "--psm", "7")
    return " ".join(text.split())


def mean_colour(image, crop=None, under=None):
    """Mean RGB (0..1) of an image, or of a crop of it, composed over `under` if given."""
    command = ["convert"]
    if under:
        command += [under[0], "-crop", under[1], "+repage", "(", image, "-resize", under[2], ")",
                    "-composite"]
    else:
        command += [image]
    if crop:
        command += ["-crop", crop, "+repage"]
    command += ["-resize", "1x1!", "-format", "%[fx:r] %[fx:g] %[fx:b]", "info:"]
    return [float(v) for v in run(*command).split()]


def button_look(options, shot, window):
    """Which of the four button images the switch shows (its left part, away from the text)."""
    x, y, w, h = BUTTON
    strip = "40x%d+4+0" % h
    actual = mean_colour(shot, "40x%d+%d+%d" % (h, window[3] + x + 4, window[4] + y))
    background = (os.path.join(options.skin, "mainWnd.jpg"), "%dx%d+%d+%d" % (w, h, x, y), "%dx%d!" % (w, h))
    best = None
    for look in ("on_normal", "on_down", "off_normal", "off_down", "on_over", "off_over"):
        expected = mean_colour(os.path.join(options.skin, look + ".png"), strip, background)
        distance = max(abs(a - b) for a, b in zip(actual, expected))
        if best is None or distance < best[0]:
            best = (distance, look)
    return best[1]


def click(window, box):
    x, y, w, h = box
    run("xdotool", "mousemove", str(window[3] + x + w // 2), str(window[4] + y + h // 2), "click", "1")


def park_pointer():
    run("xdotool", "mousemove", "0", "0")


def focus(window):
    """Gives the window the X input focus, as a click on it would (there is no window
    manager on the test display)."""
    run("xdotool", "windowfocus", "--sync", window[0])
    time.sleep(0.3)


def press(*keys):
    """Real key events (XTEST) to the window that has the focus, e.g. "Tab", "shift+Tab"."""
    for key in keys:
        run("xdotool", "key", key)
        time.sleep(0.3)


def changed_pixels(shot_a, shot_b, window, box):
    """How many pixels of the box (x, y, w, h in the window) differ between two screenshots."""
    x, y, w, h = box
    crop = "%dx%d+%d+%d" % (w, h, window[3] + x, window[4] + y)
    with tempfile.TemporaryDirectory() as tmp:
        a, b = os.path.join(tmp, "a.png"), os.path.join(tmp, "b.png")
        run("convert", shot_a, "-crop", crop, "+repage", a)
        run("convert", shot_b, "-crop", crop, "+repage", b)
        # compare exits 1 when the images differ; the count goes to standard error.
        result = subprocess.run(["compare", "-metric", "AE", a, b, "null:"], capture_output=True, text=True)
    return int(float(result.stderr.split()[0]))


def find_box(program, main, timeout=10):
    """The message box: a window of the program other than the main window and the
    shadows, which are 16 pixels larger than the window they follow."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        windows = program.windows()
        sizes = {(w[1], w[2]) for w in windows}
        boxes = [w for w in windows if (w[1], w[2]) != (WIDTH, HEIGHT)
                 and (w[1] + 2 * SHADOW, w[2] + 2 * SHADOW) in sizes]
        if boxes:
            return boxes[0]
        time.sleep(0.2)
    raise Failure("no message box within %ds; windows %s" % (timeout, program.windows()))


def wait_box_gone(program, box, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if box[0] not in [w[0] for w in program.windows()]:
            return
        time.sleep(0.2)
    raise Failure("the box is still shown")


def box_buttons(box):
    """Yes and No of a Yes/No box, as (x, y, w, h) in the box: 80 by 28, 20 apart, 20
    above the bottom, the pair centred."""
    w, h = box[1], box[2]
    top = h - 28 - 20
    return ((w - 20) // 2 - 80, top, 80, 28), ((w + 20) // 2, top, 80, 28)


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_placement(program):
    mains = program.main_window()
    check(len(mains) == 1, "%d main windows: %s" % (len(mains), mains))
    window = mains[0]
    screen_w, screen_h = screen_size()
    check((window[3], window[4]) == ((screen_w - WIDTH) // 2, (screen_h - HEIGHT) // 2),
          "window at %d,%d on a %dx%d screen is not centred" % (window[3], window[4], screen_w, screen_h))
    deadline = time.monotonic() + 10
    shadows = []
    while not shadows and time.monotonic() < deadline:
        shadows = [w for w in program.windows() if (w[1], w[2]) == (WIDTH + 2 * SHADOW, HEIGHT + 2 * SHADOW)]
        time.sleep(0.2)
    check(len(shadows) == 1, "shadow windows: %s" % shadows)
    check((shadows[0][3], shadows[0][4]) == (window[3] - SHADOW, window[4] - SHADOW),
          "shadow at %d,%d, window at %d,%d" % (shadows[0][3], shadows[0][4], window[3], window[4]))
    return window


def panel(options, program, window, name):
    shot = os.path.join(options.shots, name + ".png")
    stable_screenshot(shot, (window[3], window[4], WIDTH, HEIGHT))
    run("convert", shot, "-crop", "%dx%d+%d+%d" % (WIDTH + 2 * SHADOW, HEIGHT + 2 * SHADOW,
                                                    window[3] - SHADOW, window[4] - SHADOW), "+repage", shot)
    # The crop starts at the shadow's corner.
    inner = (window[0], WIDTH, HEIGHT, SHADOW, SHADOW)
    # Empty labels are told by having no dark pixel (OCR reads noise into them).
    value = lambda box: read_text(shot, inner, box) if has_text(shot, inner, box) else ""
    return {
        "shot": shot,
        "heading": read_text(shot, inner, HEADING),
        "model": value(MODEL),
        "capacity": value(CAPACITY),
        "status": value(STATUS),
        "health_caption": value(HEALTH_CAPTION),
        "health": value(HEALTH),
        # The middle of the button, where its text is, away from the rounded ends.
        "button": read_text(shot, inner, (BUTTON[0] + 40, BUTTON[1] + 4, BUTTON[2] - 80, BUTTON[3] - 8), True),
        "look": button_look(options, shot, inner),
    }


def expect_panel(seen, state, look=None):
    """state: "0", "2", "ff" for a VX310 in that state, None for no drive; look: the
    button's images when they are not those of the state."""
    if state is None:
        check(seen["heading"] == "No device detected", "heading %r" % seen["heading"])
        for field in ("model", "capacity", "status"):
            check(seen[field] == "", "%s shows %r without a drive" % (field, seen[field]))
    else:
        check(seen["heading"] == "Tavik VX310 Series SSD", "heading %r" % seen["heading"])
        check(seen["model"].startswith(MODEL_TEXT), "model %r" % seen["model"])
        check(seen["capacity"] == CAPACITY_TEXT, "capacity %r" % seen["capacity"])
        check(seen["status"] == STATUS_TEXT[state], "status %r" % seen["status"])
    look = look or BUTTON_LOOK[state]
    check(seen["look"] == look, "button shows %s, not %s" % (seen["look"], look))


def close_by_mouse(program, window, ends_within=10):
    clicked = time.monotonic()
    click(window, CLOSE_BUTTON)
    code = program.wait_end(ends_within)
    took = time.monotonic() - clicked
    check(code is not None, "%s still runs %ds after the close click" % (program.name, ends_within))
    check(code == 0, "%s ended with %s" % (program.name, code))
    # Its windows go with it before the next program starts.
    deadline = time.monotonic() + 5
    while program.windows() and time.monotonic() < deadline:
        time.sleep(0.1)
    return took


def demo(options, args):
    return Program(options, os.path.join(options.build, "demo", "zephra-demo.exe"), args)


def main(scenarios):
    """Runs the scenario the command line names; returns the exit status."""
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(scenarios))
    parser.add_argument("--build", required=True)
    parser.add_argument("--skin", required=True)
    parser.add_argument("--tools", required=True)
    parser.add_argument("--shots")
    options = parser.parse_args()
    options.shots = options.shots or os.path.join(options.build, "screenshots")
    os.makedirs(options.shots, exist_ok=True)
    if not os.environ.get("DISPLAY"):
        print("needs an X display (tools/test.sh runs the tests under xvfb-run)")
        return 1
    for tool in ("xwininfo", "xdotool", "import", "tesseract"):
        if not shutil.which(tool):
            print("missing", tool, "(tools/setup.sh installs it)")
            return 1
    try:
        scenarios[options.scenario](options)
    except Failure as failure:
        print("FAIL:", failure)
        return 1
    print("ok")
    return 0
