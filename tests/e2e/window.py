"""The real corvald on a private Xvfb, driven as a person drives it with xdotool, from a folder whose name
is not UTF-8: the dump and the convert, and a start-up that fails. Usage: window.py CASE."""
import os
import signal
import subprocess
import time

from common import CLOSE_WINDOW, CORVALD, MAKE_SERVER_DAT, Folder, blob, check, folder_files, main, make_db, named, \
    read_db
from batch import reference_maps

MAIN, STATUS, BOX = "Corvald Converter", "Loading Server", "Corvald"


class Screen:
    """A private Xvfb, and the program started on it from "elsewhere"."""

    def __init__(self):
        # -noreset: the server would write its display to `write` again, to nobody, once its last client goes.
        read, write = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-noreset", "-nolisten", "tcp", "-screen",
                                        "0", "1024x768x24"], pass_fds=[write], stderr=subprocess.DEVNULL)
        os.close(write)
        display = b""
        while not display.endswith(b"\n"):  # the number and the line break come in two writes
            display += os.read(read, 16) or b"\n"
        os.close(read)
        self.env = dict(os.environ, DISPLAY=":" + display.decode().strip(), QT_QPA_PLATFORM="xcb")

    def start(self, f):
        return subprocess.Popen([f.program], cwd=f.elsewhere, env=self.env, stderr=subprocess.PIPE)

    def start_main(self, f):
        """The program started, and its main window; raises when none comes."""
        program = self.start(f)
        main_window = self.wait(MAIN, 90)
        if not main_window:
            program.kill()
            raise RuntimeError(f"no main window: windows {self.windows('.+')}, {program.wait()} {program.stderr.read()}")
        return program, main_window

    def windows(self, title):
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"], env=self.env,
                               capture_output=True, text=True)
        return found.stdout.split()

    def wait(self, title, seconds=30, gone=False):
        for _ in range(seconds * 20):
            found = self.windows(title)
            if bool(found) != gone:
                return found[0] if found else True
            time.sleep(0.05)
        return None

    def close(self, window):
        subprocess.run([CLOSE_WINDOW, window], env=self.env, check=True)

    def click(self, window, x, y):
        subprocess.run(["xdotool", "mousemove", "--window", window, str(x), str(y), "click", "1"], env=self.env)

    def size(self, window):
        info = subprocess.run(["xwininfo", "-id", window], env=self.env, capture_output=True, text=True).stdout
        return [int(line.split()[1]) for line in info.splitlines() if line.strip().split(":")[0] in
                ("Width", "Height")]

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.server.terminate()  # so that it takes its socket and lock file with it
        self.server.wait()


def dump_convert():
    """Dump every map, then in a second run convert the files back and stop the program by a signal while
    its closing message is open."""
    with Screen() as x, Folder(CORVALD, os.fsdecode(b"Caf\xe9")) as f:
        maps = reference_maps()
        make_db(f.db, [(n, blob(r)) for n, r, _ in maps])
        stored = read_db(f.db)
        program, main_window = x.start_main(f)
        check(x.size(main_window) == [274, 106], "the main window's size")
        x.click(main_window, 136, 64)  # "Dump maps into seperate files"
        expected = {file: r for n, r, file in maps if file}
        for _ in range(300):
            if folder_files(f.maps) == expected and x.wait(STATUS, 1, gone=True):
                break
            time.sleep(0.1)
        check(folder_files(f.maps) == expected and not x.windows(STATUS), "the dumped files")
        x.close(main_window)
        check(program.wait(20) == 0, f"the first run's end: {program.stderr.read()[-300:]}")

        program, main_window = x.start_main(f)
        x.click(main_window, 136, 88)  # "Convert map files to database"
        box = x.wait(BOX, 60)
        check(box and not x.windows(STATUS), "the closing message")
        program.terminate()  # a stop signal confirms the message and closes the main window
        check(program.wait(20) == 0, f"the second run's end: {program.stderr.read()[-300:]}")
        check(read_db(f.db) == stored, "the rows after converting the dumped files")


def failed_start_up():
    """Without a database, or with one under another password: one message over the status window, no main
    window, exit code 1, and the file as it was."""
    with Screen() as x, Folder(CORVALD) as f:
        for what in ("no database", "another password"):
            if what != "no database":
                make_db(f.db, [(1, blob(named(b"One")))], key="another password")
            before = os.path.exists(f.db) and open(f.db, "rb").read()
            program = x.start(f)
            box = x.wait(BOX, 20)
            check(box and len(x.windows(STATUS)) == 1 and not x.windows(MAIN), f"{what}: the message")
            if box:
                x.close(box)
            check(program.wait(20) == 1 and not x.windows(MAIN), f"{what}: the exit code")
            check((os.path.exists(f.db) and open(f.db, "rb").read()) == before, f"{what}: the file")
            check(not os.path.exists(os.path.join(f.folder, "server.tmp")), f"{what}: server.tmp")


def sample():
    """The sample database that make_server_dat makes opens in the window program from a UTF-8 folder, and a
    SIGHUP ends the program cleanly."""
    with Screen() as x, Folder(CORVALD, "Caf\u00e9") as f:
        subprocess.run([MAKE_SERVER_DAT, f.db], check=True)
        program, main_window = x.start_main(f)
        check(x.wait(STATUS, 5, gone=True) and os.path.isdir(f.maps), "the status window goes, Maps is made")
        check(not os.path.exists(os.path.join(f.elsewhere, "Maps")), "Maps in the program's folder only")
        program.send_signal(signal.SIGHUP)  # a closed terminal's stop signal ends it as the close box does
        check(program.wait(20) == 0 and len(read_db(f.db)) == 36, "the end")


if __name__ == "__main__":
    main({"dump_convert": dump_convert, "failed_start_up": failed_start_up, "sample": sample})
