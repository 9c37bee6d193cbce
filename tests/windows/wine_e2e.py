#!/usr/bin/env python3
"""The Windows tool under wine against tarnwick-sim on Linux: the simulator's
pseudo-terminal becomes COM5 of a private wine prefix, and every run is held
against what the Linux build does with the same board.

    wine_e2e.py --linux-bin build/bin --windows-bin build-win/bin --prefix DIR
"""

import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver64"
COM_PORT = "COM5"
RUN_LIMIT_S = 120
# A pulled cable must end the run long before the burn's own total windows.
LINE_LOSS_LIMIT_S = 30
# The folder of the packages carries non-ASCII letters: UTF-8 inside, wide
# names at the Win32 calls.
PACKAGE_FOLDER = "päckchen-ü"

TYPE_LOADER, TYPE_FLASH = 0, 1
TYPESIX_FLASH, TYPESIX_EMMC, TYPESIX_DIGEST = 100, 101, 102

failures = []


def check(ok, what, detail=""):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)
        if detail:
            print("     " + detail.replace("\n", "\n     ")[:3000], flush=True)


def pattern(length, seed):
    x = (seed * 2654435761 + 1) & 0xFFFFFFFF
    out = bytearray(length)
    for i in range(length):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (x >> 16) & 0xFF
    return bytes(out)


def wine_env(prefix):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINESERVER=WINESERVER,
               WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono or Gecko prompts
    return env


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(argv, env=None, cwd=None, limit=RUN_LIMIT_S):
    """Exit code (None when it did not end in time), stdout with CRLF as LF,
    and the seconds taken."""
    start = time.monotonic()
    try:
        done = subprocess.run(argv, env=env, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              timeout=limit)
        code, out = done.returncode, done.stdout
    except subprocess.TimeoutExpired as expired:
        code, out = None, expired.stdout or b""
    return code, out.decode("utf-8", "replace").replace("\r\n", "\n"), time.monotonic() - start


class Sim:
    """tarnwick-sim on a pty, mapped to COM5 of the prefix."""

    def __init__(self, linux_bin, prefix, work, family, extra=()):
        self.report = os.path.join(work, "sim-report.json")
        self.flash = os.path.join(work, "sim-flash.bin")
        for f in (self.report, self.flash):
            if os.path.exists(f):
                os.remove(f)
        self.proc = subprocess.Popen([os.path.join(linux_bin, "tarnwick-sim"), "--family", family, "--report",
                                      self.report, "--flash", self.flash, *extra],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.pty = self.proc.stdout.readline().strip()
        link = os.path.join(prefix, "dosdevices", COM_PORT.lower())
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(self.pty, link)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        with open(self.report, encoding="utf-8") as f:
            report = json.load(f)
        with open(self.flash, "rb") as f:
            flash = f.read()
        return report, flash


def pack(linux_bin, folder, name, entries):
    argv = [os.path.join(linux_bin, "tarnwick-pkg"), "pack", name]
    for image_name, kind, address, size, data in entries:
        with open(os.path.join(folder, image_name), "wb") as f:
            f.write(data)
        argv += ["--entry", f"{image_name}:{kind}:{address}:{size}:{image_name}"]
    code, out, _ = run(argv, cwd=folder)
    if code != 0:
        sys.exit("tarnwick-pkg failed: " + out)
    return os.path.join(folder, name)


def burn(args, work, family, package, options, sim_extra=(), limit=RUN_LIMIT_S):
    sim = Sim(args.linux_bin, args.prefix, work, family, sim_extra)
    argv = [WINE, os.path.join(args.tool_dir, "tarnwickcmd.exe"), "--burn", "-n", family, "-m", "serial", COM_PORT,
            "-f", windows_path(package), *options]
    code, out, seconds = run(argv, env=wine_env(args.prefix), limit=limit)
    report, flash = sim.stop()
    return code, out, seconds, report, flash


def flash_holds(flash, address, data):
    return flash[address:address + len(data)] == data


def check_vb27(args, work, folder):
    entries = [("loader.bin", TYPE_LOADER, 0, 0, pattern(6 * 1024 + 5, 11)),
               ("app.bin", TYPE_FLASH, 0x10000, 0x20000, pattern(40 * 1024 + 3, 12)),
               ("data.bin", TYPE_FLASH, 0x40000, 0x10000, pattern(9 * 1024, 13))]
    package = pack(args.linux_bin, folder, "board.fwpkg", entries)
    code, out, seconds, report, flash = burn(args, work, "vb27", package, ["-switchafterloader", "-b", "921600"])
    check(code == 0 and "\nBurned successfully.\n" in out, f"Vb27 package burned at 921600 ({seconds:.1f} s)", out)
    images = report.get("images", [])
    same = len(images) == len(entries) and all(
        i["name"] == e[0] and i["sha256"] == hashlib.sha256(e[4]).hexdigest() for i, e in zip(images, entries))
    check(same and all(flash_holds(flash, e[2], e[4]) for e in entries if e[1] == TYPE_FLASH),
          "Vb27 flash holds every image of the package", json.dumps(report)[:1500])
    check(report.get("baudChanges") == [921600] and not report.get("protocolErrors"),
          "Vb27 line switched to 921600 without protocol errors", json.dumps(report)[:1500])
    return package


def check_typesix(args, work, folder):
    loader, flash_image, emmc = pattern(10000, 1), pattern(9000, 2), pattern(5000, 3)
    entries = [("loader.bin", TYPE_LOADER, 0, 0, loader),
               ("flash.bin", TYPESIX_FLASH, 0x20000, 0x4000, flash_image),
               ("flash", TYPESIX_DIGEST, 0, 0, pattern(32, 4)),
               ("emmc.img", TYPESIX_EMMC, 0x400, 0x2000, emmc),
               ("emmc", TYPESIX_DIGEST, 0, 0, pattern(32, 5))]
    package = pack(args.linux_bin, folder, "fw.fwpkg", entries)
    # A line paced like a UART: the tool waits for every answer, and wine ends
    # each such wait on a pty as aborted after a millisecond (a pty has no
    # modem lines to poll). Each must be waited again, never taken for a lost line.
    code, out, seconds, report, flash = burn(args, work, "typesix", package, ["-b", "921600"],
                                             ["--line-baud", "115200"])
    check(code == 0 and "\nBurned successfully.\n" in out, f"TypeSix package burned at 921600 ({seconds:.1f} s)",
          out)
    images = report.get("images", [])
    expected = [("ssb", loader), ("flash", flash_image), ("emmc", emmc)]
    same = len(images) == len(expected) and all(
        i["kind"] == kind and i["sha256"] == hashlib.sha256(data).hexdigest() for i, (kind, data) in
        zip(images, expected))
    # The board compares each image with the digest file the tool wrote.
    digests = all(i.get("digestMatched") == 1 for i in images)
    check(same and digests and flash_holds(flash, 0x20000, flash_image),
          "TypeSix flash holds the images, each matching the tool's SHA-256 file", json.dumps(report)[:1500])
    check(921600 in report.get("baudChanges", []) and not report.get("protocolErrors"),
          "TypeSix images went at 921600 without protocol errors", json.dumps(report)[:1500])


def check_pulled_cable(args, work, package):
    options = ["-switchafterloader", "-b", "921600"]
    pulled = ["--close-after", "20000"]
    code, out, seconds, _, _ = burn(args, work, "vb27", package, options, pulled, limit=LINE_LOSS_LIMIT_S + 10)
    sim = Sim(args.linux_bin, args.prefix, work, "vb27", pulled)
    native = run([os.path.join(args.linux_bin, "tarnwickcmd"), "--burn", "-n", "vb27", "-m", "serial", sim.pty, "-f",
                  package, *options], limit=LINE_LOSS_LIMIT_S + 10)
    sim.stop()
    check(code not in (None, 0) and code == native[0] and seconds < LINE_LOSS_LIMIT_S,
          f"a pulled cable ends the run with exit code {code} (Linux: {native[0]}) after {seconds:.1f} s",
          out + "\n--- linux:\n" + native[1])
    # Linux notices the loss on the next read (the pty took the frame);
    # Windows on the write already. Both give up the burn.
    check(out.rstrip().endswith("Burned failed."), "a pulled cable fails the burn", out)


def check_front_end(args):
    env = wine_env(args.prefix)
    exe = os.path.join(args.tool_dir, "tarnwickcmd.exe")
    native = os.path.join(args.linux_bin, "tarnwickcmd")
    for name, options in [("usage text", ["-h"]), ("version banner", ["-v"]),
                          ("unknown chip (a settings failure)",
                           ["--burn", "-n", "nosuchchip", "-m", "serial", COM_PORT, "115200", "0", "0"])]:
        win = run([WINE, exe, *options], env=env)
        linux = run([native, *options])
        check(win[:2] == linux[:2], f"{name}: exit code {win[0]} and output as on Linux",
              f"windows ({win[0]}):\n{win[1]}\nlinux ({linux[0]}):\n{linux[1]}")


def check_ports(args, work):
    # Wine fills the serial device map when it starts, from its Ports key:
    # name the simulator's pty there and start wine afresh.
    sim = Sim(args.linux_bin, args.prefix, work, "vb27")
    env = wine_env(args.prefix)
    ports_key = "HKLM\\Software\\Wine\\Ports"
    run([WINE, "reg", "add", ports_key, "/v", COM_PORT, "/d", sim.pty, "/f"], env=env)
    subprocess.run([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
    code, out, _ = run([WINE, os.path.join(args.tool_dir, "tarnwickcmd.exe"), "--ports"], env=env)
    # Later runs link COM5 to a pty of their own; a stale entry must not
    # take its place when wine starts again.
    run([WINE, "reg", "delete", ports_key, "/v", COM_PORT, "/f"], env=env)
    subprocess.run([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
    sim.stop()
    check(code == 0 and COM_PORT in out.split(), f"--ports lists {COM_PORT}", out)


def make_prefix(prefix):
    if os.path.isfile(os.path.join(prefix, "system.reg")):
        return
    os.makedirs(prefix, exist_ok=True)
    subprocess.run([WINE, "wineboot", "-i"], env=wine_env(prefix), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True, timeout=300)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--linux-bin", required=True)
    parser.add_argument("--windows-bin", required=True)
    parser.add_argument("--prefix", required=True, help="private wine prefix (created when missing)")
    args = parser.parse_args()
    args.linux_bin = os.path.abspath(args.linux_bin)
    args.prefix = os.path.abspath(args.prefix)
    make_prefix(args.prefix)
    work = tempfile.mkdtemp(prefix="tarnwick-wine-")
    try:
        # A copy of the installation, as unzipped on a Windows machine.
        args.tool_dir = os.path.join(work, "tarnwick")
        shutil.copytree(args.windows_bin, args.tool_dir)
        folder = os.path.join(work, PACKAGE_FOLDER)
        os.makedirs(folder)
        check_front_end(args)
        check_ports(args, work)
        package = check_vb27(args, work, folder)
        check_typesix(args, work, folder)
        check_pulled_cable(args, work, package)
    finally:
        subprocess.run([WINESERVER, "-k"], env=wine_env(args.prefix), stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
