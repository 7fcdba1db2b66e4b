#!/usr/bin/env python3
"""Seeds for the codec fuzz targets, made at fuzz time and never committed.

    fuzz/make_seeds.py --phantom BUILD/bin/phantom --out DIR [--testdata DIR]

Takes the compressed stream of every encapsulated frame of
  - the shared real-world files (not ours to commit, so only read in place), and
  - small phantom images converted with DCMTK (dcmcjpeg, dcmcjpls, dcmcrle) and GDCM
    (gdcmconv) in every codec they offer,
and writes each one, prefixed as its harness expects, into DIR/<target>/<sha1>:
  jpeg1/jpeg3/jpeg2  JPEG by sample precision (1-8, 9-12, 13-16), as the program routes them
  jpeg4              JPEG-LS
  jpeg2000           JPEG 2000 and High-Throughput JPEG 2000
  rle                RLE Lossless
Codec inputs start with the harness's mode byte (1: the stream's own size, colour as the
stream says); RLE inputs with the two bytes that give pixel and segment counts.
Files that cannot be read or converted are skipped; the script never fails on one file.
"""
import argparse
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile

MAX_LEN = 262144  # scripts/fuzz's -max_len: longer inputs would be cut

JPEG = {"1.2.840.10008.1.2.4.50", "1.2.840.10008.1.2.4.51", "1.2.840.10008.1.2.4.57",
        "1.2.840.10008.1.2.4.70"}
JPEG_LS = {"1.2.840.10008.1.2.4.80", "1.2.840.10008.1.2.4.81"}
J2K = {"1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91", "1.2.840.10008.1.2.4.201",
       "1.2.840.10008.1.2.4.202", "1.2.840.10008.1.2.4.203"}
RLE = "1.2.840.10008.1.2.5"
LONG_VRS = {b"OB", b"OW", b"OF", b"SQ", b"UT", b"UN", b"OD", b"OL", b"OV", b"SV", b"UV", b"UC",
            b"UR"}
UNDEFINED = 0xFFFFFFFF

# (label, command) with {in} and {out}; every phantom image goes through each.
CONVERSIONS = [
    ("jpeg_sv1", "dcmcjpeg +e1 {in} {out}"),
    ("jpeg_sv3_pt1", "dcmcjpeg +el +sv 3 +pt 1 {in} {out}"),
    ("jpeg_sv7", "dcmcjpeg +el +sv 7 {in} {out}"),
    ("jpeg_baseline", "dcmcjpeg +eb {in} {out}"),
    ("jpeg_extended", "dcmcjpeg +ee {in} {out}"),
    ("jpeg_spectral", "dcmcjpeg +es {in} {out}"),
    ("jpeg_progressive", "dcmcjpeg +ep {in} {out}"),
    ("jls_lossless", "dcmcjpls +el {in} {out}"),
    ("jls_near", "dcmcjpls +en {in} {out}"),
    ("jls_sample", "dcmcjpls +el +is {in} {out}"),
    ("jls_none", "dcmcjpls +el +in {in} {out}"),
    ("rle_dcmtk", "dcmcrle {in} {out}"),
    ("gdcm_jpeg", "gdcmconv --jpeg {in} {out}"),
    ("gdcm_jpeg_lossy", "gdcmconv --jpeg --lossy -q 80 {in} {out}"),
    ("gdcm_jpegls", "gdcmconv --jpegls {in} {out}"),
    ("gdcm_j2k", "gdcmconv --j2k {in} {out}"),
    ("gdcm_j2k_lossy", "gdcmconv --j2k --lossy -q 30 {in} {out}"),
    ("gdcm_j2k_irreversible", "gdcmconv --j2k --lossy --irreversible -q 40 {in} {out}"),
    ("gdcm_rle", "gdcmconv --rle {in} {out}"),
]


class Reader:
    """Just enough of PS3.5 to find the top-level encapsulated Pixel Data."""

    def __init__(self, data):
        self.data = data

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def element(self, at, explicit):
        group, elem = self.u16(at), self.u16(at + 2)
        if group == 0xFFFE:
            return group, elem, None, self.u32(at + 4), at + 8
        if not explicit:
            return group, elem, None, self.u32(at + 4), at + 8
        vr = self.data[at + 4:at + 6]
        if vr in LONG_VRS:
            return group, elem, vr, self.u32(at + 8), at + 12
        return group, elem, vr, self.u16(at + 6), at + 8

    def skip_undefined(self, at, explicit, end_elem):
        """Position after the delimiter (FFFE,end_elem) of an undefined-length value."""
        while at + 8 <= len(self.data):
            group, elem, vr, length, value = self.element(at, explicit)
            if group == 0xFFFE and elem == end_elem:
                return value
            if length == UNDEFINED:
                inner_end = 0xE00D if (group == 0xFFFE and elem == 0xE000) else 0xE0DD
                at = self.skip_undefined(value, explicit, inner_end)
            else:
                at = value + length
        raise ValueError("no delimiter")


def parse(path):
    """(transfer syntax, frames, list of fragments (bytes), offset table) or None."""
    with open(path, "rb") as f:
        data = f.read()
    r = Reader(data)
    at = 132 if data[128:132] == b"DICM" else 0
    syntax = ""
    while at + 8 <= len(data) and r.u16(at) == 0x0002:
        group, elem, vr, length, value = r.element(at, True)
        if elem == 0x0010:
            syntax = data[value:value + length].rstrip(b"\0 ").decode("ascii", "replace")
        at = value + length
    explicit = syntax != "1.2.840.10008.1.2"
    frames = 1
    while at + 8 <= len(data):
        group, elem, vr, length, value = r.element(at, explicit)
        if (group, elem) == (0x0028, 0x0008) and length != UNDEFINED:
            try:
                frames = max(1, int(data[value:value + length].strip(b"\0 ")))
            except ValueError:
                pass
        if (group, elem) == (0x7FE0, 0x0010):
            if length != UNDEFINED:
                return None  # native pixel data
            return (syntax, frames) + fragments(r, value)
        at = r.skip_undefined(value, explicit, 0xE00D if group == 0xFFFE else 0xE0DD) \
            if length == UNDEFINED else value + length
    return None


def fragments(r, at):
    """Fragments as (offset from the first fragment's item, bytes), and the offset table."""
    items = []
    while at + 8 <= len(r.data):
        group, elem, _, length, value = r.element(at, False)
        if group != 0xFFFE or elem != 0xE000 or value + length > len(r.data):
            break
        items.append((at, r.data[value:value + length]))
        at = value + length
    if not items:
        return [], []
    table = items[0][1]
    offsets = [struct.unpack_from("<I", table, i)[0] for i in range(0, len(table) - 3, 4)]
    first = items[1][0] if len(items) > 1 else 0
    return [(pos - first, body) for pos, body in items[1:]], offsets


STARTS = (b"\xFF\xD8", b"\xFF\x4F\xFF\x51", b"\x00\x00\x00\x0C\x6A\x50\x20\x20")


def split_frames(frames, pieces, offsets):
    """PS3.5 A.4: by the offset table, else one fragment per frame, else by stream starts."""
    if not pieces:
        return []
    if len(offsets) > 1 or (len(offsets) == 1 and frames == 1):
        result = []
        for k, start in enumerate(offsets):
            stop = offsets[k + 1] if k + 1 < len(offsets) else float("inf")
            result.append(b"".join(body for pos, body in pieces if start <= pos < stop))
        return [f for f in result if f]
    if frames == len(pieces):
        return [body for _, body in pieces]
    if frames == 1:
        return [b"".join(body for _, body in pieces)]
    result = []
    for _, body in pieces:
        if not result or body.startswith(STARTS):
            result.append(body)
        else:
            result[-1] += body
    return result


def jpeg_precision(stream):
    """Sample precision from the first SOF marker, 0 when there is none."""
    at = 0
    while at + 4 < len(stream):
        if stream[at] != 0xFF:
            return 0
        code = stream[at + 1]
        if code in (0xC0, 0xC1, 0xC2, 0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE,
                    0xCF):
            return stream[at + 4]
        if 0xD0 <= code <= 0xD9 or code in (0x01, 0xFF):
            at += 1 if code == 0xFF else 2
        else:
            at += 2 + struct.unpack_from(">H", stream, at + 2)[0]
    return 0


def seeds_of(syntax, stream):
    """(target, input) pairs for one frame."""
    if syntax in JPEG:
        precision = jpeg_precision(stream)
        target = "jpeg1" if 1 <= precision <= 8 else "jpeg3" if precision <= 12 else "jpeg2"
        return [(target, b"\x01" + stream)] if precision else []
    if syntax in JPEG_LS:
        return [("jpeg4", b"\x01" + stream)]
    if syntax in J2K:
        return [("jpeg2000", b"\x01" + stream)]
    if syntax == RLE and len(stream) >= 64:
        segments = max(1, min(15, struct.unpack_from("<I", stream, 0)[0]))
        # The harness expects 1 + 16 x byte0 pixels; the largest it allows is the nearest.
        return [("rle", bytes([255, segments - 1]) + stream)]
    return []


def write_seed(out, target, data, counts):
    if len(data) > MAX_LEN:
        return
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        with open(path, "wb") as f:
            f.write(data)
        counts[target] = counts.get(target, 0) + 1


def harvest(path, out, counts):
    try:
        parsed = parse(path)
    except (ValueError, struct.error, IndexError, OSError):
        return
    if parsed is None:
        return
    syntax, frames, pieces, offsets = parsed
    for stream in split_frames(frames, pieces, offsets):
        for target, data in seeds_of(syntax, stream):
            write_seed(out, target, data, counts)


def phantom_sources(phantom, work):
    """Small phantom images: signed CT, 12-bit CT, unsigned PET, RGB, multi-frame CT."""
    study = os.path.join(work, "study")
    if subprocess.run([phantom, "--out", study, "--all", "--size", "64x48x4", "--frames", "3",
                       "--quiet"]).returncode != 0:
        print("make_seeds: %s failed; no phantom seeds" % phantom, file=sys.stderr)
        return []
    sources = []
    for folder, _, files in os.walk(study):
        sources += [os.path.join(folder, f) for f in sorted(files) if f.endswith(".dcm")][:2]
    ct = next((s for s in sources if os.path.basename(s).startswith("CT")), None)
    if ct is not None:
        # The CT values fit 12 bits, which makes the 12-bit JPEG processes possible.
        ct12 = os.path.join(work, "ct12.dcm")
        shutil.copy(ct, ct12)
        if subprocess.run(["dcmodify", "-nb", "-m", "(0028,0101)=12", "-m", "(0028,0102)=11",
                           ct12], capture_output=True).returncode == 0:
            sources.append(ct12)
    return sources


def convert_phantoms(phantom, out, counts):
    with tempfile.TemporaryDirectory() as work:
        for index, source in enumerate(phantom_sources(phantom, work)):
            for label, command in CONVERSIONS:
                target = os.path.join(work, "%d_%s.dcm" % (index, label))
                line = command.replace("{in}", "'%s'" % source).replace("{out}", "'%s'" % target)
                if subprocess.run(line, shell=True, capture_output=True).returncode == 0:
                    harvest(target, out, counts)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--phantom", required=True, help="the phantom program of a build")
    parser.add_argument("--out", required=True)
    parser.add_argument("--testdata", default=os.path.join(os.path.dirname(__file__), "..", "..",
                                                           "shared", "testdata"))
    args = parser.parse_args()
    counts = {}
    if os.path.isdir(args.testdata):
        for folder, _, files in os.walk(args.testdata):
            if os.path.relpath(folder, args.testdata).startswith("oracle"):
                continue
            for name in sorted(files):
                harvest(os.path.join(folder, name), args.out, counts)
    else:
        print("make_seeds: %s not found; phantom seeds only" % args.testdata, file=sys.stderr)
    convert_phantoms(args.phantom, args.out, counts)
    print("make_seeds: " + ", ".join("%s %d" % kv for kv in sorted(counts.items())))


if __name__ == "__main__":
    main()
