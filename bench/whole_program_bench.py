"""The whole program against aria2c on one generated game, in one run on
127.0.0.1: Tollgrove (the Windows build under Wine) over HTTP sources only
with 1 and 4 connections, aria2c -x1 and -x4 from the same nginx, Tollgrove
from the swarm only (two seeding peers, no HTTP source), and hybrid (both).
Prints throughput, CPU seconds per GiB and peak memory of each, and the
ratios Tollgrove / aria2c.

    python3 whole_program_bench.py --exe tollgrove-test.exe --probe tg-probe.exe
        [--size-mib 1024] [--native-bench direct_http_bench]

Runs under Debian's python3 in the Wine session that
whole_program_bench.sh starts. A figure, not a test: nothing here passes or fails
on speed; a run ends non-zero only when a download did not complete or its
bytes differ."""
import argparse
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


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime + stime


def memory_mib(pid):
    """(peak resident, resident anonymous) in MiB; the resident figure also
    counts the pages of files the engine maps for its disk I/O."""
    values = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmHWM", "RssAnon"):
                values[key] = int(rest.split()[0]) / 1024.0
    return values.get("VmHWM", 0.0), values.get("RssAnon", 0.0)


class MemorySampler(threading.Thread):
    """The peaks of one process's memory, sampled every 100 ms until it ends
    or stop() is called."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid, self.peak, self.peak_anon = pid, 0.0, 0.0
        self.done = threading.Event()
        self.start()

    def run(self):
        while not self.done.is_set():
            try:
                hwm, anon = memory_mib(self.pid)
            except OSError:
                return
            self.peak, self.peak_anon = max(self.peak, hwm), max(self.peak_anon, anon)
            self.done.wait(0.1)

    def stop(self):
        self.done.set()
        self.join()
        return self.peak, self.peak_anon


def run_child(cmd, timeout=1800):
    """Runs cmd and returns (stdout, CPU seconds, peak MiB, peak anonymous MiB)."""
    with tempfile.TemporaryFile() as err:
        # stderr to a file: a pipe read only after stdout could fill and stall the child.
        proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=err)
        sampler = MemorySampler(proc.pid)
        timer = threading.Timer(timeout, proc.kill)
        timer.start()
        out = proc.stdout.read()
        # wait4, not wait: it gives the child's own CPU.
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        timer.cancel()
        peak, peak_anon = sampler.stop()
        if proc.returncode != 0:
            err.seek(0)
            raise RuntimeError("%s failed: %s" % (os.path.basename(cmd[0]), err.read().decode(errors="replace")[-500:]))
    # Not ru_maxrss: a child's starts from this process's size at the fork.
    return out.decode(), usage.ru_utime + usage.ru_stime, peak, peak_anon


def pids_named(name):
    """Processes whose name starts with name."""
    found = []
    for d in os.listdir("/proc"):
        if d.isdigit():
            try:
                with open("/proc/%s/comm" % d) as f:
                    if f.read().strip().startswith(name):
                        found.append(int(d))
            except OSError:
                pass
    return found


def windows_process():
    """The Unix process that runs the Windows program: Wine names it after
    the executable, and one runs at a time."""
    pids = pids_named("tollgrove.exe")
    if not pids:
        raise RuntimeError("no process of the program")
    return pids[0]


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


def nginx_requests(pub):
    with open(pub.nginx.access_log) as f:
        return sum(1 for line in f if line.strip())


def run_tollgrove(args, pub, work, label, rule_ms=None, **settings):
    """One download into a fresh program folder; the figures from the
    first "downloading" headline to the completed one."""
    run = os.path.join(work, label)
    env = dict(args.env)
    if rule_ms:
        env["TOLLGROVE_TEST_RULE_MS"] = str(rule_ms)
    run_args = argparse.Namespace(exe=args.exe, probe=args.probe, env=env)
    requests_before = nginx_requests(pub)
    launched = time.time()
    prog, install = e2e.start_program(run_args, pub, run, **settings)
    try:
        pid = windows_process()
        sampler = MemorySampler(pid)
        prog.wait_text(e2e.IDC_TXT_HEADLINE, "Đang tải: [", 300)
        t0, cpu0, ws0 = time.time(), cpu_seconds(pid), wineserver_cpu()
        prog.wait_text(e2e.IDC_TXT_HEADLINE, "Đã tải thành công", 1800)
        t1, cpu1, ws1 = time.time(), cpu_seconds(pid), wineserver_cpu()
        peak, peak_anon = sampler.stop()
        if not pub.installed_matches(install):
            raise RuntimeError(label + ": installed files differ from the originals")
        prog.click(e2e.IDC_BTN_EXIT)
        prog.wait_exit(120)
    finally:
        prog.kill()
        shutil.rmtree(run, ignore_errors=True)
    return {"label": label, "wall": t1 - t0, "cpu": cpu1 - cpu0, "wineserver": ws1 - ws0, "peak": peak,
            "peak_anon": peak_anon, "startup": t0 - launched, "http_requests": nginx_requests(pub) - requests_before}


def big_file_url(pub):
    return "http://127.0.0.1:%d/%s/%s" % (pub.nginx.port, pub.folder, BIG)


def same_bytes(pub, copy):
    return subprocess.run(["cmp", "-s", os.path.join(pub.content, BIG), copy]).returncode == 0


def run_aria2(pub, work, conns):
    out = os.path.join(work, "aria2-x%d" % conns)
    os.makedirs(out)
    t0 = time.time()
    _, cpu, peak, peak_anon = run_child(["aria2c", "-q", "-x", str(conns), "-s", str(conns), "-k", "1M",
                                         "--file-allocation=none", "--allow-overwrite=true", "-d", out,
                                         big_file_url(pub)])
    wall = time.time() - t0
    ok = same_bytes(pub, os.path.join(out, os.path.basename(BIG)))
    shutil.rmtree(out, ignore_errors=True)
    if not ok:
        raise RuntimeError("aria2c's copy differs")
    return {"label": "aria2c -x%d" % conns, "wall": wall, "cpu": cpu, "peak": peak, "peak_anon": peak_anon,
            "wineserver": None}


def run_engine(bench, pub, work, wine, conns=None, seeders=()):
    """The program's download code without its window: the Direct-HTTP
    sources alone (conns) or the engine with the seeding peers alone, built
    natively or for Windows and run under Wine: what Wine costs on the same
    code."""
    out = os.path.join(work, "engine")
    os.makedirs(out)
    host = publisher.windows_path if wine else (lambda p: p)
    if seeders:
        args = ["--swarm", host(pub.torrent_file), host(out)] + [str(sd.port) for sd in seeders]
        copy = os.path.join(out, pub.folder, BIG)
        what = "swarm"
    else:
        src = os.path.join(pub.content, BIG)
        args = [host(src), big_file_url(pub), str(conns), host(out)]
        copy = os.path.join(out, os.path.basename(BIG))
        what = "HTTP x%d" % conns
    ws0 = wineserver_cpu()
    stdout, _, peak, peak_anon = run_child((["wine"] if wine else []) + [bench] + args)
    _, wall, cpu = stdout.split()  # wall from its first payload byte; its own CPU
    ok = same_bytes(pub, copy)
    shutil.rmtree(out, ignore_errors=True)
    if not ok:
        raise RuntimeError("the engine's copy differs")
    return {"label": "engine %s %s" % ("under Wine" if wine else "native", what), "wall": float(wall),
            "cpu": float(cpu), "peak": peak, "peak_anon": peak_anon,
            "wineserver": wineserver_cpu() - ws0 if wine else None}


def show(rows, size):
    gib = size / float(1 << 30)
    print("%-28s %8s %8s %10s %14s %9s %9s" % ("run", "seconds", "MiB/s", "CPU s/GiB", "wineserver s/GiB",
                                                "peak MiB", "anon MiB"))
    for r in rows:
        ws = "-" if r["wineserver"] is None else "%.2f" % (r["wineserver"] / gib)
        print("%-28s %8.2f %8.1f %10.2f %14s %9.1f %9.1f" % (r["label"], r["wall"], size / r["wall"] / (1 << 20),
                                                             r["cpu"] / gib, ws, r["peak"], r["peak_anon"]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--size-mib", type=int, default=1024)
    ap.add_argument("--native-bench", help="direct_http_bench built natively, for the Wine overhead")
    ap.add_argument("--wine-bench", help="direct_http_bench.exe, the same built for Windows")
    args = ap.parse_args()
    args.env = {"TOLLGROVE_TEST_LOOPBACK": "1"}
    size = args.size_mib << 20
    work = tempfile.mkdtemp(prefix="tg-bench-")
    seeders = []
    pub = None
    try:
        print("generating a %d MiB game and its .torrent..." % args.size_mib, flush=True)
        # The rule runs every second here, and the thresholds are out of
        # reach, so it adds a source a second up to MaxHttpConn.
        always_slow = dict(MinSpeed=2000000, MaxSpeed=2100000)
        pub = publisher.Publisher(work, [(BIG, size), ("game.exe", 40000)], seeder=False, url_list=False,
                                  piece_size=1 << 20).start()
        rows = []
        rows.append(run_tollgrove(args, pub, work, "Tollgrove HTTP x1", MaxHttpConn=1))
        rows.append(run_tollgrove(args, pub, work, "Tollgrove HTTP x4", rule_ms=1000, MaxHttpConn=4, **always_slow))
        rows.append(run_aria2(pub, work, 1))
        rows.append(run_aria2(pub, work, 4))
        for n in (1, 4):
            if args.native_bench:
                rows.append(run_engine(args.native_bench, pub, work, wine=False, conns=n))
            if args.wine_bench:
                rows.append(run_engine(args.wine_bench, pub, work, wine=True, conns=n))
        print("starting two seeding peers...", flush=True)
        seeders = [services.start_seeder(pub.torrent_file, pub.served) for _ in range(2)]
        # A LinkHttp without "/" gives a multi-file game no source address.
        swarm = run_tollgrove(args, pub, work, "Tollgrove swarm (2 seeders)", LinkHttp="nohost", MaxHttpConn=1)
        if swarm["http_requests"]:
            raise RuntimeError("the swarm-only run asked the file server %d times" % swarm["http_requests"])
        rows.append(swarm)
        if args.native_bench:
            rows.append(run_engine(args.native_bench, pub, work, wine=False, seeders=seeders))
        if args.wine_bench:
            rows.append(run_engine(args.wine_bench, pub, work, wine=True, seeders=seeders))
        rows.append(run_tollgrove(args, pub, work, "Tollgrove hybrid (x4 + 2)", rule_ms=1000, MaxHttpConn=4,
                                  **always_slow))
        print()
        show(rows, size)
        by = {r["label"]: r for r in rows}
        print()
        for n in (1, 4):
            tg, ar = by["Tollgrove HTTP x%d" % n], by["aria2c -x%d" % n]
            print("Tollgrove/aria2c x%d: throughput %.3f, CPU per GiB %.1f (%.1f with the wineserver's), "
                  "peak memory %.1f (anonymous %.1f)" % (
                      n, ar["wall"] / tg["wall"], tg["cpu"] / ar["cpu"], (tg["cpu"] + tg["wineserver"]) / ar["cpu"],
                      tg["peak"] / ar["peak"], tg["peak_anon"] / ar["peak_anon"]))
        gib = size / float(1 << 30)
        for what in ("HTTP x1", "HTTP x4", "swarm"):
            native, wine = by.get("engine native " + what), by.get("engine under Wine " + what)
            if native and wine:
                print("Wine on the same code, %s: under Wine it takes %.1f times its native time "
                      "(%.1f s/GiB of its own CPU against %.1f, and %.1f s/GiB in the wineserver)" % (
                          what, wine["wall"] / native["wall"], wine["cpu"] / gib, native["cpu"] / gib,
                          wine["wineserver"] / gib))
        print("peak MiB: the most resident memory seen, sampled every 100 ms; it counts the pages of the game's "
              "files that the engine maps to write them, which Wine keeps as anonymous memory")
        print("seconds: from the first \"downloading\" headline to the completed one (the program's loop "
              "looks once a second); start-up before it:",
              ", ".join("%s %.1f s" % (r["label"], r["startup"]) for r in rows if "startup" in r))
        return 0
    finally:
        for s in seeders:
            s.stop()
        if pub:
            pub.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
