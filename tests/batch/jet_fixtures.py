#!/usr/bin/env python3
"""corvald-batch on Jet databases that another Jet library made, one case a row:
its exit code and last message, the map list against the manifest, every
dumped file's name and SHA-256 against the manifest, the OLE dump against
mdb-export's bytes expanded by Python's zlib, and the database byte-identical
with nothing written beside it but the "Maps" folder.

Usage: jet_fixtures.py <corvald-batch> <fixtures folder>"""
import csv
import hashlib
import io
import os
import shutil
import subprocess
import sys
import tempfile
import zlib

BATCH, FIXTURES = sys.argv[1:3]
PAGE = 4096
csv.field_size_limit(1 << 30)


def manifest_maps():
    """Slot number -> (SHA-256, first bytes) of each map the load keeps: the last row of a number wins."""
    maps = {}
    with open(os.path.join(FIXTURES, "manifest.tsv")) as rows:
        for row in csv.reader((line for line in rows if not line.startswith("#")), delimiter="\t"):
            if 1 <= int(row[0]) <= 3000:
                maps[int(row[0])] = (row[2], bytes.fromhex(row[3]))
    return {n: m for n, m in maps.items() if m[1][:30].strip(b" ")}


def text(data):
    """Windows-1252, the five undefined bytes standing as the same code point."""
    return "".join(chr(b) if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([b]).decode("cp1252") for b in data)


def shown(start):
    return text(start[:30].strip(b" ").split(b"\0")[0])


def file_name(number, name):
    if any(c in '"*/:<>?\\|' for c in name):  # a name the file system rejects
        name = "".join("_" if c in '"*/:<>?\\|' else c for c in name)
    return f"Map #{number} - {name}.map4"


def expected_dump():
    return {file_name(n, shown(start)): sha for n, (sha, start) in manifest_maps().items()}


def expected_list():
    return "Number of maps found: 45\n" + "".join(f"Map #{n}: {shown(s)}\n" for n, (_, s) in sorted(manifest_maps().items()))


def dumped(folder):
    maps = os.path.join(folder, "Maps")
    return {name: hashlib.sha256(open(os.path.join(maps, name), "rb").read()).hexdigest() for name in os.listdir(maps)}


def exported_records():
    """Slot number -> record, from mdb-export's hex blobs expanded by zlib after their 4-byte length."""
    out = subprocess.run(["mdb-export", "-b", "hex", os.path.join(FIXTURES, "maps-ole.mdb"), "Maps"],
                         check=True, capture_output=True, text=True).stdout
    records = {}
    for number, data in list(csv.reader(io.StringIO(out)))[1:]:
        blob = bytes.fromhex(data)
        if 1 <= int(number) <= 3000:
            records[int(number)] = zlib.decompress(blob[4:]) if blob else b""
    return records


def cut(size):
    return lambda data: data[:size]


def flipped(start, count):
    return lambda data: data[:start] + bytes(b ^ 0xFF for b in data[start:start + count]) + data[start + count:]


def run_case(name, fixture, damage, arguments, code, message, expect):
    with tempfile.TemporaryDirectory() as folder:
        database = damage(open(os.path.join(FIXTURES, fixture), "rb").read())
        open(os.path.join(folder, "server.dat"), "wb").write(database)
        open(os.path.join(folder, "server.tmp"), "wb").write(b"left from before")
        if arguments[-1] == "convert":
            os.mkdir(os.path.join(folder, "Maps"))
            open(os.path.join(folder, "Maps", "Map #1 - One.map4"), "wb").write(b"One")
        before = dumped(folder) if arguments[-1] == "convert" else {}
        run = subprocess.run([BATCH, *arguments, folder], capture_output=True, text=True)
        errors = []
        if run.returncode != code:
            errors.append(f"exit code {run.returncode}, not {code}: {run.stderr}")
        last = run.stderr.strip().split("\n")[-1] if run.stderr.strip() else ""
        if last != message:
            errors.append(f"last message {last!r}, not {message!r}")
        if open(os.path.join(folder, "server.dat"), "rb").read() != database:
            errors.append("server.dat changed")
        if sorted(os.listdir(folder)) != ["Maps", "server.dat", "server.tmp"]:
            errors.append(f"the folder holds {sorted(os.listdir(folder))}")
        if arguments[-1] != "dump" and dumped(folder) != before:
            errors.append("the Maps folder changed")
        if expect == "list" and run.stdout != expected_list():
            errors.append(f"listed lines other than expected: {set(run.stdout.split(chr(10))) ^ set(expected_list().split(chr(10)))}")
        if expect == "dump" and dumped(folder) != expected_dump():
            errors.append(f"dumped files other than expected: {sorted(set(dumped(folder).items()) ^ set(expected_dump().items()))}")
        if expect == "nothing" and os.listdir(os.path.join(folder, "Maps")):
            errors.append("map files were written")
        if expect == "export":
            records = {n: r for n, r in exported_records().items() if r[:30].strip(b" ")}
            files = {file_name(n, shown(r)): r for n, r in records.items()}
            got = {f: open(os.path.join(folder, "Maps", f), "rb").read() for f in os.listdir(os.path.join(folder, "Maps"))}
            if got != files:
                errors.append("the dump differs from mdb-export's blobs expanded by zlib")
        return [f"{name}: {error}" for error in errors]


def same(data):
    return data


WRONG = "corvald-batch: Unexpected error #3031: Wrong password for the database 'server.dat'."
REFUSED = ("corvald-batch: Error: File 'server.dat' is a Jet database, which this program reads but does not "
           "write. No map was converted.")
DAMAGED = "corvald-batch: Unexpected error #3049: The database 'server.dat' is damaged."
CASES = [
    # name, fixture, damage, arguments, exit code, last message on stderr, what else to check
    ("OLE list", "maps-ole.mdb", same, ["-q", "list"], 0, "", "list"),
    ("Memo list", "maps-memo.mdb", same, ["-q", "list"], 0, "", "list"),
    ("OLE dump", "maps-ole.mdb", same, ["-q", "dump"], 0, "", "dump"),
    ("Memo dump", "maps-memo.mdb", same, ["-q", "dump"], 0, "", "dump"),
    ("OLE dump against mdb-export", "maps-ole.mdb", same, ["-q", "dump"], 0, "", "export"),
    ("no password", "no-password.mdb", same, ["-q", "list"], 0, "", None),
    ("another password", "other-password.mdb", same, ["-q", "list"], 1, WRONG, None),
    ("empty table", "empty.mdb", same, ["-q", "dump"], 0, "", "nothing"),
    ("NULL Data", "null-data.mdb", same, ["-q", "dump"], 1, "corvald-batch: Unexpected error #94: Invalid use of Null", "nothing"),
    ("convert", "maps-ole.mdb", same, ["-q", "convert"], 1, REFUSED, None),
    ("Access 2007 format", "no-password.mdb", lambda d: d[:4] + b"Standard ACE DB" + d[19:], ["-q", "list"], 1,
     "corvald-batch: Unexpected error #3170: The file 'server.dat' is an Access database of a later format, which "
     "this program does not read.", None),
    ("cut inside the long values", "maps-ole.mdb", cut(60 * PAGE), ["-q", "dump"], 1, DAMAGED, "nothing"),
    ("cut inside a page", "maps-ole.mdb", cut(60 * PAGE + 1000), ["-q", "dump"], 1, DAMAGED, "nothing"),
    ("bytes flipped in the data page", "maps-ole.mdb", flipped(28 * PAGE + 3000, 16), ["-q", "dump"], 1,
     "corvald-batch: Error loading maps table!", "nothing"),
    ("bytes flipped in a long value", "maps-ole.mdb", flipped(40 * PAGE + 2000, 16), ["-q", "dump"], 1,
     "corvald-batch: Unexpected error #1010: The map data is damaged", "nothing"),
]

failures = [error for case in CASES for error in run_case(*case)]
print("\n".join(failures))
print(f"{len(CASES) - len({f.split(':')[0] for f in failures})} passed, {len({f.split(':')[0] for f in failures})} failed")
sys.exit(1 if failures else 0)
