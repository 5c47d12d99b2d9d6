"""What the end-to-end tests share: the programs under test (from the environment), databases that the
sqlcipher shell makes and reads, map blobs made with Python's zlib, and a check list per test."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

BATCH, CORVALD, MAKE_SERVER_DAT, CLOSE_WINDOW, FAKE_ZLIB = (
    os.environ.get(name, "") for name in ("CORVALD_BATCH", "CORVALD", "MAKE_SERVER_DAT", "CLOSE_WINDOW", "FAKE_ZLIB"))
JET_FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../fixtures/jet")
PASSWORD = "brevola"
SCHEMA = "CREATE TABLE Maps (Number INTEGER, Data BLOB);\nCREATE INDEX Number ON Maps (Number);\n"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)
    return condition


def shell(db, sql, key=PASSWORD):
    """What the sqlcipher shell prints for `sql` on `db`; raises when it reports an error."""
    keyed = f"PRAGMA key = '{key}';\n" if key else ""
    run = subprocess.run(["sqlcipher", "-batch", "-bail", db], input=keyed + sql, capture_output=True, text=True)
    if run.returncode != 0 or "Error" in run.stdout + run.stderr:
        raise RuntimeError(f"sqlcipher: {run.stdout}{run.stderr}")
    return "".join(line + "\n" for line in run.stdout.splitlines() if line != "ok")


def blob(record):
    return struct.pack("<i", len(record)) + zlib.compress(record)


def named(name, rest=b"tiles"):
    return name.ljust(30, b" ") + rest


def make_db(db, rows, schema=SCHEMA, key=PASSWORD):
    """`rows`: (number or None, bytes) in the order they are added."""
    values = "".join(f"INSERT INTO Maps (Number, Data) VALUES ({'NULL' if n is None else n}, X'{d.hex()}');\n"
                     for n, d in rows)
    shell(db, schema + "BEGIN;\n" + values + "COMMIT;\n", key)


def read_db(db, key=PASSWORD):
    lines = shell(db, "SELECT quote(Number), hex(Data) FROM Maps ORDER BY rowid;", key).splitlines()
    return [(None if n == "NULL" else int(n), bytes.fromhex(d)) for n, d in (line.split("|") for line in lines)]


def shown_name(record):
    """The map's name as the program shows it: the first 30 bytes without outer blanks, up to a NUL, in
    Windows-1252, whose five undefined bytes stand for the code point of the same value."""
    name = record[:30].strip(b" ").split(b"\0")[0]
    return "".join(chr(b) if b in (0x81, 0x8D, 0x8F, 0x90, 0x9D) else bytes([b]).decode("cp1252") for b in name)


def terminal(name):
    r"""A name as a terminal gets it: control characters as \xHH and "\" doubled."""
    return "".join(f"\\x{ord(c):02X}" if ord(c) < 0x20 or 0x7F <= ord(c) < 0xA0 else "\\\\" if c == "\\" else c
                   for c in name)


# The name that the dump gives a map's file after "Map #<number> - ", for each map name of the Jet fixtures'
# manifest (tests/fixtures/jet/manifest.tsv), written out rather than computed: keyed by the record's first 30
# bytes. The names that are their own file names come last.
MAP_FILE_NAMES = {
    b"Northshire".ljust(30): "Northshire",
    b"  Two  Spaces".ljust(30): "Two  Spaces",
    b"Ask?".ljust(30): "Ask_",
    b'x/y\\z:"q"'.ljust(30): "x_y_z__q_",
    b"Padded".ljust(30, b"\0"): "Padded",
    b"Cut\0here".ljust(30): "Cut",
    b"Fa\xe7ade \x80 \x9d".ljust(30): "Fa\xe7ade \u20ac \x9d",
    b"Short": "Short",
    **{name.encode().ljust(30): name for name in (
        "New eleven", "Large", "Last slot", "uFF4", "o12I JI9E0Bpa2fhsgBa6E6unzqww", "F3e9vfIHssCj488Jtb8xxCAf",
        "0IEhAF1EzGq JDFGbJoid8G5g82AD", "oh37C6D8HqIz5tI4", "DzAmsracj41CGExmq7ECFEA", "csuCgB78FqBlA9De4rExgm",
        "BafaB", "f2mph2cHr53wjau50J", "9iHoD0i17Fsf 5ki0tF yjG", "agyedw4wbbFDu", "uhECJ2kj0GnA2vC", "68eIzcm4", "4H",
        "4mD86bi4GnGik5l", "AH fytlwl", "E sCluGDBhGGrgn", "f", "v H5lbwkwI6JHnh28rIJ9", "sJr5IigqgAkg6dw9l43",
        "ur0esukqqea q adg", "t", "6IJw", "C13482czu1n1CA6h6xF6qyswd", "bs7vs9ht u0bHvmId9hk2hhciGw14", "A", "w yyp",
        "oilHb58H6IzqjobbrHD qu")},
}


def map_file(number, record, names=MAP_FILE_NAMES):
    """The file that the dump writes for map `number` holding `record`, its name part taken from `names`."""
    return f"Map #{number} - {names[record[:30]]}.map4"


def folder_files(folder):
    """The entries of a folder by name with their bytes; a folder stands as "<folder>"."""
    paths = {name: os.path.join(folder, name) for name in os.listdir(folder)}
    return {name: "<folder>" if os.path.isdir(p) else open(p, "rb").read() for name, p in paths.items()}


# Runs a program as the user nobody, with no groups of its own.
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]

class Folder:
    """A temporary folder with a copy of a program alone in "program", started from "elsewhere"."""

    def __init__(self, program=BATCH, name="program"):
        self.temp = tempfile.mkdtemp(prefix="corvald-e2e-")
        os.chmod(self.temp, 0o755)
        self.folder = os.path.join(self.temp, name)
        self.elsewhere = os.path.join(self.temp, "elsewhere")
        os.makedirs(self.folder)
        os.makedirs(self.elsewhere)
        self.program = os.path.join(self.folder, os.path.basename(program))
        shutil.copy(program, self.program)
        self.db = os.path.join(self.folder, "server.dat")
        self.maps = os.path.join(self.folder, "Maps")

    def __enter__(self):
        return self

    def __exit__(self, *_):
        shutil.rmtree(self.temp, ignore_errors=True)

    def write_maps(self, files):
        os.makedirs(self.maps, exist_ok=True)
        for name, data in files.items():
            open(os.path.join(self.maps, name), "wb").write(data)

    def run(self, *args, env=None, stdout=subprocess.PIPE, wrap=(), timeout=120, **kwargs):
        """Runs the program without a display, from "elsewhere"; `wrap` goes before it (strace, setpriv)."""
        environment = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "QT_QPA_PLATFORM")}
        environment.update(env or {})
        return subprocess.run([*wrap, self.program, *args], cwd=self.elsewhere, env=environment, stdout=stdout,
                              stderr=subprocess.PIPE, timeout=timeout, **kwargs)


def main(cases):
    """Runs the case named on the command line; exit status 1 when a check failed."""
    cases[sys.argv[1]]()
    print(f"{sys.argv[1]}: {len(failures)} failed checks")
    sys.exit(1 if failures else 0)
