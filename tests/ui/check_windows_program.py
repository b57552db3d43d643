#!/usr/bin/env python3
"""Reads a built Windows program's resources as Explorer does and checks what it shows: an icon
with a 256-pixel PNG image beside the 48, 32 and 16 pixel ones, and a version block naming the
product, its version, what the program does and the copyright as the copyright file states it.

    check_windows_program.py WRESTOOL PROGRAM.exe VERSION_TEXT COPYRIGHT_FILE
"""
import re
import struct
import subprocess
import sys


def resource(wrestool, program, kind, *options):
    return subprocess.run([wrestool, "-x", *options, f"--type={kind}", program], check=True,
                          capture_output=True).stdout


def version_strings(block, at=0):
    """The StringFileInfo values of a VS_VERSIONINFO tree, by key."""
    length, value_length, text = struct.unpack_from("<HHH", block, at)
    key_end = block.index(b"\0\0", at + 6)
    while (key_end - at) % 2:
        key_end = block.index(b"\0\0", key_end + 1)
    key = block[at + 6:key_end].decode("utf-16-le")
    value_at = (key_end + 2 + 3) & ~3
    found = {}
    if text == 1 and value_length:
        found[key] = block[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
    child = (value_at + (2 * value_length if text == 1 else value_length) + 3) & ~3
    while child < at + length:
        found.update(version_strings(block, child))
        child = (child + struct.unpack_from("<H", block, child)[0] + 3) & ~3
    return found


def icon_sizes(ico):
    """Each image of an ICO file: (width, is it a PNG)."""
    count = struct.unpack_from("<H", ico, 4)[0]
    images = []
    for entry in range(count):
        width, _, _, _, _, _, size, offset = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * entry)
        images.append((width or 256, ico[offset:offset + 8] == b"\x89PNG\r\n\x1a\n"))
    return images


def main():
    wrestool, program, version_text, copyright_file = sys.argv[1:5]
    failures = []

    images = icon_sizes(resource(wrestool, program, 14))
    if sorted(size for size, _ in images) != [16, 32, 48, 256] or (256, True) not in images:
        failures.append(f"the icon's images (size, PNG) are {images}")

    with open(copyright_file, encoding="utf-8") as file:
        holder = re.search(r"^Copyright: (.*)$", file.read(), re.M).group(1)
    strings = version_strings(resource(wrestool, program, 16, "--raw"))
    expected = {"ProductName": "Ostrim", "ProductVersion": version_text,
                "FileVersion": version_text, "LegalCopyright": f"Copyright {holder}"}
    for key, value in expected.items():
        if strings.get(key) != value:
            failures.append(f"{key} is {strings.get(key)!r}, not {value!r}")
    # What the program does, not its bare name.
    if len(strings.get("FileDescription", "").split()) < 3:
        failures.append(f"FileDescription is {strings.get('FileDescription')!r}")

    for failure in failures:
        print(f"{program}: {failure}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
