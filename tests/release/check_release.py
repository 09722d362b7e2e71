#!/usr/bin/env python3
"""The release as a user downloads it: tools/release.sh run twice into throwaway folders,
unsigned and then signed with a throwaway self-signed certificate, on the Windows builds
that the test command has already made. Checks the archives' file lists, the programs
(stripped, of the archive's width, the 32-bit window program under 1.5 MB, the version
resource read back), the installer packages (the archive's programs, each with its file
version in the File table), the checksums of all four files, and the signatures of the
programs and the packages (osslsigncode verify); the signed program still starts under Wine.

usage: check_release.py ROOT
"""
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", ".."))
WIDTHS = {"x86": 0x14C, "x64": 0x8664}
PROGRAMS = ["zephra-cli.exe", "zephra.exe"]
FILES = sorted(["README.txt", "THIRD-PARTY-NOTICES.txt"] + PROGRAMS)
MAX_32BIT_SIZE = 1_500_000


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(Zephra VERSION (\d+\.\d+\.\d+)", f.read()).group(1)


def release(dist, **env):
    result = subprocess.run(["bash", os.path.join(ROOT, "tools", "release.sh"), dist], capture_output=True,
                            text=True, env={**os.environ, **env})
    if result.returncode != 0:
        raise AssertionError("release.sh failed:\n" + result.stdout + result.stderr)
    return result.stdout


def pe_header(data):
    """Machine, symbol table pointer and count, and section names of a PE file."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise AssertionError("no PE signature")
    machine, count, _, symbols, symbol_count, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    table = pe + 24 + optional_size
    names = [data[table + 40 * i:table + 40 * i + 8].rstrip(b"\0").decode() for i in range(count)]
    return machine, symbols, symbol_count, names


def version_info(exe):
    """The version resource: the fixed part's file and product version, and the strings."""
    raw = subprocess.run(["wrestool", "-x", "--raw", "-t", "16", exe], capture_output=True, check=True).stdout
    if not raw:
        raise AssertionError("%s has no version resource" % exe)

    def align(offset):
        return (offset + 3) & ~3

    def node(offset):
        """(key, value bytes, value length in the header, type, children, end) of one block."""
        length, value_length, kind = struct.unpack_from("<HHH", raw, offset)
        end = offset + length
        key_end = raw.index(b"\0\0", offset + 6)
        while (key_end - offset) % 2:
            key_end = raw.index(b"\0\0", key_end + 1)
        key = raw[offset + 6:key_end].decode("utf-16-le")
        value_at = align(key_end + 2)
        size = value_length * 2 if kind == 1 else value_length
        value = raw[value_at:value_at + size]
        children = []
        child = align(value_at + size)
        while child < end:
            children.append(node(child))
            child = align(children[-1][5])
        return key, value, value_length, kind, children, end

    key, fixed, _, _, children, _ = node(0)
    if key != "VS_VERSION_INFO":
        raise AssertionError("version resource key %r" % key)
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<IIIIII", fixed)
    if signature != 0xFEEF04BD:
        raise AssertionError("no VS_FIXEDFILEINFO")

    def dotted(ms, ls):
        return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    strings = {}
    for child in children:
        if child[0] == "StringFileInfo":
            for table in child[4]:
                for name, value, _, _, _, _ in table[4]:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    return dotted(file_ms, file_ls), dotted(product_ms, product_ls), strings


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.version = project_version()
        cls.tmp = tempfile.TemporaryDirectory(prefix="zephra-release-")
        cls.unsigned = os.path.join(cls.tmp.name, "unsigned")
        cls.unsigned_output = release(cls.unsigned)
        # A throwaway self-signed code-signing certificate.
        cls.cert = os.path.join(cls.tmp.name, "cert.pem")
        cls.key = os.path.join(cls.tmp.name, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", cls.key, "-out",
                        cls.cert, "-days", "2", "-subj", "/CN=Zephra test signing",
                        "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
        cls.signed = os.path.join(cls.tmp.name, "signed")
        cls.signed_output = release(cls.signed, ZEPHRA_SIGN_CERT=cls.cert, ZEPHRA_SIGN_KEY=cls.key)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def archive(self, dist, width):
        return os.path.join(dist, "zephra-%s-%s.zip" % (self.version, width))

    def extract(self, dist, width, name):
        with zipfile.ZipFile(self.archive(dist, width)) as z:
            return z.read("zephra-%s-%s/%s" % (self.version, width, name))

    def program(self, dist, width, name="zephra.exe"):
        path = os.path.join(self.tmp.name, "%s-%s-%s" % (os.path.basename(dist), width, name))
        with open(path, "wb") as f:
            f.write(self.extract(dist, width, name))
        return path

    def package(self, dist, width):
        return os.path.join(dist, "zephra-%s-%s.msi" % (self.version, width))

    def test_dist_holds_the_two_archives_the_two_packages_and_their_checksums(self):
        for dist in (self.unsigned, self.signed):
            names = sorted(os.listdir(dist))
            self.assertEqual(names, sorted(["SHA256SUMS"] + ["zephra-%s-%s.%s" % (self.version, width, kind)
                                                             for width in WIDTHS for kind in ("zip", "msi")]))
            with open(os.path.join(dist, "SHA256SUMS")) as f:
                sums = dict(reversed(line.split()) for line in f if line.strip())
            self.assertEqual(sorted(sums), sorted(n for n in names if n != "SHA256SUMS"))
            for name, digest in sums.items():
                with open(os.path.join(dist, name), "rb") as f:
                    self.assertEqual(hashlib.sha256(f.read()).hexdigest(), digest, name)

    def test_each_archive_holds_program_readme_and_notices_in_one_folder(self):
        for width in WIDTHS:
            with zipfile.ZipFile(self.archive(self.unsigned, width)) as z:
                self.assertIsNone(z.testzip())
                self.assertEqual(sorted(z.namelist()),
                                 ["zephra-%s-%s/%s" % (self.version, width, name) for name in FILES])
            readme = self.extract(self.unsigned, width, "README.txt").decode("ascii")
            self.assertIn("Zephra %s (%s" % (self.version, width), readme)
            self.assertNotIn("@", readme)
            self.assertNotRegex(readme, r"[^\r]\n", "read-me lines end in CRLF")
            notices = self.extract(self.unsigned, width, "THIRD-PARTY-NOTICES.txt").decode("ascii")
            for library in ("zlib", "stb_image", "libstdc++", "GCC Runtime Library Exception", "mingw-w64",
                            "winpthreads"):
                self.assertIn(library, notices)

    def test_programs_are_stripped_of_their_width_and_small(self):
        for width, machine in WIDTHS.items():
            for program in PROGRAMS:
                data = self.extract(self.unsigned, width, program)
                found_machine, _, symbol_count, sections = pe_header(data)
                self.assertEqual(found_machine, machine, width + " " + program)
                # What stays at the symbol table's place is the string table of long section names.
                self.assertEqual(symbol_count, 0, "%s %s: symbols left in" % (width, program))
                self.assertFalse([s for s in sections if s.startswith(".debug")], sections)
                if width == "x86" and program == "zephra.exe":
                    self.assertLess(len(data), MAX_32BIT_SIZE)
                print("%s %s: %d bytes, sections %s" % (width, program, len(data), " ".join(sections)))

    def test_version_resource_names_the_project_version(self):
        for width in WIDTHS:
            for program in PROGRAMS:
                file_version, product_version, strings = version_info(self.program(self.unsigned, width, program))
                self.assertEqual(file_version, self.version + ".0")
                self.assertEqual(product_version, self.version + ".0")
                self.assertEqual(strings.get("FileVersion"), self.version)
                self.assertEqual(strings.get("ProductVersion"), self.version)
                self.assertEqual(strings.get("ProductName"), "Zephra")
                self.assertEqual(strings.get("OriginalFilename"), program)
                for name in ("FileDescription", "CompanyName", "LegalCopyright"):
                    self.assertTrue(strings.get(name), name)

    def test_packages_install_the_archives_programs_with_their_file_versions(self):
        for dist in (self.unsigned, self.signed):
            for width in WIDTHS:
                msi = self.package(dist, width)
                table = subprocess.run(["msiinfo", "export", msi, "File"], capture_output=True, text=True,
                                       check=True).stdout.splitlines()
                rows = {}
                for line in table[3:]:
                    fields = line.split("\t")
                    rows[fields[2].split("|")[-1]] = fields
                self.assertEqual(sorted(rows), PROGRAMS, msi)
                with tempfile.TemporaryDirectory() as out:
                    subprocess.run(["msiextract", "-C", out, msi], capture_output=True, check=True)
                    for program, fields in rows.items():
                        self.assertEqual(fields[4], self.version + ".0", "%s %s: File table %r" % (msi, program, fields))
                        found = [os.path.join(top, program) for top, _, files in os.walk(out) if program in files]
                        self.assertEqual(len(found), 1, found)
                        with open(found[0], "rb") as f:
                            # The very bytes of the archive: stripped, and signed when the release is.
                            self.assertEqual(f.read(), self.extract(dist, width, program), program)

    def verify(self, exe):
        return subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, "-in", exe], capture_output=True,
                              text=True)

    def test_unsigned_release_says_so(self):
        self.assertIn("UNSIGNED", self.unsigned_output)
        for width in WIDTHS:
            for path in [self.program(self.unsigned, width, p) for p in PROGRAMS] + [self.package(self.unsigned, width)]:
                self.assertNotEqual(self.verify(path).returncode, 0, path)

    def test_signed_programs_and_packages_verify_with_sha256(self):
        self.assertIn("signed with", self.signed_output)
        for width in WIDTHS:
            for path in [self.program(self.signed, width, p) for p in PROGRAMS] + [self.package(self.signed, width)]:
                check = self.verify(path)
                self.assertEqual(check.returncode, 0, path + ": " + check.stdout + check.stderr)
                self.assertIn("Signature verification: ok", check.stdout)
                self.assertRegex(check.stdout, r"Message digest algorithm\s*:\s*SHA256")
            for program in PROGRAMS:
                # The signature changed nothing else: same version resource as the unsigned one.
                self.assertEqual(version_info(self.program(self.signed, width, program)),
                                 version_info(self.program(self.unsigned, width, program)))

    def test_signed_program_starts_under_wine(self):
        exe = self.program(self.signed, "x64")
        shot = os.path.join(self.tmp.name, "signed.png")
        env = {**os.environ, "WINEPREFIX": os.path.join(ROOT, "build", "windows64", "wineprefix")}
        env.pop("DISPLAY", None)
        result = subprocess.run([os.path.join(ROOT, "tools", "headless-run.sh"), shot, exe], capture_output=True,
                                text=True, env=env, timeout=300)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertGreater(os.path.getsize(shot), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
