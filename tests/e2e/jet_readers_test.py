#!/usr/bin/env python3
"""The outside Jet readers of jet_readers.py proved on the fixtures: each fixture held against the rows that its
manifest gives finds nothing, and a wrong byte, a missing row, two rows of one number swapped, a wrong password and
a file cut short are each found, by every reader that can see them."""
import os
import shutil
import sys
import tempfile

from common import check, failures
from jet_manifest import fixture, fixture_rows
from jet_readers import check_jet_file, oracle_available

READERS = ["mdb-reader", "mdb-export", "jetcheck rows"]


def agreeing():
    for name in ("maps-ole.mdb", "maps-memo.mdb", "maps-scores.mdb", "maps-3000.mdb", "empty.mdb", "maps-deleted.mdb",
                 "maps-extra-field.mdb", "maps-two-indexes.mdb"):
        kind = "memo" if name == "maps-memo.mdb" else "ole"
        found = check_jet_file(fixture(name), fixture_rows(name), kind=kind)
        check(not found, f"{name}: {found}")


def planted():
    rows = fixture_rows("maps-ole.mdb")
    elevens = [i for i, (n, _) in enumerate(rows) if n == 11]
    swapped = list(rows)
    swapped[elevens[0]], swapped[elevens[1]] = rows[elevens[1]], rows[elevens[0]]
    n, data = rows[20]
    wrong = rows[:20] + [(n, data[:-1] + bytes([data[-1] ^ 1]))] + rows[21:]
    # mdb-export ends a Memo at its first NUL, before the bytes that tell map 11's rows apart.
    memo_swapped = [r for r in READERS if r != "mdb-export"]
    with tempfile.TemporaryDirectory() as folder:
        cut = os.path.join(folder, "cut.mdb")
        shutil.copy(fixture("maps-ole.mdb"), cut)
        os.truncate(cut, os.path.getsize(cut) - 1000)
        ole, memo = fixture("maps-ole.mdb"), fixture("maps-memo.mdb")
        cases = [  # what, file, rows, password, kind, the readers that must find it
            ("a wrong byte", ole, wrong, "brevola", "ole", READERS),
            ("a missing row", ole, rows[:7] + rows[8:], "brevola", "ole", READERS),
            ("map 11's rows swapped", ole, swapped, "brevola", "ole", READERS),
            ("Memo: map 11's rows swapped", memo, swapped, "brevola", "memo", memo_swapped),
            ("a Memo taken for OLE", memo, rows, "brevola", "ole", ["mdb-reader", "mdb-export"]),
            ("a wrong password", ole, rows, "swordfish", "ole", ["mdb-reader failed", "jetcheck failed"]),
            ("a file cut short", cut, rows, "brevola", "ole", ["size "]),
        ]
        for what, path, expected, password, kind, finders in cases:
            found = check_jet_file(path, expected, password, kind)
            print(f"{what}: {found}")
            for finder in finders if oracle_available() else [f for f in finders if not f.startswith("jetcheck")]:
                check(any(line.startswith(finder) for line in found), f"{what}: not found by {finder}: {found}")


if __name__ == "__main__":
    agreeing()
    planted()
    print(f"jet_readers: {len(failures)} failed checks")
    sys.exit(1 if failures else 0)
