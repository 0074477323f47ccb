#!/usr/bin/env python3
"""Writes zi1-firmware.bin, the firmware image of the simulated ZI1 board.

The image is exactly 12288 bytes, the size the board's bootloader takes in
3072 groups of four bytes:

  offset  size  content
  0       4     magic "ZI1F"
  4       3     version characters, "10c"
  7       1     image format, 1
  8       4     payload length L, little-endian
  12      4     CRC-32 (the zlib polynomial) of the payload, little-endian
  16      16    reserved, 0xFF
  32      L     payload
  32 + L  ...   0xFF up to 12288 bytes

The simulated bootloader accepts an upload only when magic, format, length and
CRC are right, and then reports the version the image carries. The payload is
filler: a banner and deterministic pseudo-random bytes standing for code.

Usage: make_firmware.py [OUTPUT] [--version VVV]
"""
import argparse
import os
import struct
import zlib

IMAGE_SIZE = 12288
HEADER_SIZE = 32
PAYLOAD_SIZE = 11264


def build(version: str) -> bytes:
    if len(version) != 3:
        raise SystemExit("the version has three characters, e.g. 10c")
    banner = ("ZI1 programmer firmware %s.%s%s (simulator image)\0" % tuple(version)).encode()
    payload = bytearray(banner)
    state = 0x12345678
    while len(payload) < PAYLOAD_SIZE:
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        payload.append((state >> 16) & 0xFF)
    header = b"ZI1F" + version.encode("ascii") + bytes([1])
    header += struct.pack("<II", len(payload), zlib.crc32(bytes(payload)) & 0xFFFFFFFF)
    header += b"\xff" * (HEADER_SIZE - len(header))
    image = header + bytes(payload)
    image += b"\xff" * (IMAGE_SIZE - len(image))
    assert len(image) == IMAGE_SIZE
    return image


def main() -> None:
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", default=os.path.join(here, "zi1-firmware.bin"))
    parser.add_argument("--version", default="10c")
    args = parser.parse_args()
    with open(args.output, "wb") as f:
        f.write(build(args.version))


if __name__ == "__main__":
    main()
