#!/usr/bin/python3
"""The renderer's side of the two-namespace discovery test, run inside the
renderer's namespace.

An independent mDNS stack (python3-zeroconf, bound to ADDRESS only) announces
a renderer "studio-b._vhremote._udp.local." at ADDRESS, port 9000. Beside it:
  - a capture of every UDP datagram that arrives on INTERFACE from the other
    end (a packet socket, so it takes nothing away from the mDNS sockets);
    the mDNS ones are decoded with zeroconf's own reader;
  - a listener on the renderer's OSC port 5341 that records each message.

Commands on stdin, one JSON object per line; each gets one JSON line back:
  {"cmd": "mdns", "since": N}       the decoded mDNS datagrams from N on
  {"cmd": "osc", "since": N}        the OSC messages from N on
  {"cmd": "ask", "name": T}         one PTR question for T, as a renderer asks
  {"cmd": "resolve", "type": T, "timeout": S}
                                    browse for T and resolve the first instance
  {"cmd": "types", "timeout": S}    the service types that answer the meta query
  {"cmd": "announce"}               registers the renderer, when started --unannounced
  {"cmd": "offlink", "address": A}  from now on a second renderer, "far", answers every
                                    question for renderers by unicast from A
It prints {"ready": true} once the renderer is registered (with --unannounced,
once its stack runs), and exits when stdin closes, and in any case after
LIFETIME_S seconds.

Usage: renderer_peer.py ADDRESS INTERFACE [--unannounced]
"""

import json
import select
import socket
import struct
import sys
import threading
import time

from zeroconf import (DNSIncoming, DNSOutgoing, DNSPointer, DNSQuestion, DNSService, ServiceBrowser, ServiceInfo,
                      ServiceListener, Zeroconf, ZeroconfServiceTypes)

LIFETIME_S = 300
ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4
FLAGS_QUERY = 0x0000
FLAGS_ANSWER = 0x8400
TYPE_PTR = 12
TYPE_SRV = 33
CLASS_IN = 1
CLASS_UNIQUE = 0x8000


def emit(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()


class Capture(threading.Thread):
    """Every UDP datagram that reaches the interface from outside."""

    def __init__(self, interface):
        super().__init__(daemon=True)
        self.sock = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.ntohs(ETH_P_ALL))
        self.sock.bind((interface, 0))
        self.lock = threading.Lock()
        self.mdns = []
        self.stop = False

    def run(self):
        while not self.stop:
            ready, _, _ = select.select([self.sock], [], [], 0.2)
            if not ready:
                continue
            frame, address = self.sock.recvfrom(65535)
            if address[2] == PACKET_OUTGOING:
                continue
            datagram = udp_of(frame)
            if datagram is None:
                continue
            family, src, sport, dst, dport, payload = datagram
            if dport != 5353 and sport != 5353:
                continue
            entry = {"t": time.monotonic(), "family": family, "src": src, "sport": sport, "dst": dst,
                     "dport": dport, "size": len(payload)}
            entry.update(decode(payload))
            with self.lock:
                self.mdns.append(entry)

    def since(self, n):
        with self.lock:
            return self.mdns[n:], len(self.mdns)


def udp_of(frame):
    if len(frame) < 14:
        return None
    ethertype = struct.unpack("!H", frame[12:14])[0]
    if ethertype == 0x0800 and len(frame) >= 34:
        ihl = (frame[14] & 0x0F) * 4
        if frame[23] != 17:
            return None
        src = socket.inet_ntop(socket.AF_INET, frame[26:30])
        dst = socket.inet_ntop(socket.AF_INET, frame[30:34])
        udp = frame[14 + ihl:]
        family = 4
    elif ethertype == 0x86DD and len(frame) >= 62:
        if frame[20] != 17:
            return None
        src = socket.inet_ntop(socket.AF_INET6, frame[22:38])
        dst = socket.inet_ntop(socket.AF_INET6, frame[38:54])
        udp = frame[54:]
        family = 6
    else:
        return None
    if len(udp) < 8:
        return None
    sport, dport, length = struct.unpack("!HHH", udp[:6])
    return family, src, sport, dst, dport, bytes(udp[8:length])


def decode(payload):
    try:
        message = DNSIncoming(payload)
    except Exception as error:  # a datagram zeroconf cannot read is reported as such
        return {"valid": False, "error": repr(error)}
    if not message.valid:
        return {"valid": False}
    answers = message.answers() if callable(message.answers) else message.answers
    return {
        "valid": True,
        "id": message.id,
        "response": message.is_response(),
        "questions": [[q.name, q.type, q.class_] for q in message.questions],
        "records": [[r.name, r.type, r.class_, r.ttl] for r in answers],
    }


class OscListener(threading.Thread):
    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("0.0.0.0", port))
        self.lock = threading.Lock()
        self.messages = []
        self.stop = False

    def run(self):
        while not self.stop:
            ready, _, _ = select.select([self.sock], [], [], 0.2)
            if not ready:
                continue
            data, sender = self.sock.recvfrom(65535)
            message = osc_of(data)
            message["from"] = sender[0]
            with self.lock:
                self.messages.append(message)

    def since(self, n):
        with self.lock:
            return self.messages[n:], len(self.messages)


def osc_string(data, at):
    end = data.index(b"\0", at)
    return data[at:end].decode("ascii", "replace"), (end + 4) & ~3


def osc_of(data):
    try:
        path, at = osc_string(data, 0)
        tags, at = osc_string(data, at)
        args = []
        for tag in tags[1:]:
            if tag == "f":
                args.append(struct.unpack("!f", data[at:at + 4])[0])
                at += 4
            elif tag == "i":
                args.append(struct.unpack("!i", data[at:at + 4])[0])
                at += 4
            else:
                args.append(None)
        return {"path": path, "types": tags, "args": args}
    except (ValueError, struct.error):
        return {"path": None, "types": None, "args": [], "raw": data.hex()}


class OffLinkRenderer(threading.Thread):
    """A renderer "far" that answers each question for renderers, as a renderer's stack does
    (the question, the PTR, the SRV among the additional records), by unicast from SOURCE."""

    SERVICE = "_vhremote._udp.local."

    def __init__(self, source, interface_address):
        super().__init__(daemon=True)
        self.listen = self.bound("", interface_address)
        self.send = self.bound(source)
        self.stop = False

    @staticmethod
    def bound(address, group_on=None):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        s.bind((address, 5353))
        if group_on:
            s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                         socket.inet_aton("224.0.0.251") + socket.inet_aton(group_on))
        return s

    def answer(self, query_id):
        out = DNSOutgoing(FLAGS_ANSWER, multicast=False, id_=query_id)
        out.add_question(DNSQuestion(self.SERVICE, TYPE_PTR, CLASS_IN))
        out.add_answer_at_time(DNSPointer(self.SERVICE, TYPE_PTR, CLASS_IN, 10, "far." + self.SERVICE), 0)
        out.add_additional_answer(DNSService("far." + self.SERVICE, TYPE_SRV, CLASS_IN | CLASS_UNIQUE, 10, 0, 0, 9000,
                                             "far.local."))
        return out.packets()[0]

    def run(self):
        while not self.stop:
            ready, _, _ = select.select([self.listen], [], [], 0.2)
            if not ready:
                continue
            data, sender = self.listen.recvfrom(65535)
            try:
                query = DNSIncoming(data)
            except Exception:  # not a question to answer
                continue
            if query.valid and not query.is_response() and any(
                    q.name == self.SERVICE and q.type == TYPE_PTR for q in query.questions):
                self.send.sendto(self.answer(query.id), sender)


class Found(ServiceListener):
    def __init__(self):
        self.names = []
        self.event = threading.Event()

    def add_service(self, zc, type_, name):
        self.names.append(name)
        self.event.set()

    def update_service(self, zc, type_, name):
        pass

    def remove_service(self, zc, type_, name):
        pass


def resolve(zc, service_type, timeout):
    found = Found()
    browser = ServiceBrowser(zc, service_type, found)
    try:
        if not found.event.wait(timeout):
            return {"resolved": None, "error": "nothing found"}
        name = found.names[0]
        info = zc.get_service_info(service_type, name, timeout=int(timeout * 1000))
        if info is None:
            return {"resolved": None, "error": "found %s, not resolved" % name}
        return {"resolved": {
            "name": name,
            "port": info.port,
            "server": info.server,
            "addresses": info.parsed_addresses(),
            "properties": {k.decode("latin-1"): (v.hex() if v is not None else None)
                           for k, v in info.properties.items()},
        }}
    finally:
        browser.cancel()


def main():
    address, interface = sys.argv[1:3]
    announced = "--unannounced" not in sys.argv[3:]
    capture = Capture(interface)
    capture.start()
    osc = OscListener(5341)
    osc.start()
    zc = Zeroconf(interfaces=[address])
    info = ServiceInfo("_vhremote._udp.local.", "studio-b._vhremote._udp.local.",
                       addresses=[socket.inet_aton(address)], port=9000, server="renderer-b.local.",
                       properties={"v": "1"})
    if announced:
        zc.register_service(info)
    emit({"ready": True})

    deadline = time.monotonic() + LIFETIME_S
    try:
        while time.monotonic() < deadline:
            ready, _, _ = select.select([sys.stdin], [], [], 1.0)
            if not ready:
                continue
            line = sys.stdin.readline()
            if not line:
                break
            try:
                command = json.loads(line)
                what = command["cmd"]
                if what == "mdns":
                    items, count = capture.since(int(command.get("since", 0)))
                    emit({"mdns": items, "next": count})
                elif what == "osc":
                    items, count = osc.since(int(command.get("since", 0)))
                    emit({"osc": items, "next": count})
                elif what == "ask":
                    out = DNSOutgoing(FLAGS_QUERY)
                    out.add_question(DNSQuestion(command["name"], TYPE_PTR, CLASS_IN))
                    zc.send(out)
                    emit({"asked": command["name"]})
                elif what == "resolve":
                    emit(resolve(zc, command["type"], float(command.get("timeout", 5))))
                elif what == "announce":
                    if not announced:
                        zc.register_service(info)
                        announced = True
                    emit({"announced": info.name})
                elif what == "offlink":
                    far = OffLinkRenderer(command["address"], address)
                    far.start()
                    emit({"offlink": command["address"]})
                elif what == "types":
                    found = ZeroconfServiceTypes.find(zc=zc, timeout=float(command.get("timeout", 3)))
                    emit({"types": list(found)})
                else:
                    emit({"error": "unknown command %s" % what})
            except Exception as error:  # report and go on: the test decides
                emit({"error": repr(error)})
    finally:
        capture.stop = True
        osc.stop = True
        zc.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
