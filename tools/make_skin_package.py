#!/usr/bin/env python3
"""Builds the skin package: a ZIP of every file of the skin folder at the archive root.

Usage: make_skin_package.py SKIN_DIR OUT_ZIP [--without-variants]

Every entry is deflate-compressed; there are no folder entries and no archive comment.
Entries are written in sorted order with a fixed timestamp and fixed attributes, so the
same skin files always give the same bytes. Hidden files (such as .gitattributes) are
not part of the skin. --without-variants leaves out the images drawn at other scales
("name@1.25x.png", "name@1.5x.png", "name@1.75x.png", "name@2x.png"): the package as it was before them, for the benchmarks.
"""
import os
import sys
import zipfile

FIXED_TIME = (2020, 1, 1, 0, 0, 0)
FILE_MODE = 0o100644  # regular file, rw-r--r--


def skin_files(skin_dir, with_variants=True):
    names = []
    for name in sorted(os.listdir(skin_dir)):
        if name.startswith('.') or (not with_variants and '@' in name):
            continue
        path = os.path.join(skin_dir, name)
        if not os.path.isfile(path):
            # The program looks files up at the archive root only; a folder would be lost.
            raise SystemExit('make_skin_package: %s is not a plain file' % path)
        names.append(name)
    if not names:
        raise SystemExit('make_skin_package: no files in %s' % skin_dir)
    return names


def build(skin_dir, out_zip, with_variants=True):
    tmp = out_zip + '.tmp'
    with zipfile.ZipFile(tmp, 'w', compression=zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for name in skin_files(skin_dir, with_variants):
            with open(os.path.join(skin_dir, name), 'rb') as f:
                data = f.read()
            info = zipfile.ZipInfo(name, date_time=FIXED_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = FILE_MODE << 16
            archive.writestr(info, data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
    os.replace(tmp, out_zip)


def main(argv):
    if len(argv) == 4 and argv[3] == '--without-variants':
        build(argv[1], argv[2], with_variants=False)
    elif len(argv) == 3:
        build(argv[1], argv[2])
    else:
        raise SystemExit('usage: make_skin_package.py SKIN_DIR OUT_ZIP [--without-variants]')


if __name__ == '__main__':
    main(sys.argv)
