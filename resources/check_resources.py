#!/usr/bin/env python3
"""Reads the compiled resources back and checks them against what the program relies on.

    python3 resources/check_resources.py --version X.Y.Z [--only-version-info] FILE...

FILE is a compiled .res (windres -O res) or a linked .exe, whose .rsrc section is read directly;
checking the .exe also catches a second manifest that the linker might add. The resource compiler
adds default styles of its own to some statements, so every style, extended style, position,
class and text of the two dialog templates is compared field by field with the binary
DLGTEMPLATEEX, not with the .rc source. The version resource (the one resource beyond the
window's own) must name release X.Y.Z in its fixed and its text fields; in an .exe its original
file name must be the file's own. --only-version-info checks nothing but the version resource
(for a program without the window's resources). Exits non-zero when any file has a mismatch.
"""
import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ET

RT_BITMAP, RT_ICON, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 2, 3, 5, 14, 16, 24
TYPE_NAMES = {1: "RT_CURSOR", 2: "RT_BITMAP", 3: "RT_ICON", 4: "RT_MENU", 5: "RT_DIALOG",
              6: "RT_STRING", 9: "RT_ACCELERATOR", 14: "RT_GROUP_ICON", 16: "RT_VERSION",
              24: "RT_MANIFEST"}
ATOM_CLASSES = {0x80: "BUTTON", 0x81: "EDIT", 0x82: "STATIC", 0x83: "LISTBOX",
                0x84: "SCROLLBAR", 0x85: "COMBOBOX"}
FONT = (8, 400, 0, 1, "MS Shell Dlg")
INSTRUCTIONS = ("Firmware Update Instructions\n1. Connect Quarn. \n2. Click \"PROGRAM\" button. \n"
                "3. Wait for \"Programming Complete\" message\n"
                "4. Check that the latest firmware version was loaded.")
NO_ID = 0xFFFFFFFF
ABOUT_VERSION = "Version 3.8"

# name: (style, exStyle, (x, y, cx, cy), class or None, caption, controls)
# control: (id, class, text, style, (x, y, cx, cy)); text is a str or ("ordinal", n)
DIALOGS = {
    "USB3_FWUPDATE": (0x80C809C8, 0x00030008, (0, 0, 228, 161), "USB3_FWUPDATE",
                      "Quarn Firmware Updater", [
                          (1003, "BUTTON", "About", 0x50010001, (112, 140, 50, 14)),
                          (1002, "BUTTON", "Exit", 0x50010000, (171, 140, 50, 14)),
                          (1001, "BUTTON", "PROGRAM", 0x50010000, (171, 14, 50, 14)),
                          (1005, "LISTBOX", "", 0x50A10101, (7, 15, 142, 40)),
                          (NO_ID, "BUTTON", "", 0x50000007, (7, 62, 214, 72)),
                          (NO_ID, "STATIC", INSTRUCTIONS, 0x50020000, (19, 71, 179, 62)),
                      ]),
    "ABOUTBOX": (0x80C800C8, 0x00000000, (0, 0, 151, 122), None, "About", [
        (1, "BUTTON", "OK", 0x50010001, (51, 97, 50, 14)),
        (1006, "STATIC", ("ordinal", 107), 0x5000000E, (7, 7, 137, 34)),
        (NO_ID, "STATIC", ABOUT_VERSION, 0x50021201, (15, 53, 117, 14)),
        (NO_ID, "BUTTON", "", 0x50000007, (7, 44, 137, 50)),
        (NO_ID, "STATIC", "https://www.zentrika.example", 0x50021201, (15, 74, 117, 14)),
    ]),
}
ICON_GROUP, ICON_SIZES = 108, (256, 128, 64, 48, 32, 24, 16)
LOGO = 107
VERSION_INFO, US_ENGLISH = 1, 0x0409
FIXED_FILE_INFO_SIGNATURE, VOS_NT_WINDOWS32, VFT_APP = 0xFEEF04BD, 0x00040004, 1
# The block key and the translation say the same: US English, UTF-16 (code page 1200).
STRING_BLOCK, TRANSLATION = "040904B0", (US_ENGLISH, 1200)
VERSION_TEXTS = {"CompanyName": "Zentrika", "ProductName": "Quarn Updater"}


class Mismatch(Exception):
    pass


def expect(what, actual, wanted):
    if actual != wanted:
        raise Mismatch(f"{what}: found {actual!r}, expected {wanted!r}")


# ---- reading resources: key (type, name) -> list of (language, bytes) ----

def read_sz_or_ord(data, pos):
    """A resource name, class or title field: 0xFFFF + ordinal, or a NUL-terminated UTF-16 text."""
    (first,) = struct.unpack_from("<H", data, pos)
    if first == 0xFFFF:
        return ("ordinal", struct.unpack_from("<H", data, pos + 2)[0]), pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def resources_from_res(data):
    found = {}
    pos = 0
    while pos + 8 <= len(data):
        size, header_size = struct.unpack_from("<II", data, pos)
        kind, p = read_sz_or_ord(data, pos + 8)
        name, p = read_sz_or_ord(data, p)
        p = (p + 3) & ~3
        _, _, language = struct.unpack_from("<IHH", data, p)
        body = data[pos + header_size:pos + header_size + size]
        if size:
            kind = kind[1] if isinstance(kind, tuple) else kind
            name = name[1] if isinstance(name, tuple) else name
            found.setdefault((kind, name), []).append((language, body))
        pos = (pos + header_size + size + 3) & ~3
    return found


def resources_from_pe(data):
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    expect("PE signature", data[pe:pe + 4], b"PE\0\0")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (112 if magic == 0x20B else 96)
    rsrc_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
    table = optional + optional_size
    spans = []
    for i in range(sections):
        vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        spans.append((vaddr, max(vsize, raw_size), raw_ptr))

    def at(rva):
        for vaddr, size, raw in spans:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise Mismatch(f"RVA {rva:#x} outside every section")

    base = at(rsrc_rva)

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for i in range(named + ids):
            key, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
            if key & 0x80000000:
                length = struct.unpack_from("<H", data, base + (key & 0x7FFFFFFF))[0]
                start = base + (key & 0x7FFFFFFF) + 2
                key = data[start:start + 2 * length].decode("utf-16-le")
            yield key, target

    found = {}
    for kind, type_dir in entries(0):
        for name, name_dir in entries(type_dir & 0x7FFFFFFF):
            for language, leaf in entries(name_dir & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                found.setdefault((kind, name), []).append((language, data[at(rva):at(rva) + size]))
    return found


# ---- checks ----

def check_dialog(name, body):
    style, ex_style, rect, cls, caption, controls = DIALOGS[name]
    version, signature, help_id, ex, st, count, x, y, cx, cy = struct.unpack_from(
        "<HHIIIHhhhh", body, 0)
    expect(f"{name} version/signature", (version, signature), (1, 0xFFFF))
    expect(f"{name} help id", help_id, 0)
    expect(f"{name} style", hex(st), hex(style))
    expect(f"{name} extended style", hex(ex), hex(ex_style))
    expect(f"{name} control count", count, len(controls))
    expect(f"{name} position and size", (x, y, cx, cy), rect)
    pos = 26
    menu, pos = read_sz_or_ord(body, pos)
    expect(f"{name} menu", menu, "")
    window_class, pos = read_sz_or_ord(body, pos)
    expect(f"{name} class", window_class, cls or "")
    title, pos = read_sz_or_ord(body, pos)
    expect(f"{name} caption", title, caption)
    point, weight, italic, charset = struct.unpack_from("<HHBB", body, pos)
    face, pos = read_sz_or_ord(body, pos + 6)
    expect(f"{name} font", (point, weight, italic, charset, face), FONT)
    for index, (cid, ccls, text, cstyle, crect) in enumerate(controls):
        pos = (pos + 3) & ~3
        help_id, ex, st, x, y, cx, cy, ident = struct.unpack_from("<IIIhhhhI", body, pos)
        where = f"{name} control {index} (id {cid if cid != NO_ID else -1})"
        expect(f"{where} id", ident, cid)
        expect(f"{where} help id", help_id, 0)
        expect(f"{where} style", hex(st), hex(cstyle))
        expect(f"{where} extended style", ex, 0)
        expect(f"{where} position and size", (x, y, cx, cy), crect)
        klass, pos = read_sz_or_ord(body, pos + 24)
        if isinstance(klass, tuple):
            klass = ATOM_CLASSES.get(klass[1], klass)
        expect(f"{where} class", klass.upper() if isinstance(klass, str) else klass, ccls)
        title, pos = read_sz_or_ord(body, pos)
        expect(f"{where} text", title, text)
        (extra,) = struct.unpack_from("<H", body, pos)
        expect(f"{where} creation data", extra, 0)
        pos += 2 + extra
    expect(f"{name} bytes after the last control", len(body) - pos < 4, True)


def check_icons(found):
    group = only(found, RT_GROUP_ICON, ICON_GROUP)
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    expect("icon group header", (reserved, kind, count), (0, 1, len(ICON_SIZES)))
    formats = []
    for i, size in enumerate(ICON_SIZES):
        w, h, colours, _, planes, bits, length, ident = struct.unpack_from("<BBBBHHIH", group,
                                                                           6 + 14 * i)
        expect(f"icon entry {i} size", (w or 256, h or 256), (size, size))
        expect(f"icon entry {i} colours/planes/bits", (colours, planes, bits), (0, 1, 32))
        image = only(found, RT_ICON, ident)
        expect(f"icon {size} length", len(image), length)
        if image[:8] == b"\x89PNG\r\n\x1a\n":
            width, height, depth, colour_type = struct.unpack_from(">IIBB", image, 16)
            expect(f"icon {size} PNG", (width, height, depth, colour_type), (size, size, 8, 6))
            formats.append(f"{size} PNG RGBA")
        else:
            header, width, height, planes, bits, compression = struct.unpack_from(
                "<IiiHHI", image, 0)
            expect(f"icon {size} DIB", (header, width, height, planes, bits, compression),
                   (40, size, 2 * size, 1, 32, 0))
            mask_stride = ((size + 31) // 32) * 4
            expect(f"icon {size} DIB length", len(image), 40 + size * size * 4 + mask_stride * size)
            formats.append(f"{size} BMP 32bpp")
    return formats


def check_logo(found):
    logo = only(found, RT_BITMAP, LOGO)
    header, width, height, planes, bits, compression, image_size = struct.unpack_from(
        "<IiiHHII", logo, 0)
    expect("logo header", (header, width, height, planes, bits, compression),
           (40, 200, 56, 1, 24, 0))
    expect("logo length", len(logo), 40 + 600 * 56)
    expect("logo image size", image_size in (0, 600 * 56), True)


def check_manifest(found):
    manifests = [key for key in found if key[0] == RT_MANIFEST]
    expect("manifests", manifests, [(RT_MANIFEST, 1)])
    root = ET.fromstring(only(found, RT_MANIFEST, 1))
    v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
    expect("manifest root", root.tag, v1 + "assembly")
    expect("manifest content", [child.tag for child in root], [v3 + "trustInfo"])
    path = [v3 + "security", v3 + "requestedPrivileges", v3 + "requestedExecutionLevel"]
    node = root[0]
    for tag in path:
        expect(f"manifest under {node.tag}", [child.tag for child in node], [tag])
        node = node[0]
    expect("requestedExecutionLevel", dict(node.attrib), {"level": "asInvoker", "uiAccess": "false"})


def align4(pos):
    return (pos + 3) & ~3


def read_version_node(data, pos):
    """One node of a VS_VERSIONINFO tree: (key, type, value bytes, children) and the next node."""
    length, value_length, kind = struct.unpack_from("<HHH", data, pos)
    end = pos + length
    key, p = read_sz_or_ord(data, pos + 6)
    p = align4(p)
    value_size = 2 * value_length if kind == 1 else value_length
    value = data[p:p + value_size]
    p = align4(p + value_size)
    children = []
    while p < end:
        child, p = read_version_node(data, p)
        children.append(child)
    return (key, kind, value, children), align4(end)


def child_nodes(node, what):
    keys = [child[0] for child in node[3]]
    expect(f"{what} blocks", len(keys), len(set(keys)))
    return {child[0]: child for child in node[3]}


def check_version_info(found, file_name, version):
    entries = found.get((RT_VERSION, VERSION_INFO), [])
    expect("version resources", len(entries), 1)
    language, body = entries[0]
    expect("version resource language", hex(language), hex(US_ENGLISH))
    root, _ = read_version_node(body, 0)
    key, _, fixed, _ = root
    expect("version resource key", key, "VS_VERSION_INFO")
    expect("fixed file info size", len(fixed), 52)
    (signature, _, file_ms, file_ls, product_ms, product_ls, _, flags, os_kind, file_type,
     _) = struct.unpack_from("<11I", fixed, 0)
    expect("fixed file info signature", hex(signature), hex(FIXED_FILE_INFO_SIGNATURE))
    major, minor, patch = (int(part) for part in version.split("."))
    wanted = (major << 16 | minor, patch << 16)
    expect("fixed file version", (file_ms, file_ls), wanted)
    expect("fixed product version", (product_ms, product_ls), wanted)
    expect("file flags (debug, pre-release, patched, private, special)", flags, 0)
    expect("file OS and type", (hex(os_kind), file_type), (hex(VOS_NT_WINDOWS32), VFT_APP))

    blocks = child_nodes(root, "version resource")
    expect("version resource top blocks", sorted(blocks), ["StringFileInfo", "VarFileInfo"])
    tables = child_nodes(blocks["StringFileInfo"], "StringFileInfo")
    expect("string tables", sorted(tables), [STRING_BLOCK])
    texts = {name: value.decode("utf-16-le").rstrip("\0")
             for name, kind, value, _ in tables[STRING_BLOCK][3] if kind == 1}
    for name, wanted_text in VERSION_TEXTS.items():
        expect(name, texts.get(name), wanted_text)
    expect("FileVersion and ProductVersion", (texts.get("FileVersion"), texts.get("ProductVersion")),
           (version, version))
    for name in ("FileDescription", "LegalCopyright", "InternalName", "OriginalFilename"):
        expect(f"{name} present", bool(texts.get(name)), True)
    if file_name:
        expect("OriginalFilename", texts["OriginalFilename"].lower(), file_name.lower())
    variables = child_nodes(blocks["VarFileInfo"], "VarFileInfo")
    expect("VarFileInfo variables", sorted(variables), ["Translation"])
    translation = variables["Translation"][2]
    expect("Translation size", len(translation), 4)
    expect("Translation", struct.unpack_from("<HH", translation, 0), TRANSLATION)
    return f"version {version} ({texts['FileDescription']})"


def only(found, kind, name):
    entries = found.get((kind, name), [])
    expect(f"{TYPE_NAMES.get(kind, kind)} {name} copies", len(entries), 1)
    return entries[0][1]


def check_file(path, version, only_version_info):
    with open(path, "rb") as f:
        data = f.read()
    is_program = data[:2] == b"MZ"
    found = resources_from_pe(data) if is_program else resources_from_res(data)
    version_text = check_version_info(found, os.path.basename(path) if is_program else None,
                                      version)
    if only_version_info:
        print(f"{path}: {version_text}")
        return
    kinds = sorted({TYPE_NAMES.get(kind, kind) for kind, _ in found})
    expect("resource types", kinds,
           sorted(TYPE_NAMES[k] for k in (RT_BITMAP, RT_ICON, RT_DIALOG, RT_GROUP_ICON,
                                          RT_VERSION, RT_MANIFEST)))
    expect("dialogs", sorted(name for kind, name in found if kind == RT_DIALOG), sorted(DIALOGS))
    for name in DIALOGS:
        check_dialog(name, only(found, RT_DIALOG, name))
    # The About box's version is fixed template text: the release must be the one it names.
    major_minor = ".".join(version.split(".")[:2])
    expect("About box version text against the release", ABOUT_VERSION, f"Version {major_minor}")
    formats = check_icons(found)
    check_logo(found)
    check_manifest(found)
    print(f"{path}: dialogs USB3_FWUPDATE and ABOUTBOX match field by field; icon group 108: "
          f"{', '.join(formats)}; bitmap 107 200x56 24bpp BI_RGB; one manifest (asInvoker); "
          f"{version_text}")


def main():
    parser = argparse.ArgumentParser(description="Checks the compiled resources of the programs.")
    parser.add_argument("--version", required=True, help="the release, X.Y.Z")
    parser.add_argument("--only-version-info", action="store_true",
                        help="check the version resource only")
    parser.add_argument("files", nargs="+", metavar="FILE")
    arguments = parser.parse_args()
    failed = False
    for path in arguments.files:
        try:
            check_file(path, arguments.version, arguments.only_version_info)
        except (Mismatch, struct.error, UnicodeDecodeError) as problem:
            print(f"{path}: {problem}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
