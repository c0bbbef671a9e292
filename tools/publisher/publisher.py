"""A local game publisher on 127.0.0.1 for the demo and the whole-program
tests: the game's files behind nginx, its .torrent, the report endpoint and
the update server behind our scriptable HTTP server, opentracker, and a
seeding peer of another client. It writes the program's folder
(tollgrove.exe, tollgrove.dat, tollgrove.cache).

Runs under Debian's python3 (python3-libtorrent)."""
import json
import os
import shutil
import subprocess
import sys
import time
import urllib.request

import game
import services

HERE = os.path.dirname(os.path.abspath(__file__))
TEST_SERVER = os.path.join(HERE, "..", "testserver", "http_server.py")
UPDATE_PATH = "/update/tgupdate/tollgrove.exe"
REPORT_PATH = "/report.php"
TORRENT_PATH = "/torrents/demo.torrent"


def windows_path(host_path):
    """The host's root is drive Z: under Wine."""
    return "Z:" + os.path.abspath(host_path).replace("/", "\\")


def http_date(mtime):
    return time.strftime("%a, %d %b %Y %H:%M:%S GMT", time.gmtime(mtime))


class ScriptedServer:
    """Our scriptable HTTP server as a child process, driven over its
    control endpoints."""

    def __init__(self, max_seconds=3600):
        self.work = services.tempfile.mkdtemp(prefix="tg-http-")
        port_file = os.path.join(self.work, "port")
        self.proc = subprocess.Popen(
            [sys.executable, TEST_SERVER, "--port-file", port_file, "--max-seconds", str(max_seconds)],
            stdout=subprocess.DEVNULL, stderr=sys.stderr)
        deadline = time.time() + 20
        while not os.path.exists(port_file):
            if self.proc.poll() is not None or time.time() > deadline:
                raise RuntimeError("the test HTTP server did not start")
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.read())
        self.service = services.Service("http", self.proc, self.port, self.work)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def _post(self, what, obj):
        req = urllib.request.Request(self.url("/__control/" + what), data=json.dumps(obj).encode(),
                                     method="POST", headers={"Content-Type": "application/json"})
        urllib.request.urlopen(req, timeout=10).read()

    def route(self, path, **response):
        self._post("route", dict(path=path, **response))

    def routes(self, path, responses):
        self._post("route", {"path": path, "responses": responses})

    def requests(self):
        with urllib.request.urlopen(self.url("/__control/requests"), timeout=10) as r:
            return json.loads(r.read())

    def stop(self):
        self.service.stop()


class Publisher:
    """files: [(relative path under the game folder, size)]."""

    def __init__(self, root, files, folder="Demo", game_name="Trò chơi Demo", game_code="DEMO01",
                 rate_limit=None, seeder=True, url_list=True, seeder_upload_limit=0, piece_size=256 * 1024,
                 seeder_client="libtorrent", stamped=False, tls=None, redirect=False, more_url_seeds=(),
                 torrent_min_size=0, keepalive_requests=None, close_every_answer=False):
        self.root = os.path.abspath(root)
        self.files, self.folder, self.game_name, self.game_code = files, folder, game_name, game_code
        self.rate_limit, self.with_seeder, self.with_url_list = rate_limit, seeder, url_list
        self.seeder_upload_limit, self.piece_size = seeder_upload_limit, piece_size
        # "libtorrent" (python3-libtorrent) or "aria2c"; aria2c needs a
        # torrent without pad files.
        self.seeder_client = seeder_client
        # Stamped file contents instead of pseudo-random ones (game.stamped_bytes).
        self.stamped = stamped
        # tls: the file server speaks https only, with that certificate of
        # the ones minted for the run ("server", or a refused one:
        # "untrusted", "wrong-host", "expired"); certs.ca is the CA to
        # trust. redirect (with tls): LinkHttp names a plain-http server
        # that answers every request with a 301 to the https one.
        self.tls, self.redirect = tls, redirect
        # Further addresses for the .torrent's url-list, with or without url_list.
        self.more_url_seeds = list(more_url_seeds)
        self.certs = None
        # The .torrent made at least this large (game.make_torrent's min_size).
        self.torrent_min_size = torrent_min_size
        # How the file server ends connections (services.start_nginx).
        self.keepalive_requests, self.close_every_answer = keepalive_requests, close_every_answer
        self.single_file = len(files) == 1 and "/" not in files[0][0]

    def start(self):
        served = os.path.join(self.root, "served")
        os.makedirs(served, exist_ok=True)
        if self.single_file:
            game.make_game(served, ".", self.files, stamped=self.stamped)
            self.content = os.path.join(served, self.files[0][0])
        else:
            self.content = game.make_game(served, self.folder, self.files, stamped=self.stamped)
        tls = None
        if self.tls:
            self.certs = services.TestCertificates()
            tls = self.certs.pair(self.tls)
        redirect_port = services.free_port() if self.redirect else None
        self.nginx = services.start_nginx(served, rate_limit=self.rate_limit, tls=tls, redirect_port=redirect_port,
                                         keepalive_requests=self.keepalive_requests,
                                         close_every_answer=self.close_every_answer)
        self.http = ScriptedServer()
        tracker_port = services.free_port()
        rel = os.path.relpath(self.content, served).replace(os.sep, "/")
        base = "%s://127.0.0.1:%d" % (self.nginx.scheme, self.nginx.port)
        # The file server address as the configuration gives it: for one file
        # its URL without scheme; else a name in the folder that holds the
        # game's folder (requests carry the torrent's paths, top folder first).
        if self.single_file:
            self.link_http = ("%s/%s" % (base, rel) if self.tls else "127.0.0.1:%d/%s" % (self.nginx.port, rel))
        else:
            self.link_http = ("http://127.0.0.1:%d/index" % redirect_port if redirect_port else base + "/index")
        url_seeds = ["%s/%s" % (base, rel if self.single_file else "")]
        self.torrent_file = os.path.join(self.root, "demo.torrent")
        self.info_hash = game.make_torrent(
            self.content, self.torrent_file, piece_size=self.piece_size,
            trackers=["http://127.0.0.1:%d/announce" % tracker_port],
            url_seeds=(url_seeds if self.with_url_list else []) + self.more_url_seeds,
            v1_only=self.seeder_client == "aria2c", min_size=self.torrent_min_size)
        self.tracker = services.start_tracker([self.info_hash], port=tracker_port)
        with open(self.torrent_file, "rb") as f:
            self.http.route(TORRENT_PATH, body_hex=f.read().hex())
        if self.tls:
            # The same .torrent from the https file server too.
            os.makedirs(os.path.join(served, os.path.dirname(TORRENT_PATH.lstrip("/"))), exist_ok=True)
            shutil.copy2(self.torrent_file, os.path.join(served, TORRENT_PATH.lstrip("/")))
            self.https_torrent_url = base + TORRENT_PATH
        self.http.route(REPORT_PATH, body="OK")
        self.served = served
        self.seeder = None
        if self.with_seeder:
            self.start_seeder()
        return self

    def start_seeder(self):
        """The seeding peer of another client; it announces to the tracker
        once it has checked its data."""
        start = services.start_aria2_seeder if self.seeder_client == "aria2c" else services.start_seeder
        self.seeder = start(self.torrent_file, self.served, upload_limit=self.seeder_upload_limit)

    def serve_update(self, exe_path):
        """The update server answers "up to date" for exe_path: the same
        Last-Modified minute and the same size."""
        st = os.stat(exe_path)
        # Only the head is read for the check: announce the size, send no body.
        self.http.route(UPDATE_PATH, last_modified=http_date(st.st_mtime), body="", content_length=st.st_size,
                        cut_after=0)

    def write_program_folder(self, app_dir, exe_path, install_dir=None, extra=None, **overrides):
        """Copies the program and writes tollgrove.dat (and tollgrove.cache
        when install_dir is given). Returns the Windows path of the install folder."""
        os.makedirs(os.path.join(app_dir, "logs"), exist_ok=True)
        shutil.copy2(exe_path, os.path.join(app_dir, "tollgrove.exe"))
        settings = {
            "GameName": self.game_name,
            "GameCode": self.game_code,
            "LinkTorrent": self.http.url(TORRENT_PATH),
            "LinkHttp": self.link_http,
            "MinSpeed": 2048,
            "MaxSpeed": 4096,
            "MaxHttpConn": 4,
            "LinkReport": "http://127.0.0.1:%d%s" % (self.http.port, REPORT_PATH),
            "ShortcutFile": "game.exe",
            "ShortcutName": "Demo",
            "RunFile": "game.exe",
            "ShortcutDelete": "Demo cũ",
        }
        settings.update(overrides)
        if extra:
            settings.update(extra)
        services.write_ini(os.path.join(app_dir, "tollgrove.dat"), {"Setting": settings})
        win_install = None
        if install_dir is not None:
            os.makedirs(install_dir, exist_ok=True)
            win_install = windows_path(install_dir)
            services.write_ini(os.path.join(app_dir, "tollgrove.cache"), {"Setup": {"InstallPath": win_install}})
        return win_install

    def game_bytes(self):
        """The game's size: the bytes of its files."""
        return sum(size for _, size in self.files)

    def installed_matches(self, install_dir):
        """Every byte of the installed game equals the original."""
        if self.single_file:
            a = game.tree_digest(os.path.dirname(self.content))
            name = os.path.basename(self.content)
            b = game.tree_digest(install_dir)
            return name in b and a[name] == b[name]
        want = game.tree_digest(self.content)
        got = game.tree_digest(install_dir)
        return all(got.get(k) == v for k, v in want.items())

    def stop(self):
        for s in (self.seeder, self.tracker, self.http and self.http.service, self.nginx, self.certs):
            if s is not None:
                s.stop()
