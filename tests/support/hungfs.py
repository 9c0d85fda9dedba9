#!/usr/bin/python3
# A folder served through FUSE that stops answering when told to, as a network
# mount does when its server goes away: every call waits, in the kernel, until the
# folder is released. Serves the folder given; mounts it at the mount point given.
#
# Commands on standard input, each acknowledged on standard output:
#   hang     -> "hung"       later calls wait (each says "blocked <call> <path>")
#   release  -> "released"   every waiting call goes on, and later ones answer
# The end of standard input releases every call and unmounts the folder. "ready" says
# the mount is up.

import os
import subprocess
import sys
import threading

import fusepy

ATTRIBUTES = ('st_atime', 'st_ctime', 'st_gid', 'st_mode', 'st_mtime', 'st_nlink',
              'st_size', 'st_uid')
out_lock = threading.Lock()


def say(line):
    with out_lock:
        sys.stdout.write(line + '\n')
        sys.stdout.flush()


class Folder(fusepy.Operations):
    def __init__(self, root):
        self.root = os.path.realpath(root)
        self.answering = threading.Event()
        self.answering.set()

    def __call__(self, op, *args):
        if op not in ('init', 'destroy') and not self.answering.is_set():
            say('blocked %s %s' % (op, args[0] if args else ''))
            self.answering.wait()
        return super().__call__(op, *args)

    def init(self, path):
        say('ready')

    def real(self, path):
        return self.root + path

    def getattr(self, path, fh=None):
        st = os.lstat(self.real(path))
        return {key: getattr(st, key) for key in ATTRIBUTES}

    def readdir(self, path, fh):
        return ['.', '..'] + os.listdir(self.real(path))

    def statfs(self, path):
        st = os.statvfs(self.real(path))
        return {key: getattr(st, key) for key in dir(st) if key.startswith('f_')}

    def create(self, path, mode, fi=None):
        return os.open(self.real(path), os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def release(self, path, fh):
        os.close(fh)

    def rename(self, old, new):
        os.rename(self.real(old), self.real(new))


# The calls that only pass a path on, with their other arguments.
for _name in ('readlink', 'open', 'chmod', 'chown', 'unlink'):
    setattr(Folder, _name, lambda self, path, *args, call=getattr(os, _name):
            call(self.real(path), *args))

def commands(folder, mount_point):
    for line in sys.stdin:
        if line.strip() == 'hang':
            folder.answering.clear()
            say('hung')
        elif line.strip() == 'release':
            folder.answering.set()
            say('released')
    # The test is over, or died: nothing may stay stuck, nor mounted.
    folder.answering.set()
    subprocess.run(['fusermount3', '-u', '-z', mount_point], stderr=subprocess.DEVNULL)


def main():
    root, mount_point = sys.argv[1], sys.argv[2]
    folder = Folder(root)
    threading.Thread(target=commands, args=(folder, mount_point), daemon=True).start()
    # Nothing cached in the kernel: every look at the folder reaches this program.
    fusepy.FUSE(folder, mount_point, foreground=True, nothreads=False, entry_timeout=0,
                attr_timeout=0, negative_timeout=0)


if __name__ == '__main__':
    main()
