#!/usr/bin/env python3
"""Writes the benchmark corpus into a folder: text, an executable-like
binary, 16-bit PCM audio, an uncompressed bitmap and random bytes, about
4.5 MB in all. Seeded, so every run writes the same bytes.

With --real, copies instead a few text and binary files of this machine
(Debian 12 with the project's packages) into the folder: real data, whose
exact bytes depend on the installed versions."""
import math
import random
import struct
import sys
from pathlib import Path


def zipf_choice(rng, items, weights_cum):
    x = rng.random() * weights_cum[-1]
    lo, hi = 0, len(weights_cum) - 1
    while lo < hi:
        mid = (lo + hi) // 2
        if weights_cum[mid] < x:
            lo = mid + 1
        else:
            hi = mid
    return items[lo]


def cumulative(n, s=1.1):
    acc, out = 0.0, []
    for i in range(n):
        acc += 1.0 / (i + 1) ** s
        out.append(acc)
    return out


def make_text(rng, size):
    letters = "etaoinshrdlucmfwypvbgkqjxz"
    lcum = cumulative(len(letters), 0.9)
    words = set()
    while len(words) < 3000:
        n = max(1, min(12, int(rng.gauss(5, 2.2))))
        words.add("".join(zipf_choice(rng, letters, lcum) for _ in range(n)))
    words = sorted(words)
    rng.shuffle(words)
    wcum = cumulative(len(words))
    out, line = [], 0
    text_len = 0
    while text_len < size:
        sentence = [zipf_choice(rng, words, wcum) for _ in range(rng.randint(4, 18))]
        sentence[0] = sentence[0].capitalize()
        s = " ".join(sentence) + rng.choice([".", ".", ".", ",", "?", ";"]) + " "
        for w in s.split(" "):
            if not w:
                continue
            if line + len(w) > 72:
                out.append("\n")
                text_len += 1
                line = 0
            out.append(w + " ")
            line += len(w) + 1
            text_len += len(w) + 1
        if rng.random() < 0.08:
            out.append("\n\n")
            line = 0
            text_len += 2
    return "".join(out).encode("ascii")[:size]


def make_exe(rng, size):
    # A code section of instruction-like templates with small operands and
    # calls into a function table, then strings and pointer tables.
    templates = [
        b"\x55\x8b\xec", b"\x8b\x45", b"\x8b\x4d", b"\x89\x45", b"\x83\xec", b"\x83\xc4",
        b"\x50", b"\x51", b"\x52", b"\x53", b"\x56", b"\x57", b"\x5f", b"\x5e", b"\x5b",
        b"\xc9\xc3", b"\xc3", b"\x33\xc0", b"\x85\xc0\x74", b"\x85\xc0\x75", b"\x6a",
        b"\xe8", b"\xff\x15", b"\x8d\x45", b"\x3b\xc1\x7c", b"\x0f\xb6", b"\xc7\x45",
    ]
    tcum = cumulative(len(templates), 0.8)
    code = bytearray()
    functions = [0x401000 + rng.randrange(0, 0x40000) for _ in range(400)]
    fcum = cumulative(len(functions), 1.0)
    code_size = size * 2 // 3
    while len(code) < code_size:
        t = zipf_choice(rng, templates, tcum)
        code += t
        if t == b"\xe8":
            target = zipf_choice(rng, functions, fcum)
            code += struct.pack("<i", target - (0x401000 + len(code) + 4))
        elif t == b"\xff\x15":
            code += struct.pack("<I", 0x450000 + 4 * rng.randrange(0, 120))
        elif t in (b"\xc7\x45",):
            code += bytes([rng.choice([0xf8, 0xfc, 0xf4, 0x08, 0x0c])]) + struct.pack("<I", rng.choice([0, 1, 0xffffffff, rng.randrange(0, 4096)]))
        elif t[-1:] in (b"\x45", b"\x4d", b"\xec", b"\xc4", b"\x6a", b"\x74", b"\x75", b"\x7c", b"\xb6"):
            code += bytes([rng.choice([4, 8, 0x0c, 0x10, 0xfc, 0xf8, 0xf4, rng.randrange(256)])])
        if rng.random() < 0.02:
            code += b"\xcc" * rng.randrange(1, 16)
    data = bytearray(code[:code_size])
    names = ["GetProcAddress", "LoadLibraryA", "CreateFileA", "ReadFile", "WriteFile", "CloseHandle",
             "RegOpenKeyExA", "RegSetValueExA", "MessageBoxA", "SendMessageA", "GetDlgItem"]
    while len(data) < size * 5 // 6:
        data += rng.choice(names).encode() + b"\0"
        if rng.random() < 0.3:
            data += b"\0" * rng.randrange(1, 8)
    base = 0x410000
    while len(data) < size:
        base += rng.choice([4, 8, 12, 16, 0x20])
        data += struct.pack("<I", base)
    return bytes(data[:size])


def make_audio(rng, seconds):
    rate, channels = 44100, 2
    frames = int(rate * seconds)
    out = bytearray()
    notes = [220.0, 277.18, 329.63, 440.0, 554.37, 659.25]
    phase = [0.0] * 4
    freqs = [notes[0], notes[2], notes[1], notes[3]]
    noise = 0.0
    for i in range(frames):
        if i % 11025 == 0:
            freqs = [rng.choice(notes) * rng.choice([0.5, 1, 2]) for _ in range(4)]
        env = 0.5 + 0.5 * math.sin(2 * math.pi * i / 22050.0)
        sample = 0.0
        for k in range(4):
            phase[k] += 2 * math.pi * freqs[k] / rate
            sample += math.sin(phase[k]) / (k + 1)
        noise = 0.9 * noise + rng.gauss(0, 0.004)
        left = int(9000 * env * sample + 3000 * noise)
        right = int(7000 * env * sample * 0.8 + 2500 * noise)
        out += struct.pack("<hh", max(-32768, min(32767, left)), max(-32768, min(32767, right)))
    header = b"RIFF" + struct.pack("<I", 36 + len(out)) + b"WAVEfmt " + struct.pack(
        "<IHHIIHH", 16, 1, channels, rate, rate * channels * 2, channels * 2, 16) + b"data" + struct.pack("<I", len(out))
    return header + bytes(out)


def make_bitmap(rng, width, height):
    row = (width * 3 + 3) & ~3
    pixels = bytearray()
    circles = [(rng.randrange(width), rng.randrange(height), rng.randrange(20, 120),
                (rng.randrange(256), rng.randrange(256), rng.randrange(256))) for _ in range(12)]
    for y in range(height):
        line = bytearray()
        for x in range(width):
            r = (x * 255) // width
            g = (y * 255) // height
            b = ((x + y) * 127) // (width + height) + 64
            for cx, cy, cr, col in circles:
                if (x - cx) ** 2 + (y - cy) ** 2 < cr * cr:
                    r, g, b = col[0], col[1], col[2]
            n = rng.randrange(-3, 4)
            line += bytes([max(0, min(255, b + n)), max(0, min(255, g + n)), max(0, min(255, r + n))])
        pixels += line + b"\0" * (row - len(line))
    header = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54) + struct.pack(
        "<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + bytes(pixels)


REAL_FILES = [
    "/usr/share/common-licenses/GPL-3",
    "/usr/include/c++/12/bits/stl_algo.h",
    "/bin/bash",
    "/usr/lib/x86_64-linux-gnu/libstdc++.so.6",
]


def copy_real(out):
    for path in REAL_FILES:
        data = Path(path).read_bytes()
        (out / Path(path).name).write_bytes(data)
        print(f"{Path(path).name}: {len(data)} bytes")


def main():
    args = [a for a in sys.argv[1:] if a != "--real"]
    out = Path(args[0] if args else "build/corpus")
    out.mkdir(parents=True, exist_ok=True)
    if "--real" in sys.argv:
        copy_real(out)
        return
    rng = random.Random(20240601)
    files = {
        "text.txt": make_text(rng, 1200000),
        "program.exe": make_exe(rng, 900000),
        "audio.wav": make_audio(rng, 7.0),
        "picture.bmp": make_bitmap(rng, 512, 384),
        "random.bin": bytes(rng.getrandbits(8) for _ in range(300000)),
    }
    for name, data in files.items():
        (out / name).write_bytes(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
