#!/usr/bin/env python3
"""corvald-batch on Jet databases that another Jet library made, one case a row: its exit code and last
message, the list and every dumped file's name and SHA-256 against the manifest, the OLE dump against
mdb-export's blobs expanded by Python's zlib, and the database: compacted to the same rows with nothing but
"Maps" beside it, or, where the program does not write it, byte-identical beside an old "server.tmp". Usage: jet_fixtures.py <corvald-batch> <fixtures folder>"""
import csv
import hashlib
import io
import os
import struct
import subprocess
import sys
import tempfile
import zlib

from common import map_file, shown_name, terminal

BATCH, FIXTURES = sys.argv[1:3]
PAGE = 4096
csv.field_size_limit(1 << 30)


def kept(rows):
    """Slot number -> record start, of the rows the load keeps: numbers 1 to 3000, the last row of one winning."""
    maps = {int(number): start for number, start in rows if 1 <= int(number) <= 3000}
    return {n: start for n, start in maps.items() if start[:30].strip(b" ")}


MANIFEST = [line.rstrip("\n").split("\t") for line in open(os.path.join(FIXTURES, "manifest.tsv"))
            if not line.startswith("#")]
MAPS = kept((row[0], bytes.fromhex(row[3])) for row in MANIFEST)
SHA = {int(row[0]): row[2] for row in MANIFEST}


def exported():
    out = subprocess.run(["mdb-export", "-b", "hex", os.path.join(FIXTURES, "maps-ole.mdb"), "Maps"],
                         check=True, capture_output=True, text=True).stdout
    blobs = [(n, bytes.fromhex(data)) for n, data in list(csv.reader(io.StringIO(out)))[1:]]
    records = kept((n, zlib.decompress(blob[4:]) if blob else b"") for n, blob in blobs)
    return {map_file(n, r): hashlib.sha256(r).hexdigest() for n, r in records.items()}


EXPECTED = {
    "list": "Number of maps found: 45\n" + "".join(f"Map #{n}: {terminal(shown_name(s))}\n" for n, s in sorted(MAPS.items())),
    "dump": {map_file(n, s): SHA[n] for n, s in MAPS.items()},
    "export": exported(),
    "nothing": {},
    "untouched": {"Map #1 - One.map4": hashlib.sha256(b"One").hexdigest()},
}


def stored_rows(path):
    """The rows of Maps as mdb-export gives them, in index order."""
    out = subprocess.run(["mdb-export", "-b", "hex", path, "Maps"], check=True, capture_output=True, text=True).stdout
    return sorted(list(csv.reader(io.StringIO(out)))[1:], key=lambda row: int(row[0]))


def run_case(name, fixture, damage, command, code, message, expect, compacted):
    with tempfile.TemporaryDirectory() as folder:
        database = damage(open(os.path.join(FIXTURES, fixture), "rb").read())
        open(os.path.join(folder, "server.dat"), "wb").write(database)
        open(os.path.join(folder, "server.tmp"), "wb").write(b"old")
        os.mkdir(os.path.join(folder, "Maps"))
        if command == "convert":
            open(os.path.join(folder, "Maps", "Map #1 - One.map4"), "wb").write(b"One")
        run = subprocess.run([BATCH, "-q", command, folder], capture_output=True, text=True)
        maps = os.path.join(folder, "Maps")
        files = {f: hashlib.sha256(open(os.path.join(maps, f), "rb").read()).hexdigest() for f in os.listdir(maps)}
        got = run.stdout if expect == "list" else files
        last = (run.stderr.strip() or run.stdout.strip()).split("\n")[-1]
        # A file that the writer knows is compacted at start-up: the same rows in a new file, and
        # the old "server.tmp" gone; any other is left as it is.
        server = os.path.join(folder, "server.dat")
        if compacted:
            original = os.path.join(folder, "original.mdb")
            open(original, "wb").write(database)
            same_file = command == "convert" or stored_rows(server) == stored_rows(original)
            os.remove(original)
        else:
            same_file = open(server, "rb").read() == database
        left = ["Maps", "server.dat"] + ([] if compacted else ["server.tmp"])
        checks = [
            (run.returncode == code, f"exit code {run.returncode}, not {code}"),
            (last.endswith(message), f"last message {last!r}"),
            (same_file, "server.dat changed"),
            (sorted(os.listdir(folder)) == left, f"the folder: {os.listdir(folder)}"),
        ]
        if expect is not None and got != EXPECTED[expect]:
            wrong = got if expect == "list" else set(got.items()) ^ set(EXPECTED[expect].items())
            checks.append((False, f"other {expect}: {wrong}"))
        return [f"{name}: {error}" for passed, error in checks if not passed]


def flipped(start, count):
    return lambda data: data[:start] + bytes(b ^ 0xFF for b in data[start:start + count]) + data[start + count:]


def same(data):
    return data


def usage_map_of_maps(data):
    """Where the table Maps points at its map of used pages, and that map's page and row."""
    for start in range(0, len(data), PAGE):
        page = data[start:start + PAGE]
        if page[0] == 2 and "Number".encode("utf-16-le") in page and "Data".encode("utf-16-le") in page:
            return (start + 55, *divmod(struct.unpack_from("<I", page, 55)[0], 256))
    raise ValueError("no table Maps")


def unknown_usage_map(data):
    """The map marked as of a kind libmdb does not know, which sends it through the file page by page."""
    _, page, row = usage_map_of_maps(data)
    at = page * PAGE + (struct.unpack_from("<H", data, page * PAGE + 14 + 2 * row)[0] & 0x1FFF)
    return data[:at] + b"\xb8" + data[at + 1:]


def empty_usage_map(data):
    """The table pointing at the next row of the map's page, made to start where the map starts: empty."""
    pointer, page, row = usage_map_of_maps(data)
    damaged = bytearray(data)
    struct.pack_into("<I", damaged, pointer, page << 8 | row + 1)
    entry = page * PAGE + 14 + 2 * row
    damaged[entry + 2:entry + 4] = damaged[entry:entry + 2]
    return bytes(damaged)


CASES = [  # name, fixture, damage, command, exit code, end of standard error, what else must hold, compacted
    ("OLE list", "maps-ole.mdb", same, "list", 0, "", "list", True),
    ("Memo list", "maps-memo.mdb", same, "list", 0, "", "list", True),
    ("OLE dump", "maps-ole.mdb", same, "dump", 0, "", "dump", True),
    ("Memo dump", "maps-memo.mdb", same, "dump", 0, "", "dump", True),
    ("OLE dump against mdb-export", "maps-ole.mdb", same, "dump", 0, "", "export", True),
    ("no password", "no-password.mdb", same, "list", 0, "", None, True),
    ("another password", "other-password.mdb", same, "list", 1, "#3031: Wrong password for the database 'server.dat'.", None, False),
    ("empty table", "empty.mdb", same, "dump", 0, "", "nothing", True),
    ("NULL Data", "null-data.mdb", same, "dump", 1, "#94: Invalid use of Null", "nothing", True),
    ("convert", "maps-ole.mdb", same, "convert", 0, "1 Maps converted!", "untouched", True),
    ("Access 2007", "empty.mdb", lambda d: d[:4] + b"Standard ACE DB" + d[19:], "list", 1,
     "#3170: The file 'server.dat' is an Access database of a later format, which this program does not read.", None, False),
    ("cut inside the long values", "maps-ole.mdb", lambda d: d[:60 * PAGE], "dump", 1, "#3049: The database 'server.dat' is damaged.", "nothing", False),
    ("cut inside a page", "maps-ole.mdb", lambda d: d[:60 * PAGE + 1000], "dump", 1, "#3049: The database 'server.dat' is damaged.", "nothing", False),
    ("flipped in the data page", "maps-ole.mdb", flipped(28 * PAGE + 3000, 16), "dump", 1, "Error loading maps table!", "nothing", False),
    ("usage map of no known kind", "maps-ole.mdb", unknown_usage_map, "dump", 1, "Error loading maps table!", "nothing", False),
    ("usage map empty", "maps-ole.mdb", empty_usage_map, "dump", 1, "Error loading maps table!", "nothing", False),
    ("flipped in a long value", "maps-ole.mdb", flipped(40 * PAGE + 2000, 16), "dump", 1, "#1010: The map data is damaged", "nothing", True),
]

failures = [error for case in CASES for error in run_case(*case)]
failed = {failure.split(":")[0] for failure in failures}
print("\n".join(failures))
print(f"{len(CASES) - len(failed)} passed, {len(failed)} failed")
sys.exit(1 if failures else 0)
