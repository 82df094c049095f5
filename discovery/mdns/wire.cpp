// Apple's headers declare IPV6_RECVPKTINFO and in6_pktinfo only on this request, which has to
// come before the first network header.
#if defined(__APPLE__) && !defined(__APPLE_USE_RFC_3542)
#define __APPLE_USE_RFC_3542 1
#endif

#include "discovery/mdns/wire.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace mdns_cpp {

namespace {

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

uint32_t read32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// The mDNS groups: 224.0.0.251 and ff02::fb.
constexpr uint32_t kGroupIpv4 = (224u << 24) | 251u;

in6_addr groupIpv6()
{
    in6_addr address{};
    address.s6_addr[0] = 0xFF;
    address.s6_addr[1] = 0x02;
    address.s6_addr[15] = 0xFB;
    return address;
}

bool isPointer(uint8_t lengthByte) { return lengthByte >= 0xC0; }

size_t pointerTarget(const uint8_t* p) { return (size_t{p[0] & 0x3Fu} << 8) | p[1]; }

// Appends a byte as it is, or as \xNN when it isn't printable, is the backslash itself, or when
// the caller asks for it.
void appendPrintable(std::string& text, uint8_t c, bool escape)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    if (escape || c < 0x20 || c > 0x7E || c == '\\')
    {
        text += "\\x";
        text += hex[c >> 4];
        text += hex[c & 0x0F];
    }
    else
    {
        text += static_cast<char>(c);
    }
}

// Walks the labels of one encoded name, following compression pointers.
// A pointer must lead strictly below the start of the run of labels that
// holds it, so every jump goes backwards and no pointer chain can cycle; the
// jump count is capped as well, so a hostile datagram costs little to walk.
class NameCursor
{
public:
    enum class Step { label, end, malformed };

    NameCursor(const uint8_t* data, size_t size, size_t offset)
        : data_(data), size_(size), pos_(offset), runStart_(offset)
    {
    }

    Step next(const uint8_t*& label, size_t& length)
    {
        for (;;)
        {
            if (pos_ >= size_)
                return Step::malformed;
            const uint8_t lengthByte = data_[pos_];
            if (isPointer(lengthByte))
            {
                if (size_ - pos_ < 2)
                    return Step::malformed;
                const size_t target = pointerTarget(data_ + pos_);
                if (!endKnown_)
                {
                    end_ = pos_ + 2;
                    endKnown_ = true;
                }
                if (target >= runStart_ || ++jumps_ > MDNS_MAX_POINTER_JUMPS)
                    return Step::malformed;
                pos_ = runStart_ = target;
                continue;
            }
            if (lengthByte == 0)
            {
                if (!endKnown_)
                {
                    end_ = pos_ + 1;
                    endKnown_ = true;
                }
                return Step::end;
            }
            if (size_ - pos_ - 1 < lengthByte)
                return Step::malformed;
            label = data_ + pos_ + 1;
            length = lengthByte;
            pos_ += 1 + size_t{lengthByte};
            return Step::label;
        }
    }

    // Offset just behind the name in the datagram; valid once Step::end came.
    size_t end() const { return end_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_;
    size_t runStart_;
    size_t end_ = 0;
    bool endKnown_ = false;
    int jumps_ = 0;
};

bool labelFitsAt(const uint8_t* data, size_t size, size_t offset)
{
    if (offset >= size)
        return false;
    const uint8_t lengthByte = data[offset];
    if (isPointer(lengthByte))
        return size - offset >= 2;
    return size - offset - 1 >= lengthByte;
}

char asciiLower(uint8_t c) { return static_cast<char>((c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c); }

// strerror_r comes in two shapes (XSI returns int, GNU returns char*).
[[maybe_unused]] const char* pickErrorText(int result, const char* buffer)
{
    return result == 0 ? buffer : "Unknown error";
}
[[maybe_unused]] const char* pickErrorText(const char* result, const char*) { return result; }

}  // namespace

int mdns_socket_udp(int family)
{
    // Close-on-exec from the start: a program the host starts meanwhile on another thread must
    // not inherit the mDNS sockets.
#ifdef SOCK_CLOEXEC
    return socket(family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
#else
    const int sock = socket(family, SOCK_DGRAM, IPPROTO_UDP);
    if (sock >= 0)
        fcntl(sock, F_SETFD, FD_CLOEXEC);
    return sock;
#endif
}

int mdns_socket_open_ipv4(sockaddr_in* saddr)
{
    const int sock = mdns_socket_udp(AF_INET);
    if (sock < 0)
        return -1;

    const int on = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    setsockopt(sock, SOL_SOCKET, SO_REUSEPORT, &on, sizeof(on));

    const unsigned char ttl = 1;
    const unsigned char loop = 1;
    setsockopt(sock, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof(ttl));
    setsockopt(sock, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof(loop));

    ip_mreq request{};
    request.imr_multiaddr.s_addr = htonl(kGroupIpv4);
    request.imr_interface.s_addr = saddr ? saddr->sin_addr.s_addr : htonl(INADDR_ANY);
    if (setsockopt(sock, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request)) != 0)
    {
        close(sock);
        return -1;
    }

    sockaddr_in local{};
    if (saddr)
    {
        setsockopt(sock, IPPROTO_IP, IP_MULTICAST_IF, &saddr->sin_addr, sizeof(saddr->sin_addr));
        saddr->sin_addr.s_addr = htonl(INADDR_ANY);
        local = *saddr;
    }
    else
    {
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    if (bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0)
    {
        close(sock);
        return -1;
    }

    const int flags = fcntl(sock, F_GETFL, 0);
    fcntl(sock, F_SETFL, (flags < 0 ? 0 : flags) | O_NONBLOCK);
    return sock;
}

int mdns_socket_open_ipv6(sockaddr_in6* saddr)
{
    const int sock = mdns_socket_udp(AF_INET6);
    if (sock < 0)
        return -1;

    const int on = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    setsockopt(sock, SOL_SOCKET, SO_REUSEPORT, &on, sizeof(on));

    const int hops = 1;
    const int loop = 1;
    setsockopt(sock, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof(hops));
    setsockopt(sock, IPPROTO_IPV6, IPV6_MULTICAST_LOOP, &loop, sizeof(loop));

    ipv6_mreq request{};
    request.ipv6mr_multiaddr = groupIpv6();
    request.ipv6mr_interface = 0;
    if (setsockopt(sock, IPPROTO_IPV6, IPV6_JOIN_GROUP, &request, sizeof(request)) != 0)
    {
        close(sock);
        return -1;
    }

    sockaddr_in6 local{};
    if (saddr)
    {
        const unsigned int defaultInterface = 0;
        setsockopt(sock, IPPROTO_IPV6, IPV6_MULTICAST_IF, &defaultInterface, sizeof(defaultInterface));
        saddr->sin6_addr = in6addr_any;
        local = *saddr;
    }
    else
    {
        local.sin6_family = AF_INET6;
        local.sin6_addr = in6addr_any;
    }
    if (bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0)
    {
        close(sock);
        return -1;
    }

    const int flags = fcntl(sock, F_GETFL, 0);
    fcntl(sock, F_SETFL, (flags < 0 ? 0 : flags) | O_NONBLOCK);
    return sock;
}

int mdns_poll(pollfd* fds, size_t count, int timeoutMs)
{
    for (int attempt = 0; attempt < 16; ++attempt)
    {
        const int result = poll(fds, count, timeoutMs);
        if (result >= 0 || errno != EINTR)
            return result;
    }
    return 0;
}

ssize_t mdns_receive(int sock, void* buffer, size_t capacity, sockaddr_storage* from, socklen_t* fromLength)
{
    *fromLength = sizeof(*from);
    return recvfrom(sock, buffer, capacity, 0, reinterpret_cast<sockaddr*>(from), fromLength);
}

void mdns_socket_report_arrival(int sock)
{
    const int on = 1;
    setsockopt(sock, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on));
    setsockopt(sock, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof(on));
}

ssize_t mdns_receive_on(int sock, void* buffer, size_t capacity, sockaddr_storage* from, socklen_t* fromLength,
                        unsigned* arrival)
{
    iovec data{buffer, capacity};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(in6_pktinfo))];
    msghdr message{};
    message.msg_name = from;
    message.msg_namelen = sizeof(*from);
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);

    *arrival = 0;
    const ssize_t received = recvmsg(sock, &message, 0);
    *fromLength = message.msg_namelen;
    if (received <= 0)
        return received;

    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c))
    {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
        {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof(info));
            *arrival = static_cast<unsigned>(info.ipi_ifindex);
        }
        else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO)
        {
            in6_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof(info));
            *arrival = info.ipi6_ifindex;
        }
    }
    return received;
}

std::string senderText(const sockaddr* from, size_t addrlen)
{
    char buffer[64];
    if (from && from->sa_family == AF_INET6)
        return ipv6AddressToString(buffer, sizeof(buffer), reinterpret_cast<const sockaddr_in6*>(from), addrlen);
    return ipv4AddressToString(buffer, sizeof(buffer), reinterpret_cast<const sockaddr_in*>(from), addrlen);
}

LinkAddresses LinkAddresses::current()
{
    LinkAddresses links;
    ifaddrs* addresses = nullptr;
    if (getifaddrs(&addresses) != 0)
        return links;
    for (const ifaddrs* a = addresses; a != nullptr; a = a->ifa_next)
        links.add(if_nametoindex(a->ifa_name), a->ifa_addr, a->ifa_netmask);
    freeifaddrs(addresses);
    return links;
}

void LinkAddresses::add(unsigned interfaceIndex, const sockaddr* address, const sockaddr* netmask)
{
    if (interfaceIndex == 0 || address == nullptr || netmask == nullptr || address->sa_family != netmask->sa_family)
        return;

    Entry entry{interfaceIndex, address->sa_family, {}, {}};
    if (address->sa_family == AF_INET)
    {
        std::memcpy(entry.address, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
        std::memcpy(entry.mask, &reinterpret_cast<const sockaddr_in*>(netmask)->sin_addr, 4);
    }
    else if (address->sa_family == AF_INET6)
    {
        std::memcpy(entry.address, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
        std::memcpy(entry.mask, &reinterpret_cast<const sockaddr_in6*>(netmask)->sin6_addr, 16);
    }
    else
    {
        return;
    }
    entries_.push_back(entry);
}

bool LinkAddresses::onLink(const sockaddr* source, unsigned arrival) const
{
    if (source == nullptr || arrival == 0)
        return false;

    int family = source->sa_family;
    const uint8_t* bytes = nullptr;
    if (family == AF_INET)
    {
        bytes = reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(source)->sin_addr);
    }
    else if (family == AF_INET6)
    {
        const auto& address = reinterpret_cast<const sockaddr_in6*>(source)->sin6_addr;
        bytes = address.s6_addr;
        if (IN6_IS_ADDR_LINKLOCAL(&address))
            return true;
        // An IPv4 sender seen through an IPv6 socket is judged as IPv4.
        if (IN6_IS_ADDR_V4MAPPED(&address))
        {
            family = AF_INET;
            bytes += 12;
        }
    }
    else
    {
        return false;
    }

    const size_t size = family == AF_INET ? 4 : 16;
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) {
        if (e.interfaceIndex != arrival || e.family != family)
            return false;
        for (size_t k = 0; k < size; ++k)
            if ((bytes[k] & e.mask[k]) != (e.address[k] & e.mask[k]))
                return false;
        return true;
    });
}

int mdns_multicast_send(int sock, const void* buffer, size_t size)
{
    sockaddr_storage own{};
    socklen_t ownLength = sizeof(own);
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&own), &ownLength) != 0)
        return errno;

    sockaddr_storage group{};
    socklen_t groupLength = 0;
    if (own.ss_family == AF_INET6)
    {
        auto& group6 = reinterpret_cast<sockaddr_in6&>(group);
        group6.sin6_family = AF_INET6;
        group6.sin6_port = htons(MDNS_PORT);
        group6.sin6_addr = groupIpv6();
        groupLength = sizeof(group6);
    }
    else
    {
        auto& group4 = reinterpret_cast<sockaddr_in&>(group);
        group4.sin_family = AF_INET;
        group4.sin_port = htons(MDNS_PORT);
        group4.sin_addr.s_addr = htonl(kGroupIpv4);
        groupLength = sizeof(group4);
    }
    if (sendto(sock, buffer, size, 0, reinterpret_cast<const sockaddr*>(&group), groupLength) < 0)
        return errno;
    return 0;
}

uint16_t mdns_socket_port(int sock)
{
    sockaddr_storage own{};
    socklen_t ownLength = sizeof(own);
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&own), &ownLength) != 0)
        return 0;
    return ntohs(own.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(own).sin6_port
                                           : reinterpret_cast<const sockaddr_in&>(own).sin_port);
}

void mdns_records_parse(int sock, const sockaddr* from, size_t addrlen, const void* buffer, size_t size,
                        size_t* offset, mdns_entry_type type, uint16_t query_id, size_t records,
                        mdns_record_callback_fn callback, void* user_data)
{
    const auto* data = static_cast<const uint8_t*>(buffer);
    for (size_t i = 0; i < records; ++i)
    {
        const size_t nameOffset = *offset;
        size_t pos = nameOffset;
        if (!mdns_name_skip(buffer, size, &pos))
            return;
        if (size - pos < 10)
            return;
        const uint16_t rtype = read16(data + pos);
        const uint16_t rclass = read16(data + pos + 2);
        const uint32_t ttl = read32(data + pos + 4);
        const size_t length = read16(data + pos + 8);
        const size_t recordOffset = pos + 10;
        if (size - recordOffset < length)
            return;
        if (callback)
            callback(sock, from, addrlen, type, query_id, rtype, rclass, ttl, buffer, size, nameOffset,
                     pos - nameOffset, recordOffset, length, user_data);
        *offset = recordOffset + length;
    }
}

bool mdns_name_skip(const void* buffer, size_t size, size_t* offset)
{
    const auto* data = static_cast<const uint8_t*>(buffer);
    const size_t start = *offset;
    size_t pos = start;
    for (;;)
    {
        if (pos >= size)
            return false;
        const uint8_t lengthByte = data[pos];
        if (isPointer(lengthByte))
        {
            if (size - pos < 2)
                return false;
            const size_t target = pointerTarget(data + pos);
            if (target >= start || !labelFitsAt(data, size, target))
                return false;
            *offset = pos + 2;
            return true;
        }
        if (lengthByte == 0)
        {
            *offset = pos + 1;
            return true;
        }
        if (size - pos - 1 < lengthByte)
            return false;
        pos += 1 + size_t{lengthByte};
    }
}

namespace {

// Walks the labels of the name at offset, calling onLabel(label, length) for each until it returns
// false. False when the name is malformed before the walk stops.
template <typename OnLabel>
bool for_each_label(const void* buffer, size_t size, size_t offset, OnLabel&& onLabel)
{
    NameCursor cursor(static_cast<const uint8_t*>(buffer), size, offset);
    for (;;)
    {
        const uint8_t* label = nullptr;
        size_t length = 0;
        switch (cursor.next(label, length))
        {
        case NameCursor::Step::malformed:
            return false;
        case NameCursor::Step::end:
            return true;
        case NameCursor::Step::label:
            break;
        }
        if (!onLabel(label, length))
            return true;
    }
}

} // namespace

size_t mdns_name_extract(const void* buffer, size_t size, size_t offset, char* str, size_t capacity)
{
    size_t written = 0;
    size_t room = capacity;
    const bool wellFormed = for_each_label(buffer, size, offset, [&](const uint8_t* label, size_t length) {
        const size_t copied = std::min(length, room);
        std::memcpy(str + written, label, copied);
        written += copied;
        if (room > length)
        {
            str[written++] = '.';
            room -= length + 1;
        }
        else
        {
            room = 0;
        }
        return true;
    });
    return wellFormed ? written : 0;
}

std::string mdns_name_text(const void* buffer, size_t size, size_t offset, size_t capacity)
{
    std::string text;
    size_t room = capacity;
    const bool wellFormed = for_each_label(buffer, size, offset, [&](const uint8_t* label, size_t length) {
        // A dot inside a label would read as a label boundary.
        for (size_t i = 0; i < length && room > 0; ++i, --room)
            appendPrintable(text, label[i], label[i] == '.');
        if (room == 0)
            return false;
        text += '.';
        --room;
        return true;
    });
    return wellFormed ? text : std::string();
}

bool mdns_name_equal(const void* buffer, size_t size, size_t* offset)
{
    NameCursor received(static_cast<const uint8_t*>(buffer), size, *offset);
    NameCursor meta(mdns_services_query, MDNS_SERVICES_QUERY_SIZE, MDNS_HEADER_SIZE);
    for (;;)
    {
        const uint8_t* receivedLabel = nullptr;
        const uint8_t* metaLabel = nullptr;
        size_t receivedLength = 0;
        size_t metaLength = 0;
        const auto receivedStep = received.next(receivedLabel, receivedLength);
        const auto metaStep = meta.next(metaLabel, metaLength);
        if (receivedStep == NameCursor::Step::malformed || receivedStep != metaStep)
            return false;
        if (receivedStep == NameCursor::Step::end)
        {
            *offset = received.end();
            return true;
        }
        if (receivedLength != metaLength)
            return false;
        for (size_t i = 0; i < receivedLength; ++i)
            if (asciiLower(receivedLabel[i]) != asciiLower(metaLabel[i]))
                return false;
    }
}

bool mdns_name_write(void* buffer, size_t capacity, size_t* offset, std::string_view name, bool terminate)
{
    auto* out = static_cast<uint8_t*>(buffer);
    size_t pos = *offset;
    if (!name.empty() && name.back() == '.')
        name.remove_suffix(1);

    while (!name.empty())
    {
        const size_t dot = name.find('.');
        const std::string_view label = name.substr(0, dot);
        // A label also needs its length byte, and one byte must stay free
        // for whatever ends the name.
        if (label.empty() || label.size() > MDNS_MAX_LABEL_LENGTH || pos > capacity ||
            capacity - pos < label.size() + 2)
            return false;
        out[pos++] = static_cast<uint8_t>(label.size());
        std::memcpy(out + pos, label.data(), label.size());
        pos += label.size();
        if (dot == std::string_view::npos)
            break;
        name.remove_prefix(dot + 1);
        if (name.empty())
            return false;  // "a..": the text ended in an empty label
    }

    if (terminate)
    {
        if (pos >= capacity)
            return false;
        out[pos++] = 0;
    }
    *offset = pos;
    return true;
}

size_t mdns_txt_parse(const void* buffer, size_t size, size_t offset, size_t length, mdns_txt_pair* pairs,
                      size_t capacity)
{
    const auto* data = static_cast<const uint8_t*>(buffer);
    if (offset > size)
        return 0;
    const size_t end = offset + std::min(length, size - offset);
    size_t count = 0;
    size_t pos = offset;
    while (pos < end && count < capacity)
    {
        const size_t stringLength = data[pos++];
        if (stringLength > end - pos)
            break;
        const auto* text = reinterpret_cast<const char*>(data + pos);
        pos += stringLength;
        if (stringLength == 0)
            continue;
        bool printable = true;
        for (size_t i = 0; i < stringLength; ++i)
            printable = printable && text[i] >= 0x20 && text[i] <= 0x7E;
        const auto* equals = static_cast<const char*>(std::memchr(text, '=', stringLength));
        if (!printable || !equals || equals == text)
            continue;
        const size_t keyLength = static_cast<size_t>(equals - text);
        pairs[count++] = {text, keyLength, equals + 1, stringLength - keyLength - 1};
    }
    return count;
}

std::string escapeName(const char* text, size_t length)
{
    std::string result;
    result.reserve(length);
    for (size_t i = 0; i < length; ++i)
        appendPrintable(result, static_cast<uint8_t>(text[i]), false);
    return result;
}

namespace {

std::string formatAddress(char* buffer, size_t capacity, const sockaddr* addr, size_t addrlen, int family,
                          size_t familySize, uint16_t port, const char* withPort)
{
    // getnameinfo formats other families too (a local socket's path, say).
    if (!buffer || capacity == 0 || !addr || addr->sa_family != family || addrlen < familySize)
        return {};
    char host[1025] = {};
    char service[32] = {};
    if (getnameinfo(addr, static_cast<socklen_t>(addrlen), host, sizeof(host), service, sizeof(service),
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return {};
    const int length = port != 0 ? std::snprintf(buffer, capacity, withPort, host, service)
                                 : std::snprintf(buffer, capacity, "%s", host);
    if (length < 0)
        return {};
    return std::string(buffer, std::min(static_cast<size_t>(length), capacity - 1));
}

}  // namespace

std::string ipv4AddressToString(char* buffer, size_t capacity, const sockaddr_in* addr, size_t addrlen)
{
    return formatAddress(buffer, capacity, reinterpret_cast<const sockaddr*>(addr), addrlen, AF_INET,
                         sizeof(sockaddr_in), addr ? addr->sin_port : 0, "%s:%s");
}

std::string ipv6AddressToString(char* buffer, size_t capacity, const sockaddr_in6* addr, size_t addrlen)
{
    return formatAddress(buffer, capacity, reinterpret_cast<const sockaddr*>(addr), addrlen, AF_INET6,
                         sizeof(sockaddr_in6), addr ? addr->sin6_port : 0, "[%s]:%s");
}

std::string errorText(int error)
{
    char buffer[256] = {};
    return pickErrorText(strerror_r(error, buffer, sizeof(buffer)), buffer);
}

}  // namespace mdns_cpp
