#!/usr/bin/env python3
"""Masters a folder into an ISO 9660 image with pycdlib, an implementation nobody here wrote.

  pycdlib_master.py FOLDER IMAGE

Directories and files go in sorted order; identifiers carry no ";1" (interchange level 4) and
every directory record has a CD-XA system-use field, as on UMD discs.
"""
import os
import sys

import pycdlib


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    folder, image = sys.argv[1], sys.argv[2]
    iso = pycdlib.PyCdlib()
    iso.new(interchange_level=4, sys_ident='PSP GAME', vol_ident='PYCDLIB_TRANSLATED', xa=True)
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        relative = os.path.relpath(root, folder)
        base = '' if relative == '.' else '/' + relative.replace(os.sep, '/')
        for d in dirs:
            iso.add_directory(base + '/' + d)
        for f in sorted(files):
            iso.add_file(os.path.join(root, f), iso_path=base + '/' + f)
    iso.write(image)
    iso.close()


if __name__ == '__main__':
    main()
