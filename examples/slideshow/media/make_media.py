#!/usr/bin/env python3
"""Writes the slide show's pictures (classic picture data, version 2, no
file header) and sounds (sampled sound resources, format 1) beside this
script. The files are checked in; run it again only to change them."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 240, 160


def rect(t, l, b, r):
    return struct.pack('>4h', t, l, b, r)


class Pict:
    def __init__(self):
        self.ops = bytearray()

    def op(self, code, data=b''):
        self.ops += struct.pack('>H', code) + data
        if len(self.ops) % 2:
            self.ops += b'\0'

    def color(self, r, g, b):
        self.op(0x1A, struct.pack('>3H', r, g, b))

    def paint_rect(self, *box):
        self.op(0x31, rect(*box))

    def frame_rect(self, *box):
        self.op(0x30, rect(*box))

    def paint_oval(self, *box):
        self.op(0x51, rect(*box))

    def frame_oval(self, *box):
        self.op(0x50, rect(*box))

    def paint_round(self, box, ow, oh):
        self.op(0x0B, struct.pack('>2h', oh, ow))
        self.op(0x41, rect(*box))

    def paint_arc(self, box, start, angle):
        self.op(0x61, rect(*box) + struct.pack('>2h', start, angle))

    def pen(self, v, h):
        self.op(0x07, struct.pack('>2h', v, h))

    def poly(self, points, fill=True):
        vs = [p[0] for p in points]
        hs = [p[1] for p in points]
        body = rect(min(vs), min(hs), max(vs), max(hs))
        body += b''.join(struct.pack('>2h', v, h) for v, h in points)
        self.op(0x71 if fill else 0x70, struct.pack('>h', 2 + len(body)) + body)

    def line(self, v0, h0, v1, h1):
        self.op(0x20, struct.pack('>4h', v0, h0, v1, h1))

    def gradient(self, box, top, bottom):
        """Direct pixels, 32 bits, rows packed plane by plane."""
        t, l, b, r = box
        w, h = r - l, b - t
        data = bytearray()
        for y in range(h):
            k = y / max(1, h - 1)
            rgb = [int(top[i] + (bottom[i] - top[i]) * k) >> 8 for i in range(3)]
            row = bytearray()
            for c in rgb:
                row += packbits(bytes([c]) * w)
            data += (struct.pack('>H', len(row)) if 4 * w > 250 else bytes([len(row)])) + row
        pixmap = struct.pack('>I', 0xFF) + struct.pack('>H', 0x8000 | 4 * w) + rect(0, 0, h, w)
        pixmap += struct.pack('>hhIIIhhhhIII', 0, 4, 0, 0x480000, 0x480000, 16, 32, 3, 8, 0, 0, 0)
        pixmap += rect(0, 0, h, w) + rect(*box) + struct.pack('>h', 0)
        self.op(0x9A, pixmap + data)

    def bytes(self):
        self.op(0xFF)
        head = rect(0, 0, H, W) + struct.pack('>HH', 0x0011, 0x02FF)
        head += struct.pack('>H', 0x0C00) + struct.pack('>hhII', -2, 0, 0x480000, 0x480000)
        head += rect(0, 0, H, W) + b'\0' * 4
        head += struct.pack('>H', 0x0001) + struct.pack('>h', 10) + rect(0, 0, H, W)
        body = head + self.ops
        return struct.pack('>H', (2 + len(body)) & 0xFFFF) + body


def packbits(raw):
    out = bytearray()
    i = 0
    while i < len(raw):
        run = 1
        while i + run < len(raw) and run < 128 and raw[i + run] == raw[i]:
            run += 1
        if run > 1:
            out += bytes([257 - run, raw[i]])
            i += run
        else:
            j = i
            while j < len(raw) and j - i < 128 and (j + 1 >= len(raw) or raw[j + 1] != raw[j]):
                j += 1
            j = max(j, i + 1)
            out += bytes([j - i - 1]) + raw[i:j]
            i = j
    return bytes(out)


def sunrise():
    p = Pict()
    p.gradient((0, 0, 110, W), (0x2000, 0x3000, 0x9000), (0xFF00, 0xB000, 0x6000))
    p.color(0xFFFF, 0xE000, 0x3000)
    p.paint_oval(70, 95, 130, 155)
    p.color(0x2000, 0x7000, 0x2000)
    p.poly([(160, 0), (100, 0), (85, 50), (105, 110), (80, 180), (100, 240), (160, 240), (160, 0)])
    p.color(0x1000, 0x5000, 0x1000)
    p.poly([(160, 0), (125, 0), (115, 90), (135, 160), (120, 240), (160, 240), (160, 0)])
    return p


def shapes():
    p = Pict()
    p.color(0xF800, 0xF800, 0xF000)
    p.paint_rect(0, 0, H, W)
    p.color(0xD000, 0x2000, 0x2000)
    p.paint_rect(20, 20, 70, 100)
    p.color(0x2000, 0x5000, 0xC000)
    p.paint_oval(20, 130, 80, 220)
    p.color(0xE000, 0xA000, 0x0000)
    p.paint_round((90, 20, 140, 100), 20, 20)
    p.color(0x3000, 0x9000, 0x3000)
    p.paint_arc((90, 130, 150, 190), 45, 270)
    p.color(0, 0, 0)
    p.pen(3, 3)
    p.frame_rect(10, 10, 150, 230)
    p.pen(1, 1)
    p.frame_oval(95, 195, 125, 225)
    return p


def night():
    p = Pict()
    p.gradient((0, 0, H, W), (0x0000, 0x0000, 0x2000), (0x2000, 0x1000, 0x5000))
    p.color(0xFFFF, 0xFFFF, 0xE000)
    p.paint_oval(20, 160, 70, 210)
    p.color(0x0000, 0x0000, 0x2800)
    p.paint_oval(14, 172, 64, 222)
    p.color(0xFFFF, 0xFFFF, 0xFFFF)
    for i in range(40):
        v, h = (i * 37) % 140, (i * 71 + 13) % 230
        p.paint_oval(v, h, v + 2 + i % 2, h + 2 + i % 2)
    p.color(0x1000, 0x1000, 0x1000)
    p.poly([(160, 0), (130, 0), (130, 30), (115, 30), (115, 60), (135, 60), (135, 100), (105, 100),
            (105, 130), (125, 130), (125, 240), (160, 240), (160, 0)])
    return p


def waves():
    p = Pict()
    p.gradient((0, 0, H, W), (0xC000, 0xE800, 0xFFFF), (0x0000, 0x4000, 0x9000))
    for k in range(6):
        v = 30 + 22 * k
        p.color(0xFFFF - 0x2000 * k, 0xFFFF - 0x1800 * k, 0xFFFF)
        p.pen(2, 2)
        for x in range(-20, W, 40):
            p.op(0x60, rect(v - 10, x, v + 10, x + 40) + struct.pack('>2h', 270, 180))
    return p


def rings():
    p = Pict()
    p.color(0x1000, 0x1000, 0x1800)
    p.paint_rect(0, 0, H, W)
    colours = [(0xFFFF, 0x3000, 0x3000), (0xFFFF, 0x9000, 0x0000), (0xFFFF, 0xE000, 0x0000),
               (0x3000, 0xC000, 0x3000), (0x3000, 0x6000, 0xFFFF), (0x9000, 0x3000, 0xE000)]
    for i, c in enumerate(colours):
        p.color(*c)
        d = 12 * i
        p.paint_oval(10 + d, 50 + d, 150 - d, 190 - d)
    return p


def tone(freqs, ms=180, rate=11025):
    n = rate * ms // 1000
    samples = bytearray()
    for i in range(n):
        t = i / rate
        env = min(1.0, i / 200) * min(1.0, (n - i) / 400)
        f = freqs[min(len(freqs) - 1, i * len(freqs) // n)]
        samples.append(128 + int(90 * env * math.sin(2 * math.pi * f * t)))
    head = struct.pack('>hhhIh', 1, 1, 5, 0, 1) + struct.pack('>HhI', 0x8051, 0, 20)
    head += struct.pack('>IIIIIBB', 0, n, rate << 16, 0, 0, 0, 60)
    return head + bytes(samples)


def main():
    for name, make in (('sunrise', sunrise), ('shapes', shapes), ('night', night), ('waves', waves),
                       ('rings', rings)):
        with open(os.path.join(HERE, name + '.pict'), 'wb') as f:
            f.write(make().bytes())
    notes = {'c': 523, 'e': 659, 'g': 784, 'a': 880, 'hc': 1047}
    for i, chord in enumerate((['c'], ['e'], ['g'], ['a'], ['c', 'e', 'g', 'hc'])):
        with open(os.path.join(HERE, 'page%d.snd' % (i + 1)), 'wb') as f:
            f.write(tone([notes[n] for n in chord]))


if __name__ == '__main__':
    main()
