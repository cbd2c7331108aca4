#!/usr/bin/env python3
"""An independent ISO 9660 implementation (pycdlib) for the index tests.

  pycdlib_tool.py master IMAGE      master a small UMD-like tree into IMAGE
  pycdlib_tool.py list IMAGE OUTDIR read IMAGE, extract every file below OUTDIR

Both print one line per directory and file as pycdlib itself records it:
  <D|F> <tab> <extent sector> <tab> <data length> <tab> <path>
"""
import io
import os
import sys

import pycdlib


def pattern(length, seed):
    x = (seed * 2654435761 + 0x9E3779B9) & 0xFFFFFFFF
    out = bytearray(length)
    for i in range(length):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out[i] = x >> 24
    return bytes(out)


def listing(iso, extract_to=None):
    lines = []
    root = iso.get_record(iso_path='/')
    lines.append(('D', root.extent_location(), root.get_data_length(), '/'))
    for parent, dirs, files in iso.walk(iso_path='/'):
        base = parent.rstrip('/')
        for d in dirs:
            rec = iso.get_record(iso_path=base + '/' + d)
            lines.append(('D', rec.extent_location(), rec.get_data_length(), base + '/' + d))
        for f in files:
            path = base + '/' + f
            rec = iso.get_record(iso_path=path)
            lines.append(('F', rec.extent_location(), rec.get_data_length(), path))
            if extract_to is not None:
                target = os.path.join(extract_to, *path.strip('/').split('/'))
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with open(target, 'wb') as out:
                    iso.get_file_from_iso_fp(out, iso_path=path)
    for kind, extent, size, path in sorted(lines, key=lambda l: l[3]):
        print('%s\t%d\t%d\t%s' % (kind, extent, size, path))


def master(image):
    iso = pycdlib.PyCdlib()
    # Level 4 allows identifiers without the ";1" version suffix, as on UMD discs.
    iso.new(interchange_level=4, sys_ident='PSP GAME', vol_ident='PYCDLIB_UMD', xa=True)
    for d in ('/PSP_GAME', '/PSP_GAME/SYSDIR', '/PSP_GAME/USRDIR', '/PSP_GAME/USRDIR/EMPTY'):
        iso.add_directory(d)
    files = [
        ('/UMD_DATA.BIN', b'KVXM-20417|5A1B2C3D4E5F6071|0001|G'),
        ('/PSP_GAME/PARAM.SFO', pattern(1168, 1)),
        ('/PSP_GAME/SYSDIR/BOOT.BIN', pattern(5000, 2)),
        ('/PSP_GAME/SYSDIR/EBOOT.BIN', pattern(6100, 3)),
        ('/PSP_GAME/USRDIR/ZERO.BIN', b''),
    ]
    # Enough names to spread USRDIR's records over more than one sector.
    files += [('/PSP_GAME/USRDIR/MOVIE%03d.PMF' % i, pattern(100 + 37 * i, 10 + i)) for i in range(70)]
    for path, data in files:
        iso.add_fp(io.BytesIO(data), len(data), iso_path=path)
    iso.write(image)
    iso.close()
    check = pycdlib.PyCdlib()
    check.open(image)
    listing(check)
    check.close()


def main():
    if len(sys.argv) == 3 and sys.argv[1] == 'master':
        master(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == 'list':
        iso = pycdlib.PyCdlib()
        iso.open(sys.argv[2])
        listing(iso, sys.argv[3])
        iso.close()
    else:
        sys.exit(__doc__)


if __name__ == '__main__':
    main()
