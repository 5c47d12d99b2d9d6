"""corvald-batch run as a user runs it, on databases that the sqlcipher shell made from Python's zlib blobs:
its files, rows, output and exit codes, start-up's compaction against what other programs leave or hold, a
kill at every file-changing call, and make_server_dat. Usage: batch.py CASE (the programs come from the
environment, see common.py)."""
import os
import random
import re
import resource
import shutil
import signal
import stat
import subprocess
import zlib

from common import (BATCH, FAKE_ZLIB, JET_FIXTURES, MAKE_SERVER_DAT, NOBODY, SCHEMA, Folder, blob, check, folder_files,
                    main, make_db, named, read_db, shell, shown_name, terminal)

NO_LEAK_CHECK = {"ASAN_OPTIONS": "detect_leaks=0"}  # LeakSanitizer cannot run under ptrace or another zlib
FILE_CHANGING = "pwrite64,write,fsync,fdatasync,ftruncate,rename,linkat,unlink"
CONVERTED = "Error: File 'server.dat' is a Jet database"


def limit_file_size(size):
    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write beyond fails with EFBIG instead
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return limit


# The names that reference_maps gives its maps, each beside the name that its map file carries.
NAMES = [("Harbour", "Harbour"), ("Old  Town", "Old  Town"), ("Caf\xe9 Noir", "Caf\xe9 Noir"), ("a/b:c?", "a_b_c_"),
         ("<Keep>", "_Keep_"), ("x*y|z", "x_y_z"), ('say "hi"', "say _hi_"), ("back\\slash", "back_slash"),
         ("#%&[]{", "#%&[]{")]


def reference_maps():
    """300 maps numbered up to 3000, with names that file names may not hold; then rows with no file. Each is
    (number, record, the name of the file the dump writes or None)."""
    rng = random.Random(7)
    numbers = rng.sample(range(1, 3000), 299) + [3000]
    rows = []
    for number in numbers:
        name, file = rng.choice(NAMES)
        head = (b" " * rng.randrange(3) + f"{name} {number}".encode("cp1252")).ljust(
            30, b"\0" if number % 7 == 0 else b" ")
        tile = bytes(rng.randrange(8) for _ in range(16))
        rows.append((number, head + b"".join(tile[:rng.randrange(1, 17)] + bytes([rng.randrange(256)])
                                             for _ in range(rng.randrange(1, 600))),
                     f"Map #{number} - {file} {number}.map4"))
    blank = min(set(range(1, 3000)) - set(numbers))
    return rows + [(0, b"zero".ljust(40), None), (3001, b"past".ljust(40), None), (-5, b"neg".ljust(40), None),
                   (blank, b" " * 40, None)]


def dump_convert():
    with Folder() as f:
        maps = reference_maps()
        make_db(f.db, [(n, blob(r)) for n, r, _ in maps])
        stored = read_db(f.db)
        dump = f.run("dump")
        check(dump.returncode == 0 and dump.stdout == b"", f"dump: {dump.returncode} {dump.stderr[-300:]}")
        check(folder_files(f.maps) == {file: r for n, r, file in maps if file}, "the dumped files")
        kept = sorted((n, r) for n, r, file in maps if file)
        # Not a terminal: one plain line per status text.
        progress = ["Checking zlib.dll ...", "Opening Server Database..", "Loading Maps.."]
        progress += [f"Dumping Map #{n} - {terminal(shown_name(r))} ..." for n, r in kept]
        check(dump.stderr.decode().splitlines() == progress, "the dump's progress")
        convert = f.run("-q", "convert")
        check((convert.returncode, convert.stdout, convert.stderr) == (0, b"300 Maps converted!\n", b""),
              f"convert: {convert.returncode} {convert.stdout} {convert.stderr[-300:]}")
        check(read_db(f.db) == stored, "the rows after converting the dumped files")


def listing():
    names = [(3, b"Esc\x1b[2J\\\x9d\nX"), (5, b"Caf\xe9 Noir"), (2, b"a:b #2"), (4000, b"Far"), (9, b"Nul\0After"),
             (7, b""), (8, b"\0Hidden")]
    with Folder() as f:
        make_db(f.db, [(n, blob(named(name))) for n, name in names])
        run = f.run("list", f.folder)
        entries = "".join(f"Map #{n}: {terminal(shown_name(named(name)))}\n" for n, name in sorted(names)
                          if 1 <= n <= 3000 and named(name)[:30].strip(b" "))
        check(run.returncode == 0 and run.stdout.decode() == "Number of maps found: 7\n" + entries,
              f"list: {run.stdout}")


def exit_codes():
    three = [(1, blob(named(b"One"))), (2, blob(named(b"Two"))), (3, blob(named(b"Three")))]
    holder = []

    def database(rows=three, files=None, then=None):
        def prepare(f):
            make_db(f.db, rows)
            if files:
                f.write_maps(files)
            if then:
                then(f)
        return prepare

    def hold_folder(f):  # another instance's claim on the folder
        holder.append(subprocess.Popen(["flock", f.folder, "-c", "echo held; sleep 9"], stdout=subprocess.PIPE))
        holder[-1].stdout.readline()

    def batch_at_work(f):  # another corvald-batch, stopped in the middle of a convert
        f.write_maps({f"Map #{n} - x.map4": random.Random(n).randbytes(4 << 20) for n in (1, 2)})
        holder.append(subprocess.Popen([f.program, "convert"], stderr=subprocess.PIPE))
        while b"Converting Map #" not in holder[-1].stderr.readline():
            pass
        holder[-1].send_signal(signal.SIGSTOP)
        holder.append(open(f.db, "rb").read())

    def rows_kept(f):
        check(len(read_db(f.db)) == 3, "rows kept")

    cases = [  # what, prepare, arguments, exit code, how stdout starts, a line of stderr, check, env, stdout
        ("help", None, ["--help"], 0, b"Usage: corvald-batch", ""),
        ("no command", None, [], 2, b"", "corvald-batch: no command given"),
        ("unknown command", None, ["export"], 2, b"", "corvald-batch: unknown command 'export'"),
        ("unknown option", None, ["-x", "list"], 2, b"", "corvald-batch: unknown option '-x'"),
        ("too many arguments", None, ["list", "a", "b"], 2, b"", "corvald-batch: too many arguments"),
        ("no server.dat", lambda f: open(f"{f.folder}/server.tmp", "w").write("old"), ["dump"], 1, b"",
         "corvald-batch: File: 'server.dat' not found! This file is required in order to extract the maps list "
         "from the database...", lambda f: check(open(f"{f.folder}/server.tmp").read() == "old", "server.tmp")),
        ("list to a full disk", database(), ["list"], 1, b"", "corvald-batch: cannot write to standard output: ",
         None, None, "/dev/full"),
        ("convert to a full disk", database(files={"Map #1 - One.map4": b"new"}), ["-q", "convert"], 1, b"",
         "corvald-batch: cannot write to standard output: ", None, None, "/dev/full"),
        ("dump progress escaped", database([(3, blob(named(b"Esc\x1b[2J")))]), ["dump"], 1, b"",
         "Dumping Map #3 - Esc\\x1B[2J ..."),
        ("another zlib", database(then=lambda f: holder.append(open(f.db, "rb").read())), ["list"], 1, b"",
         "corvald-batch: File: 'zlib.dll' not found!", lambda f: check(open(f.db, "rb").read() == holder[-1], "db"),
         {"LD_PRELOAD": FAKE_ZLIB, "ASAN_OPTIONS": "verify_asan_link_order=0:detect_leaks=0"}),
        ("wrong password", lambda f: make_db(f.db, [], key="other"), ["list"], 1, b"",
         "corvald-batch: Unexpected error #3031: "),
        ("Maps is a plain file", database(then=lambda f: open(f.maps, "w").write("no folder")), ["list"], 1, b"",
         "corvald-batch: Unexpected error #76: ", lambda f: check(open(f.maps).read() == "no folder", "Maps")),
        ("no .map4 files", database(files={"notes.txt": b"x", "Map #1 - a.map": b"x", "Map #1 - a.map4 ": b"x"}),
         ["convert"], 1, b"", "corvald-batch: Error: No '.map4' files found in the 'Maps' folder!", rows_kept),
        ("convert stopping at a file",
         database(files={"Map #1 - One.map4": b"new one", "Map #99999999999 - Big.map4": b"too far"}), ["convert"],
         1, b"", "corvald-batch: Unexpected error #6: Overflow (Maps\\\\Map #99999999999 - Big.map4)",
         lambda f: check(read_db(f.db)[0][1] == blob(b"new one"), "the file before is stored")),
        ("another instance at work", database(then=hold_folder), ["list"], 1, b"",
         "corvald-batch: Unexpected error #3260: The database 'server.dat' is locked by another user.",
         lambda f: (holder[-1].kill(), holder[-1].wait(), rows_kept(f))),
        # A Jet file is read where it lies, and claimed all the same.
        ("another instance at work on a Jet file",
         lambda f: (shutil.copy(JET_FIXTURES + "/maps-extra-field.mdb", f.db), hold_folder(f)), ["list"], 1, b"",
         "corvald-batch: Unexpected error #3260: ", lambda f: (holder[-1].kill(), holder[-1].wait())),
        # Only the claim on the folder keeps a second instance from a Jet file that the first has open.
        ("another corvald-batch at work on a Jet file",
         lambda f: (shutil.copy(JET_FIXTURES + "/maps-ole.mdb", f.db), batch_at_work(f)), ["list"], 1, b"",
         "corvald-batch: Unexpected error #3260: The database 'server.dat' is locked by another user.",
         lambda f: (check(open(f.db, "rb").read() == holder[-1], "server.dat changed"), holder[-2].kill(),
                    holder[-2].wait())),
        ("dump failing at map 2", database(then=lambda f: os.makedirs(f"{f.maps}/Map #2 - Two.map4")), ["dump"], 1,
         b"", "Map #2 - Error #75 - Path/File access error",
         lambda f: check(sorted(os.listdir(f.maps)) == ["Map #1 - One.map4", "Map #2 - Two.map4"], "maps 1, 2")),
    ]
    for what, prepare, args, code, out, err, after, env, stdout in (c + (None,) * (9 - len(c)) for c in cases):
        with Folder() as f:
            if prepare:
                prepare(f)
            run = f.run(*args, env=env, stdout=open(stdout, "wb") if stdout else subprocess.PIPE)
            text = run.stderr.decode()
            check(run.returncode == code, f"{what}: exit code {run.returncode}; {text}")
            check((run.stdout or b"").startswith(out), f"{what}: output {run.stdout}")
            check(err in text, f"{what}: {text}")
            check("\r" not in text and "\x1b" not in text, f"{what}: a control character in {text}")
            check(code != 2 or "Usage: corvald-batch" in text, f"{what}: no usage text")
            if after:
                after(f)


def synced_before_rename():
    """What strace sees of start-up: the compacted copy is synced before it takes the name, the folder after."""
    with Folder() as f:
        make_db(f.db, [(1, blob(named(b"One")))])
        trace = os.path.join(f.temp, "trace")
        f.run("-q", "list", env=NO_LEAK_CHECK, wrap=["strace", "-f", "-qq", "-o", trace, "-e",
                                                    "trace=openat,fsync,fdatasync,rename"])
        files, synced, renamed = {}, [], None
        for line in open(trace):
            if m := re.match(r'(\d+) +openat\(AT_FDCWD, "([^"]+)".* = (\d+)$', line):
                files[m[1], m[3]] = m[2]
            elif m := re.match(r"(\d+) +f(?:data)?sync\((\d+)\) += 0", line):
                synced.append(files.get((m[1], m[2])))
            elif (m := re.search(r'rename\("([^"]+)", "([^"]+)"\) = 0', line)) and m[2] == os.path.realpath(f.db):
                renamed = m[1]
                check(renamed in synced, "the copy is synced before its rename")
                synced = []
        check(renamed and ".compacting." in renamed, "a copy is renamed onto server.dat")
        check(os.path.realpath(f.folder) in synced, "the folder is synced after the rename")


def stop_signal():
    """A stop signal (SIGTERM, or SIGHUP as a closed terminal sends it) ends a convert after the map under way,
    the database settled in rollback-journal mode."""
    for stop in (signal.SIGTERM, signal.SIGHUP):
        with Folder() as f:
            make_db(f.db, [])
            record = random.Random(3).randbytes(4 << 20)  # zlib takes a while over it
            f.write_maps({f"Map #{n} - x.map4": record for n in range(1, 17)})
            run = subprocess.Popen([f.program, "convert"], stderr=subprocess.PIPE)
            while b"Converting Map #" not in run.stderr.readline():
                pass
            run.send_signal(stop)
            err = run.stderr.read()
            check(run.wait() == 128 + stop and b"stopped by signal %d" % stop in err, f"{stop}: {run.returncode} {err}")
            check(shell(f.db, "PRAGMA journal_mode;") == "delete\n" and not os.path.exists(f.db + "-wal"),
                  f"{stop}: settled")
            check(1 <= len(read_db(f.db)) < 16, f"{stop}: the maps converted before are stored")


def compaction():
    """The compacted file keeps all but its free space, its mode, owner and group; a link stays a link, and
    a user who may not give the copy the owner gets the file opened as it is."""
    for what, rows, target, mode, by_nobody in (("server.dat", 300, "server.dat", 0o640, False),
                                                ("a link", 0, "data/real.db", 0o640, False),
                                                ("by nobody", 300, "server.dat", 0o666, True)):
        with Folder() as f:
            os.chmod(f.folder, 0o777)
            os.makedirs(f"{f.folder}/data", mode=0o777)
            real = os.path.join(f.folder, target)
            make_db(real, [((i * 7) % rows, blob(random.Random(i).randbytes(500 + i))) for i in range(rows)])
            if real != f.db:
                os.symlink(target, f.db)
            shell(real, "DELETE FROM Maps WHERE Number >= 40; PRAGMA user_version = 42; PRAGMA application_id = 7;")
            os.chmod(real, mode)
            if not by_nobody:
                os.chown(real, 65534, 60)  # another user and group, which only root can give
            shape = "SELECT type, name, tbl_name, sql FROM sqlite_master; PRAGMA user_version; PRAGMA application_id;"
            before, source, stored, schema = os.stat(real), open(real, "rb").read(), read_db(real), shell(real, shape)
            wrap = NOBODY if by_nobody else ()
            open(f"{f.folder}/server.tmp", "w").write("left from an earlier run")
            f.write_maps({"kept.map4": b"kept"})
            check(f.run("-q", "list", wrap=wrap).returncode == 0, f"{what}: start-up")
            check(not os.path.exists(f"{f.folder}/server.tmp") and folder_files(f.maps) == {"kept.map4": b"kept"},
                  f"{what}: the old server.tmp goes, Maps stays as it was")
            compacted = open(real, "rb").read()
            check((compacted == source) == by_nobody, f"{what}: compacted only where the owner can be kept")
            check(rows == 0 or by_nobody or len(compacted) * 5 < len(source), f"{what}: the free space")
            check(compacted[:16] == source[:16] and shell(real, shape) == schema and read_db(real) == stored, what)
            os.remove(f"{f.maps}/kept.map4")
            f.write_maps({"Map #77 - new.map4": b"new"})
            check(f.run("-q", "convert", wrap=wrap).returncode == 0, f"{what}: convert")
            check(read_db(real)[-1] == (77, blob(b"new")), f"{what}: the convert writes where the link points")
            after = os.stat(real)
            check((after.st_mode, after.st_uid, after.st_gid) == (before.st_mode, before.st_uid, before.st_gid),
                  f"{what}: the mode, owner and group")
            check(os.path.islink(f.db) == (real != f.db) and not os.path.exists(f"{f.folder}/server.tmp"), what)


def page_map(n):
    """Map n, its blob most of a page."""
    return n, blob(random.Random(n).randbytes(680))


def kill_writer(db, wal, committed, interrupted):
    """Leaves `db` as a writer killed inside a transaction leaves it: the committed rows only in the log with
    `wal`, else a hot journal."""
    rows = lambda numbers: "".join(f"INSERT INTO Maps VALUES ({n}, X'{page_map(n)[1].hex()}');\n" for n in numbers)
    mode = "PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;\n" if wal else ""
    subprocess.run(["sqlcipher", "-batch", db], input=f"PRAGMA key = 'brevola'; PRAGMA cache_size = 1;\n{mode}"
                   f"{rows(committed)}BEGIN;\n{rows(interrupted)}.shell kill -9 $PPID\n", text=True, capture_output=True)


def others():
    """What other programs leave or hold: an interrupted writer's log or journal is settled, a stale journal
    goes, a database in use is reported and left as it is, a damaged one is put back byte for byte."""
    maps = [page_map(n) for n in range(1, 9)]
    for side in ("-wal", "-journal", "stale -journal"):
        with Folder() as f:
            make_db(f.db, maps[:4])
            kill_writer(f.db, side == "-wal", range(5, 9), range(100, 130))
            if side.startswith("stale"):
                shell(f.db, "SELECT count(*) FROM Maps;")
                open(f.db + "-journal", "wb").write(bytes(4096))
            check(os.path.exists(f.db + side.split()[-1]), f"{side} left")
            run = f.run("-q", "list")
            check(run.returncode == 0, f"{side}: {run.stderr}")
            check(sorted(os.listdir(f.folder)) == ["Maps", "corvald-batch", "server.dat"], f"{side}: side files")
            check(read_db(f.db) == maps and shell(f.db, "PRAGMA journal_mode;") == "delete\n", f"{side}: rows")
    for what, sql in (("exclusive lock", "BEGIN EXCLUSIVE;"), ("write under way", "BEGIN IMMEDIATE; "
                      "INSERT INTO Maps VALUES (9, 1);"), ("WAL", "PRAGMA journal_mode = WAL; INSERT INTO Maps "
                                                         "VALUES (9, 1);")):
        with Folder() as f:
            make_db(f.db, maps)
            open(f"{f.folder}/server.tmp", "w").write("left from an earlier run")
            other = subprocess.Popen(["sqlcipher", "-batch", f.db], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True)
            other.stdin.write(f"PRAGMA key = 'brevola';\n{sql}\nSELECT 'held';\n")
            other.stdin.flush()
            while other.stdout.readline().strip() not in ("held", ""):
                pass
            before = {k: v for k, v in folder_files(f.folder).items() if not k.endswith("-shm")}
            run = f.run("-q", "list")
            check(run.returncode == 1 and b"#3260" in run.stderr, f"{what}: {run.stderr}")
            after = {k: v for k, v in folder_files(f.folder).items() if not k.endswith("-shm") and k != "Maps"}
            check(after == before, f"{what}: files changed")
            other.kill()
            other.wait()
    with Folder() as f:
        make_db(f.db, [page_map(n) for n in range(1, 21)])
        damaged = bytearray(open(f.db, "rb").read())
        damaged[11 * 1024 + 512:11 * 1024 + 528] = b"damaged!damaged!"
        open(f.db, "wb").write(damaged)
        run = f.run("-q", "list")
        check(run.returncode == 1 and open(f.db, "rb").read() == damaged, f"damaged page: {run.stderr}")
        check(sorted(os.listdir(f.folder)) == ["Maps", "corvald-batch", "server.dat"], "damaged page: files")


def dump_of(db):
    """The tables and rows of `db` as the shell dumps them, or its bytes where the shell cannot read it."""
    try:
        return shell(db, ".dump")
    except RuntimeError:
        return open(db, "rb").read()


def bad_databases():
    """Each ends with one message that says what went wrong, and the file as it was."""
    good = [(1, blob(b"one")), (2, blob(b"b" * 5000)), (3, blob(b"three"))]
    with Folder() as f:
        make_db(f.db, good)
        sound = open(f.db, "rb").read()
    stream = zlib.compress(b"abc")
    with_rows = lambda sql: SCHEMA + sql
    cases = [  # what, bytes or (schema, rows), the end of the message ("" when start-up goes on)
        ("random bytes", random.Random(1).randbytes(8192), "#3031: "),
        ("zero bytes", b"", "#3343: "),
        ("one byte", b"A", "#3343: "),
        ("truncated to 100 bytes", sound[:100], "#3343: "),
        ("truncated to one page", sound[:1024], "#3049: "),
        ("truncated inside a page", sound[:3000], "#3000: "),
        ("last byte cut", sound[:-1], ""),
        ("no table Maps", ("CREATE TABLE Other (x INTEGER);", []), "Error loading maps table!"),
        ("Maps without Data", ("CREATE TABLE Maps (Number INTEGER); CREATE INDEX Number ON Maps (Number); "
                               "INSERT INTO Maps VALUES (1);", []), "#3265: "),
        ("Maps without the index", ("CREATE TABLE Maps (Number INTEGER, Data BLOB);", good), "#3015: "),
        ("empty Number", (with_rows("INSERT INTO Maps VALUES (NULL, x'00');"), good), "#94: "),
        ("empty Data", (with_rows("INSERT INTO Maps VALUES (4, NULL);"), good), "#94: "),
        ("Data as text", (with_rows("INSERT INTO Maps VALUES (4, 'some text');"), good), "#1010: "),
        ("a damaged stream", (SCHEMA, [(4, b"\3\0\0\0" + stream[:-1] + b"\x13")]), "#1010: "),
        ("a prefix too large", (SCHEMA, [(4, b"\xff\xff\xff\x7f" + stream)]), ""),
    ]
    for what, content, message in cases:
        with Folder() as f:
            if isinstance(content, bytes):
                open(f.db, "wb").write(content)
            else:
                make_db(f.db, content[1], content[0])
            before = dump_of(f.db)
            run = f.run("-q", "list")
            last = (run.stderr.decode().splitlines() or [""])[-1]
            check(run.returncode == (1 if message else 0) and (message in last), f"{what}: {last}")
            check(not os.path.exists(f"{f.folder}/server.tmp"), f"{what}: server.tmp left")
            check(dump_of(f.db) == before, f"{what}: the database changed")


def full_or_forbidden():
    """A disk that fills and files this user may not write: a clear message, and nothing stored is lost."""
    maps = {"Map #1 - a.map4": b"new one", "Map #2 - b.map4": random.Random(2).randbytes(300000)}
    first = named(b"One", bytes(100000))  # a small database, a large file
    stored = [(1, blob(first)), (2, blob(named(b"Two"))), (3, blob(named(b"Three")))]
    kept = {"Map #9 - old.map4": b"kept"}
    cases = [  # what, command, how it runs, before, the end of the message, files after, numbers converted
        ("a disk that fills during a convert", "convert", lambda f: limit_file_size(200000), None,
         "#3000: ", maps, [1]),
        ("a disk that fills during compaction", "list", lambda f: limit_file_size(os.path.getsize(f.db) // 2),
         None, "#3000: ", {}, []),
        # The map file cut short is deleted, so that no convert takes it for a whole map.
        ("a disk that fills during a dump", "dump", lambda f: limit_file_size(50000), None,
         "Map #1 - Error #61 - Disk full", {}, []),
        ("a map file that may not be read", "convert", NOBODY, lambda f: os.chmod(f"{f.maps}/Map #2 - b.map4", 0),
         "#70: Permission denied (Maps\\\\Map #2 - b.map4)", maps, [1]),
        ("a Maps folder that may not be written", "dump", NOBODY, lambda f: os.chmod(f.maps, 0o555),
         "Map #1 - Error #70 - Permission denied", kept, []),
        ("a server.dat that may not be written", "list", NOBODY, lambda f: os.chmod(f.db, 0o444), "#3027: ", {}, []),
    ]
    for what, command, how, before, message, files, converted in cases:
        with Folder() as f:
            make_db(f.db, stored)
            f.write_maps(files if command == "convert" or files == kept else {})
            for root, folders, names in os.walk(f.temp):
                for name in [root] + [os.path.join(root, n) for n in folders + names]:
                    os.lchown(name, 65534, 65534)
            if before:
                before(f)
            run = f.run("-q", command, **({"wrap": how} if isinstance(how, list) else {"preexec_fn": how(f)}))
            last = (run.stderr.decode().splitlines() or [""])[-1]
            check(run.returncode == 1 and message in last, f"{what}: {last}")
            os.chmod(f.maps, 0o755)
            check(folder_files(f.maps) == files, f"{what}: the map files")
            expected = [(n, blob(maps[f"Map #{n} - a.map4"]) if n in converted else d) for n, d in stored]
            check(read_db(f.db) == expected, f"{what}: the rows")


def traced_convert(f, *inject):
    """convert under strace, which kills it where `inject` says (nowhere: a whole run); the run and the trace of its
    file-changing calls."""
    trace = os.path.join(f.temp, "trace")
    strace = ["strace", "-f", "-qq", "-o", trace, "-e", f"trace={FILE_CHANGING}", *inject]
    return f.run("convert", env=NO_LEAK_CHECK, wrap=strace), open(trace).read()


def kill_points(trace):
    """How often a whole run's trace makes each file-changing call, and the (call, n) to kill at: every one, and
    every fourth pwrite64."""
    counts = {c: len(re.findall(rf"^\d+ +{c}\(", trace, re.M)) for c in FILE_CHANGING.split(",")}
    return counts, [(c, n) for c, count in counts.items() for n in range(1, count + 1) if c != "pwrite64" or n % 4 == 1]


def kills():
    """Start-up and a convert killed at file-changing calls: every map is there afterwards, old or new, and
    new where its update had returned; the next start-up loads what the shell reads."""
    stored = {n: named(b"old map %d" % n, bytes((i * 7 + n) % 256 for i in range(3000))) for n in range(1, 9)}
    files = {n: named(b"new map %d" % n, bytes((i * 5 + n) % 256 for i in range(3000))) for n in (2, 4, 6, 8, 10)}

    def run(f, *inject):
        make_db(f.db, [(n, blob(r)) for n, r in stored.items()])
        f.write_maps({f"Map #{n} - new.map4": r for n, r in files.items()})
        return traced_convert(f, *inject)

    with Folder() as f:
        whole, trace = run(f)
    check(whole.returncode == 0 and whole.stdout == b"5 Maps converted!\n", f"a whole run: {whole.stderr[-300:]}")
    counts, points = kill_points(trace)
    check(counts["rename"] >= 1 and counts["fsync"] + counts["fdatasync"] >= 3, f"file-changing calls {counts}")
    for call, n in points:
        with Folder() as f:
            done, _ = run(f, "-e", f"inject={call}:signal=KILL:when={n}")
            converting = [int(line[16:]) for line in done.stderr.decode().splitlines()
                          if line.startswith("Converting Map #")]
            returned = set(converting[:-1]) | (set(files) if done.returncode == 0 else set())
            rows = {}
            for number, data in read_db(f.db):
                check(number not in rows, f"killed at {call} {n}: map {number} twice")
                rows[number] = zlib.decompress(data[4:])
            for number in set(stored) | set(files):
                got = rows.get(number)
                ok = got == files.get(number) or (number not in returned and got == stored.get(number))
                check(ok, f"killed at {call} {n}: map {number} is {got and got[:12]}")
            check(set(rows) <= set(stored) | set(files), f"killed at {call} {n}: rows {sorted(rows)}")
            listed = f.run("-q", "list").stdout.decode()
            names = "".join(f"Map #{k}: {shown_name(v)}\n" for k, v in sorted(rows.items()))
            check(listed == f"Number of maps found: {len(rows)}\n{names}", f"killed at {call} {n}: next start-up")


def jet_rows(path):
    """Maps of a Jet file as mdb-export reads it: (number, blob) in index order."""
    out = subprocess.run(["mdb-export", "-b", "hex", path, "Maps"], check=True, capture_output=True, text=True).stdout
    rows = [line.split(",") for line in out.splitlines()[1:]]
    return sorted(((int(n), bytes.fromhex(d.strip('"'))) for n, d in rows), key=lambda row: row[0])


def jet_kills():
    """A Jet server.dat killed at every file-changing call of start-up and of a convert: the file holds the
    old rows or the new ones, the new ones where the convert finished, and the next start-up reads it and
    leaves no side file."""
    fixture = JET_FIXTURES + "/maps-ole.mdb"
    files = {n: named(b"new map %d" % n, bytes((i * 5 + n) % 256 for i in range(3000))) for n in (2, 11, 5001)}
    old = jet_rows(fixture)
    new = [(n, blob(files[n]) if n in files else d) for n, d in old] + [(5001, blob(files[5001]))]

    def run(f, *inject):
        shutil.copy(fixture, f.db)
        os.chmod(f.db, 0o644)
        f.write_maps({f"Map #{n} - new.map4": r for n, r in files.items()})
        return traced_convert(f, *inject)

    with Folder() as f:
        whole, trace = run(f)
        check(whole.returncode == 0 and jet_rows(f.db) == new, f"a whole run: {whole.stderr[-300:]}")
    counts, points = kill_points(trace)
    check(counts["rename"] >= 2 and counts["fsync"] >= 4, f"file-changing calls {counts}")
    for call, n in points:
        with Folder() as f:
            done, _ = run(f, "-e", f"inject={call}:signal=KILL:when={n}")
            rows = jet_rows(f.db)
            check(rows in (old, new), f"killed at {call} {n}: {len(rows)} rows, neither old nor new")
            check(done.returncode != 0 or rows == new, f"killed at {call} {n}: finished, yet old rows")
            listed = f.run("-q", "list")
            check(listed.returncode == 0 and jet_rows(f.db) == rows, f"killed at {call} {n}: next start-up")
            left = sorted(os.listdir(f.folder))
            check(left == ["Maps", "corvald-batch", "server.dat"], f"killed at {call} {n}: left {left}")


def make_server_dat():
    with Folder(MAKE_SERVER_DAT) as f:
        tool = lambda *args, **kw: subprocess.run([f.program, *args], cwd=f.folder, capture_output=True, **kw)
        check(tool("server.dat").returncode == 0 and shell(f.db, ".schema") == SCHEMA, "the sample's schema")
        rows = read_db(f.db)
        records = [zlib.decompress(d[4:]) for n, d in rows]
        check(24 <= len(rows) <= 60 and all(int.from_bytes(d[:4], "little") == len(r) >= 1054
                                            for (n, d), r in zip(rows, records)), "the sample's blobs")
        check(len({n for n, d in rows}) == len({r[:30] for r in records}) == len(rows) and all(
            1 <= n <= 3000 and r[0] != 32 for (n, d), r in zip(rows, records)), "the sample's numbers and names")
        check(tool("empty.dat", "--empty").returncode == 0 and
              shell(f"{f.folder}/empty.dat", "SELECT count(*) FROM Maps;") == "0\n", "--empty")
        before = open(f.db, "rb").read()
        check(tool("server.dat").returncode != 0 and open(f.db, "rb").read() == before, "never overwrites")
        check(all(tool(*args).returncode != 0 for args in ([], ["other.dat", "--full"], ["missing/other.dat"], ["--help"])),
              "the arguments")
        check(tool("big.dat", preexec_fn=limit_file_size(8192)).returncode != 0 and
              sorted(os.listdir(f.folder)) == ["empty.dat", "make_server_dat", "server.dat"], "a failure part way")
        # The Jet sample holds the same rows, as mdb-export reads them.
        check(tool("--jet", "jet.mdb").returncode == 0 and jet_rows(f"{f.folder}/jet.mdb") == sorted(rows),
              "the Jet sample")
        check(tool("--jet", "jet-empty.mdb", "--empty").returncode == 0 and
              jet_rows(f"{f.folder}/jet-empty.mdb") == [], "the empty Jet database")


if __name__ == "__main__":
    main({"dump_convert": dump_convert, "list": listing, "exit_codes": exit_codes, "compaction": compaction,
          "synced_before_rename": synced_before_rename, "stop_signal": stop_signal, "others": others,
          "bad_databases": bad_databases, "full_or_forbidden": full_or_forbidden, "kills": kills, "jet_kills": jet_kills,
          "make_server_dat": make_server_dat})
