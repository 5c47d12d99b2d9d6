"""Power cuts over start-up and a convert: corvald-batch runs with its folder on powerfs.py, which kills it at
the k-th file-changing call and rolls the folder back to what was synced; then the folder is checked as the
sqlcipher shell, the Jet oracle, mdb-export, a reader without write access and the next start-up find it.

Usage: powercut.py filesystem | cuts [--cuts N] [--formats sqlcipher,jet] [--modes clean,torn]
                                      [--phases start-up,convert] [--seed S] | one FORMAT PHASE K [SEED]
`cuts` spreads N cuts over the cases (format x phase x mode): each case cuts once after the run has ended
(K = 0) and after every call but writes, as far as its share goes, then after random writes. `one` repeats
one cut, torn with SEED. Needs root and /dev/fuse."""
import argparse
import collections
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from common import BATCH, blob, check, failures, named, shell  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, "..", ".."))
SHARED_JET = os.path.normpath(os.path.join(REPO, "..", "shared", "jet"))
JET = os.path.join(REPO, "tests", "fixtures", "jet")
JET = JET if os.path.isdir(JET) else SHARED_JET
ORACLE = os.path.join(SHARED_JET, "oracle", "jetcheck")
NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
DATABASE_FILES = ("server.dat", "server.dat-journal", "server.dat-wal")
tally = collections.Counter()
scenes = {}  # format -> its Scene, made once a run


def sha(data):
    return hashlib.sha256(data).hexdigest()


def record(kind, n):
    return named(b"%s map %d" % (kind, n), random.Random(n).randbytes(300 + n % 600))


def tree(folder):
    """Every file under `folder` by relative path, with its bytes."""
    return {os.path.relpath(os.path.join(root, name), folder): open(os.path.join(root, name), "rb").read()
            for root, _, names in os.walk(folder) for name in names}


class SqlCipher:
    name = "sqlcipher"
    files = {n: record(b"new", n) for n in range(101, 401)}  # 100 updates, 200 new rows

    def make(self, db):
        rows = "".join(f"INSERT INTO Maps VALUES ({n}, X'{blob(record(b'old', n)).hex()}');\n" for n in range(1, 201))
        shell(db, "CREATE TABLE Maps (Number INTEGER, Data BLOB);\nCREATE INDEX Number ON Maps (Number);\n"
                  f"BEGIN;\n{rows}COMMIT;\n")

    def rows(self, db):
        """Number -> the SHA-256 of its rows' blobs in index order; raises unless the file is whole."""
        if shell(db, "PRAGMA integrity_check;") != "":
            raise RuntimeError("integrity_check")
        rows = collections.defaultdict(list)
        for line in shell(db, "SELECT Number, hex(Data) FROM Maps ORDER BY Number, rowid;").splitlines():
            number, data = line.split("|")
            rows[int(number)].append(sha(bytes.fromhex(data)))
        return dict(rows)

    def read_by_nobody(self, db):
        run = subprocess.run(NOBODY + ["sqlcipher", "-batch", "-bail", db], capture_output=True, text=True,
                             input="PRAGMA key = 'brevola';\nSELECT count(*) FROM Maps;\n")
        return run.returncode == 0 and "Error" not in run.stderr + run.stdout, run.stderr.strip()


class Jet:
    name = "jet"
    files = {n: record(b"new", n) for n in list(range(1, 10)) + [11] + list(range(41, 331))}

    def make(self, db):
        shutil.copy(os.path.join(JET, "maps-ole.mdb"), db)

    def rows(self, db):
        run = subprocess.run([ORACLE, "rows", db, "brevola"], capture_output=True, text=True)
        export = subprocess.run(["mdb-export", "-b", "hex", db, "Maps"], capture_output=True, text=True)
        if run.returncode != 0 or export.returncode != 0:
            raise RuntimeError(f"jetcheck: {run.stderr.strip()} mdb-export: {export.stderr.strip()}")
        rows = collections.defaultdict(list)
        for number, kind, _, digest in (line.split("\t") for line in run.stdout.splitlines()[:-1]):
            rows[int(number)].append(digest if kind == "ole" else kind)
        if len(export.stdout.splitlines()) != 1 + sum(map(len, rows.values())):
            raise RuntimeError("mdb-export reads another number of rows")
        return dict(rows)

    def read_by_nobody(self, db):
        run = subprocess.run(NOBODY + ["mdb-export", "-b", "hex", db, "Maps"], capture_output=True)
        return run.returncode == 0, run.stderr.decode(errors="replace").strip()


def file_names(fmt):
    """The map files in the order the convert takes them: by name, letters without their case."""
    return sorted((f"Map #{n} - new.map4" for n in fmt.files), key=str.lower)


def number_of(name):
    return int(name[5:name.index(" ", 5)])


class Scene:
    """A folder with the format's server.dat and map files, copied fresh for every run."""

    def __init__(self, fmt, temp):
        self.fmt, self.temp = fmt, temp
        self.template = os.path.join(temp, f"template-{fmt.name}")
        os.makedirs(os.path.join(self.template, "Maps"))
        fmt.make(os.path.join(self.template, "server.dat"))
        for n, data in fmt.files.items():
            open(os.path.join(self.template, "Maps", f"Map #{n} - new.map4"), "wb").write(data)
        self.old = fmt.rows(os.path.join(self.template, "server.dat"))
        self.new = {n: sha(blob(data)) for n, data in fmt.files.items()}
        self.maps = tree(os.path.join(self.template, "Maps"))

    def run(self, command, cut=0, torn=None):
        """One run of `corvald-batch -q command` on powerfs, cut after call `cut` (0: after the run); returns
        the run, the file system's report, and the folder as the program left it when it ended on its own."""
        backing, mount, report = (os.path.join(self.temp, part) for part in ("backing", "mount", "report"))
        shutil.rmtree(backing, ignore_errors=True)
        shutil.copytree(self.template, backing)
        os.makedirs(mount, exist_ok=True)
        daemon = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "powerfs.py"), backing, mount, report,
                                   "--cut", str(cut)] + ([] if torn is None else ["--torn", str(torn)]))
        deadline = time.monotonic() + 20
        while not os.path.ismount(mount):
            if daemon.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("powerfs did not mount")
            time.sleep(0.02)
        try:
            run = subprocess.run([BATCH, "-q", command, mount], capture_output=True, timeout=120,
                                 env={**os.environ, "ASAN_OPTIONS": "detect_leaks=0"})
            left = tree(backing) if run.returncode >= 0 else None
        finally:
            subprocess.run(["umount", mount], check=True)
            daemon.wait(timeout=60)
        return run, json.load(open(report)), left


def checked(kind, condition, what):
    """A check counted under `kind`: rows lost, files missing, wrong messages, side files, finished run undone."""
    if not check(condition, what):
        tally[kind] += 1
    return condition


def converted_files(scene, rows, what):
    """How many files of the list the rows hold, checking that each number holds its old or its new blob and
    that the converted ones are the first of the list."""
    old, new = scene.old, scene.new
    states = []
    for name in file_names(scene.fmt):
        n = number_of(name)
        got = rows.get(n)
        if got == [new[n]] * max(1, len(old.get(n, []))):
            states.append(True)
        else:
            checked("rows lost", got == old.get(n), f"{what}: map {n} holds neither its old nor its new blob")
            states.append(False)
    others = {n: r for n, r in rows.items() if n not in new}
    checked("rows lost", others == {n: r for n, r in old.items() if n not in new}, f"{what}: rows of no file")
    done = states.index(False) if False in states else len(states)
    checked("rows lost", not any(states[done:]), f"{what}: converted rows beyond the first {done} files")
    return done


def check_cut(scene, phase, mode, k, run, report, left):
    fmt, folder = scene.fmt, os.path.join(scene.temp, "backing")
    cut = report["calls"][report["cut_at"]] if report["cut_at"] is not None else ["after the run", ""]
    what = f"{fmt.name} {phase} {mode} k={k} ({' '.join(cut)})"
    out = run.stdout.decode()
    total = len(scene.new)
    message = phase == "convert" and out == f"{total} Maps converted!\n"
    if phase == "convert":
        checked("wrong messages", out in ("", f"{total} Maps converted!\n"), f"{what}: printed {out!r}")
    if run.returncode != -9:
        # A run that ended loses nothing to a cut; only a "server.tmp" may come back, for the next start-up.
        checked("wrong messages", run.returncode == 0, f"{what}: exit {run.returncode} {run.stderr[-300:]}")
        after = tree(folder)
        checked("finished run undone", all(after.get(name) == data for name, data in left.items()),
                f"{what}: a cut after the run undid {sorted(n for n, d in left.items() if after.get(n) != d)}")
        checked("side files", set(after) - set(left) <= {"server.tmp"},
                f"{what}: a cut after the run brought back {sorted(set(after) - set(left))}")
    names = set(os.listdir(folder))
    if not checked("files missing", "server.dat" in names, f"{what}: no server.dat; left {sorted(names)}"):
        return
    if message:
        ok, err = fmt.read_by_nobody(os.path.join(folder, "server.dat"))
        checked("side files", ok, f"{what}: a reader without write access fails: {err}; left {sorted(names)}")
    view = os.path.join(scene.temp, "view")
    shutil.rmtree(view, ignore_errors=True)
    os.makedirs(view)
    for name in names & set(DATABASE_FILES):
        shutil.copy(os.path.join(folder, name), view)
    try:
        rows = fmt.rows(os.path.join(view, "server.dat"))
    except RuntimeError as error:
        checked("rows lost", False, f"{what}: server.dat does not open whole: {error}; left {sorted(names)}")
        return
    done = converted_files(scene, rows, what)
    checked("rows lost", not message or done == total, f"{what}: printed, but {done} of {total} maps are there")
    print(f"{what}: {done} of {total} files converted{', the message printed' if message else ''}", flush=True)
    # The next start-up recovers what the cut left.
    again = subprocess.run([BATCH, "-q", "list", folder], capture_output=True)
    checked("wrong messages", again.returncode == 0, f"{what}: the next start-up: {again.stderr[-300:]}")
    listed = again.stdout.decode().splitlines()
    checked("wrong messages", listed[:1] == [f"Number of maps found: {sum(map(len, rows.values()))}"] and all(
        (f"Map #{number_of(name)}: new map {number_of(name)}" in listed) == (i < done)
        for i, name in enumerate(file_names(fmt))), f"{what}: the next start-up lists {listed[:2]}")
    checked("side files", sorted(os.listdir(folder)) == ["Maps", "server.dat"],
            f"{what}: after the next start-up: {sorted(os.listdir(folder))}")
    checked("files missing", tree(os.path.join(folder, "Maps")) == scene.maps, f"{what}: the map files changed")
    try:
        checked("rows lost", fmt.rows(os.path.join(folder, "server.dat")) == rows, f"{what}: the next start-up "
                "lost rows")
    except RuntimeError as error:
        checked("rows lost", False, f"{what}: after the next start-up server.dat does not open: {error}")


def cut_points(calls, phase, count, rng):
    """`count` cuts (1-based call numbers, 0 for after the run) over the phase's calls: each call that is not
    a write, and the end, once; the rest after random writes."""
    first = 0
    if phase == "convert":
        first = next(i for i, call in enumerate(calls) if call == ["unlink", "/server.tmp"]) + 1
    steps = [i + 1 for i in range(first, len(calls)) if calls[i][0] != "write"]
    writes = [i + 1 for i in range(first, len(calls)) if calls[i][0] == "write"]
    chosen = [0] + (steps if count > len(steps) else sorted(rng.sample(steps, count - 1)))
    return chosen + sorted(rng.choice(writes or chosen) for _ in range(count - len(chosen)))


def scene_of(name, temp):
    if name not in scenes:
        scenes[name] = Scene({"sqlcipher": SqlCipher, "jet": Jet}[name](), temp)
    return scenes[name]


def cut_once(scene, phase, mode, k, torn):
    run, report, left = scene.run("list" if phase == "start-up" else "convert", k, torn)
    check_cut(scene, phase, f"{mode} {torn}" if mode == "torn" else mode, k, run, report, left)


def cuts(args, temp):
    rng = random.Random(args.seed)
    cases = [(f, p, m) for f in args.formats.split(",") for p in args.phases.split(",") for m in args.modes.split(",")]
    results = []
    for i, (name, phase, mode) in enumerate(cases):
        count = args.cuts // len(cases) + (i < args.cuts % len(cases))
        scene = scene_of(name, temp)
        whole, report, _ = scene.run("list" if phase == "start-up" else "convert")
        if not checked("wrong messages", whole.returncode == 0 and (phase == "start-up" or report["calls"]),
                       f"{name} {phase}: a whole run: {whole.returncode} {whole.stderr[-300:]}"):
            continue
        before, started = sum(tally.values()), time.monotonic()
        for k in cut_points(report["calls"], phase, count, rng):
            cut_once(scene, phase, mode, k, rng.randrange(1 << 30) if mode == "torn" else None)
        results.append((name, phase, mode, count, len(report["calls"]), sum(tally.values()) - before,
                        (time.monotonic() - started) / max(1, count)))
    print("| format | phase | mode | cuts | calls in a whole run | failed checks | s a cut |")
    print("|---|---|---|---:|---:|---:|---:|")
    for row in results:
        print("| {} | {} | {} | {} | {} | {} | {:.2f} |".format(*row))
    print("failed checks by kind:", dict(tally) or "none")


def skip_unless_possible(need_oracle):
    missing = [what for what, ok in (("root", os.geteuid() == 0), ("/dev/fuse", os.path.exists("/dev/fuse")),
                                     ("fusepy", subprocess.run(["/usr/bin/python3", "-c", "import fusepy"]).returncode
                                      == 0), ("the Jet oracle", not need_oracle or os.path.exists(ORACLE))) if not ok]
    if missing:
        print("skipped: no " + ", ".join(missing))
        sys.exit(1 if os.environ.get("CI") == "true" else 77)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=["filesystem", "cuts", "one"])
    parser.add_argument("cut", nargs="*", help="one: FORMAT PHASE K [SEED], a torn cut with a seed")
    parser.add_argument("--cuts", type=int, default=1000)
    parser.add_argument("--formats", default="sqlcipher,jet")
    parser.add_argument("--phases", default="start-up,convert")
    parser.add_argument("--modes", default="clean,torn")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    skip_unless_possible(args.case == "cuts" and "jet" in args.formats or "jet" in args.cut)
    if args.case == "filesystem":
        import filesystem_test
        filesystem_test.run()
    with tempfile.TemporaryDirectory(prefix="corvald-powercut-") as temp:
        os.chmod(temp, 0o755)
        if args.case == "cuts":
            cuts(args, temp)
        elif args.case == "one":
            name, phase, k, *seed = args.cut
            cut_once(scene_of(name, temp), phase, "torn" if seed else "clean", int(k), int(seed[0]) if seed else None)
    print(f"{args.case}: {len(failures)} failed checks")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
