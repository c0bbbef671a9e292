"""Whole-program runs: a local publisher on 127.0.0.1, the real
tollgrove-test.exe under Wine, driven through its window by tg-probe.exe.

    python3 e2e.py SCENARIO --exe PATH --probe PATH

Runs under Debian's python3 (python3-libtorrent). Ends by itself: every wait
is bounded. Exit 0 when the scenario passed."""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "publisher"))

import publisher  # noqa: E402

IDC_BTN_EXIT, IDC_BTN_ACTION = 1000, 1001
IDC_TXT_DETAIL, IDC_TXT_HINT, IDC_TXT_HEADLINE = 1003, 1008, 1015


class Program:
    def __init__(self, exe, probe, app_dir, env):
        self.exe, self.probe, self.app_dir = exe, probe, app_dir
        self.env = dict(os.environ, **env)
        self.proc = None

    def start(self):
        if self.probe_run("exists")[0] == 0:
            raise AssertionError("a window of an earlier run is still open")
        # A session of its own, so that kill() ends Wine's launcher and the
        # Windows process under it together.
        self.proc = subprocess.Popen(["wine", os.path.join(self.app_dir, "tollgrove.exe")], cwd=self.app_dir,
                                     env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     start_new_session=True)
        self.wait_window()

    def probe_run(self, *args, timeout=60):
        r = subprocess.run(["wine", self.probe] + [str(a) for a in args], env=self.env, capture_output=True,
                           timeout=timeout)
        return r.returncode, r.stdout.decode("utf-8", "replace").strip()

    def wait_window(self, timeout=60):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.probe_run("exists")[0] == 0:
                return
            if self.proc.poll() is not None:
                raise AssertionError("the program ended before its window opened")
            time.sleep(0.3)
        raise AssertionError("no window")

    def text(self, ctrl):
        return self.probe_run("text", ctrl)[1]

    def wait_text(self, ctrl, want, seconds):
        rc, out = self.probe_run("wait", ctrl, want, seconds, timeout=seconds + 30)
        if rc != 0:
            raise AssertionError("control %d shows %r, not %r" % (ctrl, out, want))
        return out

    def click(self, ctrl):
        self.probe_run("click", ctrl)

    def wait_exit(self, seconds=60):
        try:
            return self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            raise AssertionError("the program did not end")

    def kill(self):
        if self.proc and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait()


def log(*a):
    print("e2e:", *a, flush=True)


def scenario_hybrid(args, work):
    """HTTP sources and a seeding peer together: the game completes with
    every byte equal; the reports arrive."""
    pub = publisher.Publisher(work, [("data/big.pak", 24 << 20), ("data/small.txt", 3000), ("game.exe", 40000)],
                              rate_limit=4 << 20).start()
    install = os.path.join(work, "install")
    pub.write_program_folder(os.path.join(work, "app"), args.exe, install_dir=install)
    prog = Program(args.exe, args.probe, os.path.join(work, "app"), args.env)
    prog.start()
    try:
        prog.wait_text(IDC_TXT_HEADLINE, "Đã tải thành công", 240)
        assert pub.installed_matches(install), "installed files differ from the originals"
        reports = [r["target"] for r in pub.http.requests() if r["target"].startswith(publisher.REPORT_PATH)]
        log("reports:", reports)
        assert any("status=5" in r for r in reports), "no start report"
        assert any("rs=<OK;TG>" in r for r in reports), "no OK outcome report"
        assert any("status=6" in r for r in reports), "no completed status report"
        prog.click(IDC_BTN_EXIT)
        assert prog.wait_exit() == 0
    finally:
        prog.kill()
        pub.stop()


SCENARIOS = {"hybrid": scenario_hybrid}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("scenario", choices=sorted(SCENARIOS))
    ap.add_argument("--exe", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--keep", action="store_true")
    args = ap.parse_args()
    args.env = {"TOLLGROVE_TEST_LOOPBACK": "1"}
    work = tempfile.mkdtemp(prefix="tg-e2e-")
    try:
        SCENARIOS[args.scenario](args, work)
        log(args.scenario, "passed")
        return 0
    except AssertionError as e:
        log(args.scenario, "FAILED:", e)
        return 1
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
