#include "LinkSupport.h"

#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <latch>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace varnholt;
using namespace varnholt::linktest;
using varnholt::test::setOf;

namespace
{

using Lifecycle = LinkTest;

juce::String address()
{
    const juce::ScopedLock sl (controller()->m_lock);
    return controller()->m_ipAddress;
}

// Pumps the message loop until `done` or about `seconds`; a thread stuck past that would hang
// the run, so the program ends there.
void pumpUntil (const std::atomic<bool>& done, int seconds, const std::function<void()>& eachSlice = {})
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (seconds);
    while (! done && std::chrono::steady_clock::now() < deadline)
    {
        pump (5);
        if (eachSlice)
            eachSlice();
    }

    if (! done)
    {
        ADD_FAILURE() << "a thread is stuck: instance creation or removal never finished";
        std::fflush (nullptr);
        std::_Exit (3);
    }
}

// The reply port bound as another host process would: without SO_REUSEADDR, so that the link's
// own bind fails. -1 when the port is not free.
int takeReplyPort()
{
    const int fd = ::socket (AF_INET, SOCK_DGRAM, 0);
    sockaddr_in any {};
    any.sin_family = AF_INET;
    any.sin_port = htons (CController::kPortIn);
    any.sin_addr.s_addr = htonl (INADDR_ANY);
    if (fd >= 0 && ::bind (fd, reinterpret_cast<sockaddr*> (&any), sizeof any) == 0)
        return fd;
    if (fd >= 0)
        ::close (fd);
    return -1;
}

// The process's log, a line after another, while it exists; the reply thread writes to it too.
struct LogLines : juce::Logger
{
    LogLines() { setCurrentLogger (this); }
    ~LogLines() override { setCurrentLogger (nullptr); }
    void logMessage (const juce::String& line) override { const std::lock_guard<std::mutex> g (mutex); text += line.toStdString() + "\n"; }
    std::string all() { const std::lock_guard<std::mutex> g (mutex); return text; }

    std::mutex mutex;
    std::string text;
};

} // namespace

TEST_F (Lifecycle, AddressSetterTakesOnlyDottedIPv4)
{
    auto& a = add (5);
    auto& b = add (6);
    tick();

    const char* rejected[] = { "", "localhost", "1.2.3", "1.2.3.4.5", "256.0.0.1", "1.2.3.-4", "a.b.c.d", " 127.0.0.2",
                               "127.0.0.2 ", "127..0.2", "::1", "127.0.0.1:5341", "0x7f.0.0.1", "1234.0.0.1", "1.2.3.4." };
    for (const auto* text : rejected)
    {
        test::clearSets (a.m_messageHandler);
        controller()->SetIpAddress (kSource_editor, text);
        EXPECT_EQ (address(), "127.0.0.1") << "'" << text << "'";
        ASSERT_TRUE (test::allDelivered (a.m_messageHandler));
        EXPECT_TRUE (setOf (a.m_messageHandler, kSource_editor).empty()) << "'" << text << "'";
    }

    // A new address reaches every instance with the caller's source, and the sends follow it.
    for (auto* p : { &a, &b })
        test::clearSets (p->m_messageHandler);
    controller()->SetIpAddress (kSource_editor, "127.0.0.2");
    EXPECT_EQ (address(), "127.0.0.2");
    for (auto* p : { &a, &b })
    {
        ASSERT_TRUE (test::allDelivered (p->m_messageHandler));
        EXPECT_EQ (setOf (p->m_messageHandler, kSource_controller), (std::set<DataChangeType> { kChange_ip_address, kChange_connection_state }));
        test::clearSets (p->m_messageHandler);
    }

    hostSet (a, kParam_width, 0.3f);
    expectTraffic (tick(), { { "/vh/plugin/obj/render/width/5", "f", { a.m_width->get() } } }, "sent to 127.0.0.2");

    test::clearSets (a.m_messageHandler);
    controller()->SetIpAddress (kSource_editor, "127.0.0.2");
    ASSERT_TRUE (test::allDelivered (a.m_messageHandler));
    EXPECT_TRUE (setOf (a.m_messageHandler, kSource_editor).empty()) << "the same address again";

    controller()->SetIpAddress (kSource_controller, "127.0.0.1");
    ASSERT_TRUE (test::allDelivered (a.m_messageHandler));
    EXPECT_TRUE (setOf (a.m_messageHandler, kSource_controller).empty()) << "the link's own change is not its to send";
    EXPECT_EQ (setOf (a.m_messageHandler, kSource_editor).count (kChange_ip_address), 1u);

    // Leading zeros are decimal, never the resolver's octal (127.0.0.8 for "010"), and the link
    // keeps the canonical text; the same address in another spelling is no change.
    struct Spelling { const char* text; const char* kept; bool posts; };
    const Spelling spellings[] = { { "127.000.000.010", "127.0.0.10", true }, { "127.0.0.010", "127.0.0.10", false },
                                   { "010.0.0.08", "10.0.0.8", true }, { "127.0.0.09", "127.0.0.9", true },
                                   { "127.0.0.001", "127.0.0.1", true } };
    for (const auto& s : spellings)
    {
        test::clearSets (a.m_messageHandler);
        controller()->SetIpAddress (kSource_editor, s.text);
        EXPECT_EQ (address(), s.kept) << s.text;
        ASSERT_TRUE (test::allDelivered (a.m_messageHandler));
        EXPECT_EQ (setOf (a.m_messageHandler, kSource_editor).count (kChange_ip_address), s.posts ? 1u : 0u) << s.text;
    }
}

TEST_F (Lifecycle, PortSetterActsOnlyWhenTheAnnouncedPortChanges)
{
    auto& a = add (5);
    tick();

    // Discovery announced 5341 (no renderer) when the link started.
    struct Step { int port; bool acts; };
    const Step steps[] = { { 5341, false }, { 9000, true }, { 9000, false }, { 5342, true }, { 5342, false }, { 5341, true } };

    for (const auto& s : steps)
    {
        test::clearSets (a.m_messageHandler);
        setTicksSinceReply (7);
        controller()->SetPort (kSource_editor, s.port);

        {
            const juce::ScopedLock sl (controller()->m_lock);
            EXPECT_EQ (controller()->m_portOut, 5341) << s.port;
            EXPECT_EQ (controller()->m_portIn, 5342) << s.port;
            EXPECT_TRUE (controller()->m_receiverConnected) << s.port;
        }
        EXPECT_EQ (ticksSinceReply(), s.acts ? 65535 : 7) << s.port;

        ASSERT_TRUE (test::allDelivered (a.m_messageHandler));
        const auto editor = setOf (a.m_messageHandler, kSource_editor);
        EXPECT_EQ (editor.count (kChange_port), s.acts ? 1u : 0u) << s.port;
        EXPECT_EQ (editor.count (kChange_connection_state), s.acts ? 1u : 0u) << s.port;
        EXPECT_TRUE (setOf (a.m_messageHandler, kSource_controller).empty()) << s.port << ": posted as the link's own change";
    }

    // Still sending to 5341 and listening on 5342.
    hostSet (a, kParam_width, 0.3f);
    expectTraffic (tick(), { { "/vh/plugin/obj/render/width/5", "f", { a.m_width->get() } } }, "after rebinding");
    reply ("/vh/plugin/obj/curve/pos/5", { Arg::f (0.5f) });
    EXPECT_NEAR (a.m_curvePos->get(), 0.5f, 1e-4f);
}

TEST_F (Lifecycle, WithoutTheReceivePortTheStateIsAskedForOnlyOncePerDelay)
{
    struct Case { const char* what; bool portTaken; std::vector<int> requestTicks; };
    const Case cases[] = {
        { "receive port bound", false, { 47 } },
        { "receive port taken by another process", true, { 47, 93 } },
    };

    for (const auto& c : cases)
    {
        const int blocker = c.portTaken ? takeReplyPort() : -1;
        ASSERT_EQ (blocker >= 0, c.portTaken) << c.what;

        auto& a = add (5);
        {
            const juce::ScopedLock sl (controller()->m_lock);
            EXPECT_EQ (controller()->m_receiverConnected, ! c.portTaken) << c.what;
        }

        std::vector<int> requests;
        for (int t = 1; t <= 100; ++t)
            if (! withPath (tick(), "/vh/plugin/obj/request/5").empty())
                requests.push_back (t);
        EXPECT_EQ (requests, c.requestTicks) << c.what;

        remove (a);
        if (blocker >= 0)
            ::close (blocker);
    }
}

TEST_F (Lifecycle, TheReplyPortStaysWithTheProcessThatBoundItFirstAndIsTakenOnceFree)
{
    // The link of another host process, bound first.
    FenceListener first;
    CReplyReceiver other;
    other.addListener (&first);
    ASSERT_TRUE (other.connect (CController::kPortIn));

    auto& a = add (5);
    const auto bound = [] { const juce::ScopedLock sl (controller()->m_lock); return controller()->m_receiverConnected; };
    tick (30);
    EXPECT_FALSE (bound());

    // The first keeps its replies: ours never sees them.
    const auto width = a.m_width->get();
    peer().send ("/vh/plugin/obj/render/width/5", { Arg::f (0.25f) });
    peer().send (kFenceAddress, { Arg::i (1) });
    for (int k = 0; k < 2500 && first.lastFence < 1; ++k)
        pump (2);
    EXPECT_EQ (first.lastFence, 1) << "the later link took the replies";
    EXPECT_EQ (a.m_width->get(), width);

    // Once it lets go, the running send loop takes the port and asks for the object's state.
    other.disconnect();
    for (int t = 0; t < 100 && ! bound(); ++t)
        tick();
    ASSERT_TRUE (bound()) << "not bound after 5 s of ticks";
    tick (46);
    EXPECT_TRUE (a.m_stateRequested.load()) << "no state request answerable since the port was taken";
    reply ("/vh/plugin/obj/render/width/5", { Arg::f (0.25f) });
    EXPECT_NEAR (a.m_width->get(), 0.25f, 1e-4f);
}

TEST_F (Lifecycle, AReplyThreadThatEndsByItselfIsLoggedOnceAndTheSendLoopBindsThePortAndAsksAgain)
{
    using Fault = CReplyReceiver::TestFault;
    const std::pair<Fault, const char*> cases[] = {
        { Fault::error, "Input/output error" },
        { Fault::exception, "a fault planted by a test" },
        { Fault::unknownException, "unknown exception" },
    };

    for (const auto& [fault, why] : cases)
    {
        LogLines log;   // before the controller, so that its threads start after it
        auto& a = add (5);
        const auto listening = [] { const juce::ScopedLock sl (controller()->m_lock); return controller()->m_oscReceiver.isListening(); };
        EXPECT_EQ (withPath (tick (50), "/vh/plugin/obj/request/5").size(), 1u) << why;
        ASSERT_TRUE (a.m_stateRequested.load()) << why;

        {
            const juce::ScopedLock sl (controller()->m_lock);
            controller()->m_oscReceiver.endThreadForTest (fault);
        }
        for (int k = 0; k < 2500 && listening(); ++k)
            pump (2);
        ASSERT_FALSE (listening()) << why;

        // Another process slips into the moment the port is closed for a new bind, and holds it
        // through two of the send loop's attempts: one run of failures, logged once.
        {
            const juce::ScopedLock sl (controller()->m_lock);
            controller()->m_oscReceiver.disconnect();
        }
        const int other = takeReplyPort();
        ASSERT_GE (other, 0) << why;
        EXPECT_TRUE (withPath (tick (45), "/vh/plugin/obj/request/5").empty()) << why;
        const auto stop = "Varnholt-v2 link: reply port 5342: the reply thread stopped (" + std::string (why)
                        + "); no reply arrives until the port is bound again, tried every second\n";
        EXPECT_EQ (log.all(), stop);

        ::close (other);
        EXPECT_EQ (withPath (tick (25), "/vh/plugin/obj/request/5").size(), 1u) << why << ": the state not asked for again";
        const auto bound = stop + "Varnholt-v2 link: reply port 5342 bound, replies arrive again\n";
        EXPECT_EQ (log.all(), bound);
        reply ("/vh/plugin/obj/render/width/5", { Arg::f (0.25f) });
        EXPECT_NEAR (a.m_width->get(), 0.25f, 1e-4f) << why;

        // That bind ended the run: the next failure is logged again.
        {
            const juce::ScopedLock sl (controller()->m_lock);
            controller()->m_oscReceiver.disconnect();
        }
        const int again = takeReplyPort();
        ASSERT_GE (again, 0) << why;
        tick (25);
        EXPECT_EQ (log.all(), bound + "Varnholt-v2 link: reply port 5342: cannot bind (Address already in use); no reply arrives "
                                      "until it is bound, tried again every second\n");
        ::close (again);
        remove (a);
    }
}

TEST_F (Lifecycle, AddressAndPortChangesNeverLetAnotherProcessTakeTheReplyPort)
{
    auto& a = add (5);

    // Another host process retrying the port as fast as it can.
    std::atomic<bool> done { false };
    std::atomic<bool> took { false };
    std::atomic<int> attempts { 0 };
    std::thread rival ([&]
    {
        CReplyReceiver other;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds (10);
        while (! done && ! took && attempts < 2'000'000 && std::chrono::steady_clock::now() < until)
        {
            ++attempts;
            took = other.connect (CController::kPortIn);
        }
    });
    while (attempts == 0)
        std::this_thread::yield();

    for (int k = 0; k < 1000; ++k)
        controller()->SetIpAddress (kSource_editor, k % 2 == 0 ? "127.0.0.2" : "127.0.0.3");
    controller()->SetPort (kSource_editor, 9000);
    const bool taken = took;
    done = true;
    rival.join();

    EXPECT_FALSE (taken) << "the other process took the port, after " << attempts << " attempts";
    reply ("/vh/plugin/obj/render/width/5", { Arg::f (0.25f) });
    EXPECT_NEAR (a.m_width->get(), 0.25f, 1e-4f);
}

TEST_F (Lifecycle, TheLinksSocketsAreNotInheritedByProgramsTheHostStarts)
{
    add (5);

    // Every socket of this process on the reply port or the mDNS port, by its bound port.
    const auto socketsOn = [] (uint16_t port)
    {
        std::vector<int> found;
        for (int fd = 0; fd < 1024; ++fd)
        {
            sockaddr_storage bound {};
            socklen_t length = sizeof bound;
            if (::getsockname (fd, reinterpret_cast<sockaddr*> (&bound), &length) != 0)
                continue;
            const auto p = bound.ss_family == AF_INET ? reinterpret_cast<const sockaddr_in&> (bound).sin_port
                         : bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&> (bound).sin6_port : 0;
            if (ntohs (p) == port)
                found.push_back (fd);
        }
        return found;
    };

    // The responder opens its mDNS sockets shortly after the controller starts.
    for (int k = 0; k < 300 && socketsOn (5353).empty(); ++k)
        pump (10);

    for (const uint16_t port : { uint16_t (CController::kPortIn), uint16_t (5353) })
    {
        const auto fds = socketsOn (port);
        EXPECT_FALSE (fds.empty()) << "no socket on port " << port;
        for (const int fd : fds)
            EXPECT_TRUE ((::fcntl (fd, F_GETFD) & FD_CLOEXEC) != 0) << "socket on port " << port << " is inherited";
    }
}

TEST_F (Lifecycle, InstancesComeAndGoOnAnotherThreadWhileTheLinkRuns)
{
    // The timer runs as in a host, replies keep arriving, and the host adds and removes
    // instances on its own thread; the last removal takes the controller with it each round.
    std::atomic<bool> done { false };
    std::atomic<int> rounds { 0 };

    std::thread hostThread ([&]
    {
        for (int round = 0; round < 25; ++round)
        {
            auto first = std::make_unique<CPlugin>();
            auto second = std::make_unique<CPlugin>();
            hostSet (*first, kParam_width, 0.1f * static_cast<float> (round % 10));
            hostSet (*second, kParam_x, 0.05f * static_cast<float> (round % 20));
            std::this_thread::sleep_for (std::chrono::milliseconds (round % 3 == 0 ? 60 : 7));
            second.reset();
            std::this_thread::sleep_for (std::chrono::milliseconds (round % 4));
            first.reset();
            ++rounds;
        }
        done = true;
    });

    int slice = 0;
    pumpUntil (done, 60, [&]
    {
        if (++slice % 2 == 0)
        {
            peer().send ("/vh/plugin/obj/render/width/1", { Arg::f (1.5f) });
            peer().send ("/vh/plugin/obj/pos/xyz/2", { Arg::f (0.2f), Arg::f (0.3f), Arg::f (0.4f) });
            peer().send ("/vh/plugin/master/on", { Arg::i (slice % 4 == 0 ? 1 : 0) });
        }
    });
    hostThread.join();

    EXPECT_EQ (rounds.load(), 25);
    pump (50);   // replies still queued for a controller that is gone
    EXPECT_EQ (controller(), nullptr);
    const auto traffic = peer().sync();
    EXPECT_FALSE (traffic.empty()) << "the running link sent nothing";

    // A new instance gets a new, working link.
    auto& a = add (5);
    hostSet (a, kParam_width, 0.7f);
    EXPECT_FALSE (withPath (tick(), "/vh/plugin/obj/render/width/5").empty());
}

TEST_F (Lifecycle, CreationRacingTheLastRemovalNeverJoinsADyingController)
{
    for (int round = 0; round < 40; ++round)
    {
        auto last = std::make_unique<CPlugin>();
        std::unique_ptr<CPlugin> made;
        std::latch start (2);
        std::atomic<int> finished { 0 };
        std::atomic<bool> done { false };

        std::thread remover ([&] { start.arrive_and_wait(); last.reset(); if (++finished == 2) done = true; });
        std::thread creator ([&] { start.arrive_and_wait(); made = std::make_unique<CPlugin>(); if (++finished == 2) done = true; });
        pumpUntil (done, 30);
        remover.join();
        creator.join();

        ASSERT_NE (controller(), nullptr) << "round " << round;
        EXPECT_EQ (controller()->getTimerInterval(), CController::kTimerIntervalMs) << "round " << round;
        {
            const juce::ScopedLock sl (controller()->m_lock);
            ASSERT_EQ (controller()->m_plugins.size(), 1) << "round " << round;
            EXPECT_EQ (controller()->m_plugins.getFirst(), made.get()) << "round " << round;
        }

        // The link it joined is alive: its running timer sends the instance's change.
        hostSet (*made, kParam_width, 0.01f * static_cast<float> (round + 1));
        const auto path = "/vh/plugin/obj/render/width/" + std::to_string (static_cast<int> (made->m_objectNumber->get()));
        bool seen = false;
        for (int k = 0; k < 120 && ! seen; ++k)
        {
            pump (25);
            seen = ! withPath (peer().sync(), path).empty();
        }
        EXPECT_TRUE (seen) << "round " << round << ": the link did not send";

        made.reset();
        EXPECT_EQ (controller(), nullptr);
    }
}
