#!/usr/bin/env python3
"""corvald-batch writing Jet 4 databases, run as a user runs it: start-up's compaction (the same rows in index
order, the file not larger, never absent, its mode, owner, group and link kept, other tables unchanged), convert's
rows (every row of a number replaced, a number without one added, the file replaced once at the end), the shapes it
must refuse and a wrong password. Each file written is held against the Jet oracle, mdb-export and mdb-reader, and
read back by the program. Usage: jet_write.py CASE (the programs come from the environment, see common.py)."""
import csv
import io
import os
import random
import re
import shutil
import subprocess
import sys

from common import MAP_FILE_NAMES, NOBODY, Folder, check, folder_files, main, map_file, named, shown_name, terminal
from jet_manifest import expanded, fixture, fixture_rows, map_data
from jet_pages import page_differences
from jet_readers import in_index_order, jet_file_holds, mdb_reader_rows, need_oracle, oracle_tables

FOLDER = ["Maps", "corvald-batch", "server.dat"]
NO_LEAK_CHECK = {"ASAN_OPTIONS": "detect_leaks=0"}  # LeakSanitizer cannot run under ptrace
WRONG_PASSWORD = "#3031: Wrong password for the database 'server.dat'."
# The name part of the file of each map that the cases dump: the manifest's (MAP_FILE_NAMES), those of the
# records they convert, and maps-3000.mdb's "Map <n>".
NAMES = {
    **MAP_FILE_NAMES,
    b"Caf\xe9 \x81\x8d\x8f\x90\x9d".ljust(30): "Caf\xe9 \x81\x8d\x8f\x90\x9d",
    b"x": "x",
    **{name.encode().ljust(30): name for name in ("Back again", "Seven", "Small", "New 1", "New 11", "New 50", "One",
                                                  "Eleven again", "Large again", "Huge", "New fifty", "New one")},
    **{f"Map {n}".encode().ljust(30): f"Map {n}" for n in range(1, 3001)},
}


def prepared(f, name, target=None):
    """`f`'s server.dat a copy of the fixture `name`, or a link to such a copy at `target`, beside an empty Maps;
    returns the path of the copy."""
    os.makedirs(f.maps)
    real = os.path.join(f.folder, target or "server.dat")
    os.makedirs(os.path.dirname(real), exist_ok=True)
    shutil.copy(fixture(name), real)
    if target:
        os.symlink(target, f.db)
    return real


def written_holds(path, expected, what, **readers):
    """The outside readers find `expected` in the file the program wrote, and its pages count it and mark what
    they free."""
    held = jet_file_holds(path, expected, what, **readers)
    for difference in page_differences(path, expected):
        held = check(False, f"{what}: {difference}")
    return held


def converted(rows, files):
    """The rows in index order after a convert of `files` ({file name: record}) into `rows`: every row of a file's
    number gets its data, a number without a row gets one. Files of one number are taken in name order, and their
    names differ in small letters only, which every collation orders alike."""
    rows = list(rows)
    for name in sorted(files):
        n = int(re.match(r"Map #(-?\d+) - ", name)[1])
        data = map_data(files[name])
        if any(m == n for m, _ in rows):
            rows = [(m, data if m == n else d) for m, d in rows]
        else:
            rows.append((n, data))
    return in_index_order(rows)


def convert(f, files, what):
    """Runs convert with `files` alone in Maps; true when it says it converted them all."""
    for name in os.listdir(f.maps):
        os.remove(os.path.join(f.maps, name))
    f.write_maps(files)
    run = f.run("-q", "convert", timeout=600)
    return check((run.returncode, run.stdout) == (0, f"{len(files)} Maps converted!\n".encode()),
                 f"{what}: convert: {run.returncode} {run.stdout[-100:]} {run.stderr[-300:]}")


def loaded(rows):
    """Slot -> record of the maps that the program lists and dumps from `rows` in index order: numbers 1 to 3000,
    the last row of a number winning, a blank name left out."""
    slots = {n: expanded(data) for n, data in rows if 1 <= n <= 3000}
    return {n: record for n, record in slots.items() if record[:30].strip(b" ")}


def listing(rows):
    return f"Number of maps found: {len(rows)}\n" + "".join(
        f"Map #{n}: {terminal(shown_name(record))}\n" for n, record in sorted(loaded(rows).items()))


def read_back(f, rows, what, names=NAMES, wrap=()):
    """The program's own reading of the file (list, then dump into an empty Maps) gives `rows`, the dumped files
    named by `names`."""
    run = f.run("-q", "list", timeout=600, wrap=wrap)
    check(run.returncode == 0 and run.stdout.decode() == listing(rows), f"{what}: list: {run.stderr[-300:]}")
    for name in os.listdir(f.maps):
        os.remove(os.path.join(f.maps, name))
    run = f.run("-q", "dump", timeout=600, wrap=wrap)
    check(run.returncode == 0, f"{what}: dump: {run.stderr[-300:]}")
    check(folder_files(f.maps) == {map_file(n, r, names): r for n, r in loaded(rows).items()},
          f"{what}: the dumped files")


def convert_read_back(fixture, files, what, names=NAMES, **readers):
    """Converts `files` into a copy of `fixture`: the outside readers and the program's own reading of the file
    find the rows that `converted` gives."""
    rows = converted(fixture_rows(fixture), files)
    with Folder() as f:
        prepared(f, fixture)
        if convert(f, files, what):
            written_holds(f.db, rows, what, **readers)
            read_back(f, rows, what, names)


def tree(folder):
    """Every entry under `folder` but the program: its mode and owner, its bytes or where it links to."""
    entries = {}
    for top, folders, files in os.walk(folder):
        for name in folders + files:
            path = os.path.join(top, name)
            if name == "corvald-batch" and top == folder:
                continue
            s = os.lstat(path)
            content = os.readlink(path) if os.path.islink(path) else None if os.path.isdir(path) else \
                open(path, "rb").read()
            entries[os.path.relpath(path, folder)] = (s.st_mode, s.st_uid, s.st_gid, content)
    return entries


def other_tables(path):
    """The tables but Maps as the oracle hashes them, or None without the oracle; and mdb-export's rows of Scores,
    sorted, which need no oracle."""
    tables = oracle_tables(path) if need_oracle(f"the other tables of {os.path.basename(path)}") else None
    out = subprocess.run(["mdb-export", "-b", "hex", path, "Scores"], capture_output=True, check=True).stdout
    scores = sorted(csv.reader(io.StringIO(out.decode(), newline="")))
    return tables and {name: value for name, value in tables.items() if name != "Maps"}, scores


def record(rng, name, size):
    """A map record of `size` bytes named `name`: runs of a few tile bytes, as maps have, then noise."""
    head = name.ljust(30, b" ")
    tiles = b"".join(bytes([rng.randrange(8)]) * rng.randrange(1, 40) for _ in range(size // 8 + 1))
    return (head + tiles[:size // 2] + rng.randbytes(size))[:size]


# ---------------------------------------------------------------- start-up

def compaction():
    """Start-up rewrites the file with the same rows, stored in index order: not larger, its mode, owner and group
    kept, and the program reads it."""
    for name, kind in (("maps-ole.mdb", "ole"), ("maps-memo.mdb", "memo"), ("maps-3000.mdb", "ole")):
        with Folder() as f:
            prepared(f, name)
            os.chmod(f.db, 0o600)
            os.chown(f.db, 65534, 60)  # another user and group, which only root can give
            rows, size = fixture_rows(name), os.path.getsize(f.db)
            run = f.run("-q", "list")
            after = os.stat(f.db)
            check((after.st_mode & 0o7777, after.st_uid, after.st_gid) == (0o600, 65534, 60),
                  f"{name}: the mode, owner and group: {oct(after.st_mode)} {after.st_uid} {after.st_gid}")
            check(run.returncode == 0 and run.stdout.decode() == listing(rows), f"{name}: list: {run.stderr[-300:]}")
            check(sorted(os.listdir(f.folder)) == FOLDER, f"{name}: the folder holds {os.listdir(f.folder)}")
            check(os.path.getsize(f.db) <= size, f"{name}: {os.path.getsize(f.db)} bytes, more than {size}")
            check(mdb_reader_rows(f.db) == rows, f"{name}: the rows are not stored in index order")
            written_holds(f.db, rows, f"{name} compacted", kind=kind)


def deleted_rows():
    """The pages of deleted rows go: the file gets smaller, the rows stay."""
    with Folder() as f:
        prepared(f, "maps-deleted.mdb")
        size = os.path.getsize(f.db)
        read_back(f, fixture_rows("maps-deleted.mdb"), "maps-deleted.mdb")
        check(os.path.getsize(f.db) < size, f"maps-deleted.mdb: {os.path.getsize(f.db)} bytes, not below {size}")
        written_holds(f.db, fixture_rows("maps-deleted.mdb"), "maps-deleted.mdb compacted")


def attributes():
    """A link stays a link, the file it points to keeps its mode, owner and group through start-up and convert."""
    with Folder() as f:
        real = prepared(f, "maps-deleted.mdb", target="data/real.mdb")
        os.chmod(real, 0o640)
        os.chown(real, 65534, 60)  # another user and group, which only root can give
        before, size = os.stat(real), os.path.getsize(real)

        def kept(what):
            after = os.stat(real)
            check((after.st_mode, after.st_uid, after.st_gid) == (before.st_mode, before.st_uid, before.st_gid),
                  f"{what}: the mode, owner and group: {oct(after.st_mode)} {after.st_uid} {after.st_gid}")
            check(os.path.islink(f.db) and os.readlink(f.db) == "data/real.mdb", f"{what}: server.dat a link")
            check(os.listdir(os.path.dirname(real)) == ["real.mdb"] and
                  sorted(os.listdir(f.folder)) == sorted(FOLDER + ["data"]), f"{what}: files left beside")
        check(f.run("-q", "list").returncode == 0, "start-up through a link")
        kept("start-up")
        check(os.path.getsize(real) < size, "the file the link points to is compacted")
        files = {"Map #12 - big.map4": record(random.Random(12), b"Back again", 70000)}
        if convert(f, files, "through a link"):
            written_holds(real, converted(fixture_rows("maps-deleted.mdb"), files), "through a link")
        kept("convert")


def second_table():
    """Another table keeps its rows and values through start-up and convert. The 2 MiB map 12 made small
    leaves Maps' old pages between the other table's, which are then free."""
    with Folder() as f:
        prepared(f, "maps-scores.mdb")
        before = other_tables(f.db)
        check(f.run("-q", "list").returncode == 0, "maps-scores.mdb: list")
        check(other_tables(f.db) == before, "maps-scores.mdb: the other tables after start-up")
        files = {"Map #7 - x.map4": named(b"Seven"), "Map #4000 - x.map4": named(b"Far"),
                 "Map #12 - x.map4": named(b"Small")}
        if convert(f, files, "maps-scores.mdb"):
            written_holds(f.db, converted(fixture_rows("maps-scores.mdb"), files), "maps-scores.mdb converted")
        check(other_tables(f.db) == before, "maps-scores.mdb: the other tables after convert")


def replaced_at_end():
    """What strace sees of a start-up and a convert: server.dat is never removed or renamed away, each copy that
    takes its name is synced first, and convert replaces it once, after the last map and before its message."""
    with Folder() as f:
        prepared(f, "maps-ole.mdb")
        f.write_maps({f"Map #{n} - x.map4": named(b"New %d" % n) for n in (1, 11, 50)})
        trace = os.path.join(f.temp, "trace")
        run = f.run("convert", env=NO_LEAK_CHECK, wrap=["strace", "-f", "-qq", "-s", "80", "-o", trace, "-e",
                                                        "trace=openat,fsync,fdatasync,rename,renameat,renameat2,"
                                                        "unlink,unlinkat,write"])
        check(run.returncode == 0 and run.stdout == b"3 Maps converted!\n", f"convert: {run.stderr[-300:]}")
        files, synced, events = {}, set(), []
        server = lambda path: os.path.basename(path) == "server.dat"
        for line in open(trace):
            if m := re.search(r'openat\(AT_FDCWD, "([^"]+)".* = (\d+)$', line):
                files[m[2]] = m[1]
            elif m := re.search(r"f(?:data)?sync\((\d+)", line):
                synced.add(files.get(m[1]))
            elif (m := re.search(r'rename(?:at2?)?\((?:AT_FDCWD, )?"([^"]+)", (?:AT_FDCWD, )?"([^"]+)"', line)) \
                    and " = 0" in line:
                check(not server(m[1]), f"server.dat renamed away: {line.strip()}")
                if server(m[2]):
                    check(m[1] in synced or os.path.basename(m[1]) in {os.path.basename(s or "") for s in synced},
                          f"{m[1]} takes the name unsynced")
                    events.append("replaced")
            elif (m := re.search(r'unlink(?:at)?\((?:AT_FDCWD, |\d+, )?"([^"]+)"', line)) and server(m[1]):
                check(False, f"server.dat removed: {line.strip()}")
            elif re.search(r'write\(2, "Converting Map #', line):
                events.append("map")
            elif re.search(r'write\(1, "3 Maps converted!', line):
                events.append("message")
        convert_events = events[events.index("map"):] if "map" in events else []
        check(convert_events == ["map"] * 3 + ["replaced", "message"], f"the convert's events: {events}")


# ---------------------------------------------------------------- convert

def empty_table():
    """An empty table gets one row, then 3000 small ones, whose index spreads over pages."""
    with Folder() as f:
        prepared(f, "empty.mdb")
        one = {"Map #1500 - one.map4": named(b"One")}
        rows = converted([], one)
        if convert(f, one, "one row"):
            written_holds(f.db, rows, "one row")
        many = {f"Map #{n} - m.map4": named(b"Map %d" % n, b"%d" % n) for n in range(1, 3001)}
        rows = converted(rows, many)
        if convert(f, many, "3000 rows"):
            written_holds(f.db, rows, "3000 rows")
            read_back(f, rows, "3000 rows")


def shared_number():
    """Both rows of map 11 get the new blob, and no row is added."""
    files = {"Map #11 - x.map4": named(b"Eleven again")}
    rows = converted(fixture_rows("maps-ole.mdb"), files)
    check([d for n, d in rows if n == 11] == [map_data(named(b"Eleven again"))] * 2, "the model: both rows of 11")
    convert_read_back("maps-ole.mdb", files, "map 11")


def numbers():
    """Numbers outside 1 to 3000, of rows that exist (0, 3001) and of new ones (-5 and either 32-bit end: the
    oracle wants three keys absent from the index among its probes, and both ends with 0, 1, 3000 and 3001 leave
    too few)."""
    for end in (-2**31, 2**31 - 1):
        files = {f"Map #{n} - x.map4": named(b"Number %d" % n) for n in (0, -5, 3001, end)}
        convert_read_back("maps-ole.mdb", files, f"numbers and {end}")


def sizes():
    """An empty record (an empty value, in a row that has one and in a new row), a 1-byte one and 2 MiB."""
    files = {"Map #10 - empty.map4": b"", "Map #77 - empty.map4": b"", "Map #5 - one byte.map4": b"x",
             "Map #12 - large.map4": record(random.Random(2), b"Large again", 2 << 20)}
    convert_read_back("maps-ole.mdb", files, "sizes")


def huge():
    """One 96 MiB record that does not compress."""
    convert_read_back("empty.mdb", {"Map #1 - huge.map4": named(b"Huge", os.urandom((96 << 20) - 30))}, "96 MiB")


def memo():
    """A Memo Data stays a Memo: each blob byte one character."""
    rng = random.Random(5)
    files = {"Map #11 - x.map4": record(rng, b"Caf\xe9 \x81\x8d\x8f\x90\x9d", 20000), "Map #50 - x.map4":
             record(rng, b"New fifty", 3000), "Map #10 - x.map4": b"", "Map #3001 - x.map4": bytes(range(256))}
    convert_read_back("maps-memo.mdb", files, "Memo", kind="memo")


def property_rows():
    """Random sets of map files (numbers repeated, negative, past 3000; records of 0 to 20 KiB) converted into an
    empty table read back alike by the program and the three outside readers."""
    for seed in (1, 2):
        rng = random.Random(seed)
        numbers = [rng.choice([rng.randrange(-50, 3050), rng.randrange(-2**31 + 1, 2**31 - 1)]) for _ in range(120)]
        numbers += rng.sample(numbers, 30)
        files, names = {}, dict(NAMES)
        for i, n in enumerate(numbers):
            size = rng.choice([0, rng.randrange(1, 40), rng.randrange(40, 20 << 10)])
            letters = "".join(chr(97 + i // 26**k % 26) for k in (2, 1, 0))  # one of "aaa" to "zzz" a file
            name = b"Seed %d map %d" % (seed, i)
            files[f"Map #{n} - {letters}.map4"] = record(rng, name, size)
            # A record shorter than its name holds the name's start; its file, that start without a last blank.
            names[files[f"Map #{n} - {letters}.map4"][:30]] = name[:size].decode().rstrip(" ")
        convert_read_back("empty.mdb", files, f"seed {seed}", names)


# ---------------------------------------------------------------- what is left as it is

def refused():
    """A Maps of another shape, or a file of another owner that its new file could not keep, is listed and dumped
    where it lies, and convert refuses it without a change."""
    def others(f):  # the file may be written by the user nobody, but not given away by them
        for path, mode in ((f.folder, 0o777), (f.maps, 0o777), (f.db, 0o666)):
            os.chmod(path, mode)
    for name, wrap, prepare in (("maps-extra-field.mdb", (), None), ("maps-two-indexes.mdb", (), None),
                                ("maps-ole.mdb", NOBODY, others)):
        with Folder() as f:
            prepared(f, name)
            if prepare:
                prepare(f)
            source = open(f.db, "rb").read()
            read_back(f, fixture_rows(name), name, wrap=wrap)
            check(open(f.db, "rb").read() == source, f"{name}: changed by list or dump")
            for dumped in os.listdir(f.maps):
                os.remove(os.path.join(f.maps, dumped))
            f.write_maps({"Map #1 - x.map4": named(b"New one")})
            before = tree(f.folder)
            run = f.run("-q", "convert", wrap=wrap)
            last = run.stderr.decode().strip().split("\n")[-1]
            check(run.returncode == 1 and run.stdout == b"" and last.startswith(
                "corvald-batch: Error: File 'server.dat' is a Jet database that this program does not write: ") and
                  last.endswith(". No map was converted."), f"{name}: convert: {run.returncode} {run.stdout} {last}")
            check(tree(f.folder) == before, f"{name}: changed by convert")
    print("skipped: a Jet 3 or encrypted Jet 4 file: none is at hand, and Jackcess writes neither")


def in_use():
    """Another program's record lock anywhere in server.ldb, as Jet takes them through Samba or Wine: start-up and
    convert fail with 3260 and change nothing. Once nobody locks it, the stale lock file is left as it is."""
    holder = ("import fcntl, os, sys, time\n"
              "fd = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT)\n"
              "fcntl.lockf(fd, fcntl.LOCK_SH, 1, int(sys.argv[2]))\n"
              "print('held', flush=True)\n"
              "time.sleep(120)\n")
    for offset in (0, 0x10000000):
        with Folder() as f:
            prepared(f, "maps-ole.mdb")
            f.write_maps({"Map #1 - x.map4": named(b"New one")})
            lock = os.path.join(f.folder, "server.ldb")
            held = subprocess.Popen([sys.executable, "-c", holder, lock, str(offset)], stdout=subprocess.PIPE)
            try:
                held.stdout.readline()
                before = tree(f.folder)
                for command in ("list", "convert"):
                    run = f.run("-q", command)
                    check(run.returncode == 1 and run.stderr.decode().strip().endswith(
                        "#3260: The database 'server.dat' is locked by another user."),
                        f"locked at {offset}: {command}: {run.returncode} {run.stderr[-200:]}")
                    check(tree(f.folder) == before, f"locked at {offset}: {command} changed the folder")
            finally:
                held.kill()
                held.wait()
            stale = open(lock, "rb").read()
            check(convert(f, {"Map #1 - x.map4": named(b"New one")}, "a stale server.ldb") and
                  open(lock, "rb").read() == stale, "a stale server.ldb: not left as it is")


def wrong_password():
    """Another password: every command fails with 3031 and leaves the folder as it was."""
    with Folder() as f:
        prepared(f, "other-password.mdb")
        f.write_maps({"Map #1 - x.map4": named(b"New one")})
        before = tree(f.folder)
        for command in ("list", "dump", "convert"):
            run = f.run("-q", command)
            last = run.stderr.decode().strip().split("\n")[-1]
            check(run.returncode == 1 and last.endswith(WRONG_PASSWORD), f"{command}: {run.returncode} {last}")
            check(tree(f.folder) == before, f"{command}: the folder changed")


if __name__ == "__main__":
    main({"compaction": compaction, "deleted_rows": deleted_rows, "attributes": attributes,
          "second_table": second_table, "replaced_at_end": replaced_at_end, "empty_table": empty_table,
          "shared_number": shared_number, "numbers": numbers, "sizes": sizes, "huge": huge, "memo": memo,
          "property": property_rows, "refused": refused, "in_use": in_use,
          "wrong_password": wrong_password})
