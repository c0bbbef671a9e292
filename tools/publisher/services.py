"""Real services on 127.0.0.1 for the demo and the whole-program tests:
opentracker, nginx as the file server, and the seeding peer. Each start_*
returns a Service that stop() ends (also at interpreter exit).

    python3 services.py nginx ROOT PORT_FILE [--no-access-log]

serves ROOT from nginx for the shell benchmarks: the port is written to
PORT_FILE once nginx listens, and nginx ends with this process (SIGTERM)."""
import atexit
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
_running = []


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, timeout=20.0, proc=None):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if proc is not None and proc.poll() is not None:
            raise RuntimeError("service ended before it listened on %d" % port)
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError("nothing listens on 127.0.0.1:%d" % port)


class Service:
    def __init__(self, name, proc, port=None, workdir=None):
        self.name, self.proc, self.port, self.workdir = name, proc, port, workdir
        _running.append(self)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self in _running:
            _running.remove(self)
        if self.workdir:
            shutil.rmtree(self.workdir, ignore_errors=True)


@atexit.register
def _stop_all():
    for s in list(reversed(_running)) + list(_certificates):
        s.stop()


def start_tracker(info_hashes, port=None):
    """Debian's opentracker serves only the torrents on its white list:
    info_hashes are their hex v1 hashes. The port may be chosen before the
    .torrent that names the tracker is made."""
    port = port or free_port()
    work = tempfile.mkdtemp(prefix="tg-tracker-")
    with open(os.path.join(work, "whitelist"), "w") as f:
        f.write("".join(h + "\n" for h in info_hashes))
    # It drops to an unprivileged user before it reads the list.
    os.chmod(work, 0o755)
    os.chmod(os.path.join(work, "whitelist"), 0o644)
    proc = subprocess.Popen(
        ["opentracker", "-i", "127.0.0.1", "-p", str(port), "-P", str(port),
         "-w", os.path.join(work, "whitelist")],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=work)
    wait_port(port, proc=proc)
    s = Service("opentracker", proc, port, work)
    s.announce_url = "http://127.0.0.1:%d/announce" % port
    return s


NGINX_CONF = """
{user}
daemon off;
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log warn;
events {{ worker_connections 512; }}
http {{
    log_format conn '$connection $status $request_length $bytes_sent "$request" "$http_range"';
    access_log {access_log};
    client_body_temp_path {work}/body;
    proxy_temp_path {work}/proxy;
    fastcgi_temp_path {work}/fastcgi;
    uwsgi_temp_path {work}/uwsgi;
    scgi_temp_path {work}/scgi;
    sendfile on;
    keepalive_requests {keepalive_requests};
    keepalive_timeout {keepalive_timeout};
    server {{
        listen 127.0.0.1:{port}{ssl};
        {tls}
        root {root};
        location / {{
            {limit}
        }}
    }}
    {redirect}
}}
"""

# A plain-http server in front that sends every request on to the TLS one,
# as many publishers' servers do; its requests go to a log of their own.
NGINX_REDIRECT = """
    server {{
        listen 127.0.0.1:{port};
        access_log {access_log};
        return 301 https://127.0.0.1:{tls_port}$request_uri;
    }}
"""


def start_nginx(root, rate_limit=None, port=None, access_log=True, tls=None, redirect_port=None,
                keepalive_requests=None, close_every_answer=False):
    """Serves `root` with range support; rate_limit (bytes/s per connection)
    slows each connection down, e.g. so the connection rule has work.
    keepalive_requests: nginx closes each connection after that many
    answers, the last one with "Connection: close", as servers that recycle
    connections do (unlimited unless given); close_every_answer: every
    answer carries "Connection: close" and nginx closes after it.
    Without the access log (the benchmarks' choice) nginx writes nothing
    per request. tls: (certificate, key) files, and the server speaks https
    only. redirect_port (with tls): a plain-http server there too, answering
    every request with a 301 to the same path on the https one; its
    requests go to redirect_log."""
    port = port or free_port()
    work = tempfile.mkdtemp(prefix="tg-nginx-")
    limit = "limit_rate %d;" % rate_limit if rate_limit else ""
    # A keep-alive time-out of 0 turns keep-alive off: "Connection: close" on every answer.
    keepalive = dict(keepalive_requests=keepalive_requests or 1000000,
                     keepalive_timeout=0 if close_every_answer else 65)
    conf = os.path.join(work, "nginx.conf")
    ssl, tls_lines, redirect = "", "", ""
    if tls:
        ssl = " ssl"
        tls_lines = "ssl_certificate %s; ssl_certificate_key %s;" % tuple(os.path.abspath(p) for p in tls)
        if redirect_port:
            redirect = NGINX_REDIRECT.format(port=redirect_port, tls_port=port,
                                             access_log=os.path.join(work, "redirect.log") + " conn")
    with open(conf, "w") as f:
        # As root, nginx's workers would run as nobody and not read private temp folders.
        user = "user root;" if os.geteuid() == 0 else ""
        log = os.path.join(work, "access.log") + " conn" if access_log else "off"
        f.write(NGINX_CONF.format(user=user, work=work, port=port, root=os.path.abspath(root), limit=limit,
                                  access_log=log, ssl=ssl, tls=tls_lines, redirect=redirect, **keepalive))
    proc = subprocess.Popen(["nginx", "-c", conf, "-p", work], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    wait_port(port, proc=proc)
    if tls and redirect_port:
        wait_port(redirect_port, proc=proc)
    s = Service("nginx", proc, port, work)
    s.access_log = os.path.join(work, "access.log")
    s.redirect_log = os.path.join(work, "redirect.log")
    s.scheme = "https" if tls else "http"
    return s


def nginx_bytes_sent(access_log):
    """Bytes nginx sent, heads included, over every request in an access
    log of the "conn" format: what the publisher pays for."""
    total = 0
    with open(access_log) as f:
        for line in f:
            parts = line.split(" ", 4)
            if len(parts) > 3:
                total += int(parts[3])
    return total


MAKE_TEST_CERTS = os.path.join(HERE, "..", "..", "tests", "support", "make_test_certs.sh")


class TestCertificates:
    """The TLS tests' certificates, minted for this run with the openssl
    command into a temporary folder that stop() removes (no key is kept):
    ca.pem, the CA to trust, and server, wrong-host, expired and untrusted,
    each NAME.pem with NAME.key (see make_test_certs.sh)."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="tg-certs-")
        subprocess.run(["bash", MAKE_TEST_CERTS, self.dir], check=True, stdout=subprocess.DEVNULL)
        self.ca = os.path.join(self.dir, "ca.pem")
        _certificates.append(self)

    def pair(self, name):
        """(certificate, key) of NAME, as start_nginx's tls takes it."""
        return os.path.join(self.dir, name + ".pem"), os.path.join(self.dir, name + ".key")

    def stop(self):
        shutil.rmtree(self.dir, ignore_errors=True)
        if self in _certificates:
            _certificates.remove(self)


_certificates = []


def start_seeder(torrent, save_path, upload_limit=0, python="/usr/bin/python3"):
    work = tempfile.mkdtemp(prefix="tg-seeder-")
    port_file = os.path.join(work, "port")
    proc = subprocess.Popen(
        [python, os.path.join(HERE, "seeder.py"), torrent, save_path, "--port-file", port_file,
         "--upload-limit", str(upload_limit)],
        stdout=subprocess.DEVNULL, stderr=sys.stderr)
    deadline = time.time() + 120
    while not os.path.exists(port_file):
        if proc.poll() is not None or time.time() > deadline:
            raise RuntimeError("the seeder did not start seeding")
        time.sleep(0.1)
    with open(port_file) as f:
        port = int(f.read())
    return Service("seeder", proc, port, work)


def start_aria2_seeder(torrent, save_path, upload_limit=0):
    """A seeding aria2c, an independent client, bound to 127.0.0.1. It
    checks the data, then seeds until stopped. aria2c takes BEP 47 pad files
    for files of the game, so the torrent must have none (v1 only)."""
    work = tempfile.mkdtemp(prefix="tg-aria2-")
    port = free_port()
    proc = subprocess.Popen(
        ["aria2c", "--check-integrity=true", "--seed-ratio=0.0", "--dir", save_path, "--listen-port=%d" % port,
         "--interface=127.0.0.1", "--enable-dht=false", "--enable-dht6=false", "--bt-enable-lpd=false",
         "--enable-peer-exchange=false", "--file-allocation=none", "--max-upload-limit=%d" % upload_limit,
         "--console-log-level=error", "--summary-interval=0", "--log=" + os.path.join(work, "aria2.log"),
         "--log-level=notice", torrent],
        stdout=subprocess.DEVNULL, stderr=sys.stderr, cwd=work)
    wait_port(port, timeout=60, proc=proc)
    return Service("aria2c seeder", proc, port, work)


def write_ini(path, sections):
    """Writes an INI file as UTF-16LE with a byte-order mark, which the
    profile API reads with Vietnamese text intact."""
    lines = []
    for section, values in sections.items():
        lines.append("[%s]" % section)
        for k, v in values.items():
            lines.append("%s=%s" % (k, v))
        lines.append("")
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))


def _serve_nginx(argv):
    root, port_file = argv[0], argv[1]
    # SIGTERM ends the interpreter through its exit handlers, which stop nginx.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    s = start_nginx(root, access_log="--no-access-log" not in argv[2:])
    with open(port_file + ".tmp", "w") as f:
        f.write("%d\n" % s.port)
    os.replace(port_file + ".tmp", port_file)
    s.proc.wait()


if __name__ == "__main__":
    if len(sys.argv) < 4 or sys.argv[1] != "nginx":
        sys.exit("usage: services.py nginx ROOT PORT_FILE [--no-access-log]")
    _serve_nginx(sys.argv[2:])
