#!/usr/bin/env python3
"""Scriptable HTTP/1.1 test server (Python standard library only).

Binds 127.0.0.1 on an ephemeral port, answers each path as scripted and
records every request it receives, for fault injection and request capture
in the tests.

Command line
    http_server.py [--port-file PATH] [--script FILE.json] [--log FILE.jsonl]
                   [--max-seconds N]
    --port-file    the port is written there (atomically) once listening
    --script       routes to install at start: {"routes": [ROUTE, ...]}
    --log          every recorded request is appended as one JSON line
    --max-seconds  the server ends by itself after N seconds (default 300)
The first line on stdout is "PORT <n>".

Routes
    A ROUTE is {"path": P, "responses": [RESPONSE, ...]} or {"path": P,
    ...RESPONSE fields...}. A request takes the route whose path equals its
    target (query included), else the one equal to its path without the
    query, else the route "*"; otherwise it is answered 404. The responses
    of a route are used in order, one per request; the last one repeats.

    RESPONSE fields (all optional):
      status          status code (200; 302 when "redirect" is given)
      reason          reason phrase (the standard one)
      headers         [[name, value], ...] or {name: value}, sent as given
      body            text, sent as UTF-8
      body_hex        body as hexadecimal bytes
      body_size       N bytes where byte i is i % 251 (see pattern_bytes)
      body_file       the bytes of that file, read at each answer
      content_length  value of Content-Length instead of the body's length,
                      or "omit" to send none
      chunked         true: Transfer-Encoding: chunked, no Content-Length
      chunk_size      bytes per chunk (4096)
      cut_after       send only this many body bytes, then close
      delay           seconds to wait before the answer
      body_delay      seconds to wait between the head and the body
      redirect        a path or URL for Location (a path gets this server's
                      http://127.0.0.1:port in front)
      last_modified   value of Last-Modified
      ranges          true: a "Range: bytes=a-b" request gets 206 and
                      Content-Range over the body (416 when unsatisfiable)
      close           true: Connection: close, then close
      raw_hex         the whole answer as hexadecimal bytes, sent as is
                      (then the connection closes)
      slow_connections  [n, ...]: on these connections (numbered as below)
                      the body trickles at slow_rate bytes a second (200)
      rate            bytes a second: the body goes at this rate on every
                      connection, in tenths of a second (a slow line)
      stall_after     send only this many body bytes, then nothing more;
                      the connection stays open until the client or the
                      server ends
      silent          true: the request is read and never answered; the
                      connection stays open until the client or the server
                      ends
      trickle         seconds between body bytes: the head at once, then
                      the body one byte at a time
      trickle_head    true: with "trickle", the head goes one byte at a
                      time too

    Connections are numbered 0, 1, ... in the order of their first recorded
    request (control requests do not count).

Control endpoints (HTTP/1.0 answers, connection closed; not recorded)
    POST /__control/route       body ROUTE (JSON); replaces that path's route
    POST /__control/reset       drops every route and recorded request
    GET  /__control/requests    recorded requests as a JSON array of
                                {seq, request_line, method, target, version,
                                 headers: [[name, value]], body, raw_hex,
                                 connection, time (seconds since the epoch)}
    GET  /__control/requests.hex  one line per recorded request: the hex of
                                its raw bytes (head and body)
    POST /__control/shutdown    ends the server
"""

import argparse
import binascii
import http
import json
import os
import socket
import sys
import threading
import time

CONTROL_PREFIX = "/__control/"
MAX_HEAD_BYTES = 65536


def pattern_bytes(n):
    return bytes(i % 251 for i in range(n))


class Server:
    def __init__(self, max_seconds, log_path):
        self.lock = threading.Lock()
        self.routes = {}        # path -> {"responses": [...], "next": int}
        self.requests = []
        self.connections = 0    # connections that carried a recorded request
        self.log_path = log_path
        self.stop = threading.Event()
        self.deadline = time.monotonic() + max_seconds
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(64)
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]

    # -- routes -------------------------------------------------------------
    def set_route(self, route):
        responses = route.get("responses")
        if responses is None:
            responses = [{k: v for k, v in route.items() if k != "path"}]
        if not responses:
            responses = [{}]
        with self.lock:
            self.routes[route["path"]] = {"responses": responses, "next": 0}

    def take_response(self, target):
        path = target.split("?", 1)[0]
        with self.lock:
            route = self.routes.get(target) or self.routes.get(path) or self.routes.get("*")
            if route is None:
                return {"status": 404, "body": "not found"}
            i = min(route["next"], len(route["responses"]) - 1)
            route["next"] += 1
            return route["responses"][i]

    def record(self, req, conn_no):
        """Records req; returns its connection's number (conn_no, or the
        next one for a connection's first request)."""
        with self.lock:
            if conn_no is None:
                conn_no = self.connections
                self.connections += 1
            req["connection"] = conn_no
            req["time"] = time.time()
            req["seq"] = len(self.requests)
            self.requests.append(req)
            if self.log_path:
                with open(self.log_path, "a", encoding="utf-8") as f:
                    f.write(json.dumps(req) + "\n")
            return conn_no

    # -- serving ------------------------------------------------------------
    def serve(self):
        while not self.stop.is_set() and time.monotonic() < self.deadline:
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            if self.stop.is_set():
                conn.close()
                break
            threading.Thread(target=self.handle, args=(conn,), daemon=True).start()
        try:
            self.sock.close()
        except OSError:
            pass

    def handle(self, conn):
        conn.settimeout(30)
        # A bytearray grows in place: a route with a program's body in hex
        # (tens of MB) arrives in linear time, not quadratic.
        buf = bytearray()
        conn_no = None
        try:
            while not self.stop.is_set():
                while b"\r\n\r\n" not in buf:
                    if len(buf) > MAX_HEAD_BYTES:
                        return
                    data = conn.recv(65536)
                    if not data:
                        return
                    buf += data
                head, buf = buf.split(b"\r\n\r\n", 1)
                req = parse_head(head)
                length = 0
                for name, value in req["headers"]:
                    if name.lower() == "content-length":
                        try:
                            length = max(0, int(value))
                        except ValueError:
                            length = 0
                while len(buf) < length:
                    data = conn.recv(65536)
                    if not data:
                        return
                    buf += data
                body, buf = bytes(buf[:length]), buf[length:]
                if req["target"].split("?", 1)[0].startswith(CONTROL_PREFIX):
                    self.control(conn, req, body)
                    return
                req["body"] = body.decode("latin-1")
                req["raw_hex"] = binascii.hexlify(bytes(head) + b"\r\n\r\n" + body).decode()
                conn_no = self.record(req, conn_no)
                if not self.answer(conn, req, conn_no):
                    return
                if req["version"] == "HTTP/1.0" or header(req, "connection").lower() == "close":
                    return
        except (OSError, ValueError):
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def pause(self, seconds):
        """Sleeps, but not past the server's end; False when it ended."""
        end = time.monotonic() + seconds
        while not self.stop.is_set() and time.monotonic() < min(end, self.deadline):
            time.sleep(min(0.1, max(0.0, end - time.monotonic())))
        return not self.stop.is_set() and time.monotonic() < self.deadline

    def trickle(self, conn, data, interval):
        for i in range(len(data)):
            if not self.pause(interval):
                return False
            conn.sendall(data[i:i + 1])
        return True

    def answer(self, conn, req, conn_no):
        """Sends one scripted answer; False when the connection must close."""
        spec = self.take_response(req["target"])
        if spec.get("silent"):
            while self.pause(1):
                pass
            return False
        if spec.get("delay"):
            time.sleep(float(spec["delay"]))
        if "raw_hex" in spec:
            conn.sendall(binascii.unhexlify(spec["raw_hex"]))
            return False
        body = b""
        if "body" in spec:
            body = spec["body"].encode("utf-8")
        elif "body_hex" in spec:
            body = binascii.unhexlify(spec["body_hex"])
        elif "body_size" in spec:
            body = pattern_bytes(int(spec["body_size"]))
        elif "body_file" in spec:
            with open(spec["body_file"], "rb") as f:
                body = f.read()
        status = int(spec.get("status", 302 if "redirect" in spec else 200))
        headers = []
        given = spec.get("headers", [])
        if isinstance(given, dict):
            given = list(given.items())
        headers.extend((str(k), str(v)) for k, v in given)
        if "redirect" in spec:
            loc = spec["redirect"]
            if loc.startswith("/"):
                loc = "http://127.0.0.1:%d%s" % (self.port, loc)
            headers.append(("Location", loc))
        if "last_modified" in spec:
            headers.append(("Last-Modified", spec["last_modified"]))
        if spec.get("ranges"):
            status, body, extra = apply_range(header(req, "range"), body, status)
            headers.extend(extra)
        chunked = bool(spec.get("chunked"))
        if chunked:
            headers.append(("Transfer-Encoding", "chunked"))
        else:
            cl = spec.get("content_length", len(body))
            if cl != "omit":
                headers.append(("Content-Length", str(cl)))
        close = bool(spec.get("close")) or "cut_after" in spec
        if close:
            headers.append(("Connection", "close"))
        reason = spec.get("reason")
        if reason is None:
            try:
                reason = http.HTTPStatus(status).phrase
            except ValueError:
                reason = "Status"
        head = "HTTP/1.1 %d %s\r\n" % (status, reason)
        head += "".join("%s: %s\r\n" % h for h in headers) + "\r\n"
        trickle = float(spec.get("trickle", 0))
        if trickle and spec.get("trickle_head"):
            if not self.trickle(conn, head.encode("latin-1"), trickle):
                return False
        else:
            conn.sendall(head.encode("latin-1"))
        if req["method"] == "HEAD":
            return not close
        if spec.get("body_delay"):
            time.sleep(float(spec["body_delay"]))
        if chunked:
            payload = b""
            size = max(1, int(spec.get("chunk_size", 4096)))
            for i in range(0, len(body), size):
                part = body[i:i + size]
                payload += b"%x\r\n" % len(part) + part + b"\r\n"
            payload += b"0\r\n\r\n"
        else:
            payload = body
        if "cut_after" in spec:
            payload = payload[:int(spec["cut_after"])]
        stall = "stall_after" in spec
        if stall:
            payload = payload[:int(spec["stall_after"])]
        if conn_no in spec.get("slow_connections", ()):
            self.send_slowly(conn, payload, float(spec.get("slow_rate", 200)))
        elif spec.get("rate"):
            self.send_slowly(conn, payload, float(spec["rate"]))
        elif trickle:
            if not self.trickle(conn, payload, trickle):
                return False
        else:
            conn.sendall(payload)
        if stall:
            while self.pause(1):
                pass
            return False
        if close:
            try:
                conn.shutdown(socket.SHUT_WR)
            except OSError:
                pass
            return False
        return True

    def send_slowly(self, conn, payload, rate):
        """Sends payload at rate bytes a second, in tenths of a second. Each
        step goes at its time from the start, so time spent sending does not
        slow the rate down."""
        step = max(1, int(rate / 10))
        start = time.monotonic()
        for i in range(0, len(payload), step):
            if not self.pause(start + i / rate - time.monotonic()):
                raise OSError("server stopping")
            conn.sendall(payload[i:i + step])

    def control(self, conn, req, body):
        name = req["target"].split("?", 1)[0][len(CONTROL_PREFIX):]
        status, text, ctype = 200, "ok", "text/plain"
        try:
            if name == "route":
                self.set_route(json.loads(body.decode("utf-8")))
            elif name == "reset":
                with self.lock:
                    self.routes.clear()
                    self.requests.clear()
            elif name == "requests":
                with self.lock:
                    text = json.dumps(self.requests)
                ctype = "application/json"
            elif name == "requests.hex":
                with self.lock:
                    text = "".join(r["raw_hex"] + "\n" for r in self.requests)
            elif name == "shutdown":
                # The port is closed before the answer goes out, so a
                # test that stopped the server finds nobody listening.
                self.stop.set()
                self.sock.close()
            else:
                status, text = 404, "unknown control"
        except (ValueError, KeyError, TypeError) as e:
            status, text = 400, "bad control request: %s" % e
        data = text.encode("utf-8")
        conn.sendall(("HTTP/1.0 %d X\r\nContent-Type: %s\r\nContent-Length: %d\r\n"
                      "Connection: close\r\n\r\n" % (status, ctype, len(data))).encode() + data)


def parse_head(head):
    lines = head.decode("latin-1").split("\r\n")
    line = lines[0]
    # The target may hold blanks (unescaped report texts): method is the
    # first word, version the last, the target all between.
    first, last = line.find(" "), line.rfind(" ")
    if first < 0:
        method, target, version = line, "", ""
    elif first == last:
        method, target, version = line[:first], line[first + 1:], ""
    else:
        method, target, version = line[:first], line[first + 1:last], line[last + 1:]
    headers = []
    for h in lines[1:]:
        if ":" in h:
            k, v = h.split(":", 1)
            headers.append([k.strip(), v.strip()])
    return {"request_line": line, "method": method, "target": target,
            "version": version, "headers": headers}


def header(req, name):
    for k, v in req["headers"]:
        if k.lower() == name:
            return v
    return ""


def apply_range(value, body, status):
    if not value.startswith("bytes=") or "," in value:
        return status, body, []
    a, _, b = value[6:].partition("-")
    try:
        if a == "":
            start, end = max(0, len(body) - int(b)), len(body) - 1
        else:
            start = int(a)
            end = int(b) if b else len(body) - 1
    except ValueError:
        return status, body, []
    end = min(end, len(body) - 1)
    if start > end or start >= len(body):
        return 416, b"", [("Content-Range", "bytes */%d" % len(body))]
    return 206, body[start:end + 1], [("Content-Range", "bytes %d-%d/%d" % (start, end, len(body)))]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--port-file")
    ap.add_argument("--script")
    ap.add_argument("--log")
    ap.add_argument("--max-seconds", type=float, default=300)
    args = ap.parse_args()
    server = Server(args.max_seconds, args.log)
    if args.script:
        with open(args.script, encoding="utf-8") as f:
            for route in json.load(f).get("routes", []):
                server.set_route(route)
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % server.port)
        os.replace(tmp, args.port_file)
    try:
        print("PORT %d" % server.port, flush=True)
    except (OSError, ValueError):
        pass  # no usable stdout (started detached)
    server.serve()


if __name__ == "__main__":
    sys.exit(main())
