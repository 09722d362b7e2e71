#!/usr/bin/env python3
"""zephra-cli on the simulated machine, as a management system runs it: zephra-cli-demo.exe
started under Wine with the machine's options and a command, its exit code read in full
(through exit_code.exe: a Unix parent sees only 8 bits of it), its JSON parsed, and the
trace of system calls checked for what reached the drives.

usage: cli_e2e.py GROUP --build DIR --tools DIR
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

TRACE_LINE = re.compile(r"^(\d{6}) (ui|worker) ([A-Za-z_]+)\((.*)\) -> (.+)$")
NEEDS_ADMIN = "needs administrator rights"
CAPACITY_TEXT = "476.94 GB"  # the simulated VX310: 1,000,215,216 sectors of 512 bytes
# The control codes through which the switch's identify and write reach the drive, by path.
SWITCH_CALLS = {
    "inbox": ["0x2D1400", "0x2DD3C0"],   # protocol property (identify), protocol command (write)
    "miniport": ["0x4D008", "0x4D008"],  # "NvmeMini" request, twice
    # Intel RST: the disk's SCSI address, read once to check it is still the listed drive's,
    # then the "IntelNvm" identify and write at its port
    "rst": ["0x41018", "0x4D008", "0x4D008"],
}
TRANSPORT = {"inbox": "inbox", "miniport": "miniport", "usb": "usb-bridge", "rst": "intel-rst"}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


class Cli:
    def __init__(self, options, tmp):
        self.options = options
        self.tmp = tmp
        self.runs = 0
        self.exe = os.path.join(options.build, "demo", "zephra-cli-demo.exe")
        self.launcher = os.path.join(options.build, "tests", "cli", "exit_code.exe")

    def run(self, machine, command, trace=False):
        """Runs the demo CLI: machine options, then the command. Returns (code, stdout,
        stderr, trace lines or None)."""
        self.runs += 1
        code_file = os.path.join(self.tmp, "code-%d" % self.runs)
        args = list(machine)
        trace_file = None
        if trace:
            trace_file = os.path.join(self.tmp, "trace-%d.txt" % self.runs)
            args += ["--trace", wine_path(trace_file)]
        done = subprocess.run([os.path.join(self.options.tools, "wine-run.sh"), self.launcher, wine_path(code_file),
                               wine_path(self.exe), *args, *command],
                              capture_output=True, text=True, timeout=120)
        # A start that Wine lost and wine-start.sh tried again is said in the test's output,
        # not in the program's standard error.
        stderr = "".join(line for line in done.stderr.splitlines(True) if not line.startswith("wine-start: "))
        for line in done.stderr.splitlines():
            if line.startswith("wine-start: "):
                print(line)
        check(done.returncode == 0, "the launcher failed (%d): %s" % (done.returncode, done.stderr))
        with open(code_file) as f:
            code = int(f.read().strip())
        lines = None
        if trace_file:
            with open(trace_file) as f:
                lines = [parse_trace(line) for line in f.read().splitlines()]
        print("$ zephra-cli-demo %s -> %d" % (" ".join(machine + command), code))
        return code, done.stdout, stderr, lines

    def json(self, machine, command, expect, trace=False):
        """The command with --json: the exit code as expected, one JSON document that says
        the same code, and the trace when asked for."""
        code, out, err, lines = self.run(machine, command + ["--json"], trace)
        check(code == expect, "%s: exit %d, not %d\n%s%s" % (command, code, expect, out, err))
        try:
            doc = json.loads(out)
        except ValueError as error:
            raise Failure("%s: no JSON document (%s):\n%s" % (command, error, out))
        check(doc["schemaVersion"] == 1, "schema version %r" % doc["schemaVersion"])
        check(doc["exitCode"] == expect, "the document says exit %r" % doc["exitCode"])
        check(doc["command"] == command[0], "command %r" % doc["command"])
        check(err == "", "standard error with --json: %r" % err)
        if expect in (0, 3010, 1641):
            check(doc["error"] is None, "error on success: %r" % doc["error"])
        else:
            check(isinstance(doc["error"]["code"], str) and doc["error"]["message"], "error %r" % doc["error"])
        return (doc, lines) if trace else doc


def parse_trace(line):
    m = TRACE_LINE.match(line)
    check(m, "trace line out of format: %r" % line)
    return m.groups()


def check_drive(drive, disk, path, state):
    """A supported VX310 as the JSON describes it, every number a number."""
    check(drive["disk"] == disk, "disk %r" % drive["disk"])
    check(drive["supported"] is True and drive["examined"] == "supported", "not supported: %r" % drive)
    check(drive["model"].startswith("Tavik VX310"), "model %r" % drive["model"])
    check(isinstance(drive["serial"], str) and drive["serial"], "serial %r" % drive["serial"])
    check(isinstance(drive["firmware"], str), "firmware %r" % drive["firmware"])
    check(drive["transport"] == TRANSPORT[path], "transport %r for %s" % (drive["transport"], path))
    check(drive["capacityBytes"] == 1000215216 * 512, "capacity %r" % drive["capacityBytes"])
    check(drive["capacityText"] == CAPACITY_TEXT, "capacity text %r" % drive["capacityText"])
    value = {"0": 0, "2": 2, "ff": 255}[state]
    check(drive["optimizeState"] == value, "state %r, not %r" % (drive["optimizeState"], value))
    words = {"0": "Has been optimized", "2": "Optimizable", "ff": "Unknown"}[state]
    check(drive["status"] == words, "status %r" % drive["status"])


# ---- trace readings ----

def handles_by_path(lines):
    """Each handle the program opened, with the path it was opened on."""
    opened = {}
    for _, _, name, args, result in lines:
        if name == "CreateFileW" and not result.startswith("INVALID"):
            path = args.split('", ')[0].strip('"')
            opened[result.split(",")[0]] = path.replace("\\\\", "\\")  # the trace escapes backslashes
    return opened


def controls_on(lines, matches):
    """The control codes sent on handles whose path satisfies matches(path)."""
    opened = handles_by_path(lines)
    codes = []
    for _, _, name, args, _ in lines:
        if name == "DeviceIoControl":
            handle, code = args.split(", ")[:2]
            if matches(opened.get(handle, "")):
                codes.append(code)
    return codes


def drive_paths(number):
    variants = ("\\\\.\\physicaldrive%d" % number,)
    return lambda path: path.lower() in variants


def device_calls(lines):
    return [c for c in lines if c[2] in ("CreateFileW", "DeviceIoControl", "ReadFile", "SetFilePointer",
                                         "CloseHandle")]


def after_listing(listing, lines):
    """The calls an optimize made after its listing: the listing's calls are the same as
    those of list on the same machine, in the same order."""
    head = [c[2:4] for c in lines[:len(listing)]]
    check(head == [c[2:4] for c in listing], "optimize did not begin with the listing of list")
    return lines[len(listing):]


def opened_path(call):
    return call[3].split('", ')[0].strip('"').replace("\\\\", "\\")


def is_scsi_port(path):
    return re.match(r"^\\\\\.\\scsi\d+:$", path.lower()) is not None


def check_one_switch(calls, path):
    """After the listing: the first sector read, the open, the identify and the one write;
    no shutdown. (Through Intel RST each command also opens the adapter's SCSI port.)"""
    device = device_calls(calls)
    names = [c[2] for c in device]
    check(names[:3] == ["CreateFileW", "SetFilePointer", "ReadFile"], "before the open: %s" % device[:4])
    opens = [c for c in device if c[2] == "CreateFileW" and ", 0xC0000000," in c[3]
             and not is_scsi_port(opened_path(c))]
    check(len(opens) == 1, "opened for the switch %d times: %s" % (len(opens), device))
    controls = [c for c in device if c[2] == "DeviceIoControl"]
    if path in SWITCH_CALLS:
        codes = [c[3].split(", ")[1] for c in controls]
        check(codes == SWITCH_CALLS[path], "switch controls %s" % codes)
    else:  # the bridge: identify and write, each a command, a data and a response exchange
        codes = [c[3].split(", ")[1] for c in controls]
        check(codes == ["0x4D004"] * 6, "bridge switch controls: %s" % controls)
    check(all(c[4].startswith("true") for c in controls), "a control failed: %s" % controls)
    check(not [c for c in calls if c[2] in ("OpenProcessToken", "ExitWindowsEx")], "a shutdown was asked for")


# ---- groups ----

def group_paths_and_states(cli):
    """status and list on each path in each state; the plain text of both."""
    for path in ("inbox", "miniport", "usb", "rst"):
        for state in ("0", "2", "ff"):
            machine = ["--drive", path, "--state", state]
            doc = cli.json(machine, ["status"], 0)
            check_drive(doc["drive"], 0, path, state)
            doc = cli.json(machine, ["list"], 0)
            check(len(doc["drives"]) == 1, "list: %r" % doc["drives"])
            check_drive(doc["drives"][0], 0, path, state)
    # For a person: aligned columns with a header, and the status lines.
    code, out, err, _ = cli.run(["--drive", "other-sata", "--drive", "miniport", "--state", "0"], ["list"])
    rows = out.splitlines()
    check(code == 0 and len(rows) == 3 and rows[0].split()[:2] == ["DISK", "MODEL"], "list text:\n%s%s" % (out, err))
    check(rows[0].index("TRANSPORT") == rows[2].index("miniport"), "columns not aligned:\n%s" % out)
    check("Has been optimized" in rows[2] and "476.94 GB" in rows[2], "VX310 row %r" % rows[2])
    code, out, err, _ = cli.run(["--drive", "usb"], ["status"])
    check(code == 0 and "Optimizable (2)" in out and "USB bridge" in out, "status text:\n%s%s" % (out, err))


def group_foreign_and_several(cli):
    """Other makers' drives are listed and never get a vendor command; with two VX310s
    status shows the first and optimize asks for --disk."""
    machine = ["--drive", "other-nvme", "--drive", "other-sata", "--drive", "other-usb", "--drive", "inbox"]
    doc, lines = cli.json(machine, ["list"], 0, trace=True)
    drives = doc["drives"]
    check([d["disk"] for d in drives] == [0, 1, 2, 3], "disks %r" % [d["disk"] for d in drives])
    check([d["supported"] for d in drives] == [False, False, False, True], "supported %r" % drives)
    check(drives[0]["examined"] == "other-maker" and drives[0]["model"] == "Other Maker NVMe SSD 1TB"
          and drives[0]["transport"] == "inbox" and drives[0]["optimizeState"] is None, "other NVMe %r" % drives[0])
    check(drives[1]["examined"] == "sata" and drives[1]["model"] is None and drives[1]["transport"] == "other",
          "SATA %r" % drives[1])
    check(drives[2]["examined"] in ("usb-unknown-bridge", "not-identified", "other-maker"), "USB stick %r" % drives[2])
    check_drive(drives[3], 3, "inbox", "2")
    # What reached each disk: the foreign NVMe drive was identified, never sent the drive's
    # protocol command (the path of vendor commands); the SATA drive got only the queries
    # of the listing; the VX310 got its vendor commands.
    foreign_nvme = controls_on(lines, drive_paths(0))
    # The bus type, identify and health log queries, and the capacity; nothing else.
    check(sorted(foreign_nvme) == ["0x2D1400", "0x2D1400", "0x2D1400", "0x700A0"],
          "other NVMe drive got %s" % foreign_nvme)
    check(drives[0]["health"]["summary"].startswith("Good"), "other NVMe health %r" % drives[0]["health"])
    check(drives[1]["health"] is None, "SATA health %r" % drives[1]["health"])
    sata = controls_on(lines, drive_paths(1))
    check(set(sata) <= {"0x2D1400"} and len(sata) == 1, "SATA drive got %s" % sata)
    vx310 = controls_on(lines, drive_paths(3))
    vendor = len(vx310) - len(foreign_nvme)
    check(vendor >= 2, "the VX310 got no vendor command: %s" % vx310)

    # optimize on a machine of foreign drives and one VX310: the switch goes to disk 3 only.
    listing = cli.json(machine, ["list"], 0, trace=True)[1]
    doc, lines = cli.json(machine, ["optimize", "on", "--yes"], 3010, trace=True)
    check(doc["drive"]["disk"] == 3 and doc["written"] is True, "optimize %r" % doc)
    calls = after_listing(listing, lines)
    check_one_switch(calls, "inbox")
    check(all("physicaldrive3" in c[3].lower() for c in device_calls(calls) if c[2] == "CreateFileW"),
          "the switch opened another drive: %s" % device_calls(calls))

    # Behind Intel RST: a SATA drive gets nothing, another maker's NVMe drive identify and,
    # in the survey, its health log (through RST: the drive's SCSI address, read once at
    # identify, then the port).
    rst = ["--drive", "rst-sata", "--drive", "rst-other-nvme", "--drive", "rst"]
    doc, lines = cli.json(rst, ["list"], 0, trace=True)
    drives = doc["drives"]
    check(drives[0]["examined"] == "sata" and drives[0]["transport"] == "other", "SATA behind RST %r" % drives[0])
    check(drives[1]["examined"] == "other-maker" and drives[1]["transport"] == "intel-rst",
          "other NVMe behind RST %r" % drives[1])
    check_drive(drives[2], 2, "rst", "2")
    # Behind RST each disk is asked its adapter and its device descriptor (the SCSI vendor).
    sata = controls_on(lines, drive_paths(0))
    check(sata == ["0x2D1400", "0x2D1400"], "SATA drive behind RST got %s" % sata)
    foreign = controls_on(lines, drive_paths(1))
    check(sorted(foreign) == ["0x2D1400", "0x2D1400", "0x41018", "0x700A0"],
          "other NVMe drive behind RST got %s" % foreign)
    check(drives[1]["health"] is not None, "other NVMe behind RST without health %r" % drives[1])
    port = controls_on(lines, is_scsi_port)
    # The foreign drive's identify and health log, then the VX310's four and its health log.
    check(port == ["0x4D008"] * 7, "requests at the RST port: %s" % port)

    two = ["--drive", "inbox", "--drive", "usb", "--state", "0"]
    doc = cli.json(two, ["list"], 0)
    check([d["supported"] for d in doc["drives"]] == [True, True], "two VX310s %r" % doc["drives"])
    check_drive(doc["drives"][1], 1, "usb", "0")
    check(doc["drives"][0]["serial"] != doc["drives"][1]["serial"], "two VX310s, one serial: %r" % doc["drives"])
    doc = cli.json(two, ["status"], 0)
    check(doc["drive"]["disk"] == 0, "status shows disk %r" % doc["drive"]["disk"])
    listing = cli.json(two, ["list"], 0, trace=True)[1]
    doc, lines = cli.json(two, ["optimize", "off", "--yes"], 4, trace=True)
    check(doc["error"]["code"] == "several-supported-drives" and "--disk" in doc["error"]["message"],
          "several: %r" % doc["error"])
    check(len(lines) == len(listing), "a call after the listing without --disk: %s" % lines[len(listing):])
    doc, lines = cli.json(two, ["optimize", "off", "--yes", "--disk", "1"], 3010, trace=True)
    check(doc["drive"]["disk"] == 1 and doc["drive"]["transport"] == "usb-bridge", "--disk 1: %r" % doc["drive"])
    check_one_switch(after_listing(listing, lines), "usb")
    doc = cli.json(two, ["optimize", "off", "--yes", "--disk", "7"], 7)
    check(doc["error"]["code"] == "not-supported", "--disk 7: %r" % doc["error"])
    doc = cli.json(machine, ["optimize", "off", "--yes", "--disk", "0"], 7)
    check(doc["error"]["code"] == "not-supported" and doc["drive"]["examined"] == "other-maker",
          "--disk of another maker's drive: %r" % doc)


def group_optimize(cli):
    """The switch: refused without --yes with no device access, nothing written when the
    drive is in the asked state, 3010 after one identify and one write, 1641 with the
    planned shutdown, and the state kept by the drive."""
    with tempfile.TemporaryDirectory() as tmp:
        for path, before, word, after in (("inbox", "2", "on", "0"), ("miniport", "0", "off", "2"),
                                          ("usb", "2", "on", "0"), ("rst", "0", "off", "2")):
            state_file = os.path.join(tmp, "vx310-%s.state" % path)
            machine = ["--drive", path, "--state-file", wine_path(state_file)]
            with open(state_file, "w") as f:
                f.write(before + "\n")

            doc, lines = cli.json(machine, ["optimize", word], 3, trace=True)
            check(doc["error"]["code"] == "confirmation-needed" and "--yes" in doc["error"]["message"],
                  "without --yes: %r" % doc["error"])
            check(not device_calls(lines) and not [c for c in lines if c[2].startswith("SetupDi")],
                  "device access without --yes: %s" % lines[:5])
            code, out, err, _ = cli.run(machine, ["optimize", word])
            check(code == 3 and "--yes" in err, "without --yes, as text: %d %r" % (code, err))

            listing = cli.json(machine, ["list"], 0, trace=True)[1]
            doc, lines = cli.json(machine, ["optimize", word, "--yes"], 3010, trace=True)
            check(doc["written"] is True and doc["newState"] == int(after) and doc["restart"] == "required",
                  "switch %r" % doc)
            check_drive(doc["drive"], 0, path, before)
            check_one_switch(after_listing(listing, lines), path)
            with open(state_file) as f:
                check(f.read().strip() == after, "the drive did not take the new state")

            # Again: the drive is in the asked state now; nothing is written.
            listing = cli.json(machine, ["list"], 0, trace=True)[1]
            doc, lines = cli.json(machine, ["optimize", word, "--yes"], 0, trace=True)
            check(doc["written"] is False and doc["drive"]["optimizeState"] == int(after), "again: %r" % doc)
            check(len(lines) == len(listing), "calls after the listing: %s" % lines[len(listing):])

        # --shutdown: a forced power-off (flags 0xC) with a planned reason, exit 1641.
        state_file = os.path.join(tmp, "shutdown.state")
        machine = ["--drive", "inbox", "--state", "0", "--state-file", wine_path(state_file)]
        code, out, err, lines = cli.run(machine, ["optimize", "off", "--yes", "--shutdown"], trace=True)
        check(code == 1641, "with --shutdown: exit %d\n%s%s" % (code, out, err))
        names = [c[2] for c in lines]
        shutdown = names[names.index("OpenProcessToken"):]
        check(shutdown[:3] == ["OpenProcessToken", "LookupPrivilegeValueW", "AdjustTokenPrivileges"],
              "shutdown calls %s" % shutdown)
        exits = [c for c in lines if c[2] == "ExitWindowsEx"]
        check(len(exits) == 1 and exits[0][3] == "0xC, 0x80040001" and exits[0][4].startswith("true"),
              "shutdown request %s" % exits)
        check("shuts down" in out, "text %r" % out)
        # The plain text of a switch without --shutdown says what the drive needs.
        code, out, err, _ = cli.run(["--drive", "inbox"], ["optimize", "on", "--yes"])
        check(code == 3010 and "next power-on after a shutdown" in out, "text %d %r" % (code, out))
        # --restart is gone: a usage error, nothing touched.
        code, out, err, lines = cli.run(["--drive", "inbox"], ["optimize", "on", "--yes", "--restart"], trace=True)
        check(code == 1 and "--shutdown" in err and not device_calls(lines), "--restart: %d %r" % (code, err))


def group_faults(cli):
    """Each fault of the simulated machine, and no drive at all."""
    doc = cli.json(["--drive", "none"], ["status"], 2)
    check(doc["drive"] is None and doc["error"]["code"] == "no-supported-drive", "no drive %r" % doc)
    doc = cli.json(["--drive", "none"], ["list"], 0)
    check(doc["drives"] == [], "no drive, list %r" % doc["drives"])
    doc = cli.json(["--drive", "none"], ["optimize", "on", "--yes"], 2)
    check(doc["error"]["code"] == "no-supported-drive", "no drive, optimize %r" % doc["error"])
    code, out, err, _ = cli.run(["--drive", "none"], ["status"])
    check(code == 2 and "No device detected" in err, "no drive, text %d %r" % (code, err))

    # The state read refused: shown as Unknown, never switched.
    machine = ["--drive", "miniport", "--fault", "state-read"]
    doc = cli.json(machine, ["status"], 0)
    check_drive(doc["drive"], 0, "miniport", "ff")
    listing = cli.json(machine, ["list"], 0, trace=True)[1]
    doc, lines = cli.json(machine, ["optimize", "on", "--yes"], 6, trace=True)
    check(doc["error"]["code"] == "state-unknown" and doc["written"] is False, "unknown state %r" % doc)
    check(len(lines) == len(listing), "calls after the listing: %s" % lines[len(listing):])

    # An Intel RST driver older than its pass-through refuses it, and the "NvmeMini" request
    # after it: not identified, and nothing else sent.
    doc, lines = cli.json(["--drive", "rst-old-driver"], ["status"], 2, trace=True)
    check(doc["error"]["code"] == "no-supported-drive", "old RST driver %r" % doc)
    controls = [c for c in lines if c[2] == "DeviceIoControl"]
    codes = {c[3].split(", ")[1] for c in controls}
    check(codes <= {"0x2D1080", "0x2D1400", "0x41018", "0x4D008"}, "old RST driver got %s" % sorted(codes))
    check(all(c[4].startswith("false") for c in controls if c[3].split(", ")[1] == "0x4D008"),
          "the old RST driver took a request: %s" % controls)

    # Identify refused: the VX310 is listed, not supported.
    doc = cli.json(["--drive", "inbox", "--fault", "identify"], ["list"], 0)
    check(doc["drives"][0]["supported"] is False and doc["drives"][0]["examined"] == "not-identified",
          "identify refused %r" % doc["drives"])
    cli.json(["--drive", "inbox", "--fault", "identify"], ["status"], 2)

    # The disk list cannot be made: a failure with the system's code, never "no drive".
    broken = ["--drive", "inbox", "--fault", "device-list"]
    for command in (["list"], ["status"], ["optimize", "on", "--yes"]):
        doc = cli.json(broken, command, 10)
        check(doc["error"]["code"] == "listing-failed" and doc["error"]["systemError"] == 13
              and "error code 13" in doc["error"]["message"], "%s, device list refused: %r" % (command, doc))
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "failed.log")
        cli.json(broken, ["status", "--log", wine_path(log)], 10)
        with open(log) as f:
            text = f.read()
        check("error code = 13" in text and "listing-failed" in text, "the log has no error line:\n%s" % text)

    # Between the listing and the write: the drive unplugged (the open fails with 2, which
    # is no "no drive"), another VX310 in its place (1167), identify refused.
    for before, path, expect, code, system in (("unplug", "usb", 10, "open-failed", 2),
                                               ("exchange", "inbox", 1167, "drive-changed", 1167),
                                               ("exchange", "miniport", 1167, "drive-changed", 1167),
                                               ("no-identify", "inbox", 10, "identify-failed", None)):
        machine = ["--drive", path, "--before-write", before]
        doc, lines = cli.json(machine, ["optimize", "on", "--yes"], expect, trace=True)
        check(doc["error"]["code"] == code and doc["written"] is False and doc["newState"] is None,
              "%s %s: %r" % (before, path, doc))
        check(system is None or doc["error"]["systemError"] == system, "%s: %r" % (before, doc["error"]))
        check("disk 0" in doc["error"]["message"], "the message names no disk: %r" % doc["error"])
        check(not [c for c in lines if c[2] == "ExitWindowsEx"], "a shutdown after a failure")
    # The vendor write answered with nothing: a failure on 10, whatever the code.
    doc = cli.json(["--drive", "inbox", "--fault", "empty-write"], ["optimize", "on", "--yes"], 10)
    check(doc["error"]["code"] == "command-failed" and doc["error"]["systemError"] is not None, "%r" % doc)

    # The VX310 held by another program (its open fails with 32): a failure naming the
    # disk and the code, never "no drive"; list shows the row and fails too.
    busy = ["--drive", "other-sata", "--drive", "inbox", "--fault", "busy"]
    for command in (["list"], ["status"], ["health"], ["optimize", "on", "--yes"], ["health", "--disk", "1"]):
        doc = cli.json(busy, command, 10)
        check(doc["error"]["code"] == "open-failed" and doc["error"]["systemError"] == 32
              and "disk 1" in doc["error"]["message"] and "error code 32" in doc["error"]["message"],
              "%s, busy: %r" % (command, doc["error"]))
        check(doc["disksNotOpened"] == [{"disk": 1, "systemError": 32}], "%s: %r" % (command, doc["disksNotOpened"]))
    code, out, err, _ = cli.run(busy, ["list"])
    check(code == 10 and "not opened (error 32)" in out and "error code 32" in err, "busy list: %r %r" % (out, err))

    # Not an administrator: every command says so and exits 5.
    denied = ["--drive", "inbox", "--fault", "access-denied"]
    for command in (["list"], ["status"], ["optimize", "on", "--yes"]):
        doc = cli.json(denied, command, 5)
        check(doc["error"]["code"] == "access-denied" and doc["error"]["systemError"] == 5
              and NEEDS_ADMIN in doc["error"]["message"], "%s denied: %r" % (command, doc["error"]))
        code, out, err, _ = cli.run(denied, command)
        check(code == 5 and NEEDS_ADMIN in err, "%s denied, text: %d %r" % (command, code, err))
    doc = cli.json(denied, ["list"], 5)
    check(doc["drives"][0]["examined"] == "not-opened" and doc["drives"][0]["openError"] == 5,
          "denied drive %r" % doc["drives"])


def group_usage_and_log(cli):
    """Usage errors as code and message, the help with the exit codes, the debug log."""
    for command in (["frobnicate"], ["optimize"], ["optimize", "sideways", "--yes"], ["list", "--yes"],
                    ["optimize", "on", "--disk", "x"], [], ["status", "now"], ["optimize", "on", "--yes", "--disk"],
                    ["optimize", "on", "--yes", "--disk", "0", "--disk", "1"], ["list", "--log"]):
        code, out, err, _ = cli.run([], command + ["--json"])
        check(code == 1, "%s: exit %d" % (command, code))
        doc = json.loads(out)
        check(doc["exitCode"] == 1 and doc["error"]["code"] == "usage", "%s: %r" % (command, doc))
    # Both command-line programs ask for no elevation: an unattended run never waits on a prompt.
    for program in (os.path.join("cli", "zephra-cli.exe"), os.path.join("demo", "zephra-cli-demo.exe")):
        with open(os.path.join(cli.options.build, program), "rb") as f:
            image = f.read()
        check(b'level="asInvoker"' in image and b"requireAdministrator" not in image,
              "%s does not run as invoker" % program)
    code, out, err, _ = cli.run([], ["--help"])
    check(code == 0 and all(str(c) in out for c in (3010, 1641, 1167, 10)), "help: %r" % out)
    # The demo's own part names every drive kind it takes, Intel RST's among them.
    for kind in ("inbox", "other-raid-sas", "rst", "rst-other-nvme", "rst-sata", "rst-old-driver"):
        check(re.search(r"[ |]%s[ |;]" % re.escape(kind), out), "help without drive kind %s: %r" % (kind, out))
    for flag in ("--help", "--version"):
        code, out, err, _ = cli.run([], [flag, "--json"])
        doc = json.loads(out)
        check(code == 0 and doc["exitCode"] == 0 and doc["error"] is None, "%s --json: %r" % (flag, doc))

    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "discovery.log")
        doc = cli.json(["--drive", "other-nvme", "--drive", "inbox"], ["status", "--log", wine_path(log)], 0)
        with open(log) as f:
            text = f.read()
        for line in ("Get Disk information start..", "Enum device find Physicaldrive0",
                     "Enum device find Physicaldrive1", "Physcialdrive1 is right device start...",
                     "Get Disk information end.."):
            check(line in text, "the log has no %r:\n%s" % (line, text))

        # A file the log names is appended to, never emptied.
        kept = os.path.join(tmp, "kept.log")
        with open(kept, "w") as f:
            f.write("first line, kept\n")
        cli.json([], ["status", "--log", wine_path(kept)], 0)
        with open(kept, newline="") as f:
            text = f.read()
        check(text.startswith("first line, kept\n") and "Get Disk information start.." in text,
              "the log file lost what it held:\n%s" % text)

        # Devices and folders are refused, naming why, before a drive is touched: by their
        # path, or (a folder; a Unix device behind Wine's Z: drive) by what the open found.
        for path, why in (("\\\\.\\PhysicalDrive0", "device"), ("\\\\?\\GLOBALROOT\\Device\\Harddisk0\\DR0", "device"),
                          ("NUL", "device"), ("com1.txt", "device"), (wine_path(tmp), "regular file"),
                          ("Z:\\dev\\null", "regular file")):
            doc, lines = cli.json([], ["optimize", "on", "--yes", "--log", path], 1, trace=True)
            check(doc["error"]["code"] == "usage" and why in doc["error"]["message"], "--log %s: %r" % (path, doc))
            check(not [c for c in lines if c[2] == "CreateFileW"], "--log %s: a drive was opened" % path)


def group_health(cli):
    """health on each kind of log the demo sets, each on another path: the exit code, the
    error's code and the JSON's health object; status is not failed by the drive's health."""
    cases = [
        ("healthy", "inbox", 0, None),
        ("worn", "miniport", 0, None),
        ("hot", "usb", 8, "health-critical"),
        ("spare-low", "inbox", 8, "health-critical"),
        ("read-only", "miniport", 8, "health-critical"),
        ("refused", "usb", 9, "health-unavailable"),
        ("short", "inbox", 9, "health-unavailable"),
    ]
    for kind, path, code, error in cases:
        machine = ["--drive", path, "--health", kind]
        doc = cli.json(machine, ["health"], code)
        health = doc["drive"]["health"]
        check((doc["error"] or {}).get("code") == error, "%s: error %r" % (kind, doc["error"]))
        if error == "health-unavailable":
            check(health is None, "%s: health %r" % (kind, health))
        else:
            # Counters that can pass 2^53 are strings of digits; the rest numbers.
            for key in ("dataUnitsRead", "dataUnitsWritten", "bytesRead", "bytesWritten", "powerCycles",
                        "powerOnHours", "unsafeShutdowns", "mediaErrors", "errorLogEntries"):
                check(isinstance(health[key], str) and health[key].isdigit(), "%s: %s %r" % (kind, key, health[key]))
            check(health["powerOnHours"] == "1873", "%s: power-on hours %r" % (kind, health["powerOnHours"]))
            check(isinstance(health["percentageUsed"], int), "%s: percentage %r" % (kind, health["percentageUsed"]))
            check((health["criticalWarning"] != 0) == (code == 8), "%s: bits %r" % (kind, health["criticalWarning"]))
        status = cli.json(machine, ["status"], 0)
        check(status["drive"]["health"] == health, "%s: status says %r" % (kind, status["drive"]["health"]))
    doc = cli.json(["--drive", "inbox", "--health", "hot"], ["health"], 8)
    check(doc["drive"]["health"]["temperatureCelsius"] == 85 and doc["drive"]["health"]["warnings"] == ["temperature"],
          "hot %r" % doc["drive"]["health"])


def group_selftest(cli):
    """selftest on the simulated drive: a failing segment followed to its end with its exit
    code, the log read once per second of the drive's time, each path to a pass, another
    program's test aborted, and the drive's refusals with their codes."""
    machine = ["--drive", "inbox", "--selftest", "failing-segment", "--selftest-short", "10"]
    doc, lines = cli.json(machine, ["selftest", "short", "--wait"], 11, trace=True)
    result = doc["selfTest"]["result"]
    check(doc["error"]["code"] == "selftest-failed" and "segment 2" in doc["error"]["message"],
          "error %r" % doc["error"])
    check(result["result"] == "failed-segment" and result["failedSegment"] == 2 and result["test"] == "short",
          "result %r" % result)
    check(result["failingLba"].isdigit() and result["powerOnHours"] == "1873", "result %r" % result)
    # The start, then the log (property query of 48 + 564 bytes) once per simulated second
    # from the first second after it until the drive stops at half of its 10 s: five reads,
    # as the document counts them.
    calls = [args for _, _, function, args, _ in lines if function == "DeviceIoControl"]
    start = [i for i, args in enumerate(calls) if ", 0x2DD3C0, in 208," in args]
    check(len(start) == 1, "self-test commands: %d" % len(start))
    reads = [args for args in calls[start[0] + 1:] if ", 0x2D1400, in 612," in args]
    check(len(reads) == 5 and doc["selfTest"]["logReads"] == 5,
          "log reads after the start: %d, document %r" % (len(reads), doc["selfTest"]["logReads"]))

    code, out, err, _ = cli.run(machine, ["selftest", "short", "--wait"])
    check(code == 11, "text: exit %d" % code)
    check("short self-test: 10 %\nshort self-test: 20 %\n" in err and "short self-test: 40 %\n" in err,
          "progress lines %r" % err)
    check("short test failed in segment 2" in err, "standard error %r" % err)

    for path in ("miniport", "usb", "rst"):
        doc = cli.json(["--drive", path, "--selftest-short", "5"], ["selftest", "short", "--wait"], 0)
        check(doc["selfTest"]["result"]["verdict"] == "passed", "%s: %r" % (path, doc["selfTest"]))
        check(doc["drive"]["transport"] == TRANSPORT[path], "%s: drive %r" % (path, doc["drive"]))

    running = ["--drive", "usb", "--selftest-running", "extended"]
    doc = cli.json(running, ["selftest", "short"], 14)
    check(doc["selfTest"]["running"] == {"test": "extended", "percent": 0}, "running %r" % doc["selfTest"])
    doc = cli.json(running, ["selftest", "abort"], 0)
    check(doc["selfTest"]["aborted"] is True and doc["selfTest"]["results"][0]["result"] == "aborted-by-command"
          and doc["selfTest"]["running"] is None, "abort %r" % doc["selfTest"])

    doc = cli.json(["--drive", "miniport", "--selftest", "aborted"], ["selftest", "extended", "--wait"], 12)
    check(doc["selfTest"]["result"]["result"] == "aborted-unknown", "aborted %r" % doc["selfTest"])
    doc = cli.json(["--drive", "rst", "--selftest", "unsupported"], ["selftest", "short"], 13)
    check(doc["selfTest"]["supported"] is False, "unsupported %r" % doc["selfTest"])
    doc = cli.json(["--drive", "inbox", "--selftest", "log-refused"], ["selftest", "status"], 10)
    check(doc["error"]["systemError"] == 1117, "log refused %r" % doc["error"])
    doc = cli.json(["--drive", "inbox"], ["health"], 0)
    check("lastSelfTest" in doc and doc["lastSelfTest"] is None, "health %r" % doc.get("lastSelfTest", "absent"))


GROUPS = {
    "health": group_health,
    "selftest": group_selftest,
    "paths-and-states": group_paths_and_states,
    "foreign-and-several": group_foreign_and_several,
    "optimize": group_optimize,
    "faults": group_faults,
    "usage-and-log": group_usage_and_log,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("group", choices=sorted(GROUPS))
    parser.add_argument("--build", required=True)
    parser.add_argument("--tools", required=True)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        cli = Cli(options, tmp)
        try:
            GROUPS[options.group](cli)
        except Failure as failure:
            print("FAIL:", failure)
            return 1
    print("%s: passed (%d runs)" % (options.group, cli.runs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
