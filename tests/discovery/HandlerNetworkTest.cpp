// The discovery handler inside a real controller, created the way a host
// creates the plug-in. Two kinds of namespace run these:
//  - HandlerOnLoopback: only loopback, without an interface address of its
//    own (the tests/netns-run wrapper); the search falls back to loopback.
//  - HandlerWithRenderer: loopback with a documentation address
//    (run_in_netns.sh), so the search has real client sockets and a
//    stand-in renderer on the mDNS port can answer it.
// Every wait is bounded in turns; no test judges how long something took.

#include "HandlerSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <future>

using namespace handler_test;
using varnholt::CPlugin;
using mdns_cpp::MDNS_ENTRY_ADDITIONAL;
using mdns_cpp::MDNS_ENTRY_ANSWER;

namespace {

const Bytes kPluginQuestion = ptrQuestion({"_vhplugin", "_udp", "local"});

bool hasDocumentationAddress()
{
    mdns_cpp::mDNS probe;
    mdns_test::LogCapture quiet;
    return probe.openClientSockets(nullptr, 0, 0) == 0 && quiet.contains("Local IPv4 address: 192.0.2.1\n");
}

// Destroys an instance on another thread, as some hosts do, while the
// message thread keeps turning; false when it did not return in time.
bool destroyElsewhere(std::unique_ptr<CPlugin> plugin)
{
    auto done = std::async(std::launch::async, [p = std::move(plugin)]() mutable { p.reset(); });
    for (int turn = 0; turn < 500; ++turn)
    {
        if (done.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready)
            return true;
        pump(20);
    }
    return false;
}

// Asks for the plug-ins' service with a unicast answer, from `from`, until
// the responder answers (bounded), and gives the answer's record lines. The
// handler's log sink is set aside while the answer is read and put back.
std::vector<std::string> askForThePlugin(const char* fromAddress, Bytes* answer = nullptr)
{
    sockaddr_in client = mdns_test::ipv4Sender(fromAddress, 0);
    const int sock = mdns_cpp::mdns_socket_open_ipv4(&client);
    if (sock < 0)
        return {};
    const Bytes question = Datagram().header(0x5151, 0, 1).question({"_vhplugin", "_udp", "local"}, 12, 0x8001);
    const std::string prefix = std::string(fromAddress) + ":5353 : ";
    std::vector<std::string> lines;
    for (int attempt = 0; attempt < 20 && lines.empty(); ++attempt)
    {
        mdns_cpp::mdns_multicast_send(sock, question.data(), question.size());
        for (int turn = 0; turn < 10 && lines.empty(); ++turn)
        {
            pump(20);
            uint8_t buffer[2048];
            const ssize_t received = ::recv(sock, buffer, sizeof(buffer), 0);
            if (received < 12 || !(buffer[2] & 0x80) || buffer[0] != 0x51)
                continue;
            if (answer)
                answer->assign(buffer, buffer + received);
            const auto from = mdns_test::ipv4Sender(fromAddress, 5353);
            {
                mdns_test::LogCapture capture;
                MDNSHandler::ReadReply(sock, buffer, static_cast<size_t>(received),
                                       reinterpret_cast<const sockaddr*>(&from), sizeof(from));
                for (const auto& line : capture.take())
                    if (line.rfind(prefix, 0) == 0)
                        lines.push_back(line);
            }
            auto* handler = controller().m_mdnsHandler.get();
            mdns_cpp::Logger::setLoggerSink([handler](const std::string& line) { handler->takeLogLine(line); });
        }
    }
    ::close(sock);
    return lines;
}

class HandlerOnLoopback : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(onlyLoopbackExists()) << "run this program through tests/netns-run"; }
};

class HandlerWithRenderer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(onlyLoopbackExists() && hasDocumentationAddress())
            << "run this program through run_in_netns.sh";
    }
};

}  // namespace

TEST_F(HandlerOnLoopback, WithoutRendererEveryInstanceIsToldAndTheAddressStays)
{
    StandInRenderer listener;
    ASSERT_TRUE(listener.listening());
    auto first = std::make_unique<CPlugin>();
    auto second = std::make_unique<CPlugin>();

    // The search falls back to loopback, asks once and, after its silence,
    // tells every instance that it ended.
    ASSERT_TRUE(waitUntil([&] { return listener.queries() >= 1; }));
    bool firstTold = false;
    bool secondTold = false;
    ASSERT_TRUE(waitUntil([&] {
        firstTold = firstTold || tookAddressChange(*first);
        secondTold = secondTold || tookAddressChange(*second);
        return firstTold && secondTold;
    }, 300));
    EXPECT_EQ(controllerAddress(), "127.0.0.1");
    EXPECT_EQ(controllerPorts(), std::make_pair(5341, 5342));
    EXPECT_EQ(listener.firstQuery(), MDNSHandler::BuildQuery(true)) << "asked from an ephemeral port";

    // An address typed by hand outlives the next search (a renderer's
    // question for plug-ins starts it) when no renderer answers it.
    controller().SetIpAddress(varnholt::kSource_editor, "10.1.2.3");
    ASSERT_EQ(controllerAddress(), "10.1.2.3");
    pump(50);
    tookAddressChange(*first);
    tookAddressChange(*second);
    StandInRenderer::ask(kPluginQuestion);
    ASSERT_TRUE(waitUntil([&] { return listener.queries() >= 2; }));
    EXPECT_TRUE(waitUntil([&] { return tookAddressChange(*second); }, 300));
    EXPECT_EQ(controllerAddress(), "10.1.2.3");
    EXPECT_EQ(controllerPorts(), std::make_pair(5341, 5342));

    first.reset();
    second.reset();
    EXPECT_EQ(varnholt::CController::m_singleton, nullptr);
}

TEST_F(HandlerOnLoopback, DestroyingTheLastInstanceDuringASearchReturnsWithoutHandingOver)
{
    StandInRenderer listener;
    ASSERT_TRUE(listener.listening());

    // Right after the start: the first search is waiting for replies.
    {
        auto plugin = std::make_unique<CPlugin>();
        ASSERT_TRUE(waitUntil([&] { return listener.queries() >= 1; }));
        ASSERT_TRUE(destroyElsewhere(std::move(plugin)));
        EXPECT_EQ(varnholt::CController::m_singleton, nullptr);
    }

    // A fresh controller searches again and hands over as before.
    auto plugin = std::make_unique<CPlugin>();
    ASSERT_TRUE(waitUntil([&] { return listener.queries() >= 2; }));
    ASSERT_TRUE(waitUntil([&] { return tookAddressChange(*plugin); }, 300));
    EXPECT_EQ(controllerAddress(), "127.0.0.1");
    ASSERT_TRUE(destroyElsewhere(std::move(plugin)));
}

TEST_F(HandlerOnLoopback, ShutdownDuringASearchThatAQuestionWaitsForStartsNoOther)
{
    StandInRenderer listener;
    ASSERT_TRUE(listener.listening());
    auto plugin = std::make_unique<CPlugin>();
    ASSERT_TRUE(waitUntil([&] { return tookAddressChange(*plugin); }, 300));
    ASSERT_EQ(listener.queries(), 1);

    // A renderer asks: the second search runs. It asks again at once: the
    // responder waits for that search before it starts the next one.
    StandInRenderer::ask(kPluginQuestion);
    ASSERT_TRUE(waitUntil([&] { return listener.queries() >= 2; }));
    StandInRenderer::ask(kPluginQuestion);
    pump(200);
    ASSERT_EQ(listener.queries(), 2) << "the second search is still under way";

    // The host unloads the plug-in now. Nothing is asked after the quit.
    ASSERT_TRUE(destroyElsewhere(std::move(plugin)));
    pump(1000);
    EXPECT_EQ(listener.queries(), 2) << "a search started after the quit request and sent its question";
}

TEST_F(HandlerOnLoopback, OnlyWhatAnsweredTheSearchIsHandedOver)
{
    StandInRenderer listener;
    ASSERT_TRUE(listener.listening());
    auto plugin = std::make_unique<CPlugin>();

    // A renderer's line logged on another thread, all through the first
    // search and after its hand-over: as the responder's stop logs the
    // replies it reads, or as a late answer was heard after the list had
    // been handed over, before the search was marked ended.
    std::atomic<bool> done{false};
    std::thread late([&] {
        for (int k = 0; k < 2000 && !done; ++k)
        {
            mdns_cpp::LogMessage() << "127.0.0.6:5302 : additional late._vhremote._udp.local. SRV late.local. "
                                      "priority 0 weight 0 port 9000\n";
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const bool ended = waitUntil([&] { return tookAddressChange(*plugin); }, 300);
    pump(100);
    done = true;
    late.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(controllerAddress(), "127.0.0.1") << "a renderer that answered no search became the target";

    // Nor is it the target at the next search, which nobody answers.
    StandInRenderer::ask(kPluginQuestion);
    ASSERT_TRUE(waitUntil([&] { return listener.queries() >= 2; }));
    ASSERT_TRUE(waitUntil([&] { return tookAddressChange(*plugin); }, 300));
    EXPECT_EQ(controllerAddress(), "127.0.0.1");
}

TEST_F(HandlerWithRenderer, FirstRendererInTheAdditionalSectionBecomesTheTarget)
{
    const std::vector<Answer> answers = {{{
        // Not renderers: an SRV among the answers, a sender with a
        // five-digit port, the plug-ins' own type, a reply with two questions.
        {"127.0.0.2", 5300, rendererReply("answered", 9000, MDNS_ENTRY_ANSWER)},
        {"127.0.0.3", 50000, rendererReply("client", 9000, MDNS_ENTRY_ADDITIONAL)},
        {"127.0.0.4", 5301, rendererReply("plugin", 9000, MDNS_ENTRY_ADDITIONAL, "_vhplugin")},
        {"127.0.0.5", 5304,
         Datagram().header(0, 0x8400, 2, 0, 0, 1).question({"a", "local"}, 1, 1).question({"b", "local"}, 1, 1)
             .labels({"two", "_vhremote", "_udp", "local"}).u16(33).u16(1).u32(10).u16(8).u16(0).u16(0).u16(9000)
             .pointer(14)},
        // The first renderer, then a second one.
        {"127.0.0.6", 5302, rendererReply("first", 9000, MDNS_ENTRY_ADDITIONAL)},
        {"127.0.0.7", 5303, rendererReply("second", 5341, MDNS_ENTRY_ADDITIONAL)},
    }}};
    StandInRenderer renderer(answers);
    ASSERT_TRUE(renderer.listening());

    auto first = std::make_unique<CPlugin>();
    auto second = std::make_unique<CPlugin>();
    ASSERT_TRUE(waitUntil([&] { return controllerAddress() != "127.0.0.1"; }, 300));
    EXPECT_EQ(controllerAddress(), "127.0.0.6");
    EXPECT_EQ(controllerPorts(), std::make_pair(5341, 5342)) << "the renderer's own port 9000 is not taken";
    EXPECT_TRUE(waitUntil([&] { return tookAddressChange(*first); }));
    EXPECT_TRUE(waitUntil([&] { return tookAddressChange(*second); }));
    EXPECT_EQ(renderer.firstQuery(), Datagram().header(0, 0, 1).question({"_vhremote", "_udp", "local"}, 12, 0x8001).bytes());
    EXPECT_EQ(renderer.answered(), 1);

    first.reset();
    second.reset();
}

TEST_F(HandlerWithRenderer, SearchEndsWhileDatagramsKeepComing)
{
    // A datagram every 100 ms for six seconds: never a second of silence.
    StandInRenderer renderer({{{{"127.0.0.6", 5302, rendererReply("first", 9000, MDNS_ENTRY_ADDITIONAL)}}, 60}});
    ASSERT_TRUE(renderer.listening());
    auto plugin = std::make_unique<CPlugin>();
    ASSERT_TRUE(waitUntil([&] { return controllerAddress() == "127.0.0.6"; }, 450));
    EXPECT_LT(renderer.floodSent(), 60) << "the search only ended when the datagrams stopped";
    plugin.reset();
}

TEST_F(HandlerWithRenderer, QuestionDuringASearchStartsTheNextAfterIt)
{
    // Later searches all find "next": a question repeated below, in case the
    // first one came before the responder was listening, may start one more.
    const Answer next{{{"127.0.0.9", 5302, rendererReply("next", 9000, MDNS_ENTRY_ADDITIONAL)}}, 0};
    StandInRenderer renderer({
        {{{"127.0.0.6", 5302, rendererReply("first", 9000, MDNS_ENTRY_ADDITIONAL)}}, 15},
        next, next, next,
    });
    ASSERT_TRUE(renderer.listening());
    auto plugin = std::make_unique<CPlugin>();
    ASSERT_TRUE(waitUntil([&] { return renderer.queries() >= 1; }));

    // The question is not lost to the running search: a second search
    // follows it and its renderer is the new target.
    bool followed = false;
    for (int attempt = 0; attempt < 3 && !followed; ++attempt)
    {
        StandInRenderer::ask(kPluginQuestion);
        followed = waitUntil([&] { return renderer.queries() >= 2; }, 300);
    }
    ASSERT_TRUE(followed);
    ASSERT_TRUE(waitUntil([&] { return controllerAddress() == "127.0.0.9"; }, 300));
    plugin.reset();
}

TEST_F(HandlerWithRenderer, OnlyAQuestionForThePluginsTypeStartsASearch)
{
    StandInRenderer renderer;
    ASSERT_TRUE(renderer.listening());
    auto plugin = std::make_unique<CPlugin>();
    ASSERT_TRUE(waitUntil([&] { return tookAddressChange(*plugin); }, 300));
    ASSERT_EQ(renderer.queries(), 1);

    StandInRenderer::ask(ptrQuestion({"_vhremote", "_udp", "local"}));
    StandInRenderer::ask(ptrQuestion({"_other", "_udp", "local"}));
    StandInRenderer::ask(ptrQuestion({"_services", "_dns-sd", "_udp", "local"}));
    StandInRenderer::ask(ptrQuestion({"_vhplugin", "_udp", "local"}, 33));
    StandInRenderer::ask(ptrQuestion({"x", "_vhplugin", "_udp", "local"}));
    // A response that names the plug-ins' type is no question.
    StandInRenderer::ask(Datagram().header(0, 0x8400, 1).question({"_vhplugin", "_udp", "local"}, 12, 1));
    pump(2500);
    EXPECT_EQ(renderer.queries(), 1);
    EXPECT_FALSE(tookAddressChange(*plugin));

    StandInRenderer::ask(kPluginQuestion, "192.0.2.1");
    EXPECT_TRUE(waitUntil([&] { return renderer.queries() == 2; }));
    EXPECT_TRUE(waitUntil([&] { return tookAddressChange(*plugin); }, 300));
    plugin.reset();
}

TEST_F(HandlerWithRenderer, OneSearchKeepsAtMost32DistinctRenderersAndOnlyWhileItRuns)
{
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i)
        names.push_back("r" + std::to_string(10 + i));
    StandInRenderer renderer({{{{"127.0.0.6", 5302, manyRenderers(names, 9000)},
                                {"127.0.0.6", 5302, manyRenderers(names, 9000)}},
                               25}});
    ASSERT_TRUE(renderer.listening());
    auto plugin = std::make_unique<CPlugin>();
    ASSERT_TRUE(waitUntil([&] { return renderer.answered() == 1; }));

    // The search goes on while the datagrams come; the list is looked at
    // once, well after both replies.
    pump(400);
    auto& handler = *controller().m_mdnsHandler;
    const auto remotes = handler.TakeRemotesForTest();
    ASSERT_EQ(remotes.size(), MDNSHandler::kMaxRemotes);
    for (size_t i = 0; i < remotes.size(); ++i)
    {
        EXPECT_EQ(remotes[i].name, names[i]);
        EXPECT_EQ(remotes[i].ip, "127.0.0.6");
        EXPECT_EQ(remotes[i].port, 9000);
    }

    // After the hand-over no search runs, and a renderer's line is not kept.
    ASSERT_TRUE(waitUntil([&] { return tookAddressChange(*plugin); }, 300));
    pump(500);
    handler.takeLogLine("127.0.0.6:5302 : additional late._vhremote._udp.local. SRV late.local. priority 0 weight 0 "
                        "port 9000\n");
    EXPECT_TRUE(handler.TakeRemotesForTest().empty());
    plugin.reset();
}

TEST_F(HandlerWithRenderer, ResponderAnswersWithTheControllersSettings)
{
    StandInRenderer renderer;
    auto plugin = std::make_unique<CPlugin>();

    Bytes answer;
    const auto lines = askForThePlugin("192.0.2.1", &answer);
    char host[256] = {};
    ::gethostname(host, sizeof(host) - 1);
    const std::string instance = std::string(host) + "._vhplugin._udp.local.";
    const std::string from = "192.0.2.1:5353 : ";
    // The TXT string carries a zero byte after "asdf=1", so the record
    // lines pass it over; its bytes are looked for instead.
    ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], from + "answer _vhplugin._udp.local. PTR " + instance + " rclass 0x8001 ttl 10 length " +
                            std::to_string(1 + strlen(host) + 2) + "\n");
    EXPECT_EQ(lines[1], from + "additional " + instance + " SRV " + host + ".local. priority 0 weight 0 port 5342\n");
    EXPECT_EQ(lines[2], from + "additional " + host + ".local. A 192.0.2.1\n");
    EXPECT_EQ(lines[3], from + "additional " + host + ".local. AAAA 2001:db8::1\n");
    const Bytes txt = Datagram().u16(16).u16(0x8001).u32(10).u16(8).u8(7).text("asdf=1").u8(0);
    EXPECT_NE(std::search(answer.begin(), answer.end(), txt.begin(), txt.end()), answer.end());
    plugin.reset();
}

// Run with a private /etc/hosts that maps the host name to 192.0.2.1
// (with_private_hosts.sh inside run_in_netns.sh).
TEST(HandlerAddressChange, ResponderRestartsWithTheNewAddress)
{
    const char* hosts = std::getenv("VH_PRIVATE_HOSTS");
    ASSERT_TRUE(onlyLoopbackExists() && hosts != nullptr) << "run through with_private_hosts.sh and run_in_netns.sh";
    ASSERT_EQ(getIPAddresses(), (std::array<int, 4>{192, 0, 2, 1}));

    auto plugin = std::make_unique<CPlugin>();
    const auto before = askForThePlugin("192.0.2.1");
    ASSERT_EQ(before.size(), 4u) << ::testing::PrintToString(before);
    EXPECT_NE(before[2].find(" A 192.0.2.1\n"), std::string::npos) << before[2];

    // The host moves to another address, and its name with it.
    ASSERT_EQ(std::system("ip addr add 192.0.2.50/32 dev lo && ip addr del 192.0.2.1/32 dev lo"), 0);
    char host[256] = {};
    ::gethostname(host, sizeof(host) - 1);
    {
        FILE* file = std::fopen(hosts, "w");
        ASSERT_NE(file, nullptr);
        std::fprintf(file, "127.0.0.1 localhost\n192.0.2.50 %s\n", host);
        std::fclose(file);
    }
    ASSERT_EQ(getIPAddresses(), (std::array<int, 4>{192, 0, 2, 50}));

    // After the settle pause the responder answers with the new address.
    std::vector<std::string> after;
    waitUntil([&] {
        after = askForThePlugin("192.0.2.50");
        return after.size() == 4u && after[2].find(" A 192.0.2.50\n") != std::string::npos;
    }, 60);
    ASSERT_EQ(after.size(), 4u) << ::testing::PrintToString(after);
    EXPECT_NE(after[2].find(" A 192.0.2.50\n"), std::string::npos) << after[2];
    plugin.reset();
}
