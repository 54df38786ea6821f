#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz harness into DIRECTORY/<harness>/.

The seeds are the everyday inputs and the edge cases the tests name, so each run starts from
inputs that already reach the interesting paths. Inputs that once broke a harness are kept here
too, as regression seeds. Nothing binary is committed: every seed is made by this script.
"""
import argparse
import os
import shutil
import struct
import zlib

# The metadata harness checks the package against this image: bytes i * 7 + 1, 130 of them.
FIXED_IMAGE = bytes((i * 7 + 1) & 0xFF for i in range(130))
FIXED_CRC = zlib.crc32(FIXED_IMAGE) & 0xFFFFFFFF


def metadata_seeds():
    good = (
        '{"QUARN": {"size": 130, "crc32": "%08x"}, "encryption": {"status": 0},\n'
        ' "H7": {"size": 100, "crc32": "1234abcd", "version": 1.1},\n'
        ' "G0": {"size": 30, "crc32": "0", "version": 1.10}}\n' % FIXED_CRC
    )
    return {
        "good.json": good,
        "upper_case_names.json": good.replace('"size"', '"SIZE"').replace('"crc32"', '"Crc32"'),
        "hex_prefix.json": good.replace('"%08x"' % FIXED_CRC, '"0X%08X"' % FIXED_CRC),
        "no_g0.json": '{"QUARN": {"size": 130, "crc32": "%x"}, "H7": {"size": 1, "crc32": "1",'
        ' "version": 0.0}}' % FIXED_CRC,
        "version_mismatch.json": good.replace("1.10", "2.00000001"),
        "trailing_text.json": good + "} garbage [",
        "nul_inside.json": good.replace("}}\n", "}}\0 trailing"),
        "not_an_object.json": "[1, 2, {\"QUARN\": {}}]",
        "section_not_object.json": '{"QUARN": 130, "H7": [], "G0": "x"}',
        "wrong_types.json": '{"QUARN": {"size": "130", "crc32": 5}}',
        "huge_numbers.json": '{"QUARN": {"size": 1e400, "crc32": "ffffffffff"},'
        ' "encryption": {"status": -1e20}, "H7": {"size": -1, "crc32": " zz", "version": 1e39},'
        ' "G0": {"size": 2147483648, "crc32": "", "version": -0.0}}',
        "nested.json": '{"a": [[[[{"b": {"c": [null, true, false, "\\u00e9\\ud83d\\ude00"]}}]]]]}',
        "empty.json": "",
    }


def reply(count, data):
    return struct.pack("<I", count) + bytes(data)


def reply_seeds():
    device_id = [0xFD] + list(range(1, 13)) + [0xFF]
    return {
        "device_id": reply(14, device_id),
        "device_id_long": reply(16, device_id + [0xAA, 0xBB]),
        "device_id_wrong_start": reply(14, [0xFE] + device_id[1:]),
        "signature_accepted": reply(2, [0xFE, 0xFF]),
        "signature_rejected": reply(2, [0x00, 0xFF]),
        "signature_no_verdict": reply(2, [0xFE, 0x00]),
        "start_ready": reply(3, [0x5A, 0x00, 0x00]),
        "start_refused": reply(3, [0x00, 0x00, 0x80]),
        "block_ack_300": reply(3, [0x00, 0x2C, 0x01]),
        "completion_complete": reply(2, [0xFC, 0xFF]),
        "completion_g0_failed": reply(2, [0x00, 0xFF]),
        "completion_crc_failed": reply(2, [0xFD, 0xFF]),
        "nothing_read": reply(0, device_id),
        "count_past_bytes": reply(256, [0xFD, 0x01, 0x02]),
        "count_huge": reply(0xFFFFFFFF, [0xFC, 0xFF]),
        "full_buffer": reply(256, bytes(range(256))),
    }


def readme_seeds():
    return {
        "version_word": b"Version 3.8\r\nQuarn Updater\r\n",
        "nine_skipped": b"v9.1\r\n",
        "last_byte_digit": b"Quarn Updater, version 7",
        "digit_at_76": b"x" * 76 + b"3.8\n",
        "high_bytes": b"\xef\xbb\xbf\x80\xff 5\xe9\xfe",
        "zero_inside": b"ab2\x00c",
        "empty": b"",
    }


# Simulator input: two option bytes, then pieces (a header byte: bits 0-5 length, bit 6 quiet).
def piece(data, quiet=True):
    data = bytes(data)
    assert len(data) <= 63
    return bytes([len(data) | (0x40 if quiet else 0)]) + data


def le32(value):
    return struct.pack("<I", value & 0xFFFFFFFF)


SIM_DEVICE_ID = bytes(range(1, 13))  # the harness's tester ID
BOOTLOADER_REQUEST = b"\x02BOOTLOADER=1\x03"


def session_messages(image):
    crc = zlib.crc32(image) & 0xFFFFFFFF
    device_id_request = (b"\xfd" + le32(len(image)) + le32(crc) + b"\x00" + le32(len(image))
                         + le32(crc) + le32(0) + le32(0) + b"\xff")
    signature = b"\xfeQUARN_" + SIM_DEVICE_ID + b"\xff"
    blocks = [b"\xff" + struct.pack("<H", n) + image[o:o + 60]
              for n, o in enumerate(range(0, len(image), 60))]
    return [BOOTLOADER_REQUEST, device_id_request, signature, b"\xff\xff\xff"] + blocks


def sim_seeds():
    image = bytes((i * 13 + 5) & 0xFF for i in range(130))
    messages = session_messages(image)
    whole = b"".join(piece(m) for m in messages)
    split = b"".join(piece(m[:5], quiet=False) + piece(m[5:]) for m in messages)
    resend = (b"".join(piece(m) for m in messages[:5]) + piece(messages[5], quiet=False)
              + piece(messages[5]) + b"".join(piece(m) for m in messages[6:]))
    noise = piece(b"AT\r\n\x02BOOT") + piece(b"\x00\xff" * 8)
    empty_image = b"".join(piece(m) for m in session_messages(b""))
    return {
        "session": b"\x00\x00" + whole,
        "session_split": b"\x00\x00" + split,
        "session_resent_block": b"\x00\x00" + resend,
        "session_after_noise": b"\x00\x00" + noise + whole,
        "session_empty_image": b"\x00\x00" + empty_image,
        "malformed_replies": b"\x3f\x00" + whole,
        "rejected_and_refused": b"\xc0\x00" + whole,
        "silent_steps": b"\x00\x3e" + whole,
        "unplug_and_block_faults": b"\x00\xc0" + whole,
        "wrong_order": b"\x00\x00" + b"".join(piece(m) for m in [messages[0]] + messages[:0:-1]),
    }


def product_seeds():
    return {
        "tester": b"Zentrika QUARN PD Tester\n",
        "parentheses": b"Zentrika QUARN (rev B)\n",
        "crlf": b"Zentrika QUARN\r\n",
        "other_device": b"FT232R USB UART\n",
        "second_line": b"USB UART\nZentrika QUARN\n",
        "utf8": "Zentrika QUARN \u2013 Pr\u00fcfger\u00e4t \U0001F50C\n".encode(),
        "malformed_utf8": b"\xe2\x82Zentrika\xc0\xaf QUARN\xed\xa0\x80\xf4\x90\x80\x80\xff\n",
        "no_line_end": b"Zentrika QUARN",
        "empty": b"",
    }


HARNESSES = {
    "metadata_fuzzer": metadata_seeds,
    "reply_parsers_fuzzer": reply_seeds,
    "readme_version_fuzzer": readme_seeds,
    "sim_receive_fuzzer": sim_seeds,
    "device_product_fuzzer": product_seeds,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("directory")
    args = parser.parse_args()
    for harness, seeds in HARNESSES.items():
        target = os.path.join(args.directory, harness)
        shutil.rmtree(target, ignore_errors=True)
        os.makedirs(target)
        for name, data in seeds().items():
            if isinstance(data, str):
                data = data.encode()
            with open(os.path.join(target, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
