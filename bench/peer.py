"""A plain peer for the benchmark: the program's load, dump and convert written
straightforwardly with Python's sqlite3 and zlib, over an unencrypted copy of
the maps table ("plain.db") and a "Maps" folder of map files.

    python3 peer.py <folder>

Prints "startup" (the load), "dump", "redump" (the same dump again, over its
files) and "convert" with the seconds each took.
"""

import os
import struct
import sqlite3
import sys
import time
import zlib

MAX_MAPS = 3000
NAME_LEN = 30


def load(database):
    """Every map numbered 1 to MAX_MAPS, expanded, with its trimmed name."""
    maps = {}
    for number, blob in database.execute("SELECT Number, Data FROM Maps ORDER BY Number"):
        if 1 <= number <= MAX_MAPS and blob:
            (length,) = struct.unpack_from("<i", blob)
            record = zlib.decompress(memoryview(blob)[4:], bufsize=length)
            maps[number] = (record[:NAME_LEN].decode("latin-1").strip(" "), record)
    return maps


def dump(maps, folder):
    """Each map into its own file."""
    os.makedirs(folder, exist_ok=True)
    for number, (name, record) in sorted(maps.items()):
        with open(os.path.join(folder, f"Map #{number} - {name}.map4"), "wb") as out:
            out.write(record)


def convert(database, folder):
    """Each map file compressed and stored under its number, one commit per file."""
    converted = 0
    for entry in sorted(os.listdir(folder)):
        if not entry.lower().endswith(".map4"):
            continue
        number = int(entry[5:].split(" ", 1)[0])
        with open(os.path.join(folder, entry), "rb") as source:
            record = source.read()
        blob = struct.pack("<i", len(record)) + zlib.compress(record)
        found = database.execute("SELECT rowid FROM Maps WHERE Number = ? LIMIT 1", (number,)).fetchone()
        if found is None:
            database.execute("INSERT INTO Maps (Number, Data) VALUES (?, ?)", (number, blob))
        else:
            database.execute("UPDATE Maps SET Data = ? WHERE rowid = ?", (blob, found[0]))
        database.commit()
        converted += 1
    return converted


def main():
    folder = sys.argv[1]
    database = sqlite3.connect(os.path.join(folder, "plain.db"))
    # Each timing starts once earlier writes are on disk, as the program's do.
    os.sync()
    start = time.perf_counter()
    maps = load(database)
    print("startup", time.perf_counter() - start)
    # As the program is measured: into a new folder, then over the files written.
    for name in ("dump", "redump"):
        os.sync()
        start = time.perf_counter()
        dump(maps, os.path.join(folder, "Dumped"))
        print(name, time.perf_counter() - start)
    os.sync()
    start = time.perf_counter()
    convert(database, os.path.join(folder, "Maps"))
    print("convert", time.perf_counter() - start)
    database.close()


if __name__ == "__main__":
    main()
