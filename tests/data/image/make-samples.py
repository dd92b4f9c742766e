#!/usr/bin/python3
"""Makes the sample pictures of the `image` tests and their expected pixels.

PNG files are written by the small encoder below, so that every colour type,
bit depth, interlacing and tRNS can be chosen; GIF and JPEG files by Pillow.
For every sample NAME.EXT the expected picture is NAME.ppm: the file as Pillow
decodes it (first frame, EXIF orientation applied), composited over white.
Run it from anywhere; it writes beside itself. Needs python3-pil.
"""
import io
import os
import struct
import subprocess
import zlib

from PIL import Image, ImageOps

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 24, 16


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def pack_row(samples, depth):
    if depth == 8:
        return bytes(samples)
    if depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    out, acc, bits = bytearray(), 0, 0
    for s in samples:
        acc = acc << depth | s
        bits += depth
        if bits == 8:
            out.append(acc)
            acc, bits = 0, 0
    if bits:
        out.append(acc << (8 - bits))
    return bytes(out)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def png(name, pixels, colour_type, depth, interlace=False, palette=None, trns=None, idat_parts=1):
    """pixels: rows of tuples of samples (one tuple per pixel)."""
    height, width = len(pixels), len(pixels[0])
    raw = bytearray()
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    for x0, y0, dx, dy in passes:
        for y in range(y0, height, dy):
            row = [s for x in range(x0, width, dx) for s in pixels[y][x]]
            if row:
                raw += b"\x01" + sub_filter(pack_row(row, depth), depth, len(pixels[0][0]))
    data = zlib.compress(bytes(raw), 9)
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, int(interlace)))
    out += chunk(b"gAMA", struct.pack(">I", 45455))
    if palette:
        out += chunk(b"PLTE", bytes(c for rgb in palette for c in rgb))
    if trns is not None:
        out += chunk(b"tRNS", trns)
    step = (len(data) + idat_parts - 1) // idat_parts
    for i in range(0, len(data), step):
        out += chunk(b"IDAT", data[i:i + step])
    out += chunk(b"IEND", b"")
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(out)


def sub_filter(row, depth, channels):
    bpp = max(1, depth * channels // 8)
    return bytes((row[i] - (row[i - bpp] if i >= bpp else 0)) & 255 for i in range(len(row)))


def expected(name, image=None):
    im = image or Image.open(os.path.join(HERE, name))
    im = ImageOps.exif_transpose(im)
    if im.mode in ("I;16", "I;16B", "I"):  # 16-bit grey: the high byte, and the key
        key = im.info.get("transparency")
        values = list(im.getdata())
        im = Image.new("LA", im.size)
        im.putdata([(v >> 8, 0 if v == key else 255) for v in values])
    im = im.convert("RGBA")
    white = Image.new("RGBA", im.size, (255, 255, 255, 255))
    white.alpha_composite(im)
    white.convert("RGB").save(os.path.join(HERE, os.path.splitext(name)[0] + ".ppm"))


def grid(f):
    return [[f(x, y) for x in range(W)] for y in range(H)]


def pngs():
    pal16 = [(i * 16, 255 - i * 16, (i * 37) % 256) for i in range(16)]
    pal4 = [(200, 30, 30), (30, 200, 30), (30, 30, 200), (240, 240, 0)]
    samples = [
        # name, pixels, colour type, depth, options
        ("grey1.png", grid(lambda x, y: ((x // 3 + y // 2) % 2,)), 0, 1, {}),
        ("grey2-key.png", grid(lambda x, y: ((x + y) % 4,)), 0, 2, {"trns": struct.pack(">H", 3)}),
        ("grey8.png", grid(lambda x, y: ((x * 10 + y * 3) % 256,)), 0, 8, {"idat_parts": 3}),
        ("rgb8.png", grid(lambda x, y: (x * 10, y * 15, 255 - x * 5)), 2, 8, {}),
        ("rgb8-key.png", grid(lambda x, y: (x * 10, y * 15, 0) if (x + y) % 5 else (10, 20, 30)), 2, 8,
         {"trns": struct.pack(">HHH", 10, 20, 30)}),
        ("palette4.png", grid(lambda x, y: ((x // 2 + y) % 16,)), 3, 4, {"palette": pal16}),
        ("palette8-key.png", grid(lambda x, y: ((x + 2 * y) % 16,)), 3, 8,
         {"palette": pal16, "trns": bytes([255, 255, 255, 0])}),
        ("palette2-alpha.png", grid(lambda x, y: ((x // 4 + y // 4) % 4,)), 3, 2,
         {"palette": pal4, "trns": bytes([0, 128, 255, 60])}),
        ("grey-alpha8.png", grid(lambda x, y: (x * 10, y * 16)), 4, 8, {}),
        ("rgba8.png", grid(lambda x, y: (x * 10, y * 15, 128, (x * 11 + y * 5) % 256)), 6, 8, {}),
        ("rgba16.png", grid(lambda x, y: (x * 2700, y * 4000, 40000, (x * 2800 + y * 100) % 65536)), 6, 16, {}),
        ("rgb16.png", grid(lambda x, y: (x * 2700 + 255, y * 4000, 65535 - x * 2000)), 2, 16, {}),
        ("grey16-key.png", grid(lambda x, y: ((x * 2600 + y * 7) if (x + y) % 3 else 1234,)), 0, 16,
         {"trns": struct.pack(">H", 1234)}),
        ("rgb8-interlaced.png", grid(lambda x, y: (x * 10, 255 - y * 15, (x * y) % 256)), 2, 8, {"interlace": True}),
        ("palette1-interlaced.png", grid(lambda x, y: ((x * y + x) % 2,)), 3, 1,
         {"interlace": True, "palette": pal4[:2]}),
        ("grey-alpha16-interlaced.png", grid(lambda x, y: (x * 2700, y * 4000)), 4, 16, {"interlace": True}),
    ]
    for name, pixels, colour_type, depth, options in samples:
        png(name, pixels, colour_type, depth, **options)
        expected(name)


def gifs():
    base = Image.new("RGB", (W, H))
    base.putdata([(x * 10, y * 15, (x * y) % 256) for y in range(H) for x in range(W)])
    quantised = base.quantize(256)
    # A transparent colour (graphic control extension before the image).
    quantised.save(os.path.join(HERE, "transparent.gif"), transparency=5, interlace=False)
    expected("transparent.gif")
    # Interlaced, with a comment extension first.
    quantised.save(os.path.join(HERE, "interlaced.gif"), interlace=True, comment=b"made for kestrin")
    expected("interlaced.gif")
    # A small palette, so the minimum code size is 4 (ImageMagick sizes it
    # to the palette; Pillow keeps 8).
    small = os.path.join(HERE, "min4.png")
    base.quantize(16).save(small)
    subprocess.run(["convert", small, os.path.join(HERE, "min4.gif")], check=True)
    os.remove(small)
    expected("min4.gif")
    # The first frame of an animation, smaller than the screen and off its
    # corner, with a transparent colour: the rest of the screen is clear.
    frame = base.resize((12, 8)).quantize(64)
    buffer = io.BytesIO()
    frame.save(buffer, "GIF", save_all=True, append_images=[base.resize((12, 8)).quantize(32)],
               duration=100, loop=0, transparency=0)
    data = bytearray(buffer.getvalue())
    data[6:10] = struct.pack("<HH", W, H)
    at = 13 + (3 << ((data[10] & 7) + 1) if data[10] & 0x80 else 0)
    while data[at] == 0x21:  # extensions: label, then sub-blocks
        at += 2
        while data[at]:
            at += data[at] + 1
        at += 1
    data[at + 1:at + 5] = struct.pack("<HH", 6, 4)
    with open(os.path.join(HERE, "animation.gif"), "wb") as f:
        f.write(bytes(data))
    expected("animation.gif")


def jpegs():
    base = Image.new("RGB", (W, H))
    # An arrow-like picture, so that each orientation looks different.
    base.putdata([(250 if x < 8 else 20, 240 if y < 5 else 40, (x * 10) % 256) for y in range(H) for x in range(W)])
    for orientation in range(1, 9):
        exif = Image.Exif()
        exif[0x0112] = orientation
        name = "exif%d.jpg" % orientation
        base.save(os.path.join(HERE, name), quality=95, exif=exif.tobytes())
        expected(name)
    base.convert("L").save(os.path.join(HERE, "grey.jpg"), quality=95)
    expected("grey.jpg")
    base.convert("CMYK").save(os.path.join(HERE, "cmyk.jpg"), quality=95)
    expected("cmyk.jpg")


def others():
    base = Image.new("RGB", (8, 8), (10, 20, 30))
    base.save(os.path.join(HERE, "picture.bmp"))
    base.save(os.path.join(HERE, "picture.tiff"))
    base.save(os.path.join(HERE, "picture.webp"))
    with open(os.path.join(HERE, "notes.txt"), "w") as f:
        f.write("Not a picture at all.\n")
    good = open(os.path.join(HERE, "rgb8.png"), "rb").read()
    with open(os.path.join(HERE, "cut-header.png"), "wb") as f:
        f.write(good[:20])
    with open(os.path.join(HERE, "cut-data.png"), "wb") as f:
        f.write(good[:-30])
    with open(os.path.join(HERE, "cut-data-interlaced.png"), "wb") as f:
        f.write(open(os.path.join(HERE, "rgb8-interlaced.png"), "rb").read()[:-40])
    with open(os.path.join(HERE, "no-image.gif"), "wb") as f:
        f.write(b"GIF89a\x02\x00\x02\x00\x80\x00\x00" + b"\x00" * 6 + b"!\xf9\x04\x01\x00\x00\x00\x00;")


if __name__ == "__main__":
    pngs()
    gifs()
    jpegs()
    others()
