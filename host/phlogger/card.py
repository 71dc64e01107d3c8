"""The microSD card as an image file: found by its boot sector, read with
mtools (Debian package mtools). A card partitioned with an MBR is read
from its first FAT partition."""

import os
import subprocess

FAT_TYPES = {0x01, 0x04, 0x06, 0x0B, 0x0C, 0x0E}


def _boot_sector_is_fat(sector):
    return sector[510:512] == b"\x55\xaa" and (sector[54:59] in (b"FAT12", b"FAT16")
                                               or sector[82:87] == b"FAT32")


def _volume(path):
    """mtools' name for the FAT volume of the image: the image itself, or
    with the byte offset of its first FAT partition."""
    with open(path, "rb") as f:
        mbr = f.read(512)
    if _boot_sector_is_fat(mbr):
        return path
    for i in range(4):
        entry = mbr[446 + 16 * i:462 + 16 * i]
        if entry[4] in FAT_TYPES:
            return f"{path}@@{int.from_bytes(entry[8:12], 'little') * 512}"
    raise ValueError(f"{path}: no FAT volume")


def is_image(data):
    if len(data) < 512 or data[510:512] != b"\x55\xaa":
        return False
    if _boot_sector_is_fat(data[:512]):
        return True
    return any(data[446 + 16 * i + 4] in FAT_TYPES for i in range(4))


def _mtools(*args):
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    return subprocess.run(args, capture_output=True, check=True, env=env).stdout


def read_file(path, name):
    """The bytes of the file `name` in the image's root directory."""
    return _mtools("mcopy", "-n", "-i", _volume(path), f"::{name}", "-")


def data_files(path):
    """Names of the files in the root directory that hold deployments or
    records, in directory order."""
    listing = _mtools("mdir", "-b", "-i", _volume(path), "::").decode("latin-1")
    names = []
    for entry in listing.split():
        name = entry.split("/")[-1]
        if not name or "." not in name or name.upper() == "ERROR.TXT":
            continue
        head = read_file(path, name)[:4096]
        if b"//++****" in head or b"SampNum" in head or head.startswith(b"#"):
            names.append(name)
    return names
