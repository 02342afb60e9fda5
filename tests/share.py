#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# A share as media often sit on (Samba through the desktop, rclone): serves FOLDER at MOUNTPOINT
# through FUSE, but refuses hard links and, as a FUSE 2 file system, renames that refuse to
# replace. Prints "mounted" once it serves; unmounts when its standard input closes, which also
# happens when the test that started it dies. Exits with 77 where FUSE or mounting is refused.
# Usage: share.py [--delay MS] [--threads] FOLDER MOUNTPOINT
# --delay makes every call wait MS milliseconds, a round trip to a file server; --threads serves
# several calls at once, as a file server does, rather than one at a time in order. Each line on
# its standard input makes it print the calls served since the last such line, counted by
# operation, as one line on its standard output ("getattr=12 opendir=3 ...").
import argparse
import collections
import errno
import os
import signal
import sys
import threading
import time

from fusepy import FUSE, FuseOSError, Operations


class Share(Operations):
    use_ns = True
    chmod, chown, mkdir, mknod, open = os.chmod, os.chown, os.mkdir, os.mknod, os.open
    readlink, rmdir, unlink = os.readlink, os.rmdir, os.unlink

    # Every call gets the path under FOLDER; the plain ones pass straight through, one a line.
    def __init__(self, root, delay):
        self.root, self.delay = root, delay
        self.calls, self.counting = collections.Counter(), threading.Lock()

    def __call__(self, op, path, *args):
        with self.counting:
            self.calls[op] += 1
        time.sleep(self.delay)
        return getattr(self, op)(self.root + (path or ''), *args)

    def counts(self):
        with self.counting:
            calls, self.calls = self.calls, collections.Counter()
        return ' '.join(f'{op}={n}' for op, n in sorted(calls.items()))

    def init(self, path): print('mounted', flush=True)
    def rename(self, path, new): os.rename(path, self.root + new)
    def symlink(self, path, target): os.symlink(target, path)
    def truncate(self, path, length, fh=None): os.truncate(path, length)
    def utimens(self, path, times=None): os.utime(path, ns=times)
    def create(self, path, mode): return os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)
    def read(self, path, size, offset, fh): return os.pread(fh, size, offset)
    def write(self, path, data, offset, fh): return os.pwrite(fh, data, offset)
    def release(self, path, fh): os.close(fh)

    def readdir(self, path, fh):
        # Another client at the worst moment: a file whose name starts with "becomes-folder" is
        # a folder by the time the listing's reader asks what it is.
        names = os.listdir(path)
        for name in names:
            if name.startswith('becomes-folder') and os.path.isfile(os.path.join(path, name)):
                os.remove(os.path.join(path, name))
                os.mkdir(os.path.join(path, name))
        return ['.', '..'] + names

    def getattr(self, path, fh=None):
        st = os.lstat(path)
        names = 'mode ino nlink uid gid size atime_ns mtime_ns ctime_ns'.split()
        return {'st_' + name.removesuffix('_ns'): getattr(st, 'st_' + name) for name in names}

    def link(self, path, source):
        if os.path.basename(path).startswith('taken'):  # another client is quicker
            with open(path, 'xb') as theirs:
                theirs.write(b'theirs')
        raise FuseOSError(errno.EPERM)

    def flush(self, path, fh):
        # Another client at the worst moment: a file closed while empty gives way to an empty
        # file of theirs if its name starts with "replaced", is written to with "written".
        name = os.path.basename(path)
        if os.fstat(fh).st_size == 0:
            if name.startswith('written'):
                os.write(fh, b'theirs')
            elif name.startswith('replaced'):
                os.close(os.open(path + '~', os.O_WRONLY | os.O_CREAT, 0o600))
                os.rename(path + '~', path)


def answer_input(share):
    for _ in sys.stdin:
        print(share.counts(), flush=True)
    signal.pthread_kill(threading.main_thread().ident, signal.SIGTERM)


arguments = argparse.ArgumentParser()
arguments.add_argument('--delay', type=float, default=0, metavar='MS')
arguments.add_argument('--threads', action='store_true')
arguments.add_argument('folder')
arguments.add_argument('mountpoint')
options = arguments.parse_args()
share = Share(options.folder, options.delay / 1000)
threading.Thread(target=answer_input, args=(share,), daemon=True).start()
try:
    # Nothing cached, as on a share that others write to.
    FUSE(share, options.mountpoint, foreground=True, nothreads=not options.threads, use_ino=True,
         hard_remove=True, entry_timeout=0, negative_timeout=0, attr_timeout=0)
except RuntimeError:
    sys.exit(77)
