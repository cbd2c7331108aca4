#!/usr/bin/env python3
"""Lists and extracts every file of an ISO 9660 image with pycdlib, an implementation nobody here
wrote. Prints one line per file: <size> <tab> <path>.

  pycdlib_extract.py IMAGE OUTDIR
"""
import os
import sys

import pycdlib


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    image, outdir = sys.argv[1], sys.argv[2]
    iso = pycdlib.PyCdlib()
    iso.open(image)
    for parent, _dirs, files in iso.walk(iso_path='/'):
        base = parent.rstrip('/')
        for name in files:
            path = base + '/' + name
            record = iso.get_record(iso_path=path)
            target = os.path.join(outdir, *path.strip('/').split('/'))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, 'wb') as out:
                iso.get_file_from_iso_fp(out, iso_path=path)
            print('%d\t%s' % (record.get_data_length(), path))
    iso.close()


if __name__ == '__main__':
    main()
