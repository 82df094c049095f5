#pragma once

// Helpers for the tests that run the discovery handler inside a controller:
// bounded waits that keep the message thread turning, the controller's
// state read under its lock, and a stand-in renderer on the mDNS port that
// counts the plug-in's questions and answers them with datagrams the test
// gives it. Everything here is meant for a private network namespace.

#include "tests/common/Interfaces.h"
#include "discovery/MDNSHandler.h"
#include "discovery/mdns/wire.h"
#include "link/Controller.h"
#include "processor/PluginProcessor.h"

#include "TestSupport.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace handler_test {

using mdns_test::Bytes;
using mdns_test::Datagram;
using test_common::onlyLoopbackExists;

// Runs the message thread for a while: the controller's timer and the
// instances' deliveries need it.
inline void pump(int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(milliseconds);
}

// Polls a condition in 20 ms turns, at most `turns` times.
inline bool waitUntil(const std::function<bool()>& condition, int turns = 400)
{
    for (int turn = 0; turn < turns; ++turn)
    {
        if (condition())
            return true;
        pump(20);
    }
    return condition();
}

inline varnholt::CController& controller()
{
    return *varnholt::CController::m_singleton;
}

inline std::string controllerAddress()
{
    auto& c = controller();
    const juce::ScopedLock sl(c.m_lock);
    return c.m_ipAddress.toStdString();
}

inline std::pair<int, int> controllerPorts()
{
    auto& c = controller();
    const juce::ScopedLock sl(c.m_lock);
    return {c.m_portOut, c.m_portIn};
}

// True once since the last call when a hand-over told the instance about the
// renderer's address (the editor's set sees every change of the link).
inline bool tookAddressChange(varnholt::CPlugin& plugin)
{
    return plugin.m_messageHandler.popParameterChanged(varnholt::kSource_editor, varnholt::kChange_ip_address);
}

inline bool isRendererQuery(const uint8_t* data, size_t size)
{
    const Bytes question = Datagram().labels({"_vhremote", "_udp", "local"}).u16(12);
    return size == 12 + question.size() + 2 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[4] == 0 && data[5] == 1 &&
           std::equal(question.begin(), question.end(), data + 12);
}

// A datagram to send to whoever asked, from a given local address and port.
struct Reply
{
    std::string from;
    uint16_t port;
    Bytes datagram;
};

// What the stand-in does for one query: the replies at once, then `flood`
// more datagrams of no interest 100 ms apart, which keep the search busy.
struct Answer
{
    std::vector<Reply> replies;
    int flood = 0;
};

// A peer on the mDNS port of the namespace. It hears every query for the
// renderers' service type and answers it with the next Answer given.
class StandInRenderer
{
public:
    explicit StandInRenderer(std::vector<Answer> answers = {}) : answers_(std::move(answers))
    {
        sockaddr_in any = mdns_test::ipv4Sender("0.0.0.0", mdns_cpp::MDNS_PORT);
        listener_ = mdns_cpp::mdns_socket_open_ipv4(&any);
        thread_ = std::thread([this] { run(); });
    }

    ~StandInRenderer()
    {
        stop_ = true;
        thread_.join();
        if (listener_ >= 0)
            ::close(listener_);
    }

    bool listening() const { return listener_ >= 0; }
    int queries() const { return queries_; }
    int floodSent() const { return floodSent_; }
    int answered() const { return answered_; }

    Bytes firstQuery() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return firstQuery_;
    }

    // A question from an ephemeral port to the mDNS group, as a renderer
    // asks; sent from `from` when given.
    static void ask(const Bytes& question, const char* from = nullptr)
    {
        const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (sock < 0)
            return;
        if (from)
        {
            sockaddr_in local = mdns_test::ipv4Sender(from, 0);
            ::bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof(local));
        }
        const sockaddr_in group = mdns_test::ipv4Sender("224.0.0.251", mdns_cpp::MDNS_PORT);
        ::sendto(sock, question.data(), question.size(), 0, reinterpret_cast<const sockaddr*>(&group),
                 sizeof(group));
        ::close(sock);
    }

private:
    static void sendFrom(const std::string& address, uint16_t port, const Bytes& datagram, const sockaddr_storage& to,
                         socklen_t toLength)
    {
        const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
        if (sock < 0)
            return;
        const int on = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        const sockaddr_in local = mdns_test::ipv4Sender(address.c_str(), port);
        if (::bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) == 0)
            ::sendto(sock, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), toLength);
        ::close(sock);
    }

    void run()
    {
        using Clock = std::chrono::steady_clock;
        sockaddr_storage floodTo{};
        socklen_t floodToLength = 0;
        int floodLeft = 0;
        auto nextFlood = Clock::now();
        // At most 10 minutes of 20 ms turns: the test ends far sooner.
        for (int turn = 0; turn < 30000 && !stop_ && listener_ >= 0; ++turn)
        {
            if (floodLeft > 0 && Clock::now() >= nextFlood)
            {
                sendFrom("127.0.0.8", 5308, flood(), floodTo, floodToLength);
                --floodLeft;
                ++floodSent_;
                nextFlood = Clock::now() + std::chrono::milliseconds(100);
            }

            pollfd fd{listener_, POLLIN, 0};
            if (::poll(&fd, 1, 20) <= 0)
                continue;
            uint8_t buffer[2048];
            sockaddr_storage from{};
            socklen_t fromLength = sizeof(from);
            const ssize_t received = ::recvfrom(listener_, buffer, sizeof(buffer), 0,
                                                reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (received <= 0 || !isRendererQuery(buffer, static_cast<size_t>(received)))
                continue;

            const int index = queries_;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (index == 0)
                    firstQuery_.assign(buffer, buffer + received);
            }
            if (static_cast<size_t>(index) < answers_.size())
            {
                const auto& answer = answers_[static_cast<size_t>(index)];
                for (const auto& reply : answer.replies)
                    sendFrom(reply.from, reply.port, reply.datagram, from, fromLength);
                floodTo = from;
                floodToLength = fromLength;
                floodLeft = answer.flood;
                nextFlood = Clock::now() + std::chrono::milliseconds(100);
                ++answered_;
            }
            ++queries_;
        }
    }

    // An address record of some other host: a datagram, nothing more.
    static Bytes flood()
    {
        return Datagram().header(0, 0x8400, 0, 0, 0, 1).labels({"other", "local"}).u16(1).u16(1).u32(10).u16(4).raw(
            {10, 9, 9, 9});
    }

    std::vector<Answer> answers_;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> queries_{0};
    std::atomic<int> floodSent_{0};
    std::atomic<int> answered_{0};
    mutable std::mutex mutex_;
    Bytes firstQuery_;
    std::thread thread_;
};

// A renderer's reply to the query: the question echoed, the PTR to the
// instance and the instance's SRV in the given section.
inline Bytes rendererReply(const std::string& instance, uint16_t port, mdns_cpp::mdns_entry_type srvSection,
                           const std::string& type = "_vhremote")
{
    Datagram d;
    const bool additional = srvSection == mdns_cpp::MDNS_ENTRY_ADDITIONAL;
    d.header(0, 0x8400, 1, additional ? 1 : 2, 0, additional ? 1 : 0)
        .labels({type, "_udp", "local"}).u16(12).u16(1);  // 12..(12 + type + 13)
    const auto typeLength = static_cast<uint16_t>(type.size());
    const auto localOffset = static_cast<uint16_t>(12 + 1 + typeLength + 5);
    d.pointer(12).u16(12).u16(1).u32(10).u16(static_cast<uint16_t>(1 + instance.size() + 2));
    const auto instanceOffset = static_cast<uint16_t>(d.size());
    d.labels({instance}, false).pointer(12);
    d.pointer(instanceOffset).u16(33).u16(0x8001).u32(10).u16(static_cast<uint16_t>(6 + 1 + instance.size() + 2))
        .u16(0).u16(0).u16(port).labels({instance}, false).pointer(localOffset);
    return d;
}

// One reply that names many renderers in its additional section.
inline Bytes manyRenderers(const std::vector<std::string>& instances, uint16_t port)
{
    Datagram d;
    d.header(0, 0x8400, 0, 0, 0, static_cast<uint16_t>(instances.size()));
    size_t typeOffset = 0;
    for (const auto& instance : instances)
    {
        d.u8(static_cast<uint8_t>(instance.size())).text(instance);
        if (typeOffset == 0)
        {
            typeOffset = d.size();
            d.labels({"_vhremote", "_udp", "local"});
        }
        else
        {
            d.pointer(static_cast<uint16_t>(typeOffset));
        }
        d.u16(33).u16(1).u32(10).u16(8).u16(0).u16(0).u16(port).pointer(static_cast<uint16_t>(typeOffset + 15));
    }
    return d;
}

// A question as a renderer's stack asks it; its identifier sets it apart from
// the plug-in's own questions, which carry 0.
inline Bytes ptrQuestion(std::initializer_list<std::string_view> name, uint16_t type = 12, uint16_t rclass = 1)
{
    return Datagram().header(0x7A7A, 0, 1).question(name, type, rclass);
}

}  // namespace handler_test
