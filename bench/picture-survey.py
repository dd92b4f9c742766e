#!/usr/bin/python3
"""Survey: every JPEG, PNG and GIF file on this machine through `image`.

    bench/picture-survey.py KESTRIN [SAMPLE] [ROOT...]

Finds the files named *.jpg, *.jpeg, *.png or *.gif under ROOT (default /,
one file system), keeps those whose first bytes say JPEG, PNG or GIF, and
for each one notes whether Pillow reads it (first frame) and whether
`image` accepts it, and the path `image` took: JPEG copied; PNG data copied
(the stream is the file's IDAT data) or decoded; GIF codes re-packed (LZW)
or decoded (Flate). For up to SAMPLE accepted files of each kind (default
400, chosen with a fixed seed) it draws the picture with mutool at one pixel per point
and compares it with Pillow's decoding (EXIF orientation applied, alpha
over white, 16-bit grey by its high byte). Not part of the tests: it reads
the whole machine. Needs python3-pil and mupdf-tools.
"""
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from collections import Counter

import warnings

from PIL import Image, ImageChops, ImageOps

warnings.simplefilter("ignore")

Image.MAX_IMAGE_PIXELS = None
SKIP = ("/proc", "/sys", "/dev", "/tmp")


def kind_of(path):
    try:
        with open(path, "rb") as f:
            head = f.read(8)
    except OSError:
        return None
    if head.startswith(b"\xff\xd8\xff"):
        return "JPEG"
    if head.startswith(b"\x89PNG\r\n\x1a\n"):
        return "PNG"
    if head[:6] in (b"GIF87a", b"GIF89a"):
        return "GIF"
    return None


def pillow_picture(path):
    """The picture as Pillow decodes it, over white; None if it cannot."""
    try:
        im = Image.open(path)
        im.load()
        im = ImageOps.exif_transpose(im)
        if im.mode in ("I;16", "I;16B", "I;16L", "I"):
            key = im.info.get("transparency")
            values = list(im.getdata())
            grey = Image.new("LA", im.size)
            grey.putdata([(min(255, v >> 8), 0 if v == key else 255) for v in values])
            im = grey
        im = im.convert("RGBA")
        white = Image.new("RGBA", im.size, (255, 255, 255, 255))
        white.alpha_composite(im)
        return white.convert("RGB")
    except Exception:
        return None


def idat_length(path):
    with open(path, "rb") as f:
        data = f.read()
    at, total = 8, 0
    while at + 8 <= len(data):
        length = struct.unpack(">I", data[at:at + 4])[0]
        if data[at + 4:at + 8] == b"IDAT":
            total += length
        at += 12 + length
    return total


def run_image(kestrin, work, path, place=None):
    link = os.path.join(work, "picture")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(os.path.abspath(path), link)
    doc = "<image 1 picture>x" if place is None else \
        "<paper %d %d image 1 picture><pict+ 1 0 0 0 0>" % place
    with open(os.path.join(work, "doc.txt"), "w") as f:
        f.write(doc)
    result = subprocess.run([kestrin, "doc.txt", "doc.pdf"], cwd=work, capture_output=True,
                            text=True, timeout=120)
    with open(os.path.join(work, "doc.pdf"), "rb") as f:
        pdf = f.read()
    return result.stdout.strip(), pdf


def path_taken(kind, path, pdf):
    if kind == "JPEG":
        return "copied"
    head = pdf[pdf.find(b"24 0 obj"):pdf.find(b"stream\r\n")]
    if kind == "GIF":
        return "re-packed" if b"/LZWDecode" in head else "decoded"
    length = int(re.search(rb"\r\n25 0 obj\r\n(\d+)", pdf).group(1))
    return "copied" if length == idat_length(path) and b"/SMask" not in head else "decoded"


def compare(kestrin, work, path, expected):
    _, pdf = run_image(kestrin, work, path, expected.size)
    drawn_path = os.path.join(work, "drawn.ppm")
    subprocess.run(["mutool", "draw", "-q", "-r", "72", "-o", drawn_path,
                    os.path.join(work, "doc.pdf")], capture_output=True, timeout=300)
    drawn = Image.open(drawn_path).convert("RGB")
    if drawn.size != expected.size:
        return None, None
    histogram = ImageChops.difference(drawn, expected).histogram()
    counts = [sum(histogram[band * 256 + d] for band in range(3)) for d in range(256)]
    total = sum(counts)
    mean = sum(d * c for d, c in enumerate(counts)) / total
    seen, p99 = 0, 0
    for d, c in enumerate(counts):
        seen += c
        if seen >= 0.99 * total:
            p99 = d
            break
    return mean, p99


def main():
    kestrin = os.path.abspath(sys.argv[1])
    sample = int(sys.argv[2]) if len(sys.argv) > 2 else 400
    roots = sys.argv[3:] or ["/"]
    files = []
    for root in roots:
        found = subprocess.run(["find", root, "-xdev", "-type", "f", "(", "-iname", "*.jpg", "-o",
                                "-iname", "*.jpeg", "-o", "-iname", "*.png", "-o", "-iname",
                                "*.gif", ")"], capture_output=True, text=True).stdout
        files += [f for f in found.splitlines()
                  if not f.startswith(SKIP) and not re.match(r"/work/wt-|/work/[^/]+/build", f)]
    work = tempfile.mkdtemp(prefix="kestrin-survey-")
    shutil.copy(kestrin, os.path.join(work, "kestrin"))  # a rebuild meanwhile does not matter
    kestrin = os.path.join(work, "kestrin")
    counts = Counter()
    refused = []
    accepted = []
    for path in sorted(files):
        kind = kind_of(path)
        if kind is None:
            counts["named like a picture but not one"] += 1
            continue
        counts[kind, "files"] += 1
        readable = pillow_picture(path) is not None
        counts[kind, "Pillow reads"] += readable
        try:
            console, pdf = run_image(kestrin, work, path)
        except subprocess.TimeoutExpired:
            console, pdf = "timeout", b""
        if console == "no errors":
            counts[kind, "image accepts"] += 1
            counts[kind, "path " + path_taken(kind, path, pdf)] += 1
            counts[kind, "both"] += readable
            accepted.append((kind, path))
        else:
            counts[kind, "image refuses"] += 1
            if readable:
                counts[kind, "Pillow reads, image refuses"] += 1
                refused.append((kind, path, console.splitlines()[-1]))

    random.seed(12)
    checked = []
    for kind in ("JPEG", "PNG", "GIF"):  # up to SAMPLE files of each kind
        of_kind = [item for item in accepted if item[0] == kind]
        checked += random.sample(of_kind, min(sample, len(of_kind)))
    worst = []
    for kind, path in checked:
        expected = pillow_picture(path)
        if expected is None or expected.size[0] * expected.size[1] > 4000000:
            counts[kind, "too large to draw here"] += 1
            continue
        mean, p99 = compare(kestrin, work, path, expected)
        good = mean is not None and (mean <= 0.5 and p99 <= 1 if kind != "JPEG"
                                     else mean <= 3 and p99 <= 24)
        counts[kind, "pixels checked"] += 1
        counts[kind, "pixels match"] += good
        if not good:
            worst.append((kind, path, mean, p99))

    for kind in ("JPEG", "PNG", "GIF"):
        print(kind)
        for key, n in sorted(counts.items(), key=lambda item: str(item[0])):
            if isinstance(key, tuple) and key[0] == kind:
                print("  %-32s %6d" % (key[1], n))
    for key, n in counts.items():
        if isinstance(key, str):
            print("%s: %d" % (key, n))
    print("\nread by Pillow but refused by image:")
    for kind, path, line in refused:
        print("  %s %s: %s" % (kind, path, line))
    print("\npixels that differ (mean, 99th percentile of the difference):")
    for kind, path, mean, p99 in worst:
        print("  %s %s: %s %s" % (kind, path, mean, p99))


if __name__ == "__main__":
    main()
