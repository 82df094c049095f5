// The responder's handling of one datagram, driven from plain buffers: which
// questions it logs, which answers it sends, and their exact bytes.

#include "discovery/mdns/responder.h"
#include "discovery/mdns/wire.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <regex>

using namespace mdns_cpp;
using mdns_test::Bytes;
using mdns_test::Datagram;

namespace {

const std::string kService = "_vhplugin._udp.local.";

ResponderSettings studio()
{
    ResponderSettings settings;
    settings.hostname = "studio";
    settings.name = kService;
    settings.port = 5342;
    settings.has_ipv4 = true;
    inet_pton(AF_INET, "192.168.1.20", &settings.address_ipv4);
    return settings;
}

struct Sent
{
    bool unicast;
    Bytes bytes;
};

struct Outcome
{
    std::vector<std::string> lines;
    std::vector<Sent> sent;
};

Outcome respond(const ResponderSettings& settings, const Bytes& datagram, const sockaddr* from, size_t fromLength)
{
    mdns_test::LogCapture capture;
    Outcome outcome;
    respondToQuestions(settings, datagram.data(), datagram.size(), from, fromLength,
                       [&](bool unicast, const uint8_t* data, size_t size) {
                           outcome.sent.push_back({unicast, Bytes(data, data + size)});
                       });
    outcome.lines = capture.take();
    return outcome;
}

Outcome respond(const ResponderSettings& settings, const Bytes& datagram)
{
    const auto sender = mdns_test::ipv4Sender("192.168.1.20", 5353);
    return respond(settings, datagram, reinterpret_cast<const sockaddr*>(&sender), sizeof(sender));
}

Datagram serviceQuestion(uint16_t id, uint16_t rclass)
{
    return Datagram().header(id, 0, 1).question({"_vhplugin", "_udp", "local"}, 12, rclass);
}

Datagram metaQuestion(uint16_t flags, uint16_t questions)
{
    return Datagram().header(0, flags, questions).question({"_services", "_dns-sd", "_udp", "local"}, 12, 1);
}

// One record of an answer, decoded with the library's own reader.
struct Record
{
    uint16_t type;
    uint16_t rclass;
    uint32_t ttl;
    std::string name;
    std::string target;  // PTR data or SRV target
    int port = -1;
};

int collectRecord(int, const sockaddr*, size_t, mdns_entry_type, uint16_t, uint16_t rtype, uint16_t rclass,
                  uint32_t ttl, const void* data, size_t size, size_t nameOffset, size_t, size_t recordOffset,
                  size_t, void* user)
{
    char text[256];
    Record record{rtype, rclass, ttl, std::string(text, mdns_name_extract(data, size, nameOffset, text, 256)), {}};
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (rtype == MDNS_TYPE_PTR)
        record.target.assign(text, mdns_name_extract(data, size, recordOffset, text, 256));
    if (rtype == MDNS_TYPE_SRV)
    {
        record.port = (bytes[recordOffset + 4] << 8) | bytes[recordOffset + 5];
        record.target.assign(text, mdns_name_extract(data, size, recordOffset + 6, text, 256));
    }
    static_cast<std::vector<Record>*>(user)->push_back(record);
    return 0;
}

std::vector<Record> decode(const Bytes& answer)
{
    std::vector<Record> records;
    size_t offset = 12;
    const size_t questions = (answer[4] << 8) | answer[5];
    for (size_t i = 0; i < questions; ++i)
    {
        EXPECT_TRUE(mdns_name_skip(answer.data(), answer.size(), &offset));
        offset += 4;
    }
    const size_t count = ((answer[6] << 8) | answer[7]) + ((answer[8] << 8) | answer[9]) + ((answer[10] << 8) | answer[11]);
    mdns_records_parse(-1, nullptr, 0, answer.data(), answer.size(), &offset, MDNS_ENTRY_ANSWER, 0, count,
                       collectRecord, &records);
    EXPECT_EQ(offset, answer.size()) << "bytes after the last record";
    return records;
}

}  // namespace

TEST(MdnsResponder, MulticastServiceAnswerBytes)
{
    const Bytes expected = Datagram()
                               .header(0, 0x8400, 0, 1, 0, 3)
                               .labels({"_vhplugin", "_udp", "local"})  // 12..33, "local" at 27
                               .u16(12).u16(1).u32(60).u16(9)           // PTR, data at 44
                               .labels({"studio"}, false).pointer(12)
                               .pointer(44).u16(33).u16(1).u32(60).u16(15)  // SRV at 53, data at 65
                               .u16(0).u16(0).u16(5342)
                               .labels({"studio"}, false).pointer(27)  // target at 71
                               .pointer(71).u16(1).u16(1).u32(60).u16(4).raw({192, 168, 1, 20})
                               .pointer(44).u16(16).u16(1).u32(60).u16(8).raw({7, 'a', 's', 'd', 'f', '=', '1', 0});

    const auto outcome = respond(studio(), serviceQuestion(0x1234, 1));
    ASSERT_EQ(outcome.sent.size(), 1u);
    EXPECT_FALSE(outcome.sent[0].unicast);
    EXPECT_EQ(outcome.sent[0].bytes, expected);
}

TEST(MdnsResponder, UnicastServiceAnswerBytes)
{
    const Bytes expected = Datagram()
                               .header(7, 0x8400, 1, 1, 0, 3)
                               .question({"_vhplugin", "_udp", "local"}, 12, 0x8001)  // name 12..33, "local" at 27
                               .pointer(12).u16(12).u16(0x8001).u32(10).u16(9)      // PTR at 38, data at 50
                               .labels({"studio"}, false).pointer(12)
                               .pointer(50).u16(33).u16(0x8001).u32(10).u16(15)  // SRV at 59, data at 71
                               .u16(0).u16(0).u16(5342)
                               .labels({"studio"}, false).pointer(27)  // target at 77
                               .pointer(77).u16(1).u16(0x8001).u32(10).u16(4).raw({192, 168, 1, 20})
                               .pointer(50).u16(16).u16(0x8001).u32(10).u16(8)
                               .raw({7, 'a', 's', 'd', 'f', '=', '1', 0});

    const auto outcome = respond(studio(), serviceQuestion(7, 0x8001));
    ASSERT_EQ(outcome.sent.size(), 1u);
    EXPECT_TRUE(outcome.sent[0].unicast);
    EXPECT_EQ(outcome.sent[0].bytes, expected);
}

TEST(MdnsResponder, MetaAnswerBytes)
{
    Bytes expected(mdns_services_query, mdns_services_query + MDNS_SERVICES_QUERY_SIZE);
    expected[2] = 0x84;
    expected[7] = 1;
    const Bytes record = Datagram().pointer(12).u16(12).u16(1).u32(10).u16(22).labels({"_vhplugin", "_udp", "local"});
    expected.insert(expected.end(), record.begin(), record.end());

    const auto outcome = respond(studio(), metaQuestion(0, 1));
    ASSERT_EQ(outcome.sent.size(), 1u);
    EXPECT_TRUE(outcome.sent[0].unicast);
    EXPECT_EQ(outcome.sent[0].bytes, expected);
    EXPECT_EQ(expected.size(), 80u);
}

TEST(MdnsResponder, ServiceAnswerRecordsFollowTheSettings)
{
    auto withIpv6 = studio();
    withIpv6.has_ipv6 = true;
    inet_pton(AF_INET6, "2001:db8::7", &withIpv6.address_ipv6);
    auto noIpv4 = studio();
    noIpv4.has_ipv4 = false;
    auto zeroIpv4 = studio();
    zeroIpv4.address_ipv4.s_addr = 0;
    auto emptyHost = studio();
    emptyHost.hostname = "";
    auto dottedHost = studio();
    dottedHost.hostname = "rack.studio";

    struct Case
    {
        const char* what;
        ResponderSettings settings;
        std::vector<uint16_t> types;
        std::string instance;
        std::string target;
    };
    const std::vector<uint16_t> all = {12, 33, 1, 28, 16};
    const std::vector<uint16_t> withoutAddresses = {12, 33, 16};
    const std::vector<uint16_t> ipv4Only = {12, 33, 1, 16};
    const Case cases[] = {
        {"IPv4 and IPv6", withIpv6, all, "studio." + kService, "studio.local."},
        {"no IPv4 address found", noIpv4, withoutAddresses, "studio." + kService, "studio.local."},
        {"IPv4 address 0", zeroIpv4, withoutAddresses, "studio." + kService, "studio.local."},
        {"empty host name", emptyHost, ipv4Only, kService, "local."},
        {"host name of two labels", dottedHost, ipv4Only, "rack.studio." + kService, "rack.studio.local."},
    };
    for (const bool unicast : {false, true})
    {
        for (const auto& c : cases)
        {
            const auto outcome = respond(c.settings, serviceQuestion(3, unicast ? 0x8001 : 1));
            ASSERT_EQ(outcome.sent.size(), 1u) << c.what;
            const auto& answer = outcome.sent[0].bytes;
            EXPECT_EQ(answer[11], c.types.size() - 1) << c.what << ": additional count";
            const auto records = decode(answer);
            ASSERT_EQ(records.size(), c.types.size()) << c.what;
            for (size_t i = 0; i < records.size(); ++i)
            {
                EXPECT_EQ(records[i].type, c.types[i]) << c.what;
                EXPECT_EQ(records[i].rclass, unicast ? 0x8001 : 1) << c.what;
                EXPECT_EQ(records[i].ttl, unicast ? 10u : 60u) << c.what;
            }
            EXPECT_EQ(records.front().name, kService) << c.what;
            EXPECT_EQ(records.front().target, c.instance) << c.what;
            EXPECT_EQ(records[1].name, c.instance) << c.what;
            EXPECT_EQ(records[1].target, c.target) << c.what;
            EXPECT_EQ(records[1].port, 5342) << c.what;
            EXPECT_EQ(records.back().name, c.instance) << c.what;
            if (c.types.size() > 3)
                EXPECT_EQ(records[2].name, c.target) << c.what;
        }
    }
}

TEST(MdnsResponder, AnswersThatCannotBeWrittenAreNotSent)
{
    auto longLabel = studio();
    longLabel.hostname = std::string(64, 'h');
    auto emptyLabel = studio();
    emptyLabel.hostname = "rack..studio";
    auto tooLong = studio();
    tooLong.hostname = std::string(60, 'h') + "." + std::string(60, 'h') + "." + std::string(60, 'h') + "." +
                       std::string(20, 'h');  // with the service type, more than 212 characters
    auto longService = studio();
    longService.name = std::string(60, 's') + "." + std::string(60, 's') + "." + std::string(59, 's') + ".";

    struct Case
    {
        const char* what;
        ResponderSettings settings;
        Bytes question;
    };
    const Case cases[] = {
        {"host label of 64 bytes", longLabel, serviceQuestion(0, 1)},
        {"empty host label", emptyLabel, serviceQuestion(0, 0x8001)},
        {"host name and service type too long together", tooLong, serviceQuestion(0, 1)},
        {"service type too long for the meta answer", longService, metaQuestion(0, 1)},
    };
    for (const auto& c : cases)
    {
        const auto outcome = respond(c.settings, c.question);
        EXPECT_TRUE(outcome.sent.empty()) << c.what;
        EXPECT_EQ(outcome.lines.size(), 2u) << c.what << ": the question and answer lines are still logged";
    }
}

TEST(MdnsResponder, QuestionsItLogsAndAnswers)
{
    const std::string from = "192.168.1.20:5353 : ";
    const std::string serviceLine = from + "question PTR " + kService + "\n";
    const std::string multicastLine = "  --> answer studio." + kService + " port 5342 (multicast)\n";
    const std::string unicastLine = "  --> answer studio." + kService + " port 5342 (unicast)\n";
    const std::string metaLine = from + "question PTR _services._dns-sd._udp.local.\n";
    const std::string metaAnswerLine = "  --> answer " + kService + " \n";

    const auto twoQuestions = Datagram()
                                  .header(0, 0, 2)
                                  .question({"_other", "_udp", "local"}, 12, 1)       // 12..33, "_udp" at 19
                                  .labels({"_vhplugin"}, false).pointer(19).u16(12).u16(1);
    const auto anyClassFirst = Datagram()
                                   .header(0, 0, 2)
                                   .question({"_vhplugin", "_udp", "local"}, 12, 255)
                                   .pointer(12).u16(12).u16(1);
    const auto forwardPointer = Datagram().header(0, 0, 1).pointer(16).u16(12).u16(1).labels({"_vhplugin", "_udp", "local"});
    const auto controlBytes = Datagram().header(0, 0, 1).question({"a\x07\x1b[2J", "local"}, 12, 1);
    const auto truncated = Datagram().header(0, 0, 1).labels({"_vhplugin", "_udp", "local"}).u16(12);
    const auto srvQuestion = Datagram().header(0, 0, 1).question({"studio", "_vhremote", "_udp", "local"}, 33, 1);
    const auto aQuestion =
        Datagram().header(0, 0, 2).question({"studio", "local"}, 1, 1).question({"_vhplugin", "_udp", "local"}, 12, 1);
    Bytes shortHeader = serviceQuestion(0, 1);
    shortHeader.resize(11);

    struct Case
    {
        const char* what;
        Bytes datagram;
        std::vector<std::string> lines;
        std::vector<bool> unicastSends;
    };
    const Case cases[] = {
        {"service question, class IN", serviceQuestion(0, 1), {serviceLine, multicastLine}, {false}},
        {"service question with the unicast bit", serviceQuestion(7, 0x8001), {serviceLine, unicastLine}, {true}},
        {"meta query", metaQuestion(0, 1), {metaLine, metaAnswerLine}, {true}},
        {"meta query with flags", metaQuestion(0x0100, 1), {}, {}},
        {"meta query among two questions", metaQuestion(0, 2).question({"_vhplugin", "_udp", "local"}, 12, 1), {}, {}},
        {"meta query in other letter case",
         Datagram().header(0, 0, 1).question({"_Services", "_dns-sd", "_udp", "local"}, 12, 1),
         {from + "question PTR _Services._dns-sd._udp.local.\n"}, {}},
        {"service type in other letter case", Datagram().header(0, 0, 1).question({"_VHplugin", "_udp", "local"}, 12, 1),
         {from + "question PTR _VHplugin._udp.local.\n"}, {}},
        {"SRV question", srvQuestion, {from + "question SRV  studio._vhremote._udp.local.\n"}, {}},
        {"A question is neither logged nor answered, later ones are", aQuestion, {serviceLine, multicastLine}, {false}},
        {"two questions, the second compressed", twoQuestions,
         {from + "question PTR _other._udp.local.\n", serviceLine, multicastLine}, {false}},
        {"class ANY drops the datagram", anyClassFirst, {}, {}},
        {"a response is never answered", Datagram().header(0, 0x8400, 1).question({"_vhplugin", "_udp", "local"}, 12, 1),
         {}, {}},
        {"a response to the meta query is never answered", metaQuestion(0x8400, 1), {}, {}},
        {"another opcode", Datagram().header(0, 0x2800, 1).question({"_vhplugin", "_udp", "local"}, 12, 1), {}, {}},
        {"header shorter than 12 bytes", shortHeader, {}, {}},
        {"no questions", Datagram().header(0, 0, 0, 1).question({"_vhplugin", "_udp", "local"}, 12, 1), {}, {}},
        {"forward pointer", forwardPointer, {}, {}},
        {"type and class cut off", truncated, {}, {}},
        {"control bytes in the asked name", controlBytes, {from + "question PTR a\\x07\\x1B[2J.local.\n"}, {}},
    };
    for (const auto& c : cases)
    {
        const auto outcome = respond(studio(), c.datagram);
        EXPECT_EQ(outcome.lines, c.lines) << c.what;
        std::vector<bool> unicastSends;
        for (const auto& sent : outcome.sent)
            unicastSends.push_back(sent.unicast);
        EXPECT_EQ(unicastSends, c.unicastSends) << c.what;
    }
}

TEST(MdnsResponder, QuestionLineMatchesTheDiscoveryHandlersPattern)
{
    const std::regex pattern("((?:[0-9]+\\.?){4}):[0-9]+ : question PTR (.*)", std::regex::ECMAScript);
    const auto v4 = mdns_test::ipv4Sender("10.1.2.3", 5353);
    const auto v6 = mdns_test::ipv6Sender("2001:db8::5", 5353);

    const auto fromV4 = respond(studio(), serviceQuestion(0, 1), reinterpret_cast<const sockaddr*>(&v4), sizeof(v4));
    ASSERT_FALSE(fromV4.lines.empty());
    std::smatch match;
    ASSERT_TRUE(std::regex_search(fromV4.lines[0], match, pattern)) << fromV4.lines[0];
    EXPECT_EQ(match[1], "10.1.2.3");
    EXPECT_EQ(match[2], kService);

    const auto fromV6 = respond(studio(), serviceQuestion(0, 1), reinterpret_cast<const sockaddr*>(&v6), sizeof(v6));
    ASSERT_FALSE(fromV6.lines.empty());
    EXPECT_EQ(fromV6.lines[0], "[2001:db8::5]:5353 : question PTR " + kService + "\n");
}

TEST(MdnsResponder, DiscoveryRepliesReportTheirRecords)
{
    const auto sender = mdns_test::ipv4Sender("192.168.1.20", 5353);
    const std::string from = "192.168.1.20:5353 : ";
    auto reply = [](uint16_t id, uint16_t flags, uint16_t questionType) {
        return Datagram()
            .header(id, flags, 1, 2, 0, 1)
            .question({"_services", "_dns-sd", "_udp", "local"}, questionType, 0x8001)  // 12..45
            .labels({"_other", "_udp", "local"}).u16(12).u16(1).u32(10).u16(2).pointer(12)  // another name: stepped over
            .pointer(12).u16(12).u16(1).u32(10).u16(22)
            .labels({"_vhremote", "_udp", "local"})  // data at 89, "local" at 104
            .labels({"studio"}, false).pointer(89).u16(33).u16(1).u32(10).u16(15)
            .u16(0).u16(0).u16(9000).labels({"studio"}, false).pointer(104);
    };
    const std::vector<std::string> expected = {
        from + "answer _services._dns-sd._udp.local. PTR _vhremote._udp.local. rclass 0x1 ttl 10 length 22\n",
        from + "additional studio._vhremote._udp.local. SRV studio.local. priority 0 weight 0 port 9000\n",
    };
    struct Case
    {
        const char* what;
        Bytes datagram;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"a reply whose first answer has another name", reply(0, 0x8400, 12), expected},
        {"another id", reply(5, 0x8400, 12), {}},
        {"not an answer", reply(0, 0, 12), {}},
        {"a question of another type", reply(0, 0x8400, 1), {}},
    };
    for (const auto& c : cases)
    {
        mdns_test::LogCapture capture;
        takeDiscoveryReply(-1, reinterpret_cast<const sockaddr*>(&sender), sizeof(sender), c.datagram.data(),
                           c.datagram.size());
        EXPECT_EQ(capture.take(), c.lines) << c.what;
    }
}
