#pragma once

// What the responder does with one received datagram, apart from the
// sockets: the responder thread feeds it what it receives and sends what it
// is handed back, which lets the handling be driven from a plain buffer.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace mdns_cpp {

// The responder's settings and interface addresses, taken once when its
// thread starts.
struct ResponderSettings
{
    std::string hostname;
    std::string name;  // service type, a dotted name with its trailing dot
    uint16_t port = 0;
    bool has_ipv4 = false;
    in_addr address_ipv4{};
    bool has_ipv6 = false;
    in6_addr address_ipv6{};
};

// unicast: send to the sender of the question; otherwise to the mDNS group.
using AnswerSender = std::function<void(bool unicast, const uint8_t* data, size_t size)>;

inline constexpr size_t MDNS_ANSWER_BUFFER_SIZE = 256;

// Logs the PTR and SRV questions of one datagram and hands the answers for
// the meta query and for the service type to `send`. Responses and other
// opcodes are ignored, so two responders never answer each other.
void respondToQuestions(const ResponderSettings& settings, const void* data, size_t size, const sockaddr* from,
                        size_t addrlen, const AnswerSender& send);

// Reports the records of one reply to the meta query to query_callback.
void takeDiscoveryReply(int sock, const sockaddr* from, size_t addrlen, const void* data, size_t size);

}  // namespace mdns_cpp
