"""A seeding BitTorrent peer of another client build (Debian's python3-libtorrent)
on 127.0.0.1 only.

    python3 seeder.py TORRENT SAVE_PATH [--port-file F] [--upload-limit BYTES]

Checks the data, seeds until killed, and writes its listen port to F once it seeds.
"""
import argparse
import signal
import sys
import time

import libtorrent as lt


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("torrent")
    ap.add_argument("save_path")
    ap.add_argument("--port-file")
    ap.add_argument("--upload-limit", type=int, default=0)
    args = ap.parse_args()

    settings = {
        "listen_interfaces": "127.0.0.1:0",
        "enable_dht": False,
        "enable_lsd": False,
        "enable_upnp": False,
        "enable_natpmp": False,
        "allow_multiple_connections_per_ip": True,
        "upload_rate_limit": args.upload_limit,
        "alert_mask": lt.alert_category.error,
    }
    ses = lt.session(settings)
    if args.upload_limit:
        # Peers on 127.0.0.1 are in the engine's local class, which the
        # session-wide limit leaves out (over TCP, now that peers speak it).
        local = ses.get_peer_class(lt.session.local_peer_class_id)
        local["upload_limit"] = args.upload_limit
        ses.set_peer_class(lt.session.local_peer_class_id, local)
    h = ses.add_torrent({"ti": lt.torrent_info(args.torrent), "save_path": args.save_path})
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))
    announced = False
    while not stop:
        st = h.status()
        if st.is_seeding and not announced:
            if args.port_file:
                with open(args.port_file + ".tmp", "w") as f:
                    f.write(str(ses.listen_port()))
                import os
                os.replace(args.port_file + ".tmp", args.port_file)
            h.force_reannounce()
            announced = True
        time.sleep(0.2)
    ses.pause()
    return 0


if __name__ == "__main__":
    sys.exit(main())
