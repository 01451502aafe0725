#!/usr/bin/env python3
"""Decoding and drawing a 1024x768 32-bit packed picture: `talven pict render`
against ImageMagick's `convert FILE ppm:-` of the same file, best of N runs.

usage: bench/pict_bench.py TALVEN [RUNS]   (installs ImageMagick when missing)
"""
import math, os, shutil, struct, subprocess, sys, tempfile, time

W, H = 1024, 768


def packbits(data):
    out, i, n = bytearray(), 0, len(data)
    while i < n:
        j = i
        while j + 1 < n and data[j + 1] == data[i] and j - i < 127:
            j += 1
        if j > i:
            out += bytes([257 - (j - i + 1), data[i]])
            i = j + 1
            continue
        j = i
        while j + 1 < n and j - i < 127 and data[j + 1] != data[j]:
            j += 1
        out += bytes([j - i]) + data[i:j + 1]
        i = j + 1
    return bytes(out)


def picture():
    b = bytearray(512)
    b += struct.pack(">HhhhhHH", 0, 0, 0, H, W, 0x0011, 0x02FF)
    b += struct.pack(">HhhiihhhhI", 0x0C00, -2, 0, 0x480000, 0x480000, 0, 0, H, W, 0)
    b += struct.pack(">HIHhhhhHHIIIHHHHIII", 0x9A, 0xFF, (W * 4) | 0x8000, 0, 0, H, W,
                     0, 4, 0, 0x480000, 0x480000, 16, 32, 3, 8, 0, 0, 0)
    b += struct.pack(">hhhhhhhhH", 0, 0, H, W, 0, 0, H, W, 0)
    for y in range(H):
        r = bytes(int(128 + 127 * math.sin((x + y) / 40)) for x in range(W))
        g = bytes((x * 255 // W) for x in range(W))
        bl = bytes(((y // 16) * 37) & 255 for x in range(W))
        row = packbits(r + g + bl)
        b += struct.pack(">H", len(row)) + row
    if len(b) & 1:
        b += b"\0"
    b += struct.pack(">H", 0xFF)
    return bytes(b)


def best(cmd, runs):
    times = []
    for _ in range(runs):
        t = time.perf_counter()
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
        times.append(time.perf_counter() - t)
    return min(times) * 1000


def main():
    talven = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    if not shutil.which("magick") and subprocess.run(["convert", "-version"], capture_output=True).returncode:
        subprocess.run(["apt-get", "install", "-y", "imagemagick"], check=False)
    with tempfile.TemporaryDirectory() as d:
        pict, png = os.path.join(d, "bench.pict"), os.path.join(d, "out.png")
        open(pict, "wb").write(picture())
        ours = best([talven, "pict", "render", pict, png], runs)
        print(f"talven pict render (decode, draw, PNG out): {ours:.1f} ms")
        try:
            theirs = best(["convert", pict, "ppm:-"], runs)
            print(f"convert to PPM: {theirs:.1f} ms  (talven x{theirs / ours:.2f} as fast)")
        except (subprocess.CalledProcessError, FileNotFoundError):
            print("convert: not available")


if __name__ == "__main__":
    main()
