"""The whole program against aria2c on one generated game, in one run on
127.0.0.1, for one build of the program or several side by side (each
revision built from its own source tree): Tollgrove (the Windows build under
Wine) over HTTP sources only with 1 and 4 connections, with 4 from file
servers that close each connection after 3 answers or after every answer
(nginx's keepalive_requests 3, and "Connection: close"), then over HTTPS
(the same files from a TLS nginx, its test CA trusted in the Wine prefix),
aria2c -x1 and -x4 from the same nginx and -x4 from the TLS one (once, for
reference), the program's download code without its window (built natively
and for Windows, over HTTP and HTTPS), Tollgrove waiting a
minute with nothing to fetch and held a minute at 256 KiB/s, Tollgrove from
the swarm only (two seeding peers, no HTTP source), and hybrid (both).
Prints throughput, the bytes the file server sent per byte of the game
(the publisher's bill), CPU seconds per GiB (CPU seconds a minute for the
minute-long runs) and peak memory of each.

    python3 whole_program_bench.py --preset windows64 --build LABEL=TREE...
        [--size-mib 1024] [--skip-aria2] [--skip-idle]

A build's programs are found in its TREE: build/PRESET/bin/tollgrove-test.exe,
build/PRESET/tests/e2e/tg-probe.exe, build/PRESET/bench/direct_http_bench.exe
and the native build/bench/bench/direct_http_bench; the first build with a
build/PRESET/tests/e2e/tg-trust-ca.exe trusts the test CA in the prefix; a
build without one predates the HTTPS sources, and its HTTPS runs show n/a
(an older engine would wait on a refused source until the run's time-out).
A scenario that needs a program its build lacks shows "n/a" for it. The builds take turns within
each scenario, so that the machine's load falls on them alike. With several
builds, each figure gets a table with a column per build (and, for two, the
second's figure over the first's).

Runs under Debian's python3 in the Wine session that whole_program_bench.sh
starts. A figure, not a test: nothing here passes or fails on speed; a run
ends non-zero only when a download did not complete or its bytes differ."""
import argparse
import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools", "publisher"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import e2e  # noqa: E402
import publisher  # noqa: E402
import services  # noqa: E402

BIG = "data/game.pak"
CLK_TCK = os.sysconf("SC_CLK_TCK")
MIB = 1 << 20
NA = "n/a"  # the build lacks a program the scenario needs
FAILED = "failed"


class Build:
    """One build's programs; None for each that its tree lacks."""

    def __init__(self, label, tree, preset):
        def have(*parts):
            path = os.path.join(tree, *parts)
            return path if os.path.isfile(path) else None

        win = os.path.join("build", preset)
        self.label = label
        self.exe = have(win, "bin", "tollgrove-test.exe")
        self.probe = have(win, "tests", "e2e", "tg-probe.exe")
        self.wine_bench = have(win, "bench", "direct_http_bench.exe")
        self.native_bench = have("build", "bench", "bench", "direct_http_bench")
        self.trust_ca = have(win, "tests", "e2e", "tg-trust-ca.exe")


def proc_stat(pid):
    """/proc/PID/stat's fields after the command name (state first)."""
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()


def cpu_seconds(pid):
    fields = proc_stat(pid)
    return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime + stime


def memory_mib(pid):
    """(peak resident, resident anonymous) in MiB, from /proc/PID/status:
    VmHWM is the kernel's own peak of the resident set (file pages
    included); RssAnon is the anonymous part now, of which the kernel keeps
    no peak."""
    values = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmHWM", "RssAnon"):
                values[key] = int(rest.split()[0]) / 1024.0
    return values.get("VmHWM", 0.0), values.get("RssAnon", 0.0)


def pids_named(name, session=None):
    """Processes whose name starts with name (the kernel keeps the first
    15 characters), in the given session if one is given."""
    found = []
    for d in os.listdir("/proc"):
        if d.isdigit():
            try:
                with open("/proc/%s/comm" % d) as f:
                    if not f.read().strip().startswith(name[:15]):
                        continue
                if session is None or int(proc_stat(int(d))[3]) == session:
                    found.append(int(d))
            except (OSError, IndexError, ValueError):
                pass
    return found


def windows_process(session, name):
    """The Unix process that runs a Windows program started by "wine" as
    the leader of a session of its own; None while there is none. Wine
    names it after the executable. It is the process started when Wine
    loads the executable itself, another one forked in the same session
    when Wine goes through its launcher (start.exe); the session keeps
    apart the programs of the same name that other Wine sessions on this
    machine run (their tests copy the program as tollgrove.exe too)."""
    pids = pids_named(name, session)
    return pids[0] if pids else None


class MemorySampler(threading.Thread):
    """The peaks of one process's memory (see memory_mib), read every
    100 ms until it ends or stop() is called; find() gives the process
    (None while it has not started). The peaks stay None if it was never
    found."""

    def __init__(self, find):
        super().__init__(daemon=True)
        self.find, self.peak, self.peak_anon = find, None, None
        self.done = threading.Event()
        self.start()

    def run(self):
        pid = None
        while pid is None and not self.done.is_set():
            pid = self.find()
            if pid is None:
                self.done.wait(0.02)
        while pid is not None and not self.done.is_set():
            try:
                hwm, anon = memory_mib(pid)
            except OSError:
                return
            self.peak, self.peak_anon = max(self.peak or 0.0, hwm), max(self.peak_anon or 0.0, anon)
            self.done.wait(0.1)

    def stop(self):
        self.done.set()
        self.join()
        return self.peak, self.peak_anon


def run_child(cmd, windows_name=None, timeout=1800, env=None):
    """Runs cmd and returns (stdout, CPU seconds, peak MiB, peak anonymous
    MiB). With windows_name, cmd starts that Windows program under Wine:
    the memory is then that of the program's process (windows_process),
    and the CPU figure, of the process started and its children waited
    for, may miss the program's."""
    with tempfile.TemporaryFile() as err:
        # stderr to a file: a pipe read only after stdout could fill and stall the child.
        proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=err, start_new_session=True,
                                env=dict(os.environ, **env) if env else None)
        if windows_name:
            sampler = MemorySampler(lambda: windows_process(proc.pid, windows_name))
        else:
            sampler = MemorySampler(lambda: proc.pid)
        # The whole session: the launcher and the Windows process under it.
        timer = threading.Timer(timeout, os.killpg, (proc.pid, 9))
        timer.start()
        out = proc.stdout.read()
        # wait4, not wait: it gives the child's own CPU.
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        timer.cancel()
        peak, peak_anon = sampler.stop()
        if proc.returncode != 0:
            err.seek(0)
            raise RuntimeError("%s ended with %d: %s" % (windows_name or os.path.basename(cmd[0]), proc.returncode,
                                                         err.read().decode(errors="replace")[-500:]))
    # Not ru_maxrss: a child's starts from this process's size at the fork.
    return out.decode(), usage.ru_utime + usage.ru_stime, peak, peak_anon


def wineserver_cpu():
    """CPU of this prefix's wineserver (it works in a folder named after the
    prefix's device and inode)."""
    st = os.stat(os.environ["WINEPREFIX"])
    server_dir = "server-%x-%x" % (st.st_dev, st.st_ino)
    total = 0.0
    for pid in pids_named("wineserver"):
        try:
            if os.path.basename(os.readlink("/proc/%d/cwd" % pid)) == server_dir:
                total += cpu_seconds(pid)
        except OSError:
            pass
    return total


def nginx_served(nginx):
    """(requests, bytes sent) so far, from a file server's access log."""
    with open(nginx.access_log) as f:
        requests = sum(1 for line in f if line.strip())
    return requests, services.nginx_bytes_sent(nginx.access_log)


def run_tollgrove(build, pub, work, rule_ms=None, idle_seconds=None, server=None, **settings):
    """One download into a fresh program folder: its time from the request
    for the .torrent to the completed report, its CPU from the first
    "downloading" headline to the completed one, and the bytes the file
    server (server, an nginx whose LinkHttp settings names; else the
    publisher's) sent per byte of the game. With idle_seconds, only the
    CPU the program and the wineserver take in that many seconds from the
    first "downloading" headline (for a download that waits or is held
    back), and the program is then ended."""
    if not (build.exe and build.probe):
        return NA
    run = os.path.join(work, "run")
    # The test build: the same program, its network kept on 127.0.0.1 and
    # its connection rule's period settable.
    env = {"TOLLGROVE_TEST_LOOPBACK": "1"}
    if rule_ms:
        env["TOLLGROVE_TEST_RULE_MS"] = str(rule_ms)
    run_args = argparse.Namespace(exe=build.exe, probe=build.probe, env=env)
    server = server or pub.nginx
    requests_before, sent_before = nginx_served(server)
    launched = time.time()
    prog, install = e2e.start_program(run_args, pub, run, **settings)
    try:
        # Its window is open, so its process runs.
        pid = windows_process(prog.proc.pid, "tollgrove.exe")
        if pid is None:
            raise RuntimeError("no process of the program")
        sampler = MemorySampler(lambda: pid)
        prog.wait_text(e2e.IDC_TXT_HEADLINE, "Đang tải: [", 300)
        t0, cpu0, ws0 = time.time(), cpu_seconds(pid), wineserver_cpu()
        if idle_seconds:
            time.sleep(idle_seconds)
            cpu1, ws1 = cpu_seconds(pid), wineserver_cpu()
            peak, peak_anon = sampler.stop()
            return {"minute": True, "cpu": (cpu1 - cpu0) * 60.0 / idle_seconds,
                    "wineserver": (ws1 - ws0) * 60.0 / idle_seconds, "peak": peak, "peak_anon": peak_anon,
                    "startup": t0 - launched}
        prog.wait_text(e2e.IDC_TXT_HEADLINE, "Đã tải thành công", 1800)
        t1, cpu1, ws1 = time.time(), cpu_seconds(pid), wineserver_cpu()
        peak, peak_anon = sampler.stop()
        if not pub.installed_matches(install):
            raise RuntimeError("installed files differ from the originals")
        prog.click(e2e.IDC_BTN_EXIT)
        prog.wait_exit(120)
    finally:
        prog.kill()
        shutil.rmtree(run, ignore_errors=True)
    first, done = requested_to_reported(pub, launched)
    requests, sent = nginx_served(server)
    return {"wall": done - first, "cpu": cpu1 - cpu0, "wineserver": ws1 - ws0, "peak": peak, "peak_anon": peak_anon,
            "startup": t0 - launched, "http_requests": requests - requests_before,
            "served": (sent - sent_before) / float(pub.game_bytes())}


def requested_to_reported(pub, since):
    """The times, as the publisher's server recorded them, of this run's
    request for the .torrent (the first byte the program asks for) and of
    its completed report: the whole download, not bounded by the once-a-second
    look of the program's loop."""
    mine = [r for r in pub.http.requests() if r["time"] >= since]
    asked = [r["time"] for r in mine if r["target"].startswith(publisher.TORRENT_PATH)]
    done = [r["time"] for r in mine if r["target"].startswith(publisher.REPORT_PATH) and "status=6" in r["target"]]
    if not asked or not done:
        raise RuntimeError("no .torrent request or no completed report on record")
    return asked[0], done[0]


def big_file_url(pub, tls=None):
    nginx = tls.nginx if tls else pub.nginx
    return "%s://127.0.0.1:%d/%s/%s" % (nginx.scheme, nginx.port, pub.folder, BIG)


class TlsServer:
    """The game's files from a second nginx, over TLS, with a certificate
    minted for the run; `trusted` when its CA is in the Wine prefix's
    "ROOT" store (the Windows runs over HTTPS need that). aria2c and the
    native download code are given the CA file."""

    def __init__(self, pub, builds):
        self.certs = services.TestCertificates()
        self.nginx = services.start_nginx(pub.served, tls=self.certs.pair("server"))
        self.link_http = "https://127.0.0.1:%d/index" % self.nginx.port
        # One build's program trusts it for all: they share the prefix.
        trust = next((b.trust_ca for b in builds if b.trust_ca), None)
        self._trust = contextlib.ExitStack()
        if trust:
            self._trust.enter_context(e2e.trusted_ca(argparse.Namespace(trust_ca=trust, env={}), self.certs))
        self.trusted = trust is not None

    def usable(self, build):
        """Whether build's HTTPS runs can run: the CA is trusted in the
        prefix, and the build has HTTPS sources (tg-trust-ca came with
        them)."""
        return self.trusted and build.trust_ca is not None

    def stop(self):
        self._trust.close()
        self.nginx.stop()
        self.certs.stop()


def size_of_big(pub):
    return os.path.getsize(os.path.join(pub.content, BIG))


def same_bytes(pub, copy):
    return subprocess.run(["cmp", "-s", os.path.join(pub.content, BIG), copy]).returncode == 0


def run_aria2(pub, work, conns, tls=None):
    out = os.path.join(work, "aria2-x%d" % conns)
    os.makedirs(out)
    nginx = tls.nginx if tls else pub.nginx
    sent_before = nginx_served(nginx)[1]
    # Over TLS it checks the server against the run's CA, as the program does.
    ca = ["--ca-certificate=" + tls.certs.ca] if tls else []
    t0 = time.time()
    _, cpu, peak, peak_anon = run_child(["aria2c", "-q", "-x", str(conns), "-s", str(conns), "-k", "1M",
                                         "--file-allocation=none", "--allow-overwrite=true", "-d", out] + ca +
                                        [big_file_url(pub, tls)])
    wall = time.time() - t0
    ok = same_bytes(pub, os.path.join(out, os.path.basename(BIG)))
    shutil.rmtree(out, ignore_errors=True)
    if not ok:
        raise RuntimeError("aria2c's copy differs")
    return {"wall": wall, "cpu": cpu, "peak": peak, "peak_anon": peak_anon, "wineserver": None,
            "served": (nginx_served(nginx)[1] - sent_before) / float(size_of_big(pub))}


def run_engine(bench, pub, work, wine, conns=None, seeders=(), tls=None):
    """The program's download code without its window: the Direct-HTTP
    sources alone (conns; from the TLS server if tls is given) or the
    engine with the seeding peers alone, built natively or for Windows and
    run under Wine: what Wine costs on the same code. Over TLS it trusts
    the run's CA: under Wine through the prefix's "ROOT" store, natively
    through SSL_CERT_FILE."""
    if not bench:
        return NA
    out = os.path.join(work, "engine")
    os.makedirs(out)
    host = publisher.windows_path if wine else (lambda p: p)
    if seeders:
        args = ["--swarm", host(pub.torrent_file), host(out)] + [str(sd.port) for sd in seeders]
        copy = os.path.join(out, pub.folder, BIG)
    else:
        src = os.path.join(pub.content, BIG)
        args = [host(src), big_file_url(pub, tls), str(conns), host(out)]
        copy = os.path.join(out, os.path.basename(BIG))
    nginx = tls.nginx if tls else pub.nginx
    sent_before = nginx_served(nginx)[1]
    try:
        ws0 = wineserver_cpu()
        if wine:
            stdout, _, peak, peak_anon = run_child(["wine", bench] + args, windows_name=os.path.basename(bench))
        else:
            env = {"SSL_CERT_FILE": tls.certs.ca} if tls else None
            stdout, _, peak, peak_anon = run_child([bench] + args, env=env)
        _, wall, cpu = stdout.split()  # wall from its first payload byte; its own CPU
        if not same_bytes(pub, copy):
            raise RuntimeError("the engine's copy differs")
    finally:
        shutil.rmtree(out, ignore_errors=True)
    # The swarm runs ask no file server.
    served = None if seeders else (nginx_served(nginx)[1] - sent_before) / float(size_of_big(pub))
    return {"wall": float(wall), "cpu": float(cpu), "peak": peak, "peak_anon": peak_anon,
            "wineserver": wineserver_cpu() - ws0 if wine else None, "served": served}


IDLE_SECONDS = 60
HELD_RATE = 256 << 10  # bytes/s


# File servers that end connections, as many publishers' do: (row name,
# start_nginx's option). Their rows stand beside the unlimited HTTP x4 one.
LIMITED_SERVERS = [
    ("Tollgrove HTTP x4 ka=3", dict(keepalive_requests=3)),
    ("Tollgrove HTTP x4 close", dict(close_every_answer=True)),
]


def scenarios(args, pub, work, seeders, tls, limited):
    """(row name, the run for a build) in the order they run; None for a
    step between them."""
    # The rule runs every second here, and the thresholds are out of
    # reach, so it adds a source a second up to MaxHttpConn.
    always_slow = dict(MinSpeed=2000000, MaxSpeed=2100000)

    def swarm(build):
        # A LinkHttp without "/" gives a multi-file game no source address.
        r = run_tollgrove(build, pub, work, LinkHttp="nohost", MaxHttpConn=1)
        if r != NA and r["http_requests"]:
            raise RuntimeError("the swarm-only run asked the file server %d times" % r["http_requests"])
        return r

    def start_seeders():
        print("starting two seeding peers...", flush=True)
        seeders.extend(services.start_seeder(pub.torrent_file, pub.served) for _ in range(2))

    def over_https(build, **settings):
        if not tls.usable(build):
            return NA
        return run_tollgrove(build, pub, work, server=tls.nginx, LinkHttp=tls.link_http, **settings)

    yield "Tollgrove HTTP x1", lambda b: run_tollgrove(b, pub, work, MaxHttpConn=1)
    yield "Tollgrove HTTP x4", lambda b: run_tollgrove(b, pub, work, rule_ms=1000, MaxHttpConn=4, **always_slow)

    def from_limited(build, closing):
        # The same files from an nginx of their own, started once.
        key = tuple(sorted(closing.items()))
        if key not in limited:
            limited[key] = services.start_nginx(pub.served, **closing)
        server = limited[key]
        return run_tollgrove(build, pub, work, rule_ms=1000, server=server, MaxHttpConn=4,
                             LinkHttp="http://127.0.0.1:%d/index" % server.port, **always_slow)

    for name, closing in LIMITED_SERVERS:
        yield name, lambda b, closing=closing: from_limited(b, closing)
    yield "Tollgrove HTTPS x1", lambda b: over_https(b, MaxHttpConn=1)
    yield "Tollgrove HTTPS x4", lambda b: over_https(b, rule_ms=1000, MaxHttpConn=4, **always_slow)
    for n in (1, 4):
        yield "engine native HTTP x%d" % n, lambda b, n=n: run_engine(b.native_bench, pub, work, False, conns=n)
        yield "engine under Wine HTTP x%d" % n, lambda b, n=n: run_engine(b.wine_bench, pub, work, True, conns=n)
    for n in (1, 4):
        yield "engine native HTTPS x%d" % n, lambda b, n=n: (
            run_engine(b.native_bench, pub, work, False, conns=n, tls=tls) if tls.usable(b) else NA)
        yield "engine under Wine HTTPS x%d" % n, lambda b, n=n: (
            run_engine(b.wine_bench, pub, work, True, conns=n, tls=tls) if tls.usable(b) else NA)
    if not args.skip_idle:
        # No peer and no source: the session only waits (its tracker knows
        # no peer yet).
        yield "Tollgrove waiting, nothing", lambda b: run_tollgrove(b, pub, work, idle_seconds=IDLE_SECONDS,
                                                                     LinkHttp="nohost", MaxHttpConn=1)
        yield "Tollgrove held at 256 KiB/s", lambda b: run_tollgrove(b, held_publisher(work), work,
                                                                      idle_seconds=IDLE_SECONDS, MaxHttpConn=1)
    yield None, start_seeders
    yield "Tollgrove swarm (2 seeders)", swarm
    yield "engine native swarm", lambda b: run_engine(b.native_bench, pub, work, False, seeders=seeders)
    yield "engine under Wine swarm", lambda b: run_engine(b.wine_bench, pub, work, True, seeders=seeders)
    yield "Tollgrove hybrid (x4 + 2)", lambda b: run_tollgrove(b, pub, work, rule_ms=1000, MaxHttpConn=4,
                                                                **always_slow)


_held = {}


def held_publisher(work):
    """A second publisher, made once: one file server connection held at
    HELD_RATE, on a game it does not finish within the minute measured."""
    if "pub" not in _held:
        size = max(64 << 20, 2 * IDLE_SECONDS * HELD_RATE)
        _held["pub"] = publisher.Publisher(os.path.join(work, "held"), [(BIG, size), ("game.exe", 40000)],
                                           seeder=False, url_list=False, rate_limit=HELD_RATE,
                                           piece_size=1 << 20).start()
    return _held["pub"]


def figures(size):
    """(title, value of a result or None where it does not apply, format).
    The waiting rows ("minute") have only their CPU a minute and memory."""
    gib = size / float(1 << 30)

    def per_gib(value):
        return lambda r: None if r.get("minute") else value(r)

    def per_minute(value):
        return lambda r: value(r) if r.get("minute") else None

    return [
        ("MiB/s", per_gib(lambda r: size / r["wall"] / MIB), "%.1f"),
        ("seconds", per_gib(lambda r: r["wall"]), "%.2f"),
        ("bytes served per byte of game (the file server's, heads included)", lambda r: r.get("served"), "%.3f"),
        ("CPU s/GiB (the process's own)", per_gib(lambda r: r["cpu"] / gib), "%.2f"),
        ("wineserver CPU s/GiB", per_gib(lambda r: None if r["wineserver"] is None else r["wineserver"] / gib),
         "%.2f"),
        ("CPU s a minute: program + wineserver", per_minute(lambda r: r["cpu"] + r["wineserver"]), "%.2f"),
        ("program CPU s a minute", per_minute(lambda r: r["cpu"]), "%.2f"),
        ("wineserver CPU s a minute", per_minute(lambda r: r["wineserver"]), "%.2f"),
        ("peak resident MiB", lambda r: r["peak"], "%.1f"),
        ("peak anonymous MiB", lambda r: r["peak_anon"], "%.1f"),
        ("start-up s, before the first \"downloading\" headline", lambda r: r.get("startup"),
         "%.1f"),
    ]


def cell(result, value, fmt):
    if not isinstance(result, dict):
        return result  # NA or FAILED
    v = value(result)
    return "-" if v is None else fmt % v


def show_one(rows, size):
    """One build: a row per run, a column per figure."""
    figs = figures(size)[:-1]
    columns = [("seconds", 1), ("MiB/s", 0), ("served/game", 2), ("CPU s/GiB", 3), ("wineserver s/GiB", 4),
               ("peak MiB", 8), ("anon MiB", 9), ("CPU s/min", 6), ("wineserver s/min", 7)]
    print("%-28s" % "run" + "".join(" %9s" % head for head, _ in columns))
    for name, result in rows:
        print("%-28s" % name + "".join(" %*s" % (max(9, len(head)), cell(result, figs[i][1], figs[i][2]))
                                       for head, i in columns))


def show_compared(rows, labels, size):
    """Several builds: a table per figure, a column per build."""
    ratio = len(labels) == 2
    width = max(10, max(len(x) for x in labels))
    for title, value, fmt in figures(size):
        lines = []
        for name, by_build in rows:
            cells = [cell(by_build[x], value, fmt) for x in labels]
            if all(c == "-" for c in cells):
                continue
            line = "%-28s" % name + "".join(" %*s" % (width, c) for c in cells)
            if ratio:
                a, b = (by_build[x] for x in labels)
                va = value(a) if isinstance(a, dict) else None
                vb = value(b) if isinstance(b, dict) else None
                line += " %*s" % (width, "%.2f" % (vb / va) if va and vb is not None else "")
            lines.append(line)
        if not lines:
            continue
        print()
        print(title)
        print("%-28s" % "run" + "".join(" %*s" % (width, x) for x in labels) +
              (" %*s" % (width, "%s/%s" % (labels[1], labels[0])) if ratio else ""))
        print("\n".join(lines))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--preset", required=True, help="the Windows build's preset (its folder under build/)")
    ap.add_argument("--build", action="append", required=True, metavar="LABEL=TREE",
                    help="a source tree whose builds to run, and its column's name; repeatable")
    ap.add_argument("--size-mib", type=int, default=1024)
    ap.add_argument("--skip-aria2", action="store_true", help="no aria2c runs (a reference only)")
    ap.add_argument("--skip-idle", action="store_true", help="no runs of a minute that wait or are held back")
    args = ap.parse_args()
    builds = []
    for spec in args.build:
        label, _, tree = spec.partition("=")
        builds.append(Build(label, tree, args.preset))
    labels = [b.label for b in builds]
    if len(set(labels)) != len(labels) or not all(labels):
        ap.error("each build needs a label of its own")
    for b in builds:
        missing = [what for what, path in (("tollgrove-test.exe", b.exe), ("tg-probe.exe", b.probe),
                                           ("direct_http_bench.exe", b.wine_bench),
                                           ("native direct_http_bench", b.native_bench)) if not path]
        if missing:
            print("%s: no %s; its runs that need it show n/a" % (b.label, ", ".join(missing)), flush=True)
    size = args.size_mib << 20
    work = tempfile.mkdtemp(prefix="tg-bench-")
    seeders = []
    limited = {}  # the file servers that end connections, by their option
    pub = tls = None
    failures = 0
    try:
        print("generating a %d MiB game and its .torrent..." % args.size_mib, flush=True)
        pub = publisher.Publisher(work, [(BIG, size), ("game.exe", 40000)], seeder=False, url_list=False,
                                  piece_size=1 << 20).start()
        tls = TlsServer(pub, builds)
        if not tls.trusted:
            print("no build has tg-trust-ca.exe: the HTTPS runs show n/a", flush=True)
        rows = []  # (row name, {label: result, NA or FAILED})
        for name, run in scenarios(args, pub, work, seeders, tls, limited):
            if name is None:
                run()
                continue
            by_build = {}
            for b in builds:
                print("%s: %s..." % (b.label, name), flush=True)
                try:
                    by_build[b.label] = run(b)
                except Exception as e:  # noqa: BLE001 -- the other builds' runs still give figures
                    print("%s: %s failed: %s" % (b.label, name, e), flush=True)
                    by_build[b.label] = FAILED
                    failures += 1
            rows.append((name, by_build))
            if name == LIMITED_SERVERS[-1][0] and not args.skip_aria2:
                for n in (1, 4):
                    print("aria2c -x%d..." % n, flush=True)
                    rows.append(("aria2c -x%d" % n, {None: run_aria2(pub, work, n)}))
            if name == "Tollgrove HTTPS x4" and not args.skip_aria2:
                print("aria2c HTTPS -x4...", flush=True)
                rows.append(("aria2c HTTPS -x4", {None: run_aria2(pub, work, 4, tls)}))
        report(rows, builds, size)
        return 1 if failures else 0
    finally:
        for s in seeders + list(limited.values()):
            s.stop()
        if tls:
            tls.stop()
        if pub:
            pub.stop()
        if "pub" in _held:
            _held.pop("pub").stop()
        shutil.rmtree(work, ignore_errors=True)


def report(rows, builds, size):
    labels = [b.label for b in builds]
    aria2 = {name: r[None] for name, r in rows if None in r}
    own = [(name, r) for name, r in rows if None not in r]
    print()
    if len(builds) == 1:
        show_one([(name, r.get(None, r.get(labels[0]))) for name, r in rows], size)
    else:
        show_compared(own, labels, size)
        if aria2:
            print()
            print("aria2c (native Linux, from the same nginx; the same for every build)")
            show_one(list(aria2.items()), size)
    by = dict(own)
    print()
    gib = size / float(1 << 30)
    for x in labels:
        prefix = "%s: " % x if len(labels) > 1 else ""
        for n, proto, aria in ((1, "HTTP", "aria2c -x1"), (4, "HTTP", "aria2c -x4"),
                               (4, "HTTPS", "aria2c HTTPS -x4")):
            tg, ar = by["Tollgrove %s x%d" % (proto, n)][x], aria2.get(aria)
            if isinstance(tg, dict) and ar and None not in (tg["peak"], tg["peak_anon"]):
                print("%sTollgrove/aria2c %s x%d: throughput %.3f, CPU per GiB %.1f (%.1f with the wineserver's), "
                      "peak memory %.1f (anonymous %.1f)" % (
                          prefix, proto, n, ar["wall"] / tg["wall"], tg["cpu"] / ar["cpu"],
                          (tg["cpu"] + tg["wineserver"]) / ar["cpu"], tg["peak"] / ar["peak"],
                          tg["peak_anon"] / ar["peak_anon"]))
        unlimited = by["Tollgrove HTTP x4"][x]
        for name, _ in LIMITED_SERVERS:
            limited = by[name][x]
            if isinstance(unlimited, dict) and isinstance(limited, dict):
                print("%s%s: %.2f times the unlimited server's time, %.3f bytes served per byte of game "
                      "(unlimited %.3f)" % (prefix, name.replace("Tollgrove ", ""), limited["wall"] / unlimited["wall"],
                                            limited["served"], unlimited["served"]))
        for what in ("Tollgrove %s x1", "Tollgrove %s x4", "engine under Wine %s x4", "engine native %s x4"):
            plain, tls = by[what % "HTTP"][x], by[what % "HTTPS"][x]
            if isinstance(plain, dict) and isinstance(tls, dict):
                print("%sHTTPS/HTTP, %s: throughput %.2f, CPU per GiB %.1f against %.1f s/GiB" % (
                    prefix, what.replace("%s ", ""), plain["wall"] / tls["wall"], tls["cpu"] / gib, plain["cpu"] / gib))
        for what in ("HTTP x1", "HTTP x4", "HTTPS x4", "swarm"):
            native, wine = by["engine native " + what][x], by["engine under Wine " + what][x]
            if isinstance(native, dict) and isinstance(wine, dict):
                print("%sWine on the same code, %s: under Wine it takes %.1f times its native time "
                      "(%.1f s/GiB of its own CPU against %.1f, and %.1f s/GiB in the wineserver)" % (
                          prefix, what, wine["wall"] / native["wall"], wine["cpu"] / gib, native["cpu"] / gib,
                          wine["wineserver"] / gib))
    whole = ("seconds, for the program's rows: from its request for the .torrent to its completed report, as the "
             "publisher's server recorded them; for the engine's rows: its own timing. CPU and wineserver, for the "
             "program's rows: from the first \"downloading\" headline to the completed one")
    if len(labels) == 1:
        print(whole + "; start-up before the first headline:",
              ", ".join("%s %.1f s" % (name, r[labels[0]]["startup"]) for name, r in own
                        if isinstance(r[labels[0]], dict) and "startup" in r[labels[0]]))
    else:
        print(whole)
    print("ka=3: the file server closes each connection after 3 answers (nginx's keepalive_requests 3); close: it "
          "answers every request with \"Connection: close\" and closes; served/game: bytes the file server sent, "
          "heads included, per byte of the game (of the one file fetched, for aria2c and the engine's rows)")
    print("CPU a minute: program and wineserver over %d s from the first \"downloading\" headline, with no peer "
          "and no source, and with one file server connection held at %d KiB/s" % (IDLE_SECONDS, HELD_RATE >> 10))
    print("memory: of the process that runs the program's code (under Wine, the one Wine runs the executable in, "
          "found by its name in its own session); peak resident is the kernel's high-water mark and counts the "
          "pages of the files the process maps; peak anonymous is the most seen, read every 100 ms")


if __name__ == "__main__":
    sys.exit(main())
