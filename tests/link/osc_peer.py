#!/usr/bin/python3
"""A stand-in renderer for the link tests, on loopback only.

It listens on the renderer's UDP port (5341 unless given) and prints every OSC message it
receives as one JSON line on stdout: {"path": ..., "types": ..., "args": [...]}.

It reads commands from stdin, one JSON object per line, and answers the plug-in on
127.0.0.1:5342 (or the port given second):
  {"send": {"path": "/a/b", "args": [["f", 1.5], ["i", 3], ["s", "x"], ["b", "00ff"]]}}
      one OSC message; float values may be "nan", "inf" or "-inf"; blobs are hex
  {"bundle": [<message as above>, ...]}   one OSC bundle holding the messages
  {"raw": "2f7668..."}                    one datagram of exactly these bytes
  {"sync": 7}                             prints {"sync": 7} once every datagram that had
                                          reached the port before the command is printed
Errors are printed as {"error": "..."} and the peer goes on.

It exits when stdin closes, and in any case after LIFETIME_S seconds.

Run it with /usr/bin/python3, which has Debian's liblo module.
"""

import json
import os
import select
import socket
import sys
import time

import liblo

LIFETIME_S = 600
TARGET_HOST = "127.0.0.1"


def emit(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()


def plain(value):
    # Blobs arrive as lists of ints, everything the plug-in sends is int32 or float32.
    if isinstance(value, (bytes, bytearray)):
        return value.hex()
    return value


def build_message(description):
    message = liblo.Message(description["path"])
    for tag, value in description.get("args", []):
        if tag == "f" or tag == "d":
            value = float(value)
        elif tag == "b":
            value = list(bytes.fromhex(value))
        message.add((tag, value))
    return message


def main():
    listen_port = int(sys.argv[1]) if len(sys.argv) > 1 else 5341
    target = (TARGET_HOST, int(sys.argv[2]) if len(sys.argv) > 2 else 5342)

    server = liblo.Server(listen_port, liblo.UDP)
    server.add_method(None, None,
                      lambda path, args, types, src: emit({"path": path, "types": types,
                                                           "args": [plain(a) for a in args]}))
    raw = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    target_address = liblo.Address(target[0], target[1], liblo.UDP)

    def drain():
        for _ in range(100000):
            if not server.recv(0):
                return

    def handle(line):
        command = json.loads(line)
        if "send" in command:
            server.send(target_address, build_message(command["send"]))
        elif "bundle" in command:
            server.send(target_address, liblo.Bundle(*[build_message(m) for m in command["bundle"]]))
        elif "raw" in command:
            raw.sendto(bytes.fromhex(command["raw"]), target)
        elif "sync" in command:
            drain()
            emit({"sync": command["sync"]})
        else:
            raise ValueError("unknown command")

    emit({"ready": listen_port})

    stdin_fd = sys.stdin.fileno()
    pending = b""
    deadline = time.monotonic() + LIFETIME_S

    while time.monotonic() < deadline:
        readable, _, _ = select.select([server.fileno(), stdin_fd], [], [], 1.0)

        if server.fileno() in readable:
            drain()

        if stdin_fd in readable:
            chunk = os.read(stdin_fd, 65536)
            if not chunk:
                break
            pending += chunk
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                if not line.strip():
                    continue
                try:
                    handle(line)
                except Exception as error:  # a bad command must not end the peer
                    emit({"error": str(error)})

    drain()


if __name__ == "__main__":
    main()
