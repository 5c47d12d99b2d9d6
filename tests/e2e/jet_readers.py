"""The Jet readers that nobody here wrote, each giving the rows of a file's table "Maps": the Jet oracle (Jackcess,
through jetcheck), mdb-export and mdb-reader (npm); and check_jet_file, which holds a file against the rows it must
have by all three at once."""
import csv
import hashlib
import io
import os
import subprocess
import tempfile
from concurrent.futures import ThreadPoolExecutor

from common import PASSWORD, check

HERE = os.path.dirname(os.path.abspath(__file__))
JETCHECK = os.environ.get("JETCHECK") or os.path.join(HERE, "../../../shared/jet/oracle/jetcheck")
ROWS_JS = os.path.join(HERE, "mdb_reader", "rows.js")
PAGE = 4096
APPENDED = [(900001, 10), (900002, 5000), (900003, 300000)]  # what `jetcheck append` adds: number, length
QUICK_JVM = "-XX:TieredStopAtLevel=1 -XX:+UseSerialGC"
UNDEFINED = (0x81, 0x8D, 0x8F, 0x90, 0x9D)  # Windows-1252 leaves them undefined: each stands for its code point
TO_CHAR = [chr(b) if b in UNDEFINED else bytes([b]).decode("cp1252") for b in range(256)]
TO_BYTE = {c: b for b, c in enumerate(TO_CHAR)}
csv.field_size_limit(1 << 30)


def memo_bytes(text):
    """A Memo's text as the bytes it stands for, one Windows-1252 byte a character."""
    return bytes(TO_BYTE[c] for c in text)


def sha(data):
    return hashlib.sha256(data).hexdigest()


# ---------------------------------------------------------------- the oracle

def oracle_available():
    return os.access(JETCHECK, os.X_OK)


def need_oracle(what):
    """True when the oracle is there; otherwise says that `what` was skipped, or under CI records a failure."""
    if oracle_available():
        return True
    if os.environ.get("CI") == "true":
        check(False, f"{what}: the Jet oracle ({JETCHECK}) is absent, and CI must run it")
    else:
        print(f"skipped: {what}: the Jet oracle (../shared/jet/oracle) is absent")
    return False


def jetcheck(*args):
    """jetcheck's standard output lines; raises with its reason when it exits with anything but 0."""
    # A small file is read twice as fast with the quick compiler alone and one collector thread; a large one
    # (whose every byte `tables` turns into text) needs the optimizing compiler.
    options = QUICK_JVM if not os.path.isfile(args[1]) or os.path.getsize(args[1]) < 32 << 20 else ""
    env = dict(os.environ, JAVA_TOOL_OPTIONS=f"{options} {os.environ.get('JAVA_TOOL_OPTIONS', '')}")
    run = subprocess.run([JETCHECK, *args], capture_output=True, text=True, env=env)
    if run.returncode != 0:
        reason = [line for line in run.stderr.splitlines() if not line.startswith("Picked up JAVA_TOOL_OPTIONS")]
        raise RuntimeError(f"jetcheck {args[0]}: {' '.join(reason) or f'exit {run.returncode}'}")
    return run.stdout.splitlines()


def parsed_rows(lines):
    """jetcheck's row lines as (number, kind, length, sha256hex); a NULL as None."""
    *rows, count = lines
    if count != f"rows {len(rows)}":
        raise RuntimeError(f"jetcheck printed {len(rows)} rows, then {count!r}")
    fields = [line.split("\t") for line in rows]
    return [(None if n == "null" else int(n), kind, None if length == "-" else int(length), None if h == "-" else h)
            for n, kind, length, h in fields]


def oracle_rows(path, password=PASSWORD):
    """The rows of Maps through its index Number, checked by the oracle."""
    return parsed_rows(jetcheck("rows", path, password))


def oracle_append(path, out, password=PASSWORD):
    """The rows of `out`, a copy of `path` to which Jackcess added three rows and from which it deleted one."""
    return parsed_rows(jetcheck("append", path, password, out))


def oracle_tables(path, password=PASSWORD):
    """{user table: (row count, SHA-256 over its columns and rows)}."""
    return {name: (int(count), digest) for name, count, digest in
            (line.split("\t") for line in jetcheck("tables", path, password))}


def maps_digest(rows, kind):
    """What `jetcheck tables` gives for a Maps of Number and Data holding `rows`: the column names and types, then
    each row's values as text (bytes in hex, a Memo as its characters, \\ \t \n \r escaped), rows sorted."""
    def text(data):
        if kind == "ole":
            return "x" + data.hex()
        chars = "".join(TO_CHAR[b] for b in data)
        return chars.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")
    lines = sorted(f"{n}\t{text(data)}\t\n" for n, data in rows)
    return sha(("Number:LONG\tData:" + kind.upper() + "\t\n" + "".join(lines)).encode())


# ---------------------------------------------------------------- mdb-export and mdb-reader

def mdb_columns(path):
    """{field: type} of Maps as mdb-schema shows them, such as {"Number": "Long Integer", "Data": "OLE (255)"}."""
    schema = subprocess.run(["mdb-schema", "-T", "Maps", path], capture_output=True, text=True, check=True).stdout
    fields = (line.strip().rstrip(",").split("]", 1) for line in schema.splitlines() if line.strip().startswith("["))
    return {name[1:]: kind.strip() for name, kind in fields if name != "[Maps"}


def mdb_data_type(path):
    """"ole" or "memo": the field Data of Maps as mdb-schema shows it."""
    return "memo" if mdb_columns(path)["Data"].startswith("Memo") else "ole"


def mdb_export_rows(path):
    """(number, bytes) in stored order, as mdb-export gives them. mdb-export ends a Memo's text at its first NUL
    character and shows an empty Memo as NULL: a Memo gives only its bytes before the first 0x00, NULL as b""."""
    memo = mdb_data_type(path) == "memo"
    out = subprocess.run(["mdb-export", "-b", "hex", "-0", "NULL", path, "Maps"], capture_output=True, check=True)
    header, *rows = csv.reader(io.StringIO(out.stdout.decode(), newline=""))
    number, data = header.index("Number"), header.index("Data")

    def value(field):
        if memo:
            return b"" if field == "NULL" else memo_bytes(field)
        return None if field == "NULL" else bytes.fromhex(field)
    return [(None if row[number] == "NULL" else int(row[number]), value(row[data])) for row in rows]


def mdb_reader(path, password):
    """mdb-reader's columns of Maps ("name:type") and its rows (number, bytes) in stored order."""
    run = subprocess.run(["node", ROWS_JS, path, password], capture_output=True)
    if run.returncode != 0:
        raise RuntimeError(run.stderr.decode(errors="replace").strip() or f"node: exit {run.returncode}")
    first, *lines = run.stdout.decode().split("\n")[:-1]
    rows = [line.split("\t") for line in lines]
    return first.split("\t")[1].split(","), [(None if n == "null" else int(n), None if kind == "null" else
                                              bytes.fromhex(data)) for n, kind, data in rows]


def mdb_reader_rows(path, password=PASSWORD):
    return mdb_reader(path, password)[1]


# ---------------------------------------------------------------- all of them against the rows expected

def in_index_order(rows):
    """Rows in stored order put in index order: Number ascending (NULL first), rows of one number kept in order."""
    return sorted(rows, key=lambda row: (row[0] is not None, row[0] or 0))


def shown(row):
    number, *rest = row
    if len(rest) == 1:
        data = rest[0]
        return f"({number}, NULL)" if data is None else f"({number}, {len(data)} bytes {sha(data)[:12]})"
    return f"({number}, {rest[-2]} bytes {str(rest[-1])[:12]})"


def differences(reader, got, want):
    """Where `got` leaves `want`: the row count, or the first row that differs."""
    if len(got) != len(want):
        return [f"{reader}: {len(got)} rows, not {len(want)}"]
    wrong = [(i, g, w) for i, (g, w) in enumerate(zip(got, want)) if g != w]
    return [f"{reader}: row {i} is {shown(g)}, not {shown(w)} ({len(wrong)} rows differ)" for i, g, w in wrong[:1]]


def oracle_differences(path, expected, password, kind):
    with tempfile.TemporaryDirectory() as folder, ThreadPoolExecutor(3) as pool:
        rows = pool.submit(oracle_rows, path, password)
        tables = pool.submit(oracle_tables, path, password)
        appended = pool.submit(oracle_append, path, os.path.join(folder, "appended.mdb"), password)
        rows, tables, appended = rows.result(), tables.result(), appended.result()
    want = [(n, len(d), sha(d)) for n, d in expected]
    found = differences("jetcheck rows", [(n, length, h) for n, _, length, h in rows], want)
    found += [f"jetcheck rows: row {i} is {k}, not {kind}" for i, (_, k, _, _) in enumerate(rows) if k != kind][:1]
    # The digest covers every field; of a Maps with other fields than Number and Data only the count is known here.
    digest = maps_digest(expected, kind) if list(mdb_columns(path)) == ["Number", "Data"] else None
    maps = tables.get("Maps")
    if maps is None or maps[0] != len(expected) or digest not in (None, maps[1]):
        found.append(f"jetcheck tables: Maps is {maps}, not {len(expected)} rows of digest {digest}")
    # Less the middle row in index order, plus the new rows (whose bytes only jetcheck knows) where their numbers go.
    added = {n for n, _ in APPENDED}
    kept = want[:len(want) // 2] + want[len(want) // 2 + 1:]
    found += differences("jetcheck append", [(n, length, None if n in added else h) for n, _, length, h in appended],
                         in_index_order(kept + [(n, length, None) for n, length in APPENDED]))
    return found


def export_differences(path, expected, kind):
    # mdb-export gives a Memo only up to its first NUL: compare that much of it.
    want = [(n, d.split(b"\0")[0] if kind == "memo" else d) for n, d in expected]
    found = differences("mdb-export", in_index_order(mdb_export_rows(path)), want)
    return found + ([] if mdb_data_type(path) == kind else [f"mdb-schema: Data is not {kind}"])


def reader_differences(path, expected, password, kind):
    # mdb-reader takes a long value's length from 3 bytes of its header, the 4th for its kind: a value of 16 MiB
    # or more it takes for one of an unknown kind, and fails.
    if any(len(data or b"") >= 1 << 24 for _, data in expected):
        print(f"skipped: mdb-reader on {os.path.basename(path)}: it cannot read a value of 16 MiB or more")
        return []
    columns, rows = mdb_reader(path, password)
    found = differences("mdb-reader", in_index_order(rows), expected)
    return found + ([] if f"Data:{kind}" in columns else [f"mdb-reader: columns {columns}, Data is not {kind}"])


FAILED = (RuntimeError, OSError, ValueError, KeyError, StopIteration, subprocess.CalledProcessError)


def check_jet_file(path, expected, password=PASSWORD, kind="ole"):
    """Where the oracle, mdb-export and mdb-reader read `path` otherwise than `expected`, the (number, bytes) that
    Maps must hold in index order with Data of `kind` ("ole" or "memo"); and whether the file is whole pages. An
    empty list when all agree; a reader that fails on the file is a disagreement."""
    found = [] if os.path.getsize(path) % PAGE == 0 else [f"size {os.path.getsize(path)} is not whole pages"]
    readers = [("mdb-reader", reader_differences, (path, expected, password, kind)),
               ("mdb-export", export_differences, (path, expected, kind))]
    if need_oracle(f"the oracle's reading of {os.path.basename(path)}"):
        readers.append(("jetcheck", oracle_differences, (path, expected, password, kind)))

    def run(reader):
        name, differ, args = reader
        try:
            return differ(*args)
        except FAILED as error:
            return [f"{name} failed: {getattr(error, 'stderr', None) or error}"[:500]]
    with ThreadPoolExecutor(len(readers)) as pool:
        return found + [line for lines in pool.map(run, readers) for line in lines]


def jet_file_holds(path, expected, what, password=PASSWORD, kind="ole"):
    """check_jet_file, each disagreement reported as a failed check of `what`."""
    found = check_jet_file(path, expected, password, kind)
    for disagreement in found:
        check(False, f"{what}: {disagreement}")
    return not found
