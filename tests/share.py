#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# SPDX-FileCopyrightText: 2026 Move & Rename developers
# A share as media often sit on (Samba through the desktop, rclone): serves FOLDER at MOUNTPOINT
# through FUSE, but refuses hard links and, as a FUSE 2 file system, renames that refuse to
# replace; names starting with "anycase" it finds in any letter case, as shares that ignore case
# do. Prints "mounted" once it serves; unmounts when its standard input closes, which also
# happens when the test that started it dies. Exits with 77 where FUSE or mounting is refused,
# and with 1 on any other error.
# Usage: share.py [--delay MS] [--threads] FOLDER MOUNTPOINT
# --delay makes every call wait MS milliseconds, a round trip to a file server; --threads serves
# several calls at once, as a file server does, rather than one at a time in order. Each word on
# its standard input makes it print that word and the calls served since the last word, counted
# by operation, as one line on its standard output ("3 getattr=12 opendir=3 ...").
import errno
import os
import re
import signal
import sys
import threading
import time
from collections import Counter

from fusepy import FUSE, FuseOSError, Operations

counting = threading.Lock()  # calls come from several threads with --threads


class Share(Operations):
    use_ns = True
    chmod, chown, mkdir, mknod, open = os.chmod, os.chown, os.mkdir, os.mknod, os.open
    readlink, rmdir, unlink = os.readlink, os.rmdir, os.unlink

    def __init__(self, root, delay):
        self.root, self.delay, self.calls, self.mounted = root, delay, Counter(), False

    # Every call is counted, waits, and gets the path under FOLDER; the plain ones pass straight
    # through, one a line.
    def __call__(self, op, path, *args):
        with counting: self.calls[op] += 1
        time.sleep(self.delay)
        return getattr(self, op)(self.root + (path or ''), *args)

    def init(self, path):
        self.mounted = True
        print('mounted', flush=True)
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
        for turned in (os.path.join(path, n) for n in names if n.startswith('becomes-folder')):
            if os.path.isfile(turned): os.remove(turned); os.mkdir(turned)
        return ['.', '..'] + names

    def getattr(self, path, fh=None):
        # As on a share that ignores letter case: a name starting with "anycase" is found in any.
        folder, name = os.path.split(path)
        if name.lower().startswith('anycase') and not os.path.lexists(path):
            path = next((os.path.join(folder, n) for n in os.listdir(folder)
                         if n.lower() == name.lower()), path)
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
    for line in sys.stdin:
        with counting: calls, share.calls = share.calls, Counter()
        print(line.strip(), *(f'{op}={n}' for op, n in sorted(calls.items())), flush=True)
    signal.pthread_kill(threading.main_thread().ident, signal.SIGTERM)


folder, mountpoint, options = sys.argv[-2], sys.argv[-1], sys.argv[1:-2]
# The kernel masks a new file's mode with the client's umask already; the share adds none of its own.
os.umask(0)
delay = float(options[options.index('--delay') + 1]) if '--delay' in options else 0
share = Share(folder, delay / 1000)
threading.Thread(target=answer_input, args=(share,), daemon=True).start()
# What the FUSE library writes to standard error passes on, watched for its refusals to mount.
refused = threading.Event()
errors_read, errors_written = os.pipe()
stderr = os.dup(2)
os.dup2(errors_written, 2)
os.close(errors_written)


def pass_errors_on():
    with os.fdopen(errors_read, 'rb') as errors:
        for line in errors:
            os.write(stderr, line)
            if re.search(rb'not permitted|Permission denied|No such device|open /dev/fuse', line):
                refused.set()


passing = threading.Thread(target=pass_errors_on)
passing.start()
try:
    # Nothing cached, as on a share that others write to.
    FUSE(share, mountpoint, foreground=True, nothreads='--threads' not in options, use_ino=True,
         hard_remove=True, entry_timeout=0, negative_timeout=0, attr_timeout=0)
    failed = None
except RuntimeError as error:
    failed = error
os.dup2(stderr, 2)
passing.join()
# Only a refusal to mount skips; any other failure, or one once mounted, fails the tests.
if failed:
    sys.exit(77 if refused.is_set() and not share.mounted else f'share.py: FUSE failed: {failed}')
