// The responder on real sockets. Runs only inside the private network
// namespace that run_in_netns.sh makes (loopback only), never on a machine's
// real interfaces. Every wait is bounded in count.

#include "tests/common/Interfaces.h"
#include "discovery/mdns/mdns.h"
#include "discovery/mdns/wire.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

extern char** environ;

using namespace mdns_cpp;
using mdns_test::Bytes;
using mdns_test::Datagram;

namespace {

const std::string kService = "_vhplugin._udp.local.";

// Polls a condition up to `turns` times, 50 ms apart.
bool eventually(const std::function<bool()>& condition, int turns = 200)
{
    for (int turn = 0; turn < turns; ++turn)
    {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

size_t countLines(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

// Reads datagrams for a bounded number of waits and returns the first that
// is a response (our own looped-back questions are passed over).
std::optional<Bytes> receiveResponse(int sock)
{
    for (int turn = 0; turn < 20; ++turn)
    {
        pollfd fd{sock, POLLIN, 0};
        if (poll(&fd, 1, 250) <= 0)
            continue;
        uint8_t buffer[2048];
        const ssize_t received = recv(sock, buffer, sizeof(buffer), 0);
        if (received >= 12 && (buffer[2] & 0x80))
            return Bytes(buffer, buffer + received);
    }
    return std::nullopt;
}

class MdnsNetwork : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test_common::onlyLoopbackExists()) << "run this program through run_in_netns.sh";
    }

    void startStudio()
    {
        responder.setServiceHostname("studio");
        responder.setServiceName(kService);
        responder.setServicePort(5342);
        responder.startService();
        ASSERT_TRUE(eventually([&] { return log.contains("Hostname: studio\n"); }));
    }

    mdns_test::LogCapture log;
    mDNS responder;
};

}  // namespace

TEST_F(MdnsNetwork, ClientSocketsOnePerInterfaceAddress)
{
    mDNS object;
    int sockets[32];
    const int count = object.openClientSockets(sockets, 32, 0);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(log.take(), (std::vector<std::string>{"Local IPv4 address: 192.0.2.1\n",
                                                     "Local IPv6 address: 2001:db8::1\n"}));
    for (int i = 0; i < count; ++i)
    {
        EXPECT_TRUE(fcntl(sockets[i], F_GETFL) & O_NONBLOCK);
        sockaddr_storage own{};
        socklen_t length = sizeof(own);
        ASSERT_EQ(getsockname(sockets[i], reinterpret_cast<sockaddr*>(&own), &length), 0);
        const uint16_t port = own.ss_family == AF_INET ? reinterpret_cast<sockaddr_in&>(own).sin_port
                                                       : reinterpret_cast<sockaddr_in6&>(own).sin6_port;
        EXPECT_NE(port, 0) << "bound to an ephemeral port";
        close(sockets[i]);
    }

    EXPECT_EQ(object.openClientSockets(nullptr, 0, 0), 0);
    EXPECT_EQ(log.take(), (std::vector<std::string>{"Local IPv4 address: 192.0.2.1\n",
                                                     "Local IPv6 address: 2001:db8::1\n"}));
}

TEST_F(MdnsNetwork, ResponderAnswersQuestionsOnTheMdnsPort)
{
    startStudio();
    const auto lines = log.lines();
    EXPECT_EQ(countLines(lines, "Opened 2 sockets for mDNS service\n"), 1u);
    EXPECT_EQ(countLines(lines, "Service mDNS: " + kService + ":5342\n"), 1u);

    // A question with the unicast bit, from an ephemeral port: the answer
    // comes back to that port with the question's id.
    sockaddr_in client = mdns_test::ipv4Sender("192.0.2.1", 0);
    const int unicastSocket = mdns_socket_open_ipv4(&client);
    ASSERT_GE(unicastSocket, 0);
    const Bytes question = Datagram().header(0x4242, 0, 1).question({"_vhplugin", "_udp", "local"}, 12, 0x8001);
    mdns_multicast_send(unicastSocket, question.data(), question.size());
    const auto unicastAnswer = receiveResponse(unicastSocket);
    close(unicastSocket);
    ASSERT_TRUE(unicastAnswer.has_value());
    EXPECT_EQ((*unicastAnswer)[0], 0x42);
    EXPECT_EQ((*unicastAnswer)[1], 0x42);
    EXPECT_EQ((*unicastAnswer)[5], 1) << "the question is echoed";

    // Without the bit the answer goes to the group, where a socket on the
    // mDNS port hears it.
    sockaddr_in listener = mdns_test::ipv4Sender("0.0.0.0", 5353);
    const int multicastSocket = mdns_socket_open_ipv4(&listener);
    ASSERT_GE(multicastSocket, 0);
    const Bytes multicastQuestion = Datagram().header(0x4242, 0, 1).question({"_vhplugin", "_udp", "local"}, 12, 1);
    mdns_multicast_send(multicastSocket, multicastQuestion.data(), multicastQuestion.size());
    const auto multicastAnswer = receiveResponse(multicastSocket);
    close(multicastSocket);
    ASSERT_TRUE(multicastAnswer.has_value());
    EXPECT_EQ((*multicastAnswer)[0], 0);
    EXPECT_EQ((*multicastAnswer)[5], 0) << "no question in a multicast answer";
    // Its A record carries the first interface address, 192.0.2.1.
    const Bytes aRecord = Datagram().u16(1).u16(1).u32(60).u16(4).raw({192, 0, 2, 1});
    EXPECT_NE(std::search(multicastAnswer->begin(), multicastAnswer->end(), aRecord.begin(), aRecord.end()),
              multicastAnswer->end());

    EXPECT_TRUE(eventually([&] { return log.contains("(unicast)\n") && log.contains("(multicast)\n"); }));
    responder.stopService();
    EXPECT_FALSE(responder.isServiceRunning());
}

TEST_F(MdnsNetwork, StopSendsTheMetaQueryAndCanBeRestarted)
{
    for (int round = 0; round < 2; ++round)
    {
        startStudio();
        EXPECT_TRUE(responder.isServiceRunning());
        log.take();
        responder.stopService();
        EXPECT_FALSE(responder.isServiceRunning());
        const auto lines = log.take();
        EXPECT_EQ(countLines(lines, "Opened 2 sockets for DNS-SD\n"), 1u);
        EXPECT_EQ(countLines(lines, "Sending DNS-SD discovery\n"), 1u);
        EXPECT_EQ(countLines(lines, "Reading DNS-SD replies\n"), 1u);
        EXPECT_EQ(countLines(lines, "Closed sockets\n"), 1u);
        EXPECT_EQ(countLines(lines, "Closed socket s\n"), 1u) << "the responder thread ended";
    }
    // Stopping a stopped responder returns at once.
    responder.stopService();
    EXPECT_FALSE(responder.isServiceRunning());
}

TEST_F(MdnsNetwork, AddressesRecordedWhileTheResponderStartsAndStops)
{
    // The discovery handler's search thread records interface addresses
    // while its run loop starts and stops the responder. Under
    // ThreadSanitizer this shows that the addresses are not raced over.
    responder.setServiceHostname("studio");
    responder.setServiceName(kService);
    std::atomic<bool> done{false};
    std::thread search([&] {
        for (int i = 0; i < 500 && !done; ++i)
            responder.openClientSockets(nullptr, 0, 0);
    });
    for (int round = 0; round < 5; ++round)
    {
        responder.startService();
        responder.stopService();
    }
    done = true;
    search.join();
    EXPECT_FALSE(responder.isServiceRunning());
}

TEST_F(MdnsNetwork, ZeroconfFindsAndResolvesTheResponder)
{
    startStudio();

    int output[2];
    ASSERT_EQ(pipe(output), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    const char* argv[] = {"/usr/bin/python3", MDNS_ZEROCONF_PEER, kService.c_str(), "5342", "studio.local.",
                          "192.0.2.1", "10", nullptr};
    pid_t peer = -1;
    const int spawned = posix_spawn(&peer, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    ASSERT_EQ(spawned, 0);

    std::string printed;
    int status = 0;
    bool ended = false;
    bool outputClosed = false;
    for (int turn = 0; turn < 600 && !ended; ++turn)  // the peer gives up by itself after 20 s
    {
        pollfd fd{output[0], POLLIN, 0};
        if (outputClosed)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        else if (poll(&fd, 1, 50) > 0)
        {
            char chunk[512];
            const ssize_t n = read(output[0], chunk, sizeof(chunk));
            if (n > 0)
                printed.append(chunk, static_cast<size_t>(n));
            else
                outputClosed = true;
        }
        ended = waitpid(peer, &status, WNOHANG) == peer;
    }
    if (!ended)
    {
        kill(peer, SIGKILL);
        waitpid(peer, &status, 0);
    }
    char rest[512];
    for (ssize_t n; ended && (n = read(output[0], rest, sizeof(rest))) > 0;)
        printed.append(rest, static_cast<size_t>(n));
    close(output[0]);
    std::cout << "zeroconf peer: " << printed;

    ASSERT_TRUE(ended) << "the peer did not end";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << printed;
    EXPECT_NE(printed.find("port=5342 server=studio.local. addresses=192.0.2.1"), std::string::npos) << printed;
    EXPECT_TRUE(log.contains(" : question PTR " + kService + "\n"));
    responder.stopService();
}

TEST(MdnsWithoutNetwork, ResponderWithoutSocketsStopsItselfAndRestarts)
{
    ASSERT_TRUE(test_common::onlyLoopbackExists()) << "run this program through run_in_netns.sh --loopback-down";
    mdns_test::LogCapture log;
    mDNS responder;

    int sockets[32];
    EXPECT_EQ(responder.openClientSockets(sockets, 32, 0), 0);
    EXPECT_TRUE(log.take().empty()) << "no interface address, no line";

    for (int round = 0; round < 2; ++round)
    {
        responder.startService();
        ASSERT_TRUE(eventually([&] { return !responder.isServiceRunning(); }));
        EXPECT_EQ(countLines(log.take(), "Error: Failed to open any client sockets\n"), 1u);
    }
    responder.stopService();

    responder.executeDiscovery();
    EXPECT_EQ(log.take(), std::vector<std::string>{"Failed to open any client sockets\n"});
}
