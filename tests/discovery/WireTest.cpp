// The DNS message layer: the meta query, name routines, record walk and
// address texts, pinned at the byte level.

#include "discovery/mdns/wire.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <optional>

using namespace mdns_cpp;
using mdns_test::Bytes;
using mdns_test::Datagram;

namespace {

// Header, then "_vhplugin._udp.local." at offsets 12 to 33.
Datagram withServiceName()
{
    return Datagram().header(0, 0, 1).labels({"_vhplugin", "_udp", "local"});
}

}  // namespace

TEST(MdnsWire, ServicesQueryIsTheFixedMetaQuestion)
{
    const Bytes expected = Datagram()
                               .header(0, 0, 1)
                               .labels({"_services", "_dns-sd", "_udp", "local"})
                               .u16(12)
                               .u16(0x8001);
    ASSERT_EQ(expected.size(), 46u);
    EXPECT_EQ(Bytes(mdns_services_query, mdns_services_query + MDNS_SERVICES_QUERY_SIZE), expected);
}

TEST(MdnsWire, NameSkipFindsTheEndOrRefuses)
{
    struct Case
    {
        const char* what;
        Bytes datagram;
        size_t offset;
        std::optional<size_t> end;
    };
    // Byte 0 is 0x3F here: a label of 63 bytes that cannot fit.
    const Bytes badTarget = Datagram().header(0x3F00, 0, 1).pointer(0);
    const Case cases[] = {
        {"labels to the zero byte", withServiceName(), 12, 34},
        {"a single pointer is two bytes", Datagram(withServiceName()).pointer(12), 34, 36},
        {"labels ended by a pointer", Datagram(withServiceName()).labels({"studio"}, false).pointer(12), 34, 43},
        {"pointer to itself", Datagram(withServiceName()).pointer(34), 34, std::nullopt},
        {"pointer forwards", Datagram().header(0, 0, 1).pointer(14).labels({"a"}), 12, std::nullopt},
        {"pointer cut by the end", Datagram(withServiceName()).u8(0xC0), 34, std::nullopt},
        {"pointer to a label that runs past the end", badTarget, 12, std::nullopt},
        {"label runs past the end", Datagram().header(0, 0, 1).u8(9).text("_vh"), 12, std::nullopt},
        {"no zero byte", Datagram().header(0, 0, 1).labels({"local"}, false), 12, std::nullopt},
        {"offset at the end", withServiceName(), 34, std::nullopt},
        {"offset past the end", withServiceName(), 500, std::nullopt},
    };
    for (const auto& c : cases)
    {
        size_t offset = c.offset;
        const bool ok = mdns_name_skip(c.datagram.data(), c.datagram.size(), &offset);
        EXPECT_EQ(ok, c.end.has_value()) << c.what;
        EXPECT_EQ(offset, c.end.value_or(c.offset)) << c.what;
    }
}

TEST(MdnsWire, NameExtractDecodesOrGivesTheEmptyName)
{
    // "a." at 12, then a chain of pointers, each to the one before it.
    auto chain = [](int pointers) {
        Datagram d;
        d.header(0, 0, 1).labels({"a"});
        uint16_t previous = 12;
        for (int i = 0; i < pointers; ++i)
        {
            const auto here = static_cast<uint16_t>(d.size());
            d.pointer(previous);
            previous = here;
        }
        return std::pair<Bytes, size_t>(d.bytes(), previous);
    };
    const auto [shortChain, shortStart] = chain(3);
    const auto [longChain, longStart] = chain(MDNS_MAX_POINTER_JUMPS + 1);

    struct Case
    {
        const char* what;
        Bytes datagram;
        size_t offset;
        size_t capacity;
        std::string expected;
    };
    const Case cases[] = {
        {"labels", withServiceName(), 12, 256, "_vhplugin._udp.local."},
        {"a pointer gives the name it points to", Datagram(withServiceName()).pointer(12), 34, 256,
         "_vhplugin._udp.local."},
        {"labels then pointer", Datagram(withServiceName()).labels({"studio"}, false).pointer(12), 34, 256,
         "studio._vhplugin._udp.local."},
        {"pointer into the middle of a name", Datagram(withServiceName()).labels({"studio"}, false).pointer(27),
         34, 256, "studio.local."},
        {"the root name", Datagram().header(0, 0, 1).u8(0), 12, 256, ""},
        {"pointer to the start of its own name", Datagram().header(0, 0, 1).labels({"x"}, false).pointer(12),
         12, 256, ""},
        {"pointer forwards", Datagram().header(0, 0, 1).pointer(14).labels({"a"}), 12, 256, ""},
        {"a few backward jumps", shortChain, shortStart, 256, "a."},
        {"too many backward jumps", longChain, longStart, 256, ""},
        {"label past the end", Datagram().header(0, 0, 1).u8(9).text("_vh"), 12, 256, ""},
        {"no zero byte", Datagram().header(0, 0, 1).labels({"local"}, false), 12, 256, ""},
        {"room for the first label and its dot", withServiceName(), 12, 10, "_vhplugin."},
        {"room for part of the first label", withServiceName(), 12, 5, "_vhpl"},
        {"bytes are copied as they are", Datagram().header(0, 0, 1).labels({std::string_view("a\x01\n", 3)}), 12,
         256, std::string("a\x01\n.", 4)},
    };
    for (const auto& c : cases)
    {
        char text[256];
        const size_t length = mdns_name_extract(c.datagram.data(), c.datagram.size(), c.offset, text, c.capacity);
        ASSERT_LE(length, c.capacity) << c.what;
        EXPECT_EQ(std::string(text, length), c.expected) << c.what;
    }
}

TEST(MdnsWire, NameEqualComparesWithTheMetaName)
{
    const auto meta = Datagram().header(0, 0, 1).labels({"_services", "_dns-sd", "_udp", "local"});  // 12..42
    struct Case
    {
        const char* what;
        Bytes datagram;
        size_t offset;
        std::optional<size_t> end;
    };
    const Case cases[] = {
        {"the same labels", meta, 12, 42},
        {"letter case is ignored", Datagram().header(0, 0, 1).labels({"_SERVICES", "_DNS-sd", "_Udp", "LOCAL"}),
         12, 42},
        {"a pointer to the name", Datagram(meta).pointer(12), 42, 44},
        {"labels ending in a pointer",
         Datagram(meta).labels({"_services", "_dns-sd"}, false).pointer(30), 42, 62},
        {"one label short", Datagram().header(0, 0, 1).labels({"_services", "_dns-sd", "_udp"}), 12,
         std::nullopt},
        {"one label more", Datagram().header(0, 0, 1).labels({"_services", "_dns-sd", "_udp", "local", "x"}), 12,
         std::nullopt},
        {"another service", withServiceName(), 12, std::nullopt},
        {"cut short", Datagram().header(0, 0, 1).labels({"_services", "_dns-sd"}, false), 12, std::nullopt},
        {"pointer to itself", Datagram(meta).pointer(42), 42, std::nullopt},
    };
    for (const auto& c : cases)
    {
        size_t offset = c.offset;
        EXPECT_EQ(mdns_name_equal(c.datagram.data(), c.datagram.size(), &offset), c.end.has_value()) << c.what;
        EXPECT_EQ(offset, c.end.value_or(c.offset)) << c.what;
    }
}

TEST(MdnsWire, NameWriteRefusesLabelsThatDnsCannotCarry)
{
    const std::string longest(63, 'x');
    const std::string tooLong(64, 'x');
    struct Case
    {
        const char* what;
        std::string name;
        bool terminate;
        size_t capacity;
        std::optional<Bytes> expected;
    };
    const Case cases[] = {
        {"dotted name with trailing dot", "_vhplugin._udp.local.", true, 256,
         Datagram().labels({"_vhplugin", "_udp", "local"}).bytes()},
        {"the trailing dot adds no label", "_vhplugin._udp.local", true, 256,
         Datagram().labels({"_vhplugin", "_udp", "local"}).bytes()},
        {"labels without the zero byte", "studio", false, 256, Datagram().labels({"studio"}, false).bytes()},
        {"empty text is the root name", "", true, 256, Bytes{0}},
        {"empty text without the zero byte", "", false, 256, Bytes{}},
        {"63 bytes fit in a label", longest, true, 256, Datagram().labels({longest}).bytes()},
        {"64 bytes do not", tooLong, true, 256, std::nullopt},
        {"empty label inside", "a..b", true, 256, std::nullopt},
        {"empty label in front", ".a", true, 256, std::nullopt},
        {"empty label at the end", "a..", true, 256, std::nullopt},
        {"exactly enough room", "abc", true, 5, Datagram().labels({"abc"}).bytes()},
        {"one byte short for the zero byte", "abc", true, 4, std::nullopt},
        {"labels keep a byte for what ends them", "abc", false, 5, Datagram().labels({"abc"}, false).bytes()},
        {"no byte left after the label", "abc", false, 4, std::nullopt},
    };
    for (const auto& c : cases)
    {
        Bytes buffer(c.capacity + 8, 0xEE);
        size_t offset = 0;
        const bool ok = mdns_name_write(buffer.data(), c.capacity, &offset, c.name, c.terminate);
        ASSERT_EQ(ok, c.expected.has_value()) << c.what;
        if (ok)
            EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<long>(offset)), *c.expected) << c.what;
        else
            EXPECT_EQ(offset, 0u) << c.what;
        EXPECT_EQ(buffer[c.capacity], 0xEE) << c.what << ": wrote past the room";
    }
}

namespace {

struct SeenRecord
{
    mdns_entry_type entry;
    uint16_t type;
    size_t nameOffset;
    size_t recordOffset;
    size_t recordLength;
};

int collect(int, const sockaddr*, size_t, mdns_entry_type entry, uint16_t, uint16_t rtype, uint16_t, uint32_t,
            const void*, size_t, size_t nameOffset, size_t, size_t recordOffset, size_t recordLength, void* user)
{
    static_cast<std::vector<SeenRecord>*>(user)->push_back({entry, rtype, nameOffset, recordOffset, recordLength});
    return 0;
}

}  // namespace

TEST(MdnsWire, RecordWalkReportsWhatFitsAndStops)
{
    // Two records: a PTR at 12 (data at 44) and an A record at 53 (data at 65).
    const auto twoRecords = Datagram()
                                .header(0, 0x8400, 0, 3)
                                .labels({"_vhremote", "_udp", "local"})
                                .u16(12).u16(1).u32(10).u16(9)
                                .labels({"studio"}, false).pointer(12)
                                .pointer(12)
                                .u16(1).u16(1).u32(10).u16(4)
                                .raw({192, 168, 1, 20});
    ASSERT_EQ(twoRecords.size(), 69u);
    auto pastEnd = Datagram(twoRecords);
    pastEnd.pointer(12).u16(16).u16(1).u32(10).u16(2).u8(0);  // data length reaches one byte past the end
    auto badName = Datagram(twoRecords);
    badName.pointer(80).u16(16).u16(1).u32(10).u16(0);

    struct Case
    {
        const char* what;
        Bytes datagram;
        size_t records;
        size_t reported;
        size_t endOffset;
        bool endsOnBrokenRecord;
    };
    const Case cases[] = {
        {"the count promises more than the datagram holds", twoRecords, 3, 2, 69, false},
        {"fewer asked than held", twoRecords, 1, 1, 53, false},
        {"data one byte past the end", pastEnd, 3, 2, 69, true},
        {"a name that cannot be skipped", badName, 3, 2, 69, true},
        {"no records", twoRecords, 0, 0, 12, false},
    };
    for (const auto& c : cases)
    {
        std::vector<SeenRecord> seen;
        size_t offset = 12;
        mdns_records_parse(-1, nullptr, 0, c.datagram.data(), c.datagram.size(), &offset, MDNS_ENTRY_ADDITIONAL, 0,
                           c.records, collect, &seen);
        EXPECT_EQ(seen.size(), c.reported) << c.what;
        EXPECT_EQ(offset, c.endOffset) << c.what;

        // The next section starts where this one stopped, and stops at once
        // on the same broken record.
        if (c.endsOnBrokenRecord)
        {
            mdns_records_parse(-1, nullptr, 0, c.datagram.data(), c.datagram.size(), &offset,
                               MDNS_ENTRY_ADDITIONAL, 0, 1, collect, &seen);
            EXPECT_EQ(offset, c.endOffset) << c.what;
            EXPECT_EQ(seen.size(), c.reported) << c.what;
        }
    }

    std::vector<SeenRecord> seen;
    size_t offset = 12;
    mdns_records_parse(-1, nullptr, 0, twoRecords.bytes().data(), twoRecords.size(), &offset, MDNS_ENTRY_AUTHORITY,
                       0, 2, collect, &seen);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].entry, MDNS_ENTRY_AUTHORITY);
    EXPECT_EQ(seen[0].type, MDNS_TYPE_PTR);
    EXPECT_EQ(seen[0].nameOffset, 12u);
    EXPECT_EQ(seen[0].recordOffset, 44u);
    EXPECT_EQ(seen[0].recordLength, 9u);
    EXPECT_EQ(seen[1].type, MDNS_TYPE_A);
    EXPECT_EQ(seen[1].nameOffset, 53u);
    EXPECT_EQ(seen[1].recordOffset, 65u);
}

TEST(MdnsWire, AddressTexts)
{
    char buffer[64];
    const auto v4 = mdns_test::ipv4Sender("192.168.1.20", 5353);
    const auto v4NoPort = mdns_test::ipv4Sender("192.168.1.20", 0);
    const auto v6 = mdns_test::ipv6Sender("2001:db8::1", 5353);
    const auto v6NoPort = mdns_test::ipv6Sender("2001:db8::1", 0);
    sockaddr_in unknownFamily = v4;
    unknownFamily.sin_family = AF_UNIX;

    EXPECT_EQ(ipv4AddressToString(buffer, sizeof(buffer), &v4, sizeof(v4)), "192.168.1.20:5353");
    EXPECT_EQ(ipv4AddressToString(buffer, sizeof(buffer), &v4NoPort, sizeof(v4NoPort)), "192.168.1.20");
    EXPECT_EQ(ipv6AddressToString(buffer, sizeof(buffer), &v6, sizeof(v6)), "[2001:db8::1]:5353");
    EXPECT_EQ(ipv6AddressToString(buffer, sizeof(buffer), &v6NoPort, sizeof(v6NoPort)), "2001:db8::1");
    EXPECT_EQ(ipv4AddressToString(buffer, 8, &v4, sizeof(v4)), "192.168");
    EXPECT_EQ(ipv4AddressToString(buffer, sizeof(buffer), &unknownFamily, sizeof(unknownFamily)), "");
    EXPECT_EQ(ipv4AddressToString(buffer, sizeof(buffer), nullptr, 0), "");
}

TEST(MdnsWire, OnlySourcesOnTheLinkTheyArrivedOn)
{
    // Interface 2 holds 192.0.2.1/24 and 2001:db8:1::1/64, interface 3 holds
    // 198.51.100.1/32; loopback (1) holds 127.0.0.1/8.
    LinkAddresses links;
    auto add = [&](unsigned interface, const char* address, const char* mask) {
        if (std::string(address).find(':') == std::string::npos)
        {
            const auto a = mdns_test::ipv4Sender(address, 0);
            const auto m = mdns_test::ipv4Sender(mask, 0);
            links.add(interface, reinterpret_cast<const sockaddr*>(&a), reinterpret_cast<const sockaddr*>(&m));
        }
        else
        {
            const auto a = mdns_test::ipv6Sender(address, 0);
            const auto m = mdns_test::ipv6Sender(mask, 0);
            links.add(interface, reinterpret_cast<const sockaddr*>(&a), reinterpret_cast<const sockaddr*>(&m));
        }
    };
    add(1, "127.0.0.1", "255.0.0.0");
    add(2, "192.0.2.1", "255.255.255.0");
    add(2, "2001:db8:1::1", "ffff:ffff:ffff:ffff::");
    add(3, "198.51.100.1", "255.255.255.255");

    const struct { const char* source; unsigned arrival; bool onLink; } cases[] = {
        {"192.0.2.200", 2, true},       {"192.0.3.1", 2, false},        {"192.0.2.200", 3, false},
        {"127.0.0.6", 1, true},         {"127.0.0.6", 2, false},        {"198.51.100.1", 3, true},
        {"198.51.100.2", 3, false},     {"192.0.2.200", 0, false},      {"192.0.2.200", 9, false},
        {"fe80::1", 3, true},           {"2001:db8:1::99", 2, true},    {"2001:db8:2::1", 2, false},
        {"2001:db8:1::99", 3, false},   {"::ffff:192.0.2.7", 2, true},  {"::ffff:192.0.3.7", 2, false},
    };
    for (const auto& c : cases)
    {
        const bool v6 = std::string(c.source).find(':') != std::string::npos;
        const auto a4 = mdns_test::ipv4Sender(v6 ? "0.0.0.0" : c.source, 5353);
        const auto a6 = mdns_test::ipv6Sender(v6 ? c.source : "::", 5353);
        const auto* source = v6 ? reinterpret_cast<const sockaddr*>(&a6) : reinterpret_cast<const sockaddr*>(&a4);
        EXPECT_EQ(links.onLink(source, c.arrival), c.onLink) << c.source << " on " << c.arrival;
    }
}

TEST(MdnsWire, EscapedNamesKeepPrintableBytesOnly)
{
    const std::pair<std::string, std::string> cases[] = {
        {"studio._vhplugin._udp.local.", "studio._vhplugin._udp.local."},
        {std::string("a\x01" "b\n", 4), "a\\x01b\\x0A"},
        {std::string("\0", 1), "\\x00"},
        {"back\\slash", "back\\x5Cslash"},
        {"\x7F\xC3\xA9", "\\x7F\\xC3\\xA9"},
    };
    for (const auto& [raw, printed] : cases)
        EXPECT_EQ(escapeName(raw.data(), raw.size()), printed);
}
