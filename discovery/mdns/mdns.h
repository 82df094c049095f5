#pragma once

// The discovery library's mDNS responder: a thread that listens on the mDNS
// port and answers the DNS-SD meta query and PTR questions for one service
// type. It sends nothing on its own: no announcements, no goodbyes.

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace mdns_cpp {

struct ResponderSettings;

class mDNS
{
public:
    mDNS() = default;
    mDNS(const mDNS&) = delete;
    mDNS& operator=(const mDNS&) = delete;
    ~mDNS();

    // The settings are taken by the responder thread when it starts; a
    // change reaches the network with the next startService.
    void setServiceHostname(const std::string& hostname);
    void setServiceName(const std::string& name);
    void setServicePort(uint16_t port);

    // Stops a running responder, then starts a new responder thread.
    void startService();
    // Clears the running flag, wakes the responder with the meta query and
    // joins its thread. Returns at once when no responder thread exists.
    void stopService();
    // False once stopped, and also when the responder thread ended by itself.
    bool isServiceRunning() const;

    // Sends the meta query from every interface and logs the replies that
    // are already waiting.
    void executeDiscovery();

    // Opens at most max_sockets client sockets, one per interface address
    // (loopback excepted), and records the first IPv4 and IPv6 addresses for
    // the responder's answers. With max_sockets 0 it only records.
    int openClientSockets(int* sockets, int max_sockets, int port);

private:
    void runMainLoop();
    ResponderSettings takeSettings() const;

    std::string hostname_ = "dummy-host";
    std::string name_ = "_http._tcp.local.";
    uint16_t port_ = 42424;
    std::atomic<bool> running_{false};
    bool has_ipv4_ = false;
    bool has_ipv6_ = false;
    in_addr service_address_ipv4_{};
    in6_addr service_address_ipv6_{};
    std::thread worker_thread_;
    int wake_fd_ = -1;  // wakes the responder's wait when it is stopped

    // Guards the settings and the interface addresses: several threads open
    // client sockets (and so record addresses) while the responder starts.
    mutable std::mutex mutex_;
};

}  // namespace mdns_cpp
