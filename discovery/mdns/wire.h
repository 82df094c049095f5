#pragma once

// The DNS message layer of the discovery library: sockets that take part in
// multicast DNS, encoded names, the record walk and address texts.
//
// Everything that reads a datagram treats it as hostile: it comes from any
// host on the network. Every read is bounds checked against the datagram's
// size, and a compression pointer is only followed backwards, a bounded
// number of times.

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mdns_cpp {

inline constexpr uint16_t MDNS_PORT = 5353;
inline constexpr size_t MDNS_HEADER_SIZE = 12;
inline constexpr int MDNS_MAX_POINTER_JUMPS = 16;
inline constexpr size_t MDNS_MAX_LABEL_LENGTH = 63;

// What every reader of datagrams shares: its buffer, the client sockets it
// opens at most (one per interface address), and one wait for datagrams,
// which is the responder's turn and the silence that ends a search.
inline constexpr size_t MDNS_RECEIVE_BUFFER_SIZE = 2048;
inline constexpr int MDNS_MAX_CLIENT_SOCKETS = 32;
inline constexpr int MDNS_WAIT_MS = 1000;

inline constexpr uint16_t MDNS_CLASS_IN = 1;
// In a question's class the top bit asks for a unicast answer; in a record's
// class it is the cache-flush bit.
inline constexpr uint16_t MDNS_CLASS_TOP_BIT = 0x8000;

enum mdns_record_type : uint16_t {
    MDNS_TYPE_A = 1,
    MDNS_TYPE_PTR = 12,
    MDNS_TYPE_TXT = 16,
    MDNS_TYPE_AAAA = 28,
    MDNS_TYPE_SRV = 33,
};

enum mdns_entry_type : int {
    MDNS_ENTRY_ANSWER = 1,
    MDNS_ENTRY_AUTHORITY = 2,
    MDNS_ENTRY_ADDITIONAL = 3,
};

// Flags of a DNS message header.
inline constexpr uint16_t MDNS_FLAG_RESPONSE = 0x8000;
inline constexpr uint16_t MDNS_FLAG_OPCODE_MASK = 0x7800;
inline constexpr uint16_t MDNS_FLAGS_AUTHORITATIVE_ANSWER = 0x8400;

// The DNS-SD meta query: one question for "_services._dns-sd._udp.local." of
// type PTR, class IN with the unicast-answer bit.
inline constexpr size_t MDNS_SERVICES_QUERY_SIZE = 46;
inline constexpr uint8_t mdns_services_query[MDNS_SERVICES_QUERY_SIZE] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    9, '_', 's', 'e', 'r', 'v', 'i', 'c', 'e', 's',
    7, '_', 'd', 'n', 's', '-', 's', 'd',
    4, '_', 'u', 'd', 'p',
    5, 'l', 'o', 'c', 'a', 'l',
    0,
    0x00, 0x0C,
    0x80, 0x01,
};

// Called once per resource record. data and size are the whole datagram;
// the record's name starts at name_offset, its data lies at record_offset.
using mdns_record_callback_fn = int (*)(int sock, const sockaddr* from, size_t addrlen, mdns_entry_type entry,
                                        uint16_t query_id, uint16_t rtype, uint16_t rclass, uint32_t ttl,
                                        const void* data, size_t size, size_t name_offset, size_t name_length,
                                        size_t record_offset, size_t record_length, void* user_data);

// One key=value string of a TXT record, pointing into the datagram.
struct mdns_txt_pair {
    const char* key;
    size_t key_length;
    const char* value;
    size_t value_length;
};

// A UDP socket of the family, close-on-exec from the start; -1 on failure.
int mdns_socket_udp(int family);

// Sockets. Each returns a non-blocking UDP descriptor that is a member of the
// mDNS group, or -1. With saddr the socket is tied to that interface address
// and bound to its port on any address (saddr's address is overwritten).
int mdns_socket_open_ipv4(sockaddr_in* saddr);
int mdns_socket_open_ipv6(sockaddr_in6* saddr);

// Waits for readable sockets like poll; an interrupted wait is simply repeated.
int mdns_poll(pollfd* fds, size_t count, int timeoutMs);

// Receives one datagram and its sender; the datagram's size, or 0 or less on failure.
ssize_t mdns_receive(int sock, void* buffer, size_t capacity, sockaddr_storage* from, socklen_t* fromLength);

// Asks the kernel to report, with each datagram, the interface it arrived on
// (mdns_receive_on). Both families on an IPv6 socket.
void mdns_socket_report_arrival(int sock);

// mdns_receive, and the index of the interface the datagram arrived on: 0
// when the socket does not report it.
ssize_t mdns_receive_on(int sock, void* buffer, size_t capacity, sockaddr_storage* from, socklen_t* fromLength,
                        unsigned* arrival);

// The host's interface addresses and their prefixes, taken once, to tell
// whether a datagram's source is on the link it arrived on, as multicast DNS
// asks of every receiver: an IPv4 source in the subnet of an address of the
// receiving interface; an IPv6 source that is link-local or in the prefix of
// an address of that interface. Anything else (and an unknown interface) is
// off the link, however well formed its datagram.
class LinkAddresses
{
public:
    static LinkAddresses current();

    // One interface address with its netmask (as getifaddrs gives them).
    void add(unsigned interfaceIndex, const sockaddr* address, const sockaddr* netmask);

    bool onLink(const sockaddr* source, unsigned arrival) const;

private:
    struct Entry
    {
        unsigned interfaceIndex;
        int family;
        uint8_t address[16];
        uint8_t mask[16];
    };
    std::vector<Entry> entries_;
};

// Sends one datagram to the mDNS group of the socket's own family: 0, or the
// error number of the failure (the socket's own address unreadable, or the
// send itself). Every multicast datagram of the library goes through here.
int mdns_multicast_send(int sock, const void* buffer, size_t size);

// The port a socket is bound to; 0 when it cannot be read.
uint16_t mdns_socket_port(int sock);

// Reads `records` resource records from *offset on and reports each to the
// callback; *offset ends behind the last record that lay within the datagram.
void mdns_records_parse(int sock, const sockaddr* from, size_t addrlen, const void* buffer, size_t size,
                        size_t* offset, mdns_entry_type type, uint16_t query_id, size_t records,
                        mdns_record_callback_fn callback, void* user_data);

// Moves *offset past the encoded name there. False (offset untouched) when
// the name is malformed.
bool mdns_name_skip(const void* buffer, size_t size, size_t* offset);

// Decodes the name at offset into str as dotted text with a trailing dot and
// returns the number of bytes written (at most capacity). A malformed name
// gives 0. The bytes are copied as they are: escape them before printing.
size_t mdns_name_extract(const void* buffer, size_t size, size_t offset, char* str, size_t capacity);

// The name at offset as printable dotted text with a trailing dot: bytes outside 0x20..0x7E, the
// backslash, and a dot inside a label become \xNN, so a line that prints it can't be misread.
// Empty when the name is malformed. At most `capacity` bytes of the name are read.
std::string mdns_name_text(const void* buffer, size_t size, size_t offset, size_t capacity);

// Compares the name at *offset with "_services._dns-sd._udp.local.", ignoring
// ASCII case. When equal, *offset moves past the name.
bool mdns_name_equal(const void* buffer, size_t size, size_t* offset);

// Writes a dotted name as labels at *offset, followed by the zero byte when
// terminate is set. Fails, writing nothing usable and leaving *offset, when a
// label is empty or longer than 63 bytes or the buffer lacks room.
bool mdns_name_write(void* buffer, size_t capacity, size_t* offset, std::string_view name, bool terminate);

// Splits the character strings of a TXT record's data into key=value pairs.
size_t mdns_txt_parse(const void* buffer, size_t size, size_t offset, size_t length, mdns_txt_pair* pairs,
                      size_t capacity);

// The name in printable form: bytes outside 0x20..0x7E, and the backslash
// itself, become \xNN, so a peer cannot put control bytes into a log line.
std::string escapeName(const char* text, size_t length);

// The numeric text of an address, with ":port" (IPv4) or "[...]:port" (IPv6)
// when the port is not 0; empty when the address cannot be formatted.
std::string ipv4AddressToString(char* buffer, size_t capacity, const sockaddr_in* addr, size_t addrlen);
std::string ipv6AddressToString(char* buffer, size_t capacity, const sockaddr_in6* addr, size_t addrlen);

// A sender's text, by its family: IPv6 as ipv6AddressToString, anything else as IPv4.
std::string senderText(const sockaddr* from, size_t addrlen);

// The system's text for an error number, safe to call from any thread.
std::string errorText(int error);

}  // namespace mdns_cpp
