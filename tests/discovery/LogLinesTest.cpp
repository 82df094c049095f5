// The library's log channel and the record lines that other components read
// back with patterns.

#include "discovery/mdns/logger.h"
#include "discovery/mdns/query_callback.h"
#include "discovery/mdns/wire.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <regex>

using namespace mdns_cpp;
using mdns_test::Bytes;
using mdns_test::Datagram;

namespace {

// "studio._vhremote._udp.local." at 12..40; its label "local" is at 34.
Datagram instanceRecord(uint16_t type, uint16_t rclass, uint32_t ttl)
{
    return Datagram()
        .header(0, 0x8400, 0, 1)
        .labels({"studio", "_vhremote", "_udp", "local"})
        .u16(type)
        .u16(rclass)
        .u32(ttl);
}

std::vector<std::string> linesFor(const Bytes& datagram, mdns_entry_type entry, const sockaddr* from,
                                  size_t fromLength)
{
    mdns_test::LogCapture capture;
    size_t offset = 12;
    mdns_records_parse(-1, from, fromLength, datagram.data(), datagram.size(), &offset, entry, 0, 1, query_callback,
                       nullptr);
    return capture.take();
}

}  // namespace

TEST(MdnsRecordLines, OneLinePerRecordInTheFixedFormat)
{
    const auto sender = mdns_test::ipv4Sender("192.168.1.20", 5353);
    const std::string from = "192.168.1.20:5353 : ";
    const std::string instance = "studio._vhremote._udp.local.";

    const auto ptr = Datagram()
                         .header(0, 0x8400, 0, 1)
                         .labels({"_vhremote", "_udp", "local"})
                         .u16(12).u16(1).u32(10).u16(9)
                         .labels({"studio"}, false).pointer(12);
    const auto shortPtr = Datagram().header(0, 0x8400, 0, 1).labels({"_vhremote", "_udp", "local"})
                              .u16(12).u16(1).u32(10).u16(1).u8(0);
    const auto srv = instanceRecord(33, 0x8001, 120).u16(15).u16(0).u16(0).u16(9000)
                         .labels({"studio"}, false).pointer(34);
    const auto shortSrv = instanceRecord(33, 1, 120).u16(4).u16(1).u16(2);
    const auto a = instanceRecord(1, 0x8001, 120).u16(4).raw({192, 168, 1, 20});
    const auto aTooLong = instanceRecord(1, 1, 120).u16(5).raw({192, 168, 1, 20, 7});
    const auto aaaa = instanceRecord(28, 1, 120).u16(16).raw({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    const auto aaaaShort = instanceRecord(28, 1, 120).u16(4).raw({1, 2, 3, 4});
    const auto txt = instanceRecord(16, 1, 120).u16(12).u8(3).text("a=1").u8(4).text("flag").u8(2).text("b=");
    const auto txtEmpty = instanceRecord(16, 1, 120).u16(1).u8(0);
    const auto txtOdd = instanceRecord(16, 1, 120).u16(13).u8(3).text("=x1").u8(3).text("c\x01=").u8(4).text("ok=\\");
    const auto other = instanceRecord(47, 0x8001, 120).u16(3).raw({1, 2, 3});
    const auto controlName = Datagram().header(0, 0x8400, 0, 1).labels({"a\x1b[31m", "local"})
                                 .u16(1).u16(1).u32(10).u16(4).raw({10, 0, 0, 1});

    struct Case
    {
        const char* what;
        Bytes datagram;
        mdns_entry_type entry;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"PTR answer", ptr, MDNS_ENTRY_ANSWER,
         {from + "answer _vhremote._udp.local. PTR studio._vhremote._udp.local. rclass 0x1 ttl 10 length 9\n"}},
        {"PTR with data too short for a name", shortPtr, MDNS_ENTRY_ANSWER,
         {from + "answer _vhremote._udp.local. PTR  rclass 0x1 ttl 10 length 1\n"}},
        {"SRV additional", srv, MDNS_ENTRY_ADDITIONAL,
         {from + "additional " + instance + " SRV studio.local. priority 0 weight 0 port 9000\n"}},
        {"SRV too short", shortSrv, MDNS_ENTRY_ANSWER,
         {from + "answer " + instance + " SRV  priority 0 weight 0 port 0\n"}},
        {"A", a, MDNS_ENTRY_ADDITIONAL, {from + "additional " + instance + " A 192.168.1.20\n"}},
        {"A with five bytes", aTooLong, MDNS_ENTRY_ADDITIONAL, {from + "additional " + instance + " A 0.0.0.0\n"}},
        {"AAAA", aaaa, MDNS_ENTRY_AUTHORITY, {from + "authority " + instance + " AAAA 2001:db8::1\n"}},
        {"AAAA too short", aaaaShort, MDNS_ENTRY_AUTHORITY, {from + "authority " + instance + " AAAA ::\n"}},
        {"TXT pairs", txt, MDNS_ENTRY_ADDITIONAL,
         {from + "additional " + instance + " TXT a = 1\n", from + "additional " + instance + " TXT b\n"}},
        {"TXT with only an empty string", txtEmpty, MDNS_ENTRY_ADDITIONAL, {}},
        {"TXT strings without key or with control bytes", txtOdd, MDNS_ENTRY_ADDITIONAL,
         {from + "additional " + instance + " TXT ok = \\x5C\n"}},
        {"other type", other, MDNS_ENTRY_ANSWER,
         {from + "answer " + instance + " type 47 rclass 0x8001 ttl 120 length 3\n"}},
        {"unknown section word", a, static_cast<mdns_entry_type>(7),
         {from + "additional " + instance + " A 192.168.1.20\n"}},
        {"control bytes in a name are escaped", controlName, MDNS_ENTRY_ANSWER,
         {from + "answer a\\x1B[31m.local. A 10.0.0.1\n"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(linesFor(c.datagram, c.entry, reinterpret_cast<const sockaddr*>(&sender), sizeof(sender)), c.lines)
            << c.what;
}

TEST(MdnsRecordLines, SenderTextFollowsTheFamily)
{
    const auto v6 = mdns_test::ipv6Sender("2001:db8::5", 5353);
    const auto a = instanceRecord(1, 1, 120).u16(4).raw({192, 168, 1, 20});
    EXPECT_EQ(linesFor(a, MDNS_ENTRY_ANSWER, reinterpret_cast<const sockaddr*>(&v6), sizeof(v6)),
              std::vector<std::string>{"[2001:db8::5]:5353 : answer studio._vhremote._udp.local. A 192.168.1.20\n"});
}

TEST(MdnsRecordLines, SrvLineMatchesTheDiscoveryHandlersPattern)
{
    const std::regex pattern("((?:[0-9]+\\.?)+):[0-9]{4} : additional (.*)\\.(.*)\\.(.*)\\..*\\. SRV .* port ([0-9]+)",
                             std::regex::ECMAScript);
    const auto sender = mdns_test::ipv4Sender("192.168.1.20", 5353);
    const auto srv = instanceRecord(33, 0x8001, 120).u16(15).u16(0).u16(0).u16(9000)
                         .labels({"studio"}, false).pointer(34);
    const auto lines = linesFor(srv, MDNS_ENTRY_ADDITIONAL, reinterpret_cast<const sockaddr*>(&sender), sizeof(sender));
    ASSERT_EQ(lines.size(), 1u);
    std::smatch match;
    ASSERT_TRUE(std::regex_search(lines[0], match, pattern)) << lines[0];
    EXPECT_EQ(match[1], "192.168.1.20");
    EXPECT_EQ(match[2], "studio");
    EXPECT_EQ(match[5], "9000");
}

TEST(MdnsLogChannel, LineWithoutSinkGoesToStandardOutputWithANewline)
{
    // The sink state is process-wide and cannot be undone, so the check runs
    // in a child process.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        Logger::setLoggerSink(nullptr);  // registered but empty: standard output
        LogMessage() << "Hostname: " << "studio" << "\n";
        LogMessage() << "Opened " << 2 << " socket" << "s" << " for mDNS service\n";
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string output;
    char chunk[256];
    for (ssize_t n; (n = read(pipeEnds[0], chunk, sizeof(chunk))) > 0;)
        output.append(chunk, static_cast<size_t>(n));
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(output, "Hostname: studio\n\nOpened 2 sockets for mDNS service\n\n");
}

TEST(MdnsLogChannel, SinkRunsOutsideTheChannelsLock)
{
    // A sink that logs, or installs another sink, must not deadlock.
    auto lines = std::make_shared<std::vector<std::string>>();
    Logger::setLoggerSink([lines](const std::string& line) {
        lines->push_back(line);
        if (line == "first\n")
            LogMessage() << "from the sink\n";
        if (line == "swap\n")
            Logger::setLoggerSink([lines](const std::string& l) { lines->push_back("new: " + l); });
    });
    LogMessage() << "first\n";
    LogMessage() << "swap\n";
    LogMessage() << "after\n";
    Logger::setLoggerSink([](const std::string&) {});
    EXPECT_EQ(*lines, (std::vector<std::string>{"first\n", "from the sink\n", "swap\n", "new: after\n"}));
}
