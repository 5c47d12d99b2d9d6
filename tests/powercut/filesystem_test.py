"""powerfs.py's own test: a cut keeps the synced content and undoes the unsynced tail and rename, kills the
caller just after the call it is set at, keeps an unsynced prefix in torn mode, and loses nothing that was
synced."""
import json
import os
import subprocess
import sys
import tempfile
import time

from common import check

HERE = os.path.dirname(os.path.abspath(__file__))
# A synced file, then an unsynced tail, an unsynced rename and a file never synced (calls 1 to 7 and 8).
UNSYNCED = """
import os, sys
os.chdir(sys.argv[1])
fd = os.open("a", os.O_CREAT | os.O_WRONLY, 0o644)
os.write(fd, b"synced"); os.fsync(fd); os.fsync(os.open(".", os.O_RDONLY))
os.write(fd, b" tail")
os.rename("a", "b")
open("new", "wb").write(b"never synced")
"""
# The same calls, each followed by the sync that makes it last, and a link and a removal.
SYNCED = UNSYNCED.replace("os.write(fd, b\" tail\")", "os.write(fd, b\" tail\"); os.fsync(fd)") + """
dir = os.open(".", os.O_RDONLY); os.link("kept", "kept2"); os.unlink("kept"); os.fsync(dir)
fd = os.open("new", os.O_WRONLY); os.fsync(fd); os.fsync(dir)
"""


def cut(steps, cut_at=0, torn=None):
    """Runs `steps` on a fresh mount over a folder holding "kept"; returns the caller's exit status, the
    calls counted, the folder before the unmount and after the cut."""
    with tempfile.TemporaryDirectory(prefix="corvald-powerfs-") as temp:
        backing, mount, report = (os.path.join(temp, name) for name in ("backing", "mount", "report"))
        os.makedirs(backing)
        os.makedirs(mount)
        open(os.path.join(backing, "kept"), "wb").write(b"before")
        daemon = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "powerfs.py"), backing, mount, report,
                                   "--cut", str(cut_at)] + ([] if torn is None else ["--torn", str(torn)]))
        while not os.path.ismount(mount):
            if daemon.poll() is not None:
                raise RuntimeError("powerfs did not mount")
            time.sleep(0.02)
        code = subprocess.run([sys.executable, "-c", steps, mount], stderr=subprocess.DEVNULL).returncode
        files = lambda: {name: open(os.path.join(backing, name), "rb").read() for name in os.listdir(backing)}
        before = files()
        subprocess.run(["umount", mount], check=True)
        daemon.wait()
        return code, json.load(open(report))["calls"], before, files()


def run():
    code, calls, before, after = cut(UNSYNCED)
    check(code == 0 and before == {"b": b"synced tail", "new": b"never synced", "kept": b"before"}, f"{before}")
    check(after == {"a": b"synced", "kept": b"before"}, f"a cut after unsynced calls left {after}")
    check([c[0] for c in calls] == ["create", "write", "fsync", "fsyncdir", "write", "rename", "create", "write"],
          f"the calls counted: {calls}")
    # Killed just after the rename has passed through: the file created after it never comes.
    code, calls, before, after = cut(UNSYNCED, cut_at=6)
    check(code == -9 and len(calls) == 6 and "b" in before and "new" not in before, f"killed: {code} {before}")
    check(after == {"a": b"synced", "kept": b"before"}, f"a cut at the rename left {after}")
    torn = {cut(UNSYNCED, torn=seed)[3].get("a") for seed in range(6)}
    check(torn == {b"synced", b"synced tail"}, f"torn cuts left the file as {torn}")
    code, calls, before, after = cut(SYNCED)
    check(code == 0 and after == before == {"b": b"synced tail", "new": b"never synced", "kept2": b"before"},
          f"a cut after everything was synced: {before} became {after}")
