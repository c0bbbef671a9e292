"""Demo games and their .torrent files for the demo and the whole-program tests.

Runs under Debian's python3 (it needs python3-libtorrent for the .torrent).
"""
import hashlib
import os
import random
import struct

import libtorrent as lt

STAMP_BLOCK = 16 * 1024
_MASK64 = (1 << 64) - 1


def stamped_bytes(start, n):
    """The bytes [start, start + n) of a stamped file: every 16 KiB block
    begins with its own offset and that offset inverted (never all zeros),
    the rest of the block is zeros. start is a multiple of the block."""
    out = bytearray(n)
    for at in range(0, n, STAMP_BLOCK):
        off = start + at
        out[at:at + 16] = struct.pack("<QQ", off, ~off & _MASK64)[:n - at]
    return out


def write_stamped(path, size):
    """A stamped file of `size` bytes, written sparsely: only the stamps,
    so even a file of several GiB takes seconds and little disk."""
    with open(path, "wb") as f:
        f.truncate(size)
        fd = f.fileno()
        for off in range(0, size, STAMP_BLOCK):
            os.pwrite(fd, struct.pack("<QQ", off, ~off & _MASK64)[:size - off], off)


def stamped_mismatch(path, size):
    """None when the file at path is the stamped file of `size` bytes, byte
    for byte; else the offset of the first 16 KiB block that differs (or
    the file's size when it is shorter or longer)."""
    if os.path.getsize(path) != size:
        return os.path.getsize(path)
    chunk = 4 << 20
    with open(path, "rb") as f:
        for start in range(0, size, chunk):
            got = f.read(chunk)
            want = stamped_bytes(start, len(got))
            if got != want:
                for at in range(0, len(got), STAMP_BLOCK):
                    if got[at:at + STAMP_BLOCK] != want[at:at + STAMP_BLOCK]:
                        return start + at
    return None


def make_game(root, name, files, seed=1, stamped=False):
    """Writes the game's files under root/name. files: list of (relative path, size).
    Returns the game folder. The bytes are pseudo-random from `seed` (fast,
    incompressible, reproducible), or stamped (see stamped_bytes): cheap
    for files of several GiB."""
    folder = os.path.join(root, name)
    rng = random.Random(seed)
    for rel, size in files:
        path = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if stamped:
            write_stamped(path, size)
            continue
        with open(path, "wb") as f:
            left = size
            block = 1 << 20
            while left:
                n = min(block, left)
                f.write(rng.randbytes(n))
                left -= n
    return folder


def make_torrent(path, out_file, piece_size=256 * 1024, trackers=(), url_seeds=(), http_seeds=(), v1_only=False,
                 min_size=0):
    """Creates a .torrent of the file or folder `path` (its name becomes the
    torrent's name) and writes it to out_file. Returns the info-hash text.
    By default a hybrid v1/v2 torrent, whose files are aligned to pieces by
    pad files; v1_only makes one without them. min_size makes the file at
    least that many bytes, as a large game's long file list would, with a
    comment outside the info dictionary (the info-hash stays the same)."""
    fs = lt.file_storage()
    lt.add_files(fs, path)
    ct = lt.create_torrent(fs, piece_size, flags=lt.create_torrent.v1_only if v1_only else 0)
    for t in trackers:
        ct.add_tracker(t)
    for u in url_seeds:
        ct.add_url_seed(u)
    for u in http_seeds:
        ct.add_http_seed(u)
    ct.set_creator("tollgrove test publisher")
    if min_size:
        ct.set_comment("x" * min_size)
    lt.set_piece_hashes(ct, os.path.dirname(os.path.abspath(path)))
    data = lt.bencode(ct.generate())
    with open(out_file, "wb") as f:
        f.write(data)
    return str(lt.torrent_info(out_file).info_hashes().v1)


def tree_digest(folder):
    """{relative path: sha1} of every file under folder, for comparing trees."""
    out = {}
    for base, _, names in os.walk(folder):
        for n in names:
            p = os.path.join(base, n)
            h = hashlib.sha1()
            with open(p, "rb") as f:
                for chunk in iter(lambda: f.read(1 << 20), b""):
                    h.update(chunk)
            out[os.path.relpath(p, folder).replace(os.sep, "/")] = h.hexdigest()
    return out
