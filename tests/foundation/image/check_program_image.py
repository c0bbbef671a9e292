"""Checks of a built tollgrove.exe and its replacer that need no Windows and
no Wine: binutils read the headers, windres the resources.

    python3 check_program_image.py --exe tollgrove.exe --replacer R.exe \
        --objdump OBJDUMP --windres WINDRES --machine i386|x86-64

What it checks: the image kind (PE32 for Intel 80386, or PE32+ for AMD64 in
the build for hosts without 32-bit execution), GUI and console subsystems,
imports of system DLLs only, no debug sections in the shipped image (only
the link to the file beside it), the version block's 3.0.0.2, and the
resources the program loads: dialogs 102 and 103 (the first captioned
"Tollgrove 3.0"), icon 128, strings 138 to 141, DATA 142 (the 77 x 39
GIF89a picture) and DATA 135 (the replacer, byte for byte).

Prints one line per failed check and exits 1 when any failed."""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "advapi32.dll", "shell32.dll",
               "shlwapi.dll", "ole32.dll", "oleaut32.dll", "comdlg32.dll", "ws2_32.dll", "mswsock.dll",
               "iphlpapi.dll", "wininet.dll", "crypt32.dll", "bcrypt.dll", "dbghelp.dll", "version.dll",
               "msvcrt.dll", "uuid.dll", "winmm.dll"}
RT_ICON_GROUP, RT_DIALOG, RT_STRING, RT_VERSION = 14, 5, 6, 16

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def run(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def read_res_name(data, at):
    """A .res type or name: 0xFFFF and an id, or a UTF-16 string."""
    if struct.unpack_from("<H", data, at)[0] == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    end = at
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def read_res(path):
    """{(type, name): bytes} of a .res file."""
    with open(path, "rb") as f:
        data = f.read()
    out, at = {}, 0
    while at + 8 <= len(data):
        size, header = struct.unpack_from("<II", data, at)
        rtype, p = read_res_name(data, at + 8)
        name, p = read_res_name(data, p)
        body = at + header
        if size:
            out[(rtype, name)] = data[body:body + size]
        at = (body + size + 3) & ~3
    return out


def check_headers(path, args, gui):
    want_format = {"i386": "pei-i386", "x86-64": "pei-x86-64"}[args.machine]
    want_magic = {"i386": "(PE32)", "x86-64": "(PE32+)"}[args.machine]
    name = os.path.basename(path)
    check("file format %s" % want_format in run(args.objdump, "-f", path), "%s is not %s" % (name, want_format))
    p = run(args.objdump, "-p", path)
    magic = re.search(r"^Magic\s+\S+\s+(\S+)", p, re.M)
    check(magic and magic.group(1) == want_magic, "%s: optional header magic %s, not %s" %
          (name, magic and magic.group(1), want_magic))
    want_subsystem = "(Windows GUI)" if gui else "(Windows CUI)"
    check(re.search(r"^Subsystem\s+\S+\s+" + re.escape(want_subsystem), p, re.M),
          "%s: subsystem is not %s" % (name, want_subsystem))
    dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", p)}
    check(dlls, "%s: no import table found" % name)
    for dll in sorted(dlls - SYSTEM_DLLS):
        check(False, "%s imports %s, which is not a system DLL" % (name, dll))


def check_no_debug_sections(exe, objdump):
    sections = re.findall(r"^\s*\d+\s+(\S+)\s+[0-9a-f]{8}", run(objdump, "-h", exe), re.M)
    for s in sections:
        check(not s.startswith(".debug"), "%s is in the shipped image" % s)
    check(".gnu_debuglink" in sections, "the image has no debug link")
    check(os.path.exists(exe + ".debug"), "the debug information is not beside the image")


def check_resources(args):
    with tempfile.TemporaryDirectory() as tmp:
        res_path = os.path.join(tmp, "image.res")
        run(args.windres, "-i", args.exe, "-O", "res", "-o", res_path)
        res = read_res(res_path)

    def find(rtype, name):
        return next((v for (t, n), v in res.items() if t == rtype and n == name), None)

    version = find(RT_VERSION, 1)
    if check(version is not None, "no version block"):
        at = version.find(struct.pack("<I", 0xFEEF04BD))
        if check(at >= 0, "the version block has no fixed file information"):
            ms, ls = struct.unpack_from("<II", version, at + 8)
            got = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
            check(got == (3, 0, 0, 2), "file version %s, not 3.0.0.2" % ".".join(map(str, got)))
    main = find(RT_DIALOG, 102)
    check(main is not None and "Tollgrove 3.0".encode("utf-16-le") in main, "dialog 102 missing or not captioned")
    check(find(RT_DIALOG, 103) is not None, "dialog 103 missing")
    check(find(RT_ICON_GROUP, 128) is not None, "icon 128 missing")
    # Strings 138 to 141 stand in block 9 (ids 128 to 143), as counted UTF-16.
    block = find(RT_STRING, 138 // 16 + 1)
    if check(block is not None, "string block of 138 to 141 missing"):
        strings, at = [], 0
        while at + 2 <= len(block):
            n = struct.unpack_from("<H", block, at)[0]
            strings.append(block[at + 2:at + 2 + 2 * n].decode("utf-16-le"))
            at += 2 + 2 * n
        for i in range(138, 142):
            check(len(strings) > i % 16 and strings[i % 16], "string %d missing" % i)
        check(len(strings) > 140 % 16 and strings[140 % 16] == "0.00 KB/s - 0.00 KB/s", "string 140 is not the rates")
    picture = find("DATA", 142)
    if check(picture is not None, "DATA 142 missing"):
        check(picture[:6] == b"GIF89a" and struct.unpack_from("<HH", picture, 6) == (77, 39),
              "DATA 142 is not a 77 x 39 GIF89a")
    replacer = find("DATA", 135)
    with open(args.replacer, "rb") as f:
        check(replacer == f.read(), "DATA 135 is not the replacer")


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--replacer", required=True)
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--windres", required=True)
    ap.add_argument("--machine", choices=("i386", "x86-64"), required=True)
    args = ap.parse_args()
    check_headers(args.exe, args, gui=True)
    check_headers(args.replacer, args, gui=False)
    check_no_debug_sections(args.exe, args.objdump)
    check_resources(args)
    for f in failures:
        print("FAILED:", f)
    print("image checks of %s: %s" % (os.path.basename(args.exe), "failed" if failures else "passed"))
    sys.exit(1 if failures else 0)
