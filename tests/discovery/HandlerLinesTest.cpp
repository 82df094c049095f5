// The discovery handler's readers: the two log lines it takes renderers and
// questions from, the question it sends, and its walk of a received reply.
// The lines are built through the library's own record callback and
// responder where possible, so a change of either side shows here.

#include "discovery/MDNSHandler.h"
#include "discovery/mdns/query_callback.h"
#include "discovery/mdns/responder.h"
#include "discovery/mdns/wire.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace mdns_cpp;
using mdns_test::Bytes;
using mdns_test::Datagram;

namespace {

const std::string kRenderer = "_vhremote._udp.local.";
const std::string kPlugin = "_vhplugin._udp.local.";

// The lines the record callback writes for the records of one reply.
std::vector<std::string> recordLines(const Bytes& datagram, mdns_entry_type entry, const sockaddr* from,
                                     size_t fromLength, size_t records = 1)
{
    mdns_test::LogCapture capture;
    size_t offset = 12;
    mdns_records_parse(-1, from, fromLength, datagram.data(), datagram.size(), &offset, entry, 0, records,
                       query_callback, nullptr);
    return capture.take();
}

// An SRV record whose owner is the given labels; the target is "host.local.".
Bytes srvReply(std::initializer_list<std::string_view> owner, uint16_t port, uint16_t priority = 0,
               uint16_t weight = 0)
{
    return Datagram()
        .header(0, 0x8400, 0, 1)
        .labels(owner)
        .u16(33).u16(0x8001).u32(120).u16(static_cast<uint16_t>(6 + 12))
        .u16(priority).u16(weight).u16(port)
        .labels({"host", "local"});
}

std::string onlyLine(const std::vector<std::string>& lines)
{
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? std::string() : lines.front();
}

std::string srvLine(std::initializer_list<std::string_view> owner, mdns_entry_type entry, const sockaddr* from,
                    size_t fromLength, uint16_t port = 9000)
{
    return onlyLine(recordLines(srvReply(owner, port), entry, from, fromLength));
}

// The question line the responder writes for a PTR question from `from`.
std::string questionLine(const Bytes& question, const sockaddr* from, size_t fromLength)
{
    ResponderSettings settings;
    settings.hostname = "studio";
    settings.name = kPlugin;
    settings.port = 5342;
    mdns_test::LogCapture capture;
    respondToQuestions(settings, question.data(), question.size(), from, fromLength,
                       [](bool, const uint8_t*, size_t) {});
    for (const auto& line : capture.take())
        if (line.find(" : question ") != std::string::npos)
            return line;
    ADD_FAILURE() << "no question line";
    return {};
}

template <typename Address>
const sockaddr* sa(const Address& address)
{
    return reinterpret_cast<const sockaddr*>(&address);
}

}  // namespace

TEST(HandlerQuestionLine, ReadsTheNameAskedForFromAnIpv4Sender)
{
    const auto renderer = mdns_test::ipv4Sender("192.168.1.20", 5353);
    const auto client = mdns_test::ipv4Sender("10.0.0.7", 49152);
    const auto v6 = mdns_test::ipv6Sender("2001:db8::5", 5353);
    const Bytes plugin = Datagram().header(0, 0, 1).question({"_vhplugin", "_udp", "local"}, 12, 1);
    const Bytes pluginUnicast = Datagram().header(9, 0, 1).question({"_vhplugin", "_udp", "local"}, 12, 0x8001);
    const Bytes meta = Datagram().header(0, 0, 1).question({"_services", "_dns-sd", "_udp", "local"}, 12, 1);
    const Bytes other = Datagram().header(0, 0, 1).question({"_other", "_tcp", "local"}, 12, 1);
    const Bytes control = Datagram().header(0, 0, 1).question({"a\nb", "_udp", "local"}, 12, 1);

    struct Case
    {
        const char* what;
        std::string line;
        std::optional<std::string> asked;
    };
    const Case cases[] = {
        {"renderer on the mDNS port", questionLine(plugin, sa(renderer), sizeof(renderer)), kPlugin},
        {"unicast question from a five-digit port", questionLine(pluginUnicast, sa(client), sizeof(client)), kPlugin},
        {"meta query", questionLine(meta, sa(renderer), sizeof(renderer)), "_services._dns-sd._udp.local."},
        {"other service type", questionLine(other, sa(renderer), sizeof(renderer)), "_other._tcp.local."},
        {"escaped control byte stays escaped", questionLine(control, sa(renderer), sizeof(renderer)),
         "a\\x0Ab._udp.local."},
        {"IPv6 sender", questionLine(plugin, sa(v6), sizeof(v6)), std::nullopt},
        {"without the closing newline", "192.168.1.20:5353 : question PTR " + kPlugin, kPlugin},
        {"sender without a port", "192.168.1.20 : question PTR " + kPlugin, std::nullopt},
        {"port above 65535", "192.168.1.20:65536 : question PTR " + kPlugin + "\n", std::nullopt},
        {"port of six digits", "192.168.1.20:053530 : question PTR " + kPlugin + "\n", std::nullopt},
        {"port that overflows 64 bits", "192.168.1.20:18446744073709551621 : question PTR " + kPlugin + "\n",
         std::nullopt},
        {"octet above 255", "192.168.1.256:5353 : question PTR " + kPlugin + "\n", std::nullopt},
        {"octet that wraps a 32-bit count", "4294967488.168.1.20:5353 : question PTR " + kPlugin + "\n",
         std::nullopt},
        {"three octets", "192.168.1:5353 : question PTR " + kPlugin + "\n", std::nullopt},
        {"five octets", "10.192.168.1.20:5353 : question PTR " + kPlugin + "\n", std::nullopt},
        {"text before the sender", "x192.168.1.20:5353 : question PTR " + kPlugin + "\n", std::nullopt},
        {"line that only contains a question", "note 192.168.1.20:5353 : question PTR " + kPlugin + "\n",
         std::nullopt},
        {"SRV question", "192.168.1.20:5353 : question SRV  " + kPlugin + "\n", std::nullopt},
        {"record line", "192.168.1.20:5353 : answer " + kPlugin + " PTR x." + kPlugin + " rclass 0x1 ttl 10 length 5\n",
         std::nullopt},
        {"empty line", "", std::nullopt},
        {"only a newline", "\n", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MDNSHandler::ParseQuestionLine(c.line), c.asked) << c.what << ": " << c.line;
}

TEST(HandlerRendererLine, TakesOnlyARenderersSrvInTheAdditionalSection)
{
    const auto renderer = mdns_test::ipv4Sender("192.168.1.20", 5353);
    const auto otherPort = mdns_test::ipv4Sender("192.168.1.21", 5300);
    const auto client = mdns_test::ipv4Sender("192.168.1.20", 49152);
    const auto shortPort = mdns_test::ipv4Sender("192.168.1.20", 535);
    const auto v6 = mdns_test::ipv6Sender("2001:db8::5", 5353);
    const std::string tail = " SRV host.local. priority 0 weight 0 port 9000\n";

    struct Case
    {
        const char* what;
        std::string line;
        std::optional<RemoteInfo> remote;
    };
    const Case cases[] = {
        {"renderer", srvLine({"studio", "_vhremote", "_udp", "local"}, MDNS_ENTRY_ADDITIONAL, sa(renderer), sizeof(renderer)),
         RemoteInfo{"studio", "192.168.1.20", 9000}},
        {"any four-digit source port", srvLine({"b", "_vhremote", "_udp", "local"}, MDNS_ENTRY_ADDITIONAL, sa(otherPort),
                                               sizeof(otherPort), 5341),
         RemoteInfo{"b", "192.168.1.21", 5341}},
        {"highest port", srvLine({"b", "_vhremote", "_udp", "local"}, MDNS_ENTRY_ADDITIONAL, sa(renderer), sizeof(renderer), 65535),
         RemoteInfo{"b", "192.168.1.20", 65535}},
        {"instance label with a control byte, as escaped",
         srvLine({"st\x01udio", "_vhremote", "_udp", "local"}, MDNS_ENTRY_ADDITIONAL, sa(renderer), sizeof(renderer)),
         RemoteInfo{"st\\x01udio", "192.168.1.20", 9000}},
        {"priority and weight", onlyLine(recordLines(srvReply({"s", "_vhremote", "_udp", "local"}, 7000, 10, 5),
                                                     MDNS_ENTRY_ADDITIONAL, sa(renderer), sizeof(renderer))),
         RemoteInfo{"s", "192.168.1.20", 7000}},
        {"answer section", srvLine({"studio", "_vhremote", "_udp", "local"}, MDNS_ENTRY_ANSWER, sa(renderer), sizeof(renderer)),
         std::nullopt},
        {"authority section",
         srvLine({"studio", "_vhremote", "_udp", "local"}, MDNS_ENTRY_AUTHORITY, sa(renderer), sizeof(renderer)),
         std::nullopt},
        {"IPv6 sender", srvLine({"studio", "_vhremote", "_udp", "local"}, MDNS_ENTRY_ADDITIONAL, sa(v6), sizeof(v6)),
         std::nullopt},
        {"five-digit source port",
         srvLine({"studio", "_vhremote", "_udp", "local"}, MDNS_ENTRY_ADDITIONAL, sa(client), sizeof(client)),
         std::nullopt},
        {"three-digit source port",
         srvLine({"studio", "_vhremote", "_udp", "local"}, MDNS_ENTRY_ADDITIONAL, sa(shortPort), sizeof(shortPort)),
         std::nullopt},
        {"the plug-ins' service type",
         srvLine({"studio", "_vhplugin", "_udp", "local"}, MDNS_ENTRY_ADDITIONAL, sa(renderer), sizeof(renderer)),
         std::nullopt},
        {"renderer type over TCP",
         srvLine({"studio", "_vhremote", "_tcp", "local"}, MDNS_ENTRY_ADDITIONAL, sa(renderer), sizeof(renderer)),
         std::nullopt},
        {"renderer type inside a longer owner",
         srvLine({"studio", "_vhremote", "_udp", "local", "evil"}, MDNS_ENTRY_ADDITIONAL, sa(renderer), sizeof(renderer)),
         std::nullopt},
        {"the service type itself, without an instance",
         srvLine({"_vhremote", "_udp", "local"}, MDNS_ENTRY_ADDITIONAL, sa(renderer), sizeof(renderer)), std::nullopt},
        {"an empty instance label", "192.168.1.20:5353 : additional ._vhremote._udp.local." + tail, std::nullopt},
        {"without the closing newline", "192.168.1.20:5353 : additional s._vhremote._udp.local. SRV host.local. "
                                        "priority 0 weight 0 port 9000",
         RemoteInfo{"s", "192.168.1.20", 9000}},
        {"port above 65535", "192.168.1.20:5353 : additional s._vhremote._udp.local. SRV h. priority 0 weight 0 port 65536\n",
         std::nullopt},
        {"port that overflows 64 bits",
         "192.168.1.20:5353 : additional s._vhremote._udp.local. SRV h. priority 0 weight 0 port 18446744073709560616\n",
         std::nullopt},
        {"negative port", "192.168.1.20:5353 : additional s._vhremote._udp.local. SRV h. priority 0 weight 0 port -1\n",
         std::nullopt},
        {"text after the port", "192.168.1.20:5353 : additional s._vhremote._udp.local. SRV h. priority 0 weight 0 port 9000 x\n",
         std::nullopt},
        {"no port", "192.168.1.20:5353 : additional s._vhremote._udp.local. SRV h. priority 0 weight 0\n", std::nullopt},
        {"empty port", "192.168.1.20:5353 : additional s._vhremote._udp.local. SRV h. priority 0 weight 0 port \n",
         std::nullopt},
        {"no SRV", "192.168.1.20:5353 : additional s._vhremote._udp.local. A 10.0.0.1\n", std::nullopt},
        {"leading zeros, read as decimal", "127.000.000.010:5353 : additional s._vhremote._udp.local." + tail,
         RemoteInfo{"s", "127.0.0.10", 9000}},
        {"an octet 08", "10.0.0.08:5353 : additional s._vhremote._udp.local." + tail, RemoteInfo{"s", "10.0.0.8", 9000}},
        {"an octet of four digits", "10.0.0.0008:5353 : additional s._vhremote._udp.local." + tail, std::nullopt},
        {"octet above 255", "192.168.300.20:5353 : additional s._vhremote._udp.local." + tail, std::nullopt},
        {"octet that wraps a 32-bit count", "192.168.4294967297.20:5353 : additional s._vhremote._udp.local." + tail,
         std::nullopt},
        {"text before the sender", "x192.168.1.20:5353 : additional s._vhremote._udp.local." + tail, std::nullopt},
        {"two spaces after the sender", "192.168.1.20:5353  : additional s._vhremote._udp.local." + tail, std::nullopt},
    };
    for (const auto& c : cases)
    {
        const auto got = MDNSHandler::ParseRendererLine(c.line);
        ASSERT_EQ(got.has_value(), c.remote.has_value()) << c.what << ": " << c.line;
        if (got)
        {
            EXPECT_EQ(got->name, c.remote->name) << c.what;
            EXPECT_EQ(got->ip, c.remote->ip) << c.what;
            EXPECT_EQ(got->port, c.remote->port) << c.what;
        }
    }
}

TEST(HandlerRendererLine, PortIsTakenFromTheEndWhateverTheTargetSays)
{
    // The target is the renderer's own text: it may read like the rest of
    // the line.
    const auto renderer = mdns_test::ipv4Sender("192.168.1.20", 5353);
    const auto reply = Datagram()
                           .header(0, 0x8400, 0, 1)
                           .labels({"studio", "_vhremote", "_udp", "local"})
                           .u16(33).u16(1).u32(120).u16(6 + 21)
                           .u16(0).u16(0).u16(9000)
                           .labels({"x port 1 weight 2", "l"});
    const auto line = onlyLine(recordLines(reply, MDNS_ENTRY_ADDITIONAL, sa(renderer), sizeof(renderer)));
    ASSERT_EQ(line, "192.168.1.20:5353 : additional studio._vhremote._udp.local. SRV x port 1 weight 2.l. "
                    "priority 0 weight 0 port 9000\n");
    const auto remote = MDNSHandler::ParseRendererLine(line);
    ASSERT_TRUE(remote.has_value());
    EXPECT_EQ(remote->name, "studio");
    EXPECT_EQ(remote->port, 9000);
}

TEST(HandlerRendererLine, EveryCutOfAValidLineBeforeItsPortIsRefused)
{
    const auto renderer = mdns_test::ipv4Sender("192.168.1.20", 5353);
    const auto line = srvLine({"studio", "_vhremote", "_udp", "local"}, MDNS_ENTRY_ADDITIONAL, sa(renderer),
                              sizeof(renderer));
    const auto portDigits = line.rfind(" port ") + 6;
    for (size_t length = 0; length < portDigits; ++length)
        EXPECT_FALSE(MDNSHandler::ParseRendererLine(line.substr(0, length)).has_value()) << line.substr(0, length);
    for (size_t length = 0; length < line.find(" : ") + 3; ++length)
        EXPECT_FALSE(MDNSHandler::ParseQuestionLine(line.substr(0, length)).has_value()) << line.substr(0, length);
}

TEST(HandlerRendererLine, OwnerOfAnotherTypeCannotPassAsARenderer)
{
    // DNS labels may hold dots and spaces: an owner of another service type
    // can spell out a renderer's owner inside its first label. The record
    // line escapes a dot inside a label, so the spelling stays a label.
    const auto sender = mdns_test::ipv4Sender("192.168.1.20", 5353);
    const auto line = srvLine({"x._vhremote._udp.local. SRV y", "_other", "_udp", "local"}, MDNS_ENTRY_ADDITIONAL,
                              sa(sender), sizeof(sender));
    ASSERT_EQ(line, "192.168.1.20:5353 : additional x\\x2E_vhremote\\x2E_udp\\x2Elocal\\x2E SRV y._other._udp.local. SRV "
                    "host.local. priority 0 weight 0 port 9000\n");
    EXPECT_FALSE(MDNSHandler::ParseRendererLine(line).has_value())
        << "the owner ends in ._other._udp.local., yet it is taken as a renderer";
}

TEST(HandlerLines, VeryLongAndRepetitiveLinesAreRefusedInOnePass)
{
    // Shapes that make a backtracking pattern take time or stack that grows
    // with the length: long digit and dot runs, repeated section words,
    // repeated owners. A reader that is not linear would run into the test's
    // time limit here.
    constexpr size_t kLength = 1 << 20;
    std::string digitsAndDots;
    while (digitsAndDots.size() < kLength)
        digitsAndDots += "1.";
    std::string repeatedAdditional = "192.168.1.20:5353";
    while (repeatedAdditional.size() < kLength)
        repeatedAdditional += " : additional a.b.c.d.";
    std::string repeatedOwner = "192.168.1.20:5353 : additional ";
    while (repeatedOwner.size() < kLength)
        repeatedOwner += "s._vhremote._udp.local. SRV ";
    std::string longPort = "192.168.1.20:5353 : additional s._vhremote._udp.local. SRV h. priority 0 weight 0 port ";
    longPort.append(kLength, '9');
    std::string longQuestionPort = "192.168.1.20:";
    longQuestionPort.append(kLength, '5');
    longQuestionPort += " : question PTR " + kPlugin;
    const std::string longName = "192.168.1.20:5353 : question PTR " + std::string(kLength, 'a');

    for (const auto* line : {&digitsAndDots, &repeatedAdditional, &repeatedOwner, &longPort, &longQuestionPort})
    {
        EXPECT_FALSE(MDNSHandler::ParseRendererLine(*line).has_value());
        EXPECT_FALSE(MDNSHandler::ParseQuestionLine(*line).has_value());
    }
    // A long name is still a question; nothing starts unless it is the
    // plug-ins' service type.
    const auto asked = MDNSHandler::ParseQuestionLine(longName);
    ASSERT_TRUE(asked.has_value());
    EXPECT_EQ(asked->size(), kLength);
}

TEST(HandlerQuery, ExactBytesForUnicastAndMulticastAnswers)
{
    const Bytes name = Datagram().labels({"_vhremote", "_udp", "local"});
    const Bytes unicast = Datagram().header(0, 0, 1).labels({"_vhremote", "_udp", "local"}).u16(12).u16(0x8001);
    const Bytes multicast = Datagram().header(0, 0, 1).labels({"_vhremote", "_udp", "local"}).u16(12).u16(0x0001);
    ASSERT_EQ(name.size(), 22u);
    ASSERT_EQ(unicast.size(), 38u);

    EXPECT_EQ(MDNSHandler::BuildQuery(true), unicast);
    EXPECT_EQ(MDNSHandler::BuildQuery(false), multicast);

    // A responder of the plug-ins' type reads it as a question for another
    // service and stays silent.
    ResponderSettings settings;
    settings.hostname = "studio";
    settings.name = kPlugin;
    settings.port = 5342;
    const auto sender = mdns_test::ipv4Sender("192.168.1.20", 49152);
    int answers = 0;
    mdns_test::LogCapture capture;
    const auto query = MDNSHandler::BuildQuery(true);
    respondToQuestions(settings, query.data(), query.size(), sa(sender), sizeof(sender),
                       [&](bool, const uint8_t*, size_t) { ++answers; });
    EXPECT_EQ(answers, 0);
    EXPECT_EQ(capture.take(), std::vector<std::string>{"192.168.1.20:49152 : question PTR " + kRenderer + "\n"});
}

TEST(HandlerReply, WalksTheRecordsBehindAtMostOneQuestion)
{
    const auto renderer = mdns_test::ipv4Sender("192.168.1.20", 5353);
    const std::string from = "192.168.1.20:5353 : ";

    // A legacy answer: the question echoed at 12, the PTR in the answers and
    // the instance's SRV and A in the additional section.
    const Bytes withQuestion = Datagram()
                                   .header(0, 0x8400, 1, 1, 0, 2)
                                   .question({"_vhremote", "_udp", "local"}, 12, 1)                  // 12..37
                                   .pointer(12).u16(12).u16(1).u32(10).u16(9).labels({"studio"}, false).pointer(12)  // 38..
                                   .labels({"studio"}, false).pointer(12).u16(33).u16(0x8001).u32(10)
                                   .u16(8).u16(0).u16(0).u16(9000).pointer(27)
                                   .pointer(12).u16(1).u16(1).u32(10).u16(4).raw({192, 168, 1, 20});
    const std::vector<std::string> withQuestionLines = {
        from + "answer _vhremote._udp.local. PTR studio._vhremote._udp.local. rclass 0x1 ttl 10 length 9\n",
        from + "additional studio._vhremote._udp.local. SRV local. priority 0 weight 0 port 9000\n",
        from + "additional _vhremote._udp.local. A 192.168.1.20\n",
    };

    const Bytes srvAsAnswer = Datagram()
                                  .header(0, 0x8400, 0, 1, 1, 0)
                                  .labels({"studio", "_vhremote", "_udp", "local"})
                                  .u16(33).u16(1).u32(10).u16(8).u16(0).u16(0).u16(9000).pointer(34)
                                  .pointer(12).u16(1).u16(1).u32(10).u16(4).raw({10, 0, 0, 1});
    const std::vector<std::string> srvAsAnswerLines = {
        from + "answer studio._vhremote._udp.local. SRV local. priority 0 weight 0 port 9000\n",
        from + "authority studio._vhremote._udp.local. A 10.0.0.1\n",
    };

    const Bytes twoQuestions = Datagram()
                                   .header(0, 0x8400, 2, 0, 0, 1)
                                   .question({"_vhremote", "_udp", "local"}, 12, 1)
                                   .pointer(12).u16(12).u16(1)
                                   .labels({"studio"}, false).pointer(12).u16(33).u16(1).u32(10)
                                   .u16(8).u16(0).u16(0).u16(9000).pointer(34);
    const Bytes pointerOutside = Datagram()
                                     .header(0, 0x8400, 1, 0, 0, 1)
                                     .pointer(0x3FF).u16(12).u16(1)
                                     .labels({"studio", "_vhremote", "_udp", "local"})
                                     .u16(33).u16(1).u32(10).u16(8).u16(0).u16(0).u16(9000).pointer(31);
    const Bytes pointerForward = Datagram()
                                     .header(0, 0x8400, 1, 0, 0, 1)
                                     .pointer(18).u16(12).u16(1)
                                     .labels({"studio", "_vhremote", "_udp", "local"})
                                     .u16(33).u16(1).u32(10).u16(8).u16(0).u16(0).u16(9000).pointer(31);
    const Bytes labelPastTheEnd = Datagram().header(0, 0x8400, 1, 0, 0, 1).u8(40).text("_vhremote");
    const Bytes questionWithoutClass = Datagram().header(0, 0x8400, 1).labels({"_vhremote", "_udp", "local"}).u16(12);
    const Bytes headerOnly = Datagram().header(0, 0x8400, 0, 3, 3, 3);
    const Bytes shortHeader = Datagram().header(0, 0x8400, 0, 1).u8(0);

    struct Case
    {
        const char* what;
        Bytes datagram;
        std::vector<std::string> lines;
        size_t renderers;
    };
    const Case cases[] = {
        {"one question, SRV in the additional section", withQuestion, withQuestionLines, 1},
        {"no question, SRV in the answer section", srvAsAnswer, srvAsAnswerLines, 0},
        {"two questions", twoQuestions, {}, 0},
        {"question name pointing outside the datagram", pointerOutside, {}, 0},
        {"question name pointing forward", pointerForward, {}, 0},
        {"question label running past the end", labelPastTheEnd, {}, 0},
        {"question without type and class", questionWithoutClass, {}, 0},
        {"counts without records", headerOnly, {}, 0},
        {"shorter than a header", Bytes(shortHeader.begin(), shortHeader.begin() + 11), {}, 0},
        {"empty", Bytes(), {}, 0},
    };
    for (const auto& c : cases)
    {
        mdns_test::LogCapture capture;
        // An exact-size heap copy, so a sanitizer build sees any read past it.
        std::unique_ptr<uint8_t[]> data(new uint8_t[c.datagram.size() + 1]);
        std::copy(c.datagram.begin(), c.datagram.end(), data.get());
        MDNSHandler::ReadReply(-1, data.get(), c.datagram.size(), sa(renderer), sizeof(renderer));
        const auto lines = capture.take();
        EXPECT_EQ(lines, c.lines) << c.what;
        size_t renderers = 0;
        for (const auto& line : lines)
            renderers += MDNSHandler::ParseRendererLine(line).has_value() ? 1 : 0;
        EXPECT_EQ(renderers, c.renderers) << c.what;
    }
}
