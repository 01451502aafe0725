#!/usr/bin/env python3
"""The desktop back-end in a real X session.

Starts a virtual X server (Xvfb), runs the smoke program (sdl_smoke.cpp) on
it with SDL's X11 video driver and its dummy audio driver, then from outside:
compares the frame the program wrote with an xwd capture of the screen,
clicks into the window and types keys with xdotool and checks the messages
the program's window received, covers the window with another one and checks
that it is repainted when uncovered, and sends the window manager's close
request. Xvfb, xdotool and x11-apps are installed when missing; the test
skips (status 77) only when they cannot be.

Every wait polls for what it waits for, with generous limits, so that a
loaded machine only makes the test slower.
"""
import argparse
import ctypes
import ctypes.util
import os
import queue
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
TOOLS = {"Xvfb": "xvfb", "xdotool": "xdotool", "xwd": "x11-apps", "xlogo": "x11-apps"}
FRAME = (240, 160)


class Failure(Exception):
    pass


def ensure_tools():
    missing = sorted({pkg for tool, pkg in TOOLS.items() if not shutil.which(tool)})
    if not missing:
        return True
    if os.geteuid() != 0 or not shutil.which("apt-get"):
        print(f"sdl_smoke: {', '.join(missing)} missing and cannot be installed here")
        return False
    print(f"sdl_smoke: installing {' '.join(missing)}")
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    install = ["apt-get", "install", "-y", "-q", "-o", "DPkg::Lock::Timeout=300", *missing]
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    if subprocess.run(install, **quiet).returncode != 0:
        subprocess.run(["apt-get", "update", "-q", "-o", "DPkg::Lock::Timeout=300"], **quiet)
        subprocess.run(install, **quiet)
    return all(shutil.which(tool) for tool in TOOLS)


def die_with_parent():
    """Children end when this script does, however it ends."""
    libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def wait_until(what, probe, limit):
    """Polls probe() until it answers something true; that answer."""
    deadline = time.monotonic() + limit
    delay = 0.02
    while True:
        answer = probe()
        if answer:
            return answer
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {limit} s waiting for {what}")
        time.sleep(delay)
        delay = min(delay * 1.5, 0.25)


def start_xvfb(log):
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "640x480x24", "-nolisten", "tcp", "-bs", "-noreset"],
        pass_fds=(write_end,), stdout=log, stderr=log, preexec_fn=die_with_parent)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 60
    os.set_blocking(read_end, False)
    while not number.endswith(b"\n"):
        if xvfb.poll() is not None:
            raise Failure("Xvfb ended at start")
        if time.monotonic() > deadline:
            raise Failure("Xvfb did not start within 60 s")
        try:
            chunk = os.read(read_end, 16)
            if not chunk:
                time.sleep(0.05)
            number += chunk
        except BlockingIOError:
            time.sleep(0.05)
    os.close(read_end)
    return xvfb, ":" + number.decode().strip()


class Program:
    """The smoke program with its output lines gathered as they come."""

    def __init__(self, path, frame_path, env, log):
        self.proc = subprocess.Popen([path, frame_path], stdout=subprocess.PIPE, stderr=log, env=env,
                                     preexec_fn=die_with_parent, text=True)
        self.lines = []
        self.queue = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.queue.put(line.rstrip("\n"))

    def _drain(self):
        while True:
            try:
                self.lines.append(self.queue.get_nowait())
            except queue.Empty:
                return

    def wait_line(self, pattern, since=0, limit=60):
        """The first line from `since` on matching the pattern."""
        regex = re.compile(pattern)

        def probe():
            self._drain()
            for line in self.lines[since:]:
                if regex.fullmatch(line):
                    return line
            if self.proc.poll() is not None and self.queue.empty():
                self._drain()
                raise Failure(f"the program ended ({self.proc.returncode}) before '{pattern}'; "
                              f"it said: {self.lines}")
            return None

        return wait_until(f"'{pattern}' from the program", probe, limit)

    def mark(self):
        self._drain()
        return len(self.lines)


def run(cmd, env, limit=30):
    result = subprocess.run(cmd, env=env, capture_output=True, text=True, timeout=limit)
    if result.returncode != 0:
        raise Failure(f"{' '.join(cmd)} failed: {result.stderr.strip()}")
    return result.stdout


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    parts = data.split(maxsplit=4)
    if parts[0] != b"P6" or int(parts[3]) != 255:
        raise Failure(f"{path}: not the frame the program writes")
    width, height = int(parts[1]), int(parts[2])
    pixels = parts[4]
    return width, height, [tuple(pixels[i:i + 3]) for i in range(0, width * height * 3, 3)]


def capture(display, env, x, y, width, height):
    """The screen's pixels in the rectangle, from an xwd capture of the root window."""
    data = subprocess.run(["xwd", "-root", "-silent", "-display", display], env=env, capture_output=True,
                          timeout=30, check=True).stdout
    (header_size, _version, pixmap_format, _depth, screen_w, screen_h, _xoffset, byte_order, _unit, _bit_order,
     _pad, bits_per_pixel, bytes_per_line, _visual, red, green, blue, _bits_rgb, _entries, ncolors,
     *_rest) = struct.unpack(">25I", data[:100])
    if pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise Failure(f"xwd gave format {pixmap_format} with {bits_per_pixel} bits a pixel")
    pixels = data[header_size + 12 * ncolors:]
    order = "little" if byte_order == 0 else "big"
    size = bits_per_pixel // 8

    def channel(v, mask):
        shift = (mask & -mask).bit_length() - 1
        return ((v & mask) >> shift) * 255 // (mask >> shift)

    out = []
    for row in range(y, y + height):
        for col in range(x, x + width):
            if not (0 <= row < screen_h and 0 <= col < screen_w):
                out.append(None)
                continue
            at = row * bytes_per_line + col * size
            v = int.from_bytes(pixels[at:at + size], order)
            out.append((channel(v, red), channel(v, green), channel(v, blue)))
    return out


def differences(expected, got, width):
    bad = [i for i, (a, b) in enumerate(zip(expected, got)) if a != b]
    return len(bad), [(i % width, i // width, expected[i], got[i]) for i in bad[:5]]


def send_close_request(display, window):
    """What a window manager sends when the user closes a window: the
    WM_DELETE_WINDOW protocol message."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("message", ClientMessage), ("pad", ctypes.c_long * 24)]

    dpy = x11.XOpenDisplay(display.encode())
    if not dpy:
        raise Failure(f"cannot open {display} to send the close request")
    try:
        event = Event()
        event.message.type = 33  # ClientMessage
        event.message.display = dpy
        event.message.window = window
        event.message.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        event.message.format = 32
        event.message.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        event.message.data[1] = 0  # CurrentTime
        if not x11.XSendEvent(dpy, window, 0, 0, ctypes.byref(event)):
            raise Failure("XSendEvent refused the close request")
        x11.XFlush(dpy)
    finally:
        x11.XCloseDisplay(dpy)


def smoke(program_path, work, log):
    xvfb, display = start_xvfb(log)
    children = [xvfb]
    try:
        env = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY", "XAUTHORITY")}
        env.update(DISPLAY=display, SDL_VIDEODRIVER="x11", SDL_AUDIODRIVER="dummy")
        frame_path = os.path.join(work, "frame.ppm")
        program = Program(program_path, frame_path, env, log)
        children.append(program.proc)
        program.wait_line("backend sdl", limit=60)
        left, top = map(int, program.wait_line(r"ready -?\d+ -?\d+", limit=120).split()[1:])
        width, height, expected = read_ppm(frame_path)
        if (width, height) != FRAME:
            raise Failure(f"the frame is {width}x{height}")

        window = int(wait_until("the window on the X screen", lambda: run(
            ["xdotool", "search", "--name", "^talven smoke$"], env).split()[:1] or None, 60)[0])
        geometry = dict(line.split("=", 1) for line in run(
            ["xdotool", "getwindowgeometry", "--shell", str(window)], env).split())
        wx, wy = int(geometry["X"]), int(geometry["Y"])
        if (int(geometry["WIDTH"]), int(geometry["HEIGHT"])) != FRAME:
            raise Failure(f"the window is {geometry['WIDTH']}x{geometry['HEIGHT']}")

        def screen_matches():
            return differences(expected, capture(display, env, wx, wy, width, height), width)[0] == 0

        try:
            wait_until("the screen to show the frame", screen_matches, 60)
        except Failure:
            count, first = differences(expected, capture(display, env, wx, wy, width, height), width)
            raise Failure(f"{count} pixels differ from the frame, first (x, y, frame, screen): {first}")
        print(f"sdl_smoke: the screen shows the {width}x{height} frame at {wx},{wy} on {display}")

        # Clicks, at frame points inside the window's client area.
        for (fx, fy, button) in ((60, 70, 1), (150, 120, 3)):
            mark = program.mark()
            run(["xdotool", "mousemove", "--sync", str(wx + fx), str(wy + fy)], env)
            run(["xdotool", "click", str(button)], env)
            want = f"down {fx - left} {fy - top} {0 if button == 1 else 1}"
            got = program.wait_line(r"down .*", since=mark, limit=30)
            if got != want:
                raise Failure(f"click at {fx},{fy}: the window got '{got}', not '{want}'")

        # Keys: a letter with its character, shifted and with Control, an
        # extended key, the keypad's Enter, and a character the keyboard map
        # lacks (typed as text).
        run(["xdotool", "windowfocus", "--sync", str(window)], env)
        for key, lines in (("a", ["key 0x41 0", "char 0x61"]), ("shift+b", ["key 0x10 0", "key 0x42 0", "char 0x42"]),
                           ("ctrl+c", ["key 0x11 0", "key 0x43 0", "char 0x03"]), ("Home", ["key 0x24 1"]),
                           ("KP_Enter", ["key 0x0D 1", "char 0x0D"]), ("eacute", ["char 0xE9"])):
            mark = program.mark()
            run(["xdotool", "key", key], env)
            for want in lines:
                program.wait_line(re.escape(want), since=mark, limit=30)
        print("sdl_smoke: clicks and keys arrived as their messages")

        # Covered by another window and uncovered: repainted.
        mark = program.mark()
        logo = subprocess.Popen(["xlogo", "-display", display, "-geometry", f"120x80+{wx + 30}+{wy + 30}"],
                                env=env, stdout=log, stderr=log, preexec_fn=die_with_parent)
        children.append(logo)
        wait_until("the covering window", lambda: not screen_matches(), 60)
        logo.terminate()
        logo.wait(timeout=30)
        try:
            wait_until("the uncovered window to be repainted", screen_matches, 60)
        except Failure:
            count, first = differences(expected, capture(display, env, wx, wy, width, height), width)
            raise Failure(f"after uncovering, {count} pixels differ, first: {first}")
        print("sdl_smoke: repainted when uncovered")

        program.wait_line("clipboard ok", limit=10)
        program.wait_line("audio drained", limit=60)

        send_close_request(display, window)
        program.wait_line("close", since=mark, limit=30)
        program.wait_line("bye", since=mark, limit=30)
        code = program.proc.wait(timeout=60)
        if code != 0:
            raise Failure(f"the program ended with status {code}")
        # One character a key, never two.
        program.mark()
        chars = [line for line in program.lines if line.startswith("char ")]
        if chars != ["char 0x61", "char 0x42", "char 0x03", "char 0x0D", "char 0xE9"]:
            raise Failure(f"the characters typed were {chars}")
        print("sdl_smoke: the close request ended the program")
    finally:
        for child in reversed(children):
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", required=True, help="the smoke program")
    args = parser.parse_args()
    if not ensure_tools():
        return SKIP
    with tempfile.TemporaryDirectory(prefix="talven-sdl-smoke-") as work:
        log_path = os.path.join(work, "log")
        with open(log_path, "w") as log:
            try:
                smoke(os.path.abspath(args.program), work, log)
            except (Failure, subprocess.SubprocessError, OSError) as e:
                log.flush()
                print(f"sdl_smoke: FAIL: {e}")
                with open(log_path) as f:
                    tail = f.read()[-4000:]
                if tail.strip():
                    print("--- program and X server output ---\n" + tail)
                return 1
    print("sdl_smoke: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
