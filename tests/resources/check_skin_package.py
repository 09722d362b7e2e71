#!/usr/bin/env python3
"""Checks the skin package built from skin/: archive structure, images and layouts.

Usage: check_skin_package.py SKIN_DIR PACKAGE_BUILDER

Builds the package twice with the builder (it must come out byte for byte the same),
then reads the archive with its own parser (not zipfile, which the builder uses) and
checks what the program's skin reader relies on.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

SKIN_DIR = None
BUILDER = None

# name -> (format, width, height, has alpha)
IMAGES = {
    'mainWnd.jpg': ('jpeg', 700, 490, False),
    '1btnMinNormal.png': ('png', 16, 16, True),
    '1btnMinHot.png': ('png', 16, 16, False),
    '1btnMinPush.png': ('png', 16, 16, False),
    '1btnCloseNormal.png': ('png', 16, 16, True),
    '1btnCloseHot.png': ('png', 16, 16, False),
    '1btnClosePush.png': ('png', 16, 16, False),
    'on_normal.png': ('png', 156, 38, True),
    'on_over.png': ('png', 156, 38, True),
    'on_down.png': ('png', 156, 38, True),
    'off_normal.png': ('png', 156, 38, True),
    'off_over.png': ('png', 156, 38, True),
    'off_down.png': ('png', 156, 38, True),
    '1redBtnNormal.png': ('png', 80, 28, False),
    '1redBtnHot.png': ('png', 80, 28, False),
    '1redBtnDisable.png': ('png', 80, 28, False),
    'warning.png': ('png', 41, 33, True),
    'close.png': ('png', 24, 24, True),
    'min.png': ('png', 24, 24, True),
    '43.png': ('png', 24, 24, True),
    '44.png': ('png', 24, 24, True),
    '45.png': ('png', 24, 24, True),
}
LAYOUTS = ['mainSkin.xml', 'messageBoxOK.xml', 'messageBoxYesNo.xml']
# Every image is drawn again at 125 %, 150 %, 175 % and 200 %, named with the scale before the
# extension; its pixels are the 100 % size times the scale, rounded half away from zero
# (as the skin library scales every length).
SCALES = {'@1.25x': (5, 4), '@1.5x': (3, 2), '@1.75x': (7, 4), '@2x': (2, 1)}


def scaled(length, ratio):
    numerator, denominator = ratio
    return (2 * length * numerator + denominator) // (2 * denominator)


def variant_name(name, suffix):
    stem, dot, extension = name.rpartition('.')
    return stem + suffix + dot + extension


VARIANTS = {variant_name(name, suffix): (fmt, scaled(w, ratio), scaled(h, ratio), alpha)
            for name, (fmt, w, h, alpha) in IMAGES.items() for suffix, ratio in SCALES.items()}
# Images the program sets on the switch at run time, beside those the layouts name.
SET_BY_CODE = ['off_normal.png', 'off_over.png', 'off_down.png']


def read_archive(data):
    """Parses a ZIP: returns (entries, comment). Each entry: name, method, flags, content."""
    end = data.rfind(b'PK\x05\x06')
    if end < 0:
        raise AssertionError('no end-of-central-directory record')
    (_, disk, cd_disk, n_here, n_total, cd_size, cd_offset, comment_len) = struct.unpack_from('<IHHHHIIH', data, end)
    assert disk == 0 and cd_disk == 0 and n_here == n_total, 'multi-disk archive'
    comment = data[end + 22:end + 22 + comment_len]
    assert end + 22 + comment_len == len(data), 'bytes after the end record'
    entries = []
    pos = cd_offset
    for _ in range(n_total):
        fields = struct.unpack_from('<IHHHHHHIIIHHHHHII', data, pos)
        (sig, _, _, flags, method, _, _, crc, csize, usize, nlen, xlen, clen, _, _, _, local) = fields
        assert sig == 0x02014B50, 'bad central directory entry at %d' % pos
        name = data[pos + 46:pos + 46 + nlen].decode('ascii')
        pos += 46 + nlen + xlen + clen
        lsig, _, lflags, lmethod, _, _, lcrc, lcsize, lusize, lnlen, lxlen = struct.unpack_from('<IHHHHHIIIHH', data, local)
        assert lsig == 0x04034B50, 'bad local header for %s' % name
        assert data[local + 30:local + 30 + lnlen].decode('ascii') == name, 'local name differs for %s' % name
        assert (lflags, lmethod) == (flags, method), 'local header differs for %s' % name
        if not flags & 0x08:  # sizes in the local header unless a data descriptor follows
            assert (lcrc, lcsize, lusize) == (crc, csize, usize), 'local sizes differ for %s' % name
        start = local + 30 + lnlen + lxlen
        raw = data[start:start + csize]
        content = zlib.decompress(raw, -15) if method == 8 else raw
        assert len(content) == usize and zlib.crc32(content) == crc, 'content of %s does not check' % name
        entries.append({'name': name, 'method': method, 'flags': flags, 'content': content})
    assert pos == cd_offset + cd_size, 'central directory size'
    return entries, comment


def png_header(content):
    assert content[:8] == b'\x89PNG\r\n\x1a\n', 'not a PNG'
    length, kind = struct.unpack_from('>I4s', content, 8)
    assert kind == b'IHDR' and length == 13, 'PNG without IHDR first'
    width, height, depth, colour, _, _, interlace = struct.unpack_from('>IIBBBBB', content, 16)
    return width, height, depth, colour, interlace


def jpeg_frame(content):
    """Returns (marker, width, height, components) of the first start-of-frame segment."""
    assert content[:2] == b'\xff\xd8', 'not a JPEG'
    pos = 2
    while pos + 4 <= len(content):
        assert content[pos] == 0xFF, 'lost JPEG segment sync'
        marker = content[pos + 1]
        length = struct.unpack_from('>H', content, pos + 2)[0]
        if marker in (0xC0, 0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF):
            _, height, width, components = struct.unpack_from('>BHHB', content, pos + 4)
            return marker, width, height, components
        pos += 2 + length
    raise AssertionError('JPEG without a frame header')


class SkinPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as tmp:
            builds = []
            for n in range(2):
                out = os.path.join(tmp, 'package%d.zip' % n)
                subprocess.run([sys.executable, BUILDER, SKIN_DIR, out], check=True)
                with open(out, 'rb') as f:
                    builds.append(f.read())
        cls.reproducible = builds[0] == builds[1]
        cls.entries, cls.comment = read_archive(builds[0])
        cls.files = {e['name']: e['content'] for e in cls.entries}

    def test_build_is_reproducible(self):
        self.assertTrue(self.reproducible)

    def test_archive_holds_exactly_the_skin_files_at_the_root_deflated(self):
        names = [e['name'] for e in self.entries]
        self.assertEqual(sorted(names), sorted(list(IMAGES) + list(VARIANTS) + LAYOUTS))
        self.assertEqual(names, sorted(names))
        self.assertEqual(self.comment, b'')
        for e in self.entries:
            with self.subTest(entry=e['name']):
                self.assertNotIn('/', e['name'])
                self.assertNotIn('\\', e['name'])
                self.assertEqual(e['method'], 8)
                self.assertEqual(e['flags'] & 0x01, 0, 'encrypted')

    def test_images_have_their_format_and_size(self):
        for name, (fmt, width, height, alpha) in list(IMAGES.items()) + list(VARIANTS.items()):
            content = self.files[name]
            with self.subTest(image=name):
                if fmt == 'png':
                    w, h, depth, colour, interlace = png_header(content)
                    self.assertEqual((w, h), (width, height))
                    self.assertEqual(depth, 8)
                    self.assertEqual(colour, 6 if alpha else 2)  # RGBA or RGB
                else:
                    marker, w, h, components = jpeg_frame(content)
                    self.assertEqual((w, h), (width, height))
                    self.assertIn(marker, (0xC0, 0xC1, 0xC2))  # Huffman-coded, which the decoder reads
                    self.assertEqual(components, 3)

    def test_layouts_are_utf8_crlf_standalone_windows(self):
        for name in LAYOUTS:
            content = self.files[name]
            with self.subTest(layout=name):
                text = content.decode('utf-8')
                self.assertFalse(text.startswith('\ufeff'))
                self.assertTrue(text.startswith('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'))
                self.assertNotRegex(text, r'[^\r]\n', 'a line ends without CR')
                self.assertNotRegex(text, r'\r[^\n]', 'a lone CR')
                self.assertTrue(text.endswith('\r\n'))
                self.assertRegex(text, r'\?>\r\n<Window[ >]')
                self.assertTrue(text.rstrip().endswith('</Window>'))

    def test_every_image_named_is_in_the_package_and_fits_its_control(self):
        referenced = set(SET_BY_CODE)
        for name in LAYOUTS:
            text = self.files[name].decode('utf-8')
            for element in re.finditer(r'<(\w+)\s([^>]*)/?>', text):
                attributes = element.group(2)
                images = re.findall(r'(?:normal|hot|pushed|disabled|bk)image="([^"]*)"', attributes)
                size = dict(re.findall(r'\b(width|height)="(\d+)"', attributes))
                for image in images:
                    referenced.add(image)
                    with self.subTest(layout=name, image=image):
                        self.assertIn(image, self.files)
                        _, width, height, _ = IMAGES[image]
                        # Stretched at most a few pixels: the switch is 159 wide for a 156-wide image.
                        if 'width' in size:
                            self.assertLessEqual(abs(int(size['width']) - width), 3)
                        if 'height' in size:
                            self.assertEqual(int(size['height']), height)
        self.assertTrue(referenced <= set(self.files))


def main():
    global SKIN_DIR, BUILDER
    if len(sys.argv) != 3:
        raise SystemExit('usage: check_skin_package.py SKIN_DIR PACKAGE_BUILDER')
    SKIN_DIR, BUILDER = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=1)


if __name__ == '__main__':
    main()
