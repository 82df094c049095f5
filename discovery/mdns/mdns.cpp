#include "discovery/mdns/mdns.h"

#include "discovery/mdns/logger.h"
#include "discovery/mdns/responder.h"
#include "discovery/mdns/wire.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>
#include <system_error>
#include <vector>

namespace mdns_cpp {

namespace {

// The replies to the wake-up query are read only while they are already
// waiting; the cap keeps a flood of datagrams from holding the stop up.
constexpr int kMaxDiscoveryReadRounds = 64;

bool isLoopbackIpv6(const in6_addr& address)
{
    static const in6_addr mappedLoopback = [] {
        in6_addr a{};
        inet_pton(AF_INET6, "::ffff:127.0.0.1", &a);
        return a;
    }();
    return IN6_IS_ADDR_LOOPBACK(&address) || std::memcmp(&address, &mappedLoopback, sizeof(address)) == 0;
}


}  // namespace

mDNS::~mDNS()
{
    stopService();
    if (wake_fd_ >= 0)
        close(wake_fd_);
}

void mDNS::setServiceHostname(const std::string& hostname)
{
    std::lock_guard<std::mutex> lock(mutex_);
    hostname_ = hostname;
}

void mDNS::setServiceName(const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    name_ = name;
}

void mDNS::setServicePort(uint16_t port)
{
    std::lock_guard<std::mutex> lock(mutex_);
    port_ = port;
}

bool mDNS::isServiceRunning() const { return running_; }

void mDNS::startService()
{
    stopService();
    if (wake_fd_ < 0)
        wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    running_ = true;
    try
    {
        worker_thread_ = std::thread(&mDNS::runMainLoop, this);
    }
    catch (const std::system_error&)
    {
        running_ = false;
    }
}

void mDNS::stopService()
{
    if (running_.exchange(false))
    {
        executeDiscovery();
        // The query wakes the responder only where it loops back to it; with no interface to
        // send on, this does, so a stop never waits out the responder's wait.
        if (wake_fd_ >= 0)
        {
            const uint64_t one = 1;
            [[maybe_unused]] const auto written = write(wake_fd_, &one, sizeof(one));
        }
    }
    // The responder thread cannot wait for itself; it sees the cleared flag
    // within one turn.
    if (worker_thread_.joinable() && worker_thread_.get_id() != std::this_thread::get_id())
        worker_thread_.join();
}

ResponderSettings mDNS::takeSettings() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    ResponderSettings settings;
    settings.hostname = hostname_;
    settings.name = name_;
    settings.port = port_;
    settings.has_ipv4 = has_ipv4_;
    if (has_ipv4_)
        settings.address_ipv4 = service_address_ipv4_;
    settings.has_ipv6 = has_ipv6_;
    if (has_ipv6_)
        settings.address_ipv6 = service_address_ipv6_;
    return settings;
}

void mDNS::runMainLoop()
{
    openClientSockets(nullptr, 0, 0);

    std::vector<int> sockets;
    sockaddr_in anyIpv4{};
    anyIpv4.sin_family = AF_INET;
    anyIpv4.sin_addr.s_addr = htonl(INADDR_ANY);
    anyIpv4.sin_port = htons(MDNS_PORT);
    if (const int sock = mdns_socket_open_ipv4(&anyIpv4); sock >= 0)
        sockets.push_back(sock);
    sockaddr_in6 anyIpv6{};
    anyIpv6.sin6_family = AF_INET6;
    anyIpv6.sin6_addr = in6addr_any;
    anyIpv6.sin6_port = htons(MDNS_PORT);
    if (const int sock = mdns_socket_open_ipv6(&anyIpv6); sock >= 0)
        sockets.push_back(sock);

    if (sockets.empty())
    {
        LogMessage() << "Error: Failed to open any client sockets" << "\n";
        running_ = false;
        return;
    }

    const ResponderSettings settings = takeSettings();
    LogMessage() << "Opened " << static_cast<int>(sockets.size()) << " socket" << "s" << " for mDNS service\n";
    LogMessage() << "Service mDNS: " << settings.name << ":" << settings.port << "\n";
    LogMessage() << "Hostname: " << settings.hostname << "\n";

    std::vector<uint8_t> buffer(MDNS_RECEIVE_BUFFER_SIZE);
    std::vector<pollfd> fds;
    for (const int sock : sockets)
        fds.push_back({sock, POLLIN, 0});
    if (wake_fd_ >= 0)
        fds.push_back({wake_fd_, POLLIN, 0});

    while (running_)
    {
        const int ready = mdns_poll(fds.data(), fds.size(), MDNS_WAIT_MS);
        if (ready < 0)
            break;
        if (ready == 0)
            continue;

        bool broken = false;
        for (const pollfd& fd : fds)
        {
            if (fd.fd == wake_fd_)
            {
                uint64_t count = 0;
                if (fd.revents & POLLIN)
                {
                    [[maybe_unused]] const auto drained = read(wake_fd_, &count, sizeof(count));
                }
                continue;
            }
            if (fd.revents & POLLNVAL)
                broken = true;
            if (!(fd.revents & (POLLIN | POLLERR)))
                continue;
            sockaddr_storage from{};
            socklen_t fromLength = sizeof(from);
            const ssize_t received = mdns_receive(fd.fd, buffer.data(), buffer.size(), &from, &fromLength);
            if (received <= 0)
                continue;
            const int sock = fd.fd;
            respondToQuestions(settings, buffer.data(), static_cast<size_t>(received),
                               reinterpret_cast<const sockaddr*>(&from), fromLength,
                               [&](bool unicast, const uint8_t* answer, size_t size) {
                                   if (unicast)
                                       sendto(sock, answer, size, 0, reinterpret_cast<const sockaddr*>(&from),
                                              fromLength);
                                   else
                                       mdns_multicast_send(sock, answer, size);
                               });
        }
        if (broken)
            break;
    }

    for (const int sock : sockets)
        close(sock);
    LogMessage() << "Closed socket " << "s" << "\n";
    // Also when the wait failed: a responder that is not running can be
    // started again.
    running_ = false;
}

void mDNS::executeDiscovery()
{
    int sockets[MDNS_MAX_CLIENT_SOCKETS];
    const int count = openClientSockets(sockets, MDNS_MAX_CLIENT_SOCKETS, 0);
    if (count <= 0)
    {
        LogMessage() << "Failed to open any client sockets" << "\n";
        return;
    }

    LogMessage() << "Opened " << count << " socket" << "s" << " for DNS-SD\n";
    LogMessage() << "Sending DNS-SD discovery\n";
    for (int i = 0; i < count; ++i)
        if (const int error = mdns_multicast_send(sockets[i], mdns_services_query, MDNS_SERVICES_QUERY_SIZE))
            LogMessage() << "Failed to send DNS-DS discovery: " << errorText(error) << " \n";

    std::vector<uint8_t> buffer(MDNS_RECEIVE_BUFFER_SIZE);
    LogMessage() << "Reading DNS-SD replies\n";
    std::vector<pollfd> fds;
    for (int i = 0; i < count; ++i)
        fds.push_back({sockets[i], POLLIN, 0});
    for (int round = 0; round < kMaxDiscoveryReadRounds; ++round)
    {
        if (mdns_poll(fds.data(), fds.size(), 0) <= 0)
            break;
        for (const pollfd& fd : fds)
        {
            if (!(fd.revents & (POLLIN | POLLERR)))
                continue;
            sockaddr_storage from{};
            socklen_t fromLength = sizeof(from);
            const ssize_t received = mdns_receive(fd.fd, buffer.data(), buffer.size(), &from, &fromLength);
            if (received > 0)
                takeDiscoveryReply(fd.fd, reinterpret_cast<const sockaddr*>(&from), fromLength, buffer.data(),
                                   static_cast<size_t>(received));
        }
    }

    for (int i = 0; i < count; ++i)
        close(sockets[i]);
    LogMessage() << "Closed socket" << "s" << "\n";
}

int mDNS::openClientSockets(int* sockets, int max_sockets, int port)
{
    ifaddrs* addresses = nullptr;
    if (getifaddrs(&addresses) != 0)
    {
        LogMessage() << "Unable to get interface addresses\n";
        return 0;
    }

    int count = 0;
    bool firstIpv4 = true;
    bool firstIpv6 = true;

    // One interface address of either family: the first of each family is the one the
    // responder announces; each gets a socket while there is room, and a log line with it.
    auto take = [&](auto address, const auto& host, bool loopback, bool& first, auto& serviceAddress,
                    bool& hasAddress, const char* label, auto open, auto toText, auto setPort) {
        if (loopback)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (first)
                serviceAddress = host;
            hasAddress = true;
        }
        setPort(address, 0);
        char text[128];
        const std::string addressText = toText(text, sizeof(text), &address, sizeof(address));
        bool logLine = false;
        if (count < max_sockets)
        {
            auto bindAddress = address;
            setPort(bindAddress, htons(static_cast<uint16_t>(port)));
            const int sock = open(&bindAddress);
            if (sock >= 0)
            {
                sockets[count++] = sock;
                logLine = true;
            }
        }
        else
        {
            logLine = first;
        }
        if (logLine)
            LogMessage() << label << addressText << "\n";
        first = false;
    };

    for (const ifaddrs* entry = addresses; entry; entry = entry->ifa_next)
    {
        if (!entry->ifa_addr)
            continue;
        if (entry->ifa_addr->sa_family == AF_INET)
        {
            sockaddr_in address{};
            std::memcpy(&address, entry->ifa_addr, sizeof(address));
            take(address, address.sin_addr, address.sin_addr.s_addr == htonl(INADDR_LOOPBACK), firstIpv4, service_address_ipv4_,
                 has_ipv4_, "Local IPv4 address: ", mdns_socket_open_ipv4, ipv4AddressToString,
                 [](sockaddr_in& a, uint16_t p) { a.sin_port = p; });
        }
        else if (entry->ifa_addr->sa_family == AF_INET6)
        {
            sockaddr_in6 address{};
            std::memcpy(&address, entry->ifa_addr, sizeof(address));
            take(address, address.sin6_addr, isLoopbackIpv6(address.sin6_addr), firstIpv6, service_address_ipv6_, has_ipv6_,
                 "Local IPv6 address: ", mdns_socket_open_ipv6, ipv6AddressToString,
                 [](sockaddr_in6& a, uint16_t p) { a.sin6_port = p; });
        }
    }
    freeifaddrs(addresses);
    return count;
}

}  // namespace mdns_cpp
