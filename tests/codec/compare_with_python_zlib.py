#!/usr/bin/env python3
"""Checks the codec against Python's zlib module: over a few hundred inputs of
varied sizes and contents, every blob must be byte-identical to a 4-byte
little-endian length followed by zlib.compress(data), and must expand back.

Usage: compare_with_python_zlib.py <codec peer filter program>
"""
import random
import struct
import subprocess
import sys
import zlib

SIZES = [1, 2, 3, 4, 5, 11, 12, 13, 50, 63, 64, 65, 150, 250, 255, 256, 257, 1000,
         1023, 1024, 1025, 4095, 4096, 4097, 16383, 16384, 16385, 32767, 32768,
         32769, 65535, 65536, 65537, 100000, 262144]


def random_bytes(rng, n):
    return rng.randbytes(n)


def zeros(rng, n):
    return bytes(n)


def nul_heavy(rng, n):
    data = bytearray(n)
    for _ in range(n // 20 + 1):
        data[rng.randrange(n)] = rng.randrange(1, 256)
    return bytes(data)


def all_byte_values(rng, n):
    start = rng.randrange(256)
    cycle = bytes(range(start, 256)) + bytes(range(start))
    return (cycle * (n // 256 + 1))[:n]


def repetitive_text(rng, n):
    phrase = b"The quick brown fox jumps over the lazy dog. "
    return (phrase * (n // len(phrase) + 1))[:n]


def small_alphabet(rng, n):
    return rng.randbytes(n).translate(b"ACGT" * 64)


def map_like(rng, n):
    """A 30-character name, then runs of 16-bit tile numbers with some noise."""
    record = bytearray(b"Map %-26d" % rng.randrange(1, 3001))
    while len(record) < n:
        record += struct.pack("<H", rng.randrange(1, 400)) * rng.randrange(1, 14)
        if rng.random() < 0.3:
            record += rng.randbytes(2)
    return bytes(record[:n])


CONTENTS = [random_bytes, zeros, nul_heavy, all_byte_values, repetitive_text,
            small_alphabet, map_like]


def inputs():
    for size in SIZES:
        for make in CONTENTS:
            yield make.__name__, make(random.Random(size * 131 + len(make.__name__)), size)
    big = random.Random(7)
    yield "random_bytes", random_bytes(big, 1 << 20)
    for size in (1048575, 1048576, 1048577):
        yield "map_like", map_like(big, size)
    yield "random_bytes", random_bytes(big, 2 << 20)
    yield "map_like", map_like(big, (4 << 20) + 3)
    yield "zeros", zeros(big, 4 << 20)


def request(operation, kind, data, orig_size=0):
    return operation + kind + struct.pack("<iI", orig_size, len(data)) + data


def main():
    filter_program = sys.argv[1]
    requests = []
    checks = []  # (what, expected answer: bytes or failure number)

    def ask(what, operation, kind, data, expected, orig_size=0):
        requests.append(request(operation, kind, data, orig_size))
        checks.append((what, expected))

    count = 0
    for index, (content, data) in enumerate(inputs()):
        count += 1
        n = len(data)
        stream = zlib.compress(data)
        blob = struct.pack("<i", n) + stream
        what = f"{content} of {n} bytes"
        kinds = (b"s", b"a") if n <= 65537 else ((b"s", b"a")[index % 2],)
        for kind in kinds:
            ask(what + " compressed", b"c", kind, data, blob)
            ask(what + " expanded", b"u", kind, blob, data)
        if n <= 65537:
            kind = (b"s", b"a")[index % 2]
            ask(what + " compressed bare", b"C", kind, data, blob)
            ask(what + " expanded bare", b"U", kind, stream, data, n)
            shorter = n // 2 + 1
            ask(what + " behind a smaller prefix", b"u", kind,
                struct.pack("<i", shorter) + stream, data[:shorter])
            padded = data + bytes(10) if kind == b"a" else data
            ask(what + " behind a larger prefix", b"u", kind, struct.pack("<i", n + 10) + stream, padded)

    ask("empty string compressed", b"c", b"s", b"", b"")
    ask("empty array expanded", b"u", b"a", b"", b"")
    ask("prefixed blob read as bare", b"U", b"s", struct.pack("<i", 3) + zlib.compress(b"abc"), 1010, 3)

    result = subprocess.run([filter_program], input=b"".join(requests), capture_output=True, check=True)
    answers = memoryview(result.stdout)
    failures = 0
    for what, expected in checks:
        status = answers[0]
        if status == 0:
            length = struct.unpack_from("<I", answers, 1)[0]
            got = bytes(answers[5:5 + length])
            answers = answers[5 + length:]
        else:
            got = struct.unpack_from("<I", answers, 1)[0]
            answers = answers[5:]
        if got != expected:
            failures += 1
            shown = got if isinstance(got, int) else f"{len(got)} bytes {got[:16].hex()}..."
            print(f"MISMATCH: {what}: got {shown}", file=sys.stderr)
    if len(answers) != 0:
        print(f"{len(answers)} bytes of answers left over", file=sys.stderr)
        failures += 1
    print(f"{count} inputs, {len(checks)} checks, {failures} mismatches")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
