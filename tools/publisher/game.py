"""Demo games and their .torrent files for the demo and the whole-program tests.

Runs under Debian's python3 (it needs python3-libtorrent for the .torrent).
"""
import hashlib
import os
import random

import libtorrent as lt


def make_game(root, name, files, seed=1):
    """Writes the game's files under root/name. files: list of (relative path, size).
    Returns the game folder. The bytes are pseudo-random from `seed` (fast,
    incompressible, reproducible)."""
    folder = os.path.join(root, name)
    rng = random.Random(seed)
    for rel, size in files:
        path = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            left = size
            block = 1 << 20
            while left:
                n = min(block, left)
                f.write(rng.randbytes(n))
                left -= n
    return folder


def make_torrent(path, out_file, piece_size=256 * 1024, trackers=(), url_seeds=(), http_seeds=(), v1_only=False):
    """Creates a .torrent of the file or folder `path` (its name becomes the
    torrent's name) and writes it to out_file. Returns the info-hash text.
    By default a hybrid v1/v2 torrent, whose files are aligned to pieces by
    pad files; v1_only makes one without them."""
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
