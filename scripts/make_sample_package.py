#!/usr/bin/env python3
"""Writes a firmware package (QUARN.bin + metadata.json) into a directory.

The image is pseudo-random but reproducible (--seed), and the metadata matches it unless told to
spoil a value, so tests can make good and bad packages alike. Nothing here is committed as binary.
"""
import argparse
import json
import os
import random
import zlib


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("directory")
    parser.add_argument("--size", type=int, default=200_000, help="image size in bytes")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--version", default="3.8", help="H7 and G0 version (JSON number text)")
    parser.add_argument("--g0-version", help="G0 version when it should differ from H7's")
    parser.add_argument("--wrong-size", action="store_true", help="announce one byte too many")
    parser.add_argument("--wrong-crc", action="store_true", help="announce a CRC that does not match")
    parser.add_argument("--no-metadata", action="store_true", help="write no metadata.json")
    parser.add_argument("--no-image", action="store_true", help="write no QUARN.bin")
    parser.add_argument("--metadata-text", help="write this text as metadata.json instead")
    args = parser.parse_args()

    os.makedirs(args.directory, exist_ok=True)
    rng = random.Random(args.seed)
    image = bytes(rng.getrandbits(8) for _ in range(args.size))
    crc = zlib.crc32(image) & 0xFFFFFFFF
    if not args.no_image:
        with open(os.path.join(args.directory, "QUARN.bin"), "wb") as f:
            f.write(image)

    size = args.size + (1 if args.wrong_size else 0)
    if args.wrong_crc:
        crc ^= 0x00000001
    g0_version = args.g0_version or args.version
    text = args.metadata_text
    if text is None:
        text = (
            "{\n"
            f'  "QUARN": {{ "size": {size}, "crc32": "{crc:08x}" }},\n'
            '  "encryption": { "status": 0 },\n'
            f'  "H7": {{ "size": {size}, "crc32": "{crc:08x}", "version": {args.version} }},\n'
            f'  "G0": {{ "size": 0, "crc32": "0", "version": {g0_version} }}\n'
            "}\n"
        )
        json.loads(text)  # the generator never writes a broken file by accident
    if not args.no_metadata:
        with open(os.path.join(args.directory, "metadata.json"), "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
