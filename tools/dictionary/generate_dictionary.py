#!/usr/bin/env python3
"""Writes src/dicom/dictionary_table.cpp from the PS3.6 data element registry.

The registry is read from pydicom's _dicom_dict.py (Debian's python3-pydicom), which is a
machine-readable copy of PS3.6 Table 6-1 (and the PS3.7 command elements). The file is parsed
as Python source; pydicom itself is not imported, so only the system python3 is needed.

Usage: generate_dictionary.py [--source _dicom_dict.py] [--output dictionary_table.cpp]

The output depends only on the source file: entries are sorted by tag.
"""

import argparse
import ast
import hashlib
import os
import sys

DEFAULT_SOURCE = "/usr/lib/python3/dist-packages/pydicom/_dicom_dict.py"
REPO_ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
DEFAULT_OUTPUT = os.path.join(REPO_ROOT, "src", "dicom", "dictionary_table.cpp")

# Single VRs, spelled as the VrCode enumerators.
PLAIN_VRS = {
    "AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO", "LT", "OB", "OF", "OW",
    "PN", "SH", "SL", "SQ", "SS", "ST", "TM", "UI", "UL", "UN", "US", "UT",
    "OD", "OL", "OV", "SV", "UV", "UC", "UR",
}

# The multi-VR entries of the registry. "US or OW" (LUT Data) shares the US\SS\OW code: its
# descriptor's first value may be signed, so the reader treats both alike.
MULTI_VRS = {
    "US or SS": "US_SS",
    "US or SS or OW": "US_SS_OW",
    "US or OW": "US_SS_OW",
    "OB or OW": "OB_OW",
}

PIXEL_DATA = 0x7FE00010

# PS3.5 7.2: every group's element 0000 is its group length. Only the file meta and directory
# groups keep one, under the name PS3.5 gives it; the registry has no directory group length.
GROUP_LENGTHS = {0x00020000: "Group Length", 0x00040000: "Group Length"}

# pydicom fills rows that the standard leaves without name, VR and VM with this marker and OB.
PYDICOM_BLANK_NAME = "Retired-blank"


def LoadDict(tree, name):
    for node in tree.body:
        target = None
        if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            target = node.target.id
        elif isinstance(node, ast.Assign) and len(node.targets) == 1:
            if isinstance(node.targets[0], ast.Name):
                target = node.targets[0].id
        if target == name:
            return ast.literal_eval(node.value)
    sys.exit(f"generate_dictionary: {name} not found in the source")


def ReadVersions(source):
    """pydicom's version and the DICOM edition its tables were made from (_version.py)."""
    path = os.path.join(os.path.dirname(source), "_version.py")
    versions = {"__version__": "unknown", "__dicom_version__": None}
    try:
        with open(path, encoding="utf-8") as f:
            tree = ast.parse(f.read())
    except OSError:
        return versions
    for node in tree.body:
        if isinstance(node, (ast.Assign, ast.AnnAssign)):
            target = node.target if isinstance(node, ast.AnnAssign) else node.targets[0]
            if isinstance(target, ast.Name) and target.id in versions:
                versions[target.id] = ast.literal_eval(node.value)
    return versions


def VrCodeOf(tag, vr):
    if vr in PLAIN_VRS:
        return vr
    if vr in ("", "NONE"):
        return "Unknown"
    if vr == "OB or OW":
        # Pixel Data is OW in implicit VR files (PS3.5 A.1), so OW comes first for it.
        return "OW_OB" if tag == PIXEL_DATA else "OB_OW"
    if vr in MULTI_VRS:
        return MULTI_VRS[vr]
    if " or " in vr:
        first = vr.split(" or ")[0]
        if first in PLAIN_VRS:
            print(f"generate_dictionary: ({tag >> 16:04X},{tag & 0xFFFF:04X}) '{vr}' -> {first}",
                  file=sys.stderr)
            return first
    sys.exit(f"generate_dictionary: unknown VR '{vr}' for tag {tag:08X}")


def EntryFromRow(tag, row):
    vr, _vm, name, _retired, _keyword = row
    if name == PYDICOM_BLANK_NAME:
        return (tag, "Unknown", "")
    return (tag, VrCodeOf(tag, vr), name)


def Instance(pattern, value):
    """The tag a mask like '60xx3000' names when its x digits read as the number value."""
    width = pattern.count("x")
    digits = f"{value:0{width}X}"
    chars = list(pattern)
    for i, pos in enumerate(p for p, c in enumerate(pattern) if c == "x"):
        chars[pos] = digits[i]
    return int("".join(chars), 16)


def FamilyKey(pattern):
    """Masks sharing the digits before their first x form one family, e.g. 002804x0..002804x3."""
    first = pattern.index("x")
    return (pattern[:first], "".join("x" if c == "x" else "." for c in pattern))


def RepeaterTags(repeaters, defined):
    """Enters each repeating group or element range once, under its lowest usable instance.

    The x digits of a family all take the lowest value for which no member falls on a group
    length element (gggg,0000) or on a tag the registry defines in its own right. So 60xx
    gives 6000 and 0020,31xx gives 3100, while (0028,04x0) moves to 0410 because (0028,0400)
    is Transform Label, and (1000,xxx0) to 0010.
    """
    families = {}
    for pattern in repeaters:
        families.setdefault(FamilyKey(pattern), []).append(pattern)
    result = {}
    for patterns in families.values():
        width = patterns[0].count("x")
        for value in range(16 ** width):
            tags = [Instance(p, value) for p in patterns]
            if all((t & 0xFFFF) != 0 and t not in defined and (t >> 16) % 2 == 0 for t in tags):
                break
        else:
            sys.exit(f"generate_dictionary: no usable instance for {patterns}")
        for pattern, tag in zip(patterns, tags):
            result[tag] = pattern
    return result


def BuildEntries(main, repeaters):
    entries = {}
    for tag, row in main.items():
        group, element = tag >> 16, tag & 0xFFFF
        if group == 0x0000 or group % 2 == 1:
            continue  # command elements (PS3.7) and private tags are not data set elements
        if element == 0x0000:
            continue  # group lengths: only the two below are kept
        entries[tag] = EntryFromRow(tag, row)
    for tag, name in GROUP_LENGTHS.items():
        entries[tag] = (tag, "UL", name)
    for tag, pattern in RepeaterTags(repeaters, set(main)).items():
        entries[tag] = EntryFromRow(tag, repeaters[pattern])
    return [entries[tag] for tag in sorted(entries)]


def CString(text):
    if any(ord(c) < 0x20 or ord(c) > 0x7E for c in text):
        sys.exit(f"generate_dictionary: unexpected character in name {text!r}")
    if len(text) > 255:
        sys.exit(f"generate_dictionary: name longer than 255 characters: {text!r}")
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def Render(entries, sourcePath, sourceDigest, versions):
    edition = versions["__dicom_version__"]
    editionText = (f"DICOM PS3.6 {edition}" if edition
                   else f"PS3.6 as carried by pydicom {versions['__version__']}")
    lines = [
        "// Generated by tools/dictionary/generate_dictionary.py; do not edit, rerun it.",
        f"// Source: {sourcePath} (pydicom {versions['__version__']},",
        f"//   sha256 {sourceDigest}).",
        f"// Edition: {editionText}, registry of data elements (Table 6-1), retired included.",
        "// Command elements, private tags and group lengths other than (0002,0000) and",
        "// (0004,0000) are left out; repeating groups and element ranges appear once.",
        "#include <iterator>",
        "",
        '#include "dicom/dicom_dictionary.h"',
        "",
        "namespace vexel {",
        "",
        "// clang-format off",
        "const DictionaryEntry kDictionaryTable[] = {",
    ]
    for tag, vr, name in entries:
        lines.append(f"    {{0x{tag:08X}, VrCode::{vr}, {CString(name)}}},")
    lines += [
        "};",
        "// clang-format on",
        "",
        "const size_t kDictionaryTableSize = std::size(kDictionaryTable);",
        "",
        "}  // namespace vexel",
        "",
    ]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", default=DEFAULT_SOURCE)
    parser.add_argument("--output", default=DEFAULT_OUTPUT)
    args = parser.parse_args()

    with open(args.source, "rb") as f:
        raw = f.read()
    tree = ast.parse(raw.decode("utf-8"))
    main = LoadDict(tree, "DicomDictionary")
    repeaters = LoadDict(tree, "RepeatersDictionary")
    entries = BuildEntries(main, repeaters)
    text = Render(entries, args.source, hashlib.sha256(raw).hexdigest(), ReadVersions(args.source))
    with open(args.output, "w", encoding="ascii", newline="\n") as f:
        f.write(text)
    print(f"generate_dictionary: {len(entries)} entries -> {args.output}", file=sys.stderr)


if __name__ == "__main__":
    main()
