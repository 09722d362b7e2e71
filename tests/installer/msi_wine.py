#!/usr/bin/env python3
"""The installer package under 64-bit Wine, as a management system pushes it: a silent
install puts both programs under Program Files\\Zephra, the Start-menu shortcut and the
installed-programs entry in place, and the command line runs from there; a newer version
replaces the older one; a silent removal takes everything away again. The package's own
tables, read back with msiinfo, name the version, the publisher and the upgrade code.

usage: msi_wine.py --build DIR --tools DIR --msi FILE
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

UPGRADE_CODE = {"x64": "{931FEC89-0206-470C-B352-07C2BE8F9BEC}", "x86": "{2A6E1CA1-7919-4EE6-8B7F-2AADB2F96EDB}"}
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wine_path(path):
    return "Z:" + path.replace("/", "\\")


class Wine:
    def __init__(self, options):
        self.prefix = os.path.join(os.path.abspath(options.build), "wineprefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEARCH="win64",
                        WINELOADER="/usr/lib/wine/wine64",
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        subprocess.run([os.path.join(options.tools, "wine-prefix.sh"), self.prefix, "win64"], check=True,
                       env=self.env)

    def run(self, *args, timeout=300):
        done = subprocess.run(["/usr/lib/wine/wine64", *args], capture_output=True, text=True, env=self.env,
                              timeout=timeout)
        return done.returncode, done.stdout, done.stderr

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def registry_values(self, key):
        """The values of a key as {name: data}, or None when the key does not exist."""
        code, out, _ = self.run("reg", "query", key)
        if code != 0:
            return None
        values = {}
        for line in out.splitlines():
            m = re.match(r"\s+(\S+)\s+REG_\w+\s*(.*)$", line)
            if m:
                values[m.group(1)] = m.group(2).strip()
        return values


def msi_properties(msi):
    out = subprocess.run(["msiinfo", "export", msi, "Property"], capture_output=True, text=True, check=True).stdout
    rows = [line.split("\t") for line in out.splitlines()[3:]]  # after the column names, types and table name
    return {row[0]: row[1] for row in rows if len(row) >= 2}


def msi_table(msi, table):
    out = subprocess.run(["msiinfo", "export", msi, table], capture_output=True, text=True, check=True).stdout
    return [line.split("\t") for line in out.splitlines()[3:]]


def installed(wine):
    """The program folder, and the places the shortcut may take: Windows puts a per-machine
    package's shortcut in the common Start menu; Wine's installer resolves the Start-menu
    folder to the installing user's."""
    folder = wine.drive_c("Program Files", "Zephra")
    programs = ("Microsoft", "Windows", "Start Menu", "Programs", "Zephra.lnk")
    shortcuts = [wine.drive_c("ProgramData", *programs)]
    users = wine.drive_c("users")
    for user in sorted(os.listdir(users)) if os.path.isdir(users) else []:
        shortcuts.append(os.path.join(users, user, "AppData", "Roaming", *programs))
    return folder, shortcuts


def same_bytes(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--tools", required=True)
    parser.add_argument("--msi", required=True)
    options = parser.parse_args()
    msi = options.msi
    arch = "x64" if msi.endswith("-x64.msi") else "x86"
    try:
        # The package's own tables.
        props = msi_properties(msi)
        version = props["ProductVersion"]
        check(re.fullmatch(r"\d+\.\d+\.\d+", version), "ProductVersion %r" % version)
        check(os.path.basename(msi) == "zephra-%s-%s.msi" % (version, arch), "file name %s" % msi)
        check(props["UpgradeCode"] == UPGRADE_CODE[arch], "UpgradeCode %r" % props.get("UpgradeCode"))
        check(props["Manufacturer"] == "Zephra" and props["ProductName"] == "Zephra", "names %r" % props)
        product = props["ProductCode"]
        upgrade_rows = msi_table(msi, "Upgrade")
        check(any(r[0] == UPGRADE_CODE[arch] for r in upgrade_rows), "Upgrade table %r" % upgrade_rows)
        # Each program's file version, for Windows Installer's version rules on repair and upgrade.
        files = {row[2].split("|")[-1]: row[4] for row in msi_table(msi, "File")}
        check(files == {"zephra.exe": version + ".0", "zephra-cli.exe": version + ".0"}, "File table %r" % files)
        print("package: version %s, product %s, upgrade %s, %d upgrade rows" % (version, product,
                                                                             props["UpgradeCode"], len(upgrade_rows)))

        wine = Wine(options)
        folder, shortcuts = installed(wine)
        key = UNINSTALL + "\\" + product
        # A run cut short before left it installed: remove it first.
        wine.run("msiexec", "/x", product, "/qn")

        code, out, err = wine.run("msiexec", "/i", wine_path(msi), "/qn")
        check(code == 0, "silent install: exit %d %s %s" % (code, out, err))
        for exe, built in (("zephra.exe", "app/zephra.exe"), ("zephra-cli.exe", "cli/zephra-cli.exe")):
            path = os.path.join(folder, exe)
            check(os.path.isfile(path), "%s was not installed" % path)
            check(same_bytes(path, os.path.join(options.build, built)), "%s differs from the build's" % exe)
        placed = [s for s in shortcuts if os.path.isfile(s)]
        check(len(placed) == 1, "Start-menu shortcuts: %s of %s" % (placed, shortcuts))
        shortcut = placed[0]
        with open(shortcut, "rb") as f:
            link = f.read()
        check(b"zephra.exe" in link or "zephra.exe".encode("utf-16-le") in link, "the shortcut names no zephra.exe")
        entry = wine.registry_values(key)
        check(entry is not None, "no installed-programs entry %s" % key)
        check(entry.get("DisplayName") == "Zephra" and entry.get("DisplayVersion") == version
              and entry.get("Publisher") == "Zephra", "installed-programs entry %r" % entry)
        print("installed: %s, shortcut %s, entry %r" % (sorted(os.listdir(folder)), shortcut, entry))

        # The command line runs from where it was installed (Wine lists no disks).
        cli = r"C:\Program Files\Zephra\zephra-cli.exe"
        code, out, err = wine.run(cli, "--version")
        check(code == 0 and out.strip() == "zephra-cli " + version, "--version: %d %r %r" % (code, out, err))
        code, out, err = wine.run(cli, "status", "--json")
        doc = json.loads(out)
        check(code == 2 and doc["exitCode"] == 2 and doc["error"]["code"] == "no-supported-drive",
              "status from the installed program: %d %r" % (code, doc))

        # A newer version replaces this one: one entry, the new version's.
        with tempfile.TemporaryDirectory() as tmp:
            parts = [int(p) for p in version.split(".")]
            newer_version = "%d.%d.%d" % (parts[0], parts[1], parts[2] + 1)
            newer = subprocess.run(["bash", os.path.join(options.tools, "msi.sh"), options.build, tmp, newer_version],
                                   capture_output=True, text=True, check=True).stdout.strip().splitlines()[-1]
            newer_product = msi_properties(newer)["ProductCode"]
            check(newer_product != product, "the newer version has the same product code")
            code, out, err = wine.run("msiexec", "/i", wine_path(newer), "/qn")
            check(code == 0, "upgrade: exit %d %s %s" % (code, out, err))
            new_entry = wine.registry_values(UNINSTALL + "\\" + newer_product)
            check(new_entry and new_entry.get("DisplayVersion") == newer_version, "after the upgrade: %r" % new_entry)
            old_entry = wine.registry_values(key)
            check(old_entry is None, "the older version is still registered after the upgrade: %r" % old_entry)
            check(os.path.isfile(os.path.join(folder, "zephra-cli.exe")) and os.path.isfile(shortcut),
                  "files gone after the upgrade")
            print("upgraded to %s: the %s entry is gone" % (newer_version, version))

            code, out, err = wine.run("msiexec", "/x", wine_path(newer), "/qn")
            check(code == 0, "silent removal: exit %d %s %s" % (code, out, err))
            check(wine.registry_values(UNINSTALL + "\\" + newer_product) is None, "entry left after removal")
        check(not os.path.exists(os.path.join(folder, "zephra.exe")) and
              not os.path.exists(os.path.join(folder, "zephra-cli.exe")), "programs left after removal")
        check(not os.path.exists(folder), "the Zephra folder is left after removal")
        check(not os.path.exists(shortcut), "the shortcut is left after removal")
        print("removed: no files, no shortcut, no entry")
    except Failure as failure:
        print("FAIL:", failure)
        return 1
    print("installer: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
