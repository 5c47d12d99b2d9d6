#!/usr/bin/env python3
"""Reference maps for the end-to-end test, made with Python's zlib.

reference_maps.py OUT_DIR writes OUT_DIR/maps.sql, which makes the table "Maps"
of a server database in the sqlcipher shell, and OUT_DIR/expected/, the map
files that a dump of that database must write: each named after its number and
name (rebuilt without the nine characters file names may not hold where the name
has one) and holding the expanded record.
"""
import os
import random
import struct
import sys
import zlib

MAPS = 300
UNUSABLE = '"*/:<>?\\|'
SCHEMA = "CREATE TABLE Maps (Number INTEGER, Data BLOB);\nCREATE INDEX Number ON Maps (Number);\n"


def record(rng, number):
    """A map record: a name of up to 30 characters, then a tile grid."""
    name = rng.choice(["Harbour", "Old  Town", "Caf\xe9 Noir", "a/b:c?", "Desert", "<Keep>", "x*y|z",
                       'say "hi"', "back\\slash", "#%&[]{"]) + " %d" % number
    head = name.encode("cp1252")
    head = b" " * rng.randrange(3) + head
    head = head.ljust(30, b"\0" if number % 7 == 0 else b" ")[:30]
    tile = bytes(rng.randrange(8) for _ in range(16))
    body = b"".join(tile[: rng.randrange(1, 17)] + bytes([rng.randrange(256)]) for _ in range(rng.randrange(1, 600)))
    return head + body


def file_name(number, rec):
    name = rec[:30].strip(b" ").split(b"\0")[0].decode("cp1252")
    if any(c in UNUSABLE for c in name):
        name = "".join("_" if c in UNUSABLE else c for c in name)
    return "Map #%d - %s.map4" % (number, name)


def main(out):
    rng = random.Random(7)
    expected = os.path.join(out, "expected")
    os.makedirs(expected)
    numbers = rng.sample(range(1, 3001), MAPS - 1) + [3000]
    rows = []
    for number in numbers:
        rec = record(rng, number)
        rows.append((number, rec))
        with open(os.path.join(expected, file_name(number, rec)), "wb") as f:
            f.write(rec)
    # Rows that have no file: outside the slots, or a blank name.
    rows += [(0, b"zero".ljust(40)), (3001, b"past".ljust(40)), (-5, b"neg".ljust(40))]
    rows.append((rng.choice([n for n in range(1, 3001) if n not in numbers]), b" " * 40))
    with open(os.path.join(out, "maps.sql"), "w") as sql:
        sql.write(SCHEMA + "BEGIN;\n")
        for number, rec in rows:
            blob = struct.pack("<i", len(rec)) + zlib.compress(rec)
            sql.write("INSERT INTO Maps VALUES (%d, X'%s');\n" % (number, blob.hex()))
        sql.write("COMMIT;\n")


if __name__ == "__main__":
    main(sys.argv[1])
