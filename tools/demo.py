"""The demo: a local publisher on 127.0.0.1 with a generated game, and the
real program under Wine downloading it through its window.

    python3 tools/demo.py --exe tollgrove-test.exe --probe tg-probe.exe --work DIR

Prints a progress line every few seconds and saves screenshots of the
window while downloading and when done. Runs under Debian's python3."""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "publisher"))

import publisher  # noqa: E402

IDC_TXT_HEADLINE, IDC_TXT_PERCENT, IDC_TXT_SPEED, IDC_TXT_TIME_LEFT = 1015, 1007, 1005, 1006
IDC_TXT_DOWNLOADED, IDC_TXT_TOTAL_SIZE, IDC_BTN_EXIT = 1012, 1004, 1000


def probe(args, env, *cmd):
    r = subprocess.run(["wine", args.probe] + [str(c) for c in cmd], env=env, capture_output=True, timeout=60)
    return r.returncode, r.stdout.decode("utf-8", "replace").strip()


def screenshot(path, env):
    if subprocess.run(["import", "-window", "root", path], env=env, capture_output=True).returncode == 0:
        print("demo: screenshot", path, flush=True)


def percent_of(text):
    """The figure of the window's percentage text ("43.79 %"), or None."""
    try:
        return float(text.replace("%", "").strip())
    except ValueError:
        return None


def in_progress(text):
    """Whether the percentage text shows some progress, and not all of it."""
    p = percent_of(text)
    return p is not None and 0 < p < 100


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--size-mib", type=int, default=256)
    ap.add_argument("--timeout", type=int, default=1800)
    args = ap.parse_args()

    work = os.path.abspath(args.work)
    shutil.rmtree(os.path.join(work, "publisher"), ignore_errors=True)
    shutil.rmtree(os.path.join(work, "install"), ignore_errors=True)
    shots = os.path.join(work, "screenshots")
    os.makedirs(shots, exist_ok=True)
    print("demo: generating a %d MiB game and starting the publisher on 127.0.0.1" % args.size_mib, flush=True)
    files = [("data/world.pak", args.size_mib << 20), ("data/sounds.pak", 6 << 20), ("data/readme.txt", 2000),
             ("game.exe", 64 << 10)]
    # A file server slow enough per connection that the connection rule has
    # work to do, and a seeding peer of another client beside it.
    pub = publisher.Publisher(os.path.join(work, "publisher"), files, rate_limit=16 << 20,
                              seeder_upload_limit=8 << 20, seeder_client="aria2c").start()
    app = os.path.join(work, "app")
    install = os.path.join(work, "install")
    pub.write_program_folder(app, args.exe, install_dir=install)
    pub.serve_update(os.path.join(app, "tollgrove.exe"))
    env = dict(os.environ, TOLLGROVE_TEST_LOOPBACK="1", TOLLGROVE_TEST_UPDATE_HOST="127.0.0.1:%d" % pub.http.port)
    print("demo: file server http://127.0.0.1:%d, tracker %s, seeder port %d" %
          (pub.nginx.port, pub.tracker.announce_url, pub.seeder.port), flush=True)

    proc = subprocess.Popen(["wine", os.path.join(app, "tollgrove.exe")], cwd=app, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    stop = []
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    result = 1
    try:
        deadline = time.time() + args.timeout
        shot_running = False
        next_line = 0.0
        while not stop and time.time() < deadline and proc.poll() is None:
            # Polled often, so that the download's screenshot is taken while it
            # runs even where the game arrives in seconds; a line every 3 s.
            time.sleep(0.5)
            rc, headline = probe(args, env, "text", IDC_TXT_HEADLINE)
            if rc != 0:
                continue
            if not shot_running and headline.startswith("Đang tải:") and in_progress(probe(args, env, "text", IDC_TXT_PERCENT)[1]):
                path = os.path.join(shots, "downloading.png")
                screenshot(path, env)
                # Kept only if the window still showed progress below 100 % after it.
                shot_running = in_progress(probe(args, env, "text", IDC_TXT_PERCENT)[1])
                if not shot_running and os.path.exists(path):
                    os.remove(path)
            done = headline.startswith("Đã tải thành công") or headline.startswith("Lỗi") or "thất bại" in headline
            if time.time() >= next_line or done:
                next_line = time.time() + 3
                texts = [probe(args, env, "text", c)[1] for c in
                         (IDC_TXT_PERCENT, IDC_TXT_SPEED, IDC_TXT_TIME_LEFT, IDC_TXT_DOWNLOADED, IDC_TXT_TOTAL_SIZE)]
                print("demo: %s | %s, %s, left %s, %s of %s" % (headline, *texts), flush=True)
            if done:
                if not shot_running:
                    print("demo: the download ended before a screenshot of it could be taken", flush=True)
                time.sleep(1)
                screenshot(os.path.join(shots, "done.png"), env)
                ok = headline.startswith("Đã tải thành công")
                if ok:
                    ok = pub.installed_matches(install)
                    print("demo: every byte of the installed game equals the original:", ok, flush=True)
                result = 0 if ok else 1
                probe(args, env, "click", IDC_BTN_EXIT)
                proc.wait(30)
                break
    finally:
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
        pub.stop()
    print("demo: the game is in %s; screenshots in %s" % (install, shots), flush=True)
    return result


if __name__ == "__main__":
    sys.exit(main())
