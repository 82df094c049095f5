#!/usr/bin/python3
"""The Standalone's window driven by real input: an X server (Xvfb) of its own, xdotool for the
pointer and the keyboard, and the renderer's side of the wire on loopback. Run it inside the
private network namespace (tests/netns-run), with the Standalone's path as its argument.

What a user's hands do, and what the wire (or the screen) must then show: an address typed into
the address box (127.0.0.2, so the datagrams arrive there), a pad drag, a slider drag, a double-click
reset, a wheel step on a knob, a typed level (also while a renderer's level arrives), a cleared dB
box, a toggle, the coordinate mode (and the elevation moving a corner position at its own
distance), the object counter wrapping round, and a renderer's change reaching the window.
"""
import os
import select
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

import liblo

STANDALONE = sys.argv[1]
WIDTH, HEIGHT = 650, 420
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


# ---------------------------------------------------------------- the renderer's side of the wire
def osc_string(data, at):
    end = data.index(b"\0", at)
    return data[at:end].decode("ascii", "replace"), (end + 4) & ~3


def osc_decode(data):
    path, at = osc_string(data, 0)
    tags, at = osc_string(data, at)
    args = []
    for tag in tags[1:]:
        if tag in "fi":
            args.append(struct.unpack(">f" if tag == "f" else ">i", data[at:at + 4])[0])
            at += 4
    return path, args


class Wire:
    """Datagrams to port 5341, per loopback address they were sent to."""

    def __init__(self, addresses):
        self.sockets = {}
        for address in addresses:
            s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            s.bind((address, 5341))
            self.sockets[s] = address

    def wait_for(self, address, predicate, seconds=4.0):
        """The first message to `address` that satisfies the predicate, or None."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            ready, _, _ = select.select(list(self.sockets), [], [], 0.05)
            for s in ready:
                data = s.recv(2048)
                try:
                    message = osc_decode(data)
                except (ValueError, struct.error):
                    continue
                if self.sockets[s] == address and predicate(*message):
                    return message
        return None

    def drain(self):
        """Forgets what has arrived so far: a check sees only what its action caused."""
        for _ in range(10000):
            ready = select.select(list(self.sockets), [], [], 0)[0]
            if not ready:
                return
            for s in ready:
                s.recv(2048)


# ---------------------------------------------------------------- the screen and the user's hands
def xdo(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True, env=ENV)
    time.sleep(0.15)


def type_text(text):
    # From standard input, so that a leading "-" is text, not an option.
    subprocess.run(["xdotool", "type", "--delay", "40", "--file", "-"], input=text, text=True, check=True, env=ENV)
    time.sleep(0.15)


def pixel(x, y):
    """The screen's colour at (x, y) as 0xRRGGBB, read from an xwd dump of the root window."""
    dump = subprocess.run(["xwd", "-root", "-silent"], check=True, env=ENV, capture_output=True).stdout
    header = struct.unpack(">25I", dump[:100])
    bits, stride, colours = header[11], header[12], header[19]
    at = header[0] + colours * 12 + y * stride + x * (bits // 8)
    blue, green, red = dump[at], dump[at + 1], dump[at + 2]
    return (red << 16) | (green << 8) | blue


def light_pixels(left, top, right, bottom):
    """How many pixels of the area show the window's light text colour."""
    return sum(near(pixel(x, y), 0xB4B4B4, 40) for x in range(left, right, 2) for y in range(top, bottom, 2))


def near(colour, expected, tolerance=12):
    return all(abs(((colour >> s) & 255) - ((expected >> s) & 255)) <= tolerance for s in (0, 8, 16))


class Window:
    def __init__(self):
        ids = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "Varnholt-v2"],
                             check=True, env=ENV, capture_output=True, text=True, timeout=20).stdout.split()
        geometry = dict(line.split("=") for line in subprocess.run(
            ["xdotool", "getwindowgeometry", "--shell", ids[0]], check=True, env=ENV,
            capture_output=True, text=True).stdout.split())
        # The editor fills the bottom of the window, inside a one-pixel frame.
        border = (int(geometry["WIDTH"]) - WIDTH) // 2
        self.left = int(geometry["X"]) + border
        self.top = int(geometry["Y"]) + int(geometry["HEIGHT"]) - border - HEIGHT

    def at(self, x, y):
        return self.left + x, self.top + y

    def click(self, x, y, repeat=1):
        xdo("mousemove", *self.at(x, y))
        xdo("click", "--repeat", repeat, "--delay", 80, 1)

    def drag(self, start, end, steps=6):
        xdo("mousemove", *self.at(*start))
        xdo("mousedown", 1)
        for k in range(1, steps + 1):
            xdo("mousemove", *self.at(start[0] + (end[0] - start[0]) * k // steps,
                                      start[1] + (end[1] - start[1]) * k // steps))
        xdo("mouseup", 1)

    def type_into(self, x, y, text):
        self.click(x, y)
        xdo("key", "ctrl+a")
        type_text(text)
        xdo("key", "Return")

    def colour(self, x, y):
        return pixel(*self.at(x, y))

    def text_in(self, x, y, w, h):
        return light_pixels(*self.at(x, y), *self.at(x + w, y + h))


def position_to(wire, predicate):
    return wire.wait_for("127.0.0.2", lambda p, a: p == "/vh/plugin/obj/pos/xyz/1" and len(a) == 3 and predicate(*a))


# ---------------------------------------------------------------- the run
def start_x_server():
    """An X server on a free display far above :0: a GUI program started without DISPLAY (JUCE
    then tries ":0.0"), such as another test running meanwhile, must never find this one, which
    goes away with the test. The display is named on the pipe once it accepts clients."""
    for number in range(180 + os.getpid() % 40, 260):
        if os.path.exists("/tmp/.X%d-lock" % number):
            continue
        ready_read, ready_write = os.pipe()
        server = subprocess.Popen(["Xvfb", ":%d" % number, "-displayfd", str(ready_write), "-screen", "0", "1024x768x24",
                                   "-nolisten", "tcp"], pass_fds=(ready_write,),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(ready_write)
        if select.select([ready_read], [], [], 20)[0] and os.read(ready_read, 16).strip():
            return server, ":%d" % number
        server.kill()
        server.wait()
    raise RuntimeError("no display for Xvfb")


home = tempfile.mkdtemp(prefix="varnholt-e2e-")
xvfb, display = start_x_server()
ENV = dict(os.environ, DISPLAY=display, HOME=home)
app = None
try:
    wire = Wire(["127.0.0.1", "127.0.0.2"])
    app = subprocess.Popen([STANDALONE], env=ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    w = Window()
    time.sleep(1.0)

    check(wire.wait_for("127.0.0.1", lambda p, a: True) is not None, "the link talks to 127.0.0.1 at first")

    wire.drain()
    # Where the port captions overlap the address box: the click must reach the box.
    w.type_into(300, 25, "127.0.0.2")
    check(wire.wait_for("127.0.0.2", lambda p, a: True) is not None, "a typed address takes the traffic to 127.0.0.2")

    wire.drain()
    w.drag((190, 216), (250, 150))
    check(position_to(wire, lambda x, y, z: abs(x - 0.778) < 0.01 and abs(y - 0.806) < 0.01 and z == 0.5) is not None,
          "a pad drag sends the ball's place")

    wire.drain()
    w.drag((100, 376), (122, 376))
    check(position_to(wire, lambda x, y, z: abs(x - 0.88) < 0.011 and abs(y - 0.806) < 0.01) is not None,
          "a drag of 22 pixels on the x slider adds a tenth")

    wire.drain()
    w.click(100, 376, repeat=2)
    check(position_to(wire, lambda x, y, z: abs(x - 0.5) < 0.001) is not None, "a double-click puts x back to 0.5")

    wire.drain()
    xdo("mousemove", *w.at(429, 141))
    xdo("click", 4)
    check(wire.wait_for("127.0.0.2", lambda p, a: p == "/vh/plugin/obj/render/width/1" and a[0] > 1.0) is not None,
          "a wheel step turns the width knob up")

    wire.drain()
    w.type_into(603, 367, "-10")
    check(wire.wait_for("127.0.0.2", lambda p, a: p == "/vh/plugin/layer/1/obj/level/1" and abs(a[0] + 10.0) < 0.001)
          is not None, "a typed -10 dB reaches the renderer (in tenths of a dB)")

    # A renderer's level arriving while the user types in the dB box leaves the typing alone.
    w.click(603, 367)
    xdo("key", "ctrl+a")
    type_text("-2")
    liblo.send(("127.0.0.1", 5342), "/vh/plugin/layer/1/obj/level/1", ("f", -30.0))
    time.sleep(0.5)
    type_text("0")
    wire.drain()
    xdo("key", "Return")
    check(wire.wait_for("127.0.0.2", lambda p, a: p == "/vh/plugin/layer/1/obj/level/1" and abs(a[0] + 20.0) < 0.001)
          is not None, "text typed while a renderer's change arrives is kept and committed")

    # A cleared dB box left with Return is no level: nothing goes out, and the box shows the level.
    w.click(603, 367)
    xdo("key", "ctrl+a")
    xdo("key", "BackSpace")
    check(w.text_in(578, 359, 50, 16) == 0, "the dB box is cleared")
    wire.drain()
    xdo("key", "Return")
    check(wire.wait_for("127.0.0.2", lambda p, a: p == "/vh/plugin/layer/1/obj/level/1", seconds=1.0) is None,
          "a cleared dB box sends no level")
    check(w.text_in(578, 359, 50, 16) > 0, "the cleared dB box shows the level again")

    wire.drain()
    w.click(144, 25)
    check(wire.wait_for("127.0.0.2", lambda p, a: p == "/vh/plugin/obj/pair/on/1" and a[0] == 1) is not None,
          "the pair toggle switches pair on")

    # Spherical: the bottom slider is now the azimuth, which moves X and Y together.
    w.click(107, 66)
    xdo("key", "Down")
    xdo("key", "Return")
    time.sleep(0.3)
    wire.drain()
    w.drag((190, 376), (160, 376))
    check(position_to(wire, lambda x, y, z: abs(x - 0.5) > 0.01 and abs(y - 0.806) > 0.01) is not None,
          "in spherical mode the bottom slider turns the object around the centre")

    # From a pad corner, outside the unit sphere: the elevation turns the object at its own distance.
    liblo.send(("127.0.0.1", 5342), "/vh/plugin/obj/pos/xyz/1", ("f", 1.0), ("f", 1.0), ("f", 0.5))
    time.sleep(0.5)
    check(near(w.colour(289, 117), 0xFFCC41), "the renderer puts the ball in the pad's corner")
    wire.drain()
    w.drag((350, 216), (350, 236))
    check(position_to(wire, lambda x, y, z: z < 0.49 and abs(((2 * x - 1) ** 2 + (2 * y - 1) ** 2 + (2 * z - 1) ** 2) ** 0.5
                                                           - 2 ** 0.5) < 0.02) is not None,
          "the elevation moves a corner position at its own distance")

    wire.drain()
    w.click(45, 24)
    check(wire.wait_for("127.0.0.2", lambda p, a: p.endswith("/128")) is not None, "'<' on object 1 wraps to 128")
    wire.drain()
    w.click(102, 24)
    check(wire.wait_for("127.0.0.2", lambda p, a: p.endswith("/1") and not p.endswith("/11")) is not None,
          "'>' on object 128 wraps to 1")

    check(near(w.colour(121, 25), 0xFCCC41), "the pair toggle shows on")
    liblo.send(("127.0.0.1", 5342), "/vh/plugin/obj/pair/on/1", ("f", 0.0))
    ok = False
    for _ in range(40):
        time.sleep(0.1)
        if near(w.colour(121, 25), 0x525252):
            ok = True
            break
    check(ok, "the renderer's pair off reaches the window")
finally:
    if app is not None:
        app.terminate()
        try:
            app.wait(10)
        except subprocess.TimeoutExpired:
            app.kill()
    xvfb.terminate()
    xvfb.wait(10)
    shutil.rmtree(home, ignore_errors=True)

sys.exit(1 if failures else 0)
