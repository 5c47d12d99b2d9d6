"""A FUSE file system that passes every call through to a backing folder and remembers what a power cut would
keep: each file's content as of its last fsync or fdatasync, each folder's entries as of its last fsync. At
the k-th file-changing call it SIGKILLs the caller just after passing the call through, and from then on
changes nothing; once unmounted it rolls the backing folder back to what was synced (and in torn mode keeps a
random prefix of each file's unsynced writes, the last one perhaps cut at a sector boundary).

Usage: powerfs.py BACKING MOUNT REPORT [--cut K] [--torn SEED]. REPORT receives, as JSON, every counted call
as [operation, path] and the index of the one that cut (or null)."""
import argparse
import errno
import json
import os
import random
import shutil
import signal
import stat

from fusepy import FUSE, FuseOSError, Operations, fuse_get_context

SECTOR = 512


class File:
    def __init__(self, synced, meta):
        self.synced = synced  # the bytes as of the last sync; None until the first sync of a new file
        self.meta = meta  # (mode, uid, gid) as of the last sync
        self.pending = []  # ("w", offset, bytes) and ("t", size) since the last sync, in order


class Folder:
    def __init__(self, entries, meta):
        self.entries = dict(entries)
        self.synced = dict(entries)
        self.meta = meta


def meta_of(info):
    return stat.S_IMODE(info.st_mode), info.st_uid, info.st_gid


def scan(path):
    """The model of a folder as it stands, taken as synced (the test set it up before the mount)."""
    entries = {}
    for entry in os.scandir(path):
        info = entry.stat(follow_symlinks=False)
        if entry.is_dir(follow_symlinks=False):
            entries[entry.name] = scan(entry.path)
        elif entry.is_file(follow_symlinks=False):
            entries[entry.name] = File(open(entry.path, "rb").read(), meta_of(info))
    return Folder(entries, meta_of(os.stat(path)))


def content_after_cut(node, rng):
    """What a power cut leaves of a file: its synced bytes, and in torn mode (`rng`) some unsynced writes."""
    if rng is None:
        return node.synced
    data = bytearray(node.synced or b"")
    kept = rng.randint(0, len(node.pending))
    ops = node.pending[:kept]
    if kept < len(node.pending) and node.pending[kept][0] == "w":  # the next write torn at a sector
        _, offset, chunk = node.pending[kept]
        ops.append(("w", offset, chunk[:rng.randrange(0, len(chunk) + 1, SECTOR)]))
    for op in ops:
        if op[0] == "t":
            del data[op[1]:]
            data.extend(bytes(op[1] - len(data)))
        else:
            _, offset, chunk = op
            data.extend(bytes(max(0, offset - len(data))))
            data[offset:offset + len(chunk)] = chunk
    return None if node.synced is None and not ops else bytes(data)


def restore(backing, root, rng):
    """Rebuilds the backing folder from what was synced; names of one file stay hard links."""
    for entry in os.scandir(backing):
        shutil.rmtree(entry.path) if entry.is_dir(follow_symlinks=False) else os.unlink(entry.path)
    written = {}
    for name, node in sorted(root.synced.items()):
        path = os.path.join(backing, name)
        if isinstance(node, Folder):
            os.mkdir(path)
            restore(path, node, rng)
            os.chown(path, *node.meta[1:])
            os.chmod(path, node.meta[0])
        elif id(node) in written:
            if written[id(node)]:
                os.link(written[id(node)], path)
        else:
            data = content_after_cut(node, rng)
            written[id(node)] = path if data is not None else None
            if data is not None:
                open(path, "wb").write(data)
                os.chown(path, *node.meta[1:])
                os.chmod(path, node.meta[0])


class PowerFs(Operations):
    use_ns = True

    def __init__(self, backing, cut):
        self.backing, self.cut, self.calls, self.cut_at = backing, cut, [], None
        self.root = scan(backing)
        self.open_files = {}  # descriptor -> File

    def real(self, path):
        return os.path.join(self.backing, path.lstrip("/"))

    def parent(self, path):
        """The folder that holds `path` in the model, and the name in it."""
        folder = self.root
        *folders, name = path.strip("/").split("/")
        for part in folders:
            folder = folder.entries[part]
        return folder, name

    def node(self, path):
        folder, name = self.parent(path)
        return folder.entries[name] if name else self.root

    def changing(self, op, path):
        """Before a file-changing call: nothing changes any more once the cut has come."""
        if self.cut_at is not None:
            raise FuseOSError(errno.EIO)
        path = path or "(removed)"
        if path.endswith("-shm"):  # SQLite's shared memory, never synced: not a call worth a cut
            return
        self.calls.append([op, path])
        if len(self.calls) == self.cut:
            self.cut_at = len(self.calls) - 1

    def done(self):
        """After a file-changing call has passed through: the cut kills its caller."""
        if self.cut_at == len(self.calls) - 1 and not getattr(self, "killed", False):
            self.killed = True
            pid = fuse_get_context()[2]
            if pid > 0:
                os.kill(pid, signal.SIGKILL)

    def getattr(self, path, fh=None):
        info = os.fstat(fh) if fh is not None else os.lstat(self.real(path))
        fields = ("st_mode", "st_nlink", "st_uid", "st_gid", "st_size", "st_ino", "st_blocks")
        times = ("st_atime", "st_mtime", "st_ctime")
        return {k: getattr(info, k) for k in fields} | {k: getattr(info, k + "_ns") for k in times}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self.real(path))

    def statfs(self, path):
        info = os.statvfs(self.real(path))
        return {k: getattr(info, k) for k in dir(info) if k.startswith("f_")}

    def open(self, path, flags):
        # Read-write where allowed, so that a sync can read what it makes durable.
        fd = os.open(self.real(path), flags & ~os.O_ACCMODE | os.O_RDWR if flags & os.O_ACCMODE else flags)
        self.open_files[fd] = self.node(path)
        return fd

    def create(self, path, mode, fi=None):
        self.changing("create", path)
        fd = os.open(self.real(path), os.O_RDWR | os.O_CREAT | os.O_EXCL, mode)
        folder, name = self.parent(path)
        folder.entries[name] = self.open_files[fd] = File(None, meta_of(os.fstat(fd)))
        self.done()
        return fd

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        self.changing("write", path)
        os.pwrite(fh, data, offset)
        self.open_files[fh].pending.append(("w", offset, bytes(data)))
        self.done()
        return len(data)

    def truncate(self, path, length, fh=None):
        self.changing("truncate", path)
        os.truncate(fh if fh is not None else self.real(path), length)
        (self.open_files[fh] if fh is not None else self.node(path)).pending.append(("t", length))
        self.done()

    def fsync(self, path, datasync, fh):
        self.changing("fsync", path)
        node = self.open_files[fh]
        with open(f"/proc/self/fd/{fh}", "rb") as current:
            node.synced = current.read()
        node.meta, node.pending = meta_of(os.fstat(fh)), []
        self.done()

    def fsyncdir(self, path, datasync, fh):
        self.changing("fsyncdir", path)
        folder = self.node(path)
        folder.synced = dict(folder.entries)
        self.done()

    def release(self, path, fh):
        os.close(fh)
        del self.open_files[fh]

    def unlink(self, path):
        self.changing("unlink", path)
        os.unlink(self.real(path))
        folder, name = self.parent(path)
        del folder.entries[name]
        self.done()

    def rename(self, old, new):
        self.changing("rename", new)
        os.rename(self.real(old), self.real(new))
        (source, old_name), (target, new_name) = self.parent(old), self.parent(new)
        target.entries[new_name] = source.entries.pop(old_name)
        self.done()

    def link(self, target, source):
        self.changing("link", target)
        os.link(self.real(source), self.real(target))
        folder, name = self.parent(target)
        folder.entries[name] = self.node(source)
        self.done()

    def mkdir(self, path, mode):
        self.changing("mkdir", path)
        os.mkdir(self.real(path), mode)
        folder, name = self.parent(path)
        folder.entries[name] = Folder({}, meta_of(os.stat(self.real(path))))
        self.done()

    def rmdir(self, path):
        self.changing("rmdir", path)
        os.rmdir(self.real(path))
        folder, name = self.parent(path)
        del folder.entries[name]
        self.done()

    def chmod(self, path, mode):
        self.changing("chmod", path)
        os.chmod(self.real(path), stat.S_IMODE(mode))
        self.done()

    def chown(self, path, uid, gid):
        self.changing("chown", path)
        os.chown(self.real(path), uid, gid)
        self.done()

    def utimens(self, path, times=None):
        os.utime(self.real(path), ns=times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("backing")
    parser.add_argument("mount")
    parser.add_argument("report")
    parser.add_argument("--cut", type=int, default=0, help="kill the caller after this call (1 is the first)")
    parser.add_argument("--torn", type=int, help="seed of the torn mode")
    args = parser.parse_args()
    os.umask(0)
    fs = PowerFs(os.path.realpath(args.backing), args.cut)
    FUSE(fs, args.mount, foreground=True, nothreads=True, allow_other=True, default_permissions=True,
         hard_remove=True, big_writes=True, max_write=131072)
    restore(fs.backing, fs.root, None if args.torn is None else random.Random(args.torn))
    json.dump({"calls": fs.calls, "cut_at": fs.cut_at}, open(args.report, "w"))


if __name__ == "__main__":
    main()
