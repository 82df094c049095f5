"""An independent mDNS stack as the peer: browses for the plug-in's service
on loopback and resolves it. Prints what it found; exit status 0 only when
the service resolves with the expected port, target and address.

Usage: zeroconf_peer.py SERVICE_TYPE PORT SERVER ADDRESS TIMEOUT_SECONDS
"""
import sys
import threading

from zeroconf import ServiceBrowser, ServiceListener, Zeroconf


class Listener(ServiceListener):
    def __init__(self):
        self.names = []
        self.found = threading.Event()

    def add_service(self, zc, type_, name):
        self.names.append(name)
        self.found.set()

    def update_service(self, zc, type_, name):
        pass

    def remove_service(self, zc, type_, name):
        pass


def main():
    service_type, port, server, address, timeout = sys.argv[1:6]
    zc = Zeroconf(interfaces=["127.0.0.1"])
    try:
        listener = Listener()
        browser = ServiceBrowser(zc, service_type, listener)
        if not listener.found.wait(float(timeout)):
            print("no service found")
            return 1
        name = listener.names[0]
        info = zc.get_service_info(service_type, name, timeout=int(float(timeout) * 1000))
        browser.cancel()
        if info is None:
            print("found %s but could not resolve it" % name)
            return 1
        addresses = info.parsed_addresses()
        print("name=%s port=%d server=%s addresses=%s" % (name, info.port, info.server, ",".join(addresses)))
        ok = info.port == int(port) and info.server == server and address in addresses
        return 0 if ok else 1
    finally:
        zc.close()


if __name__ == "__main__":
    sys.exit(main())
