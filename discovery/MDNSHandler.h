#pragma once

#include "discovery/mdns/mdns.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace varnholt
{
class CController;
}

// One renderer found by a search.
struct RemoteInfo
{
    std::string name;   // the DNS-SD instance label
    std::string ip;     // dotted IPv4 address the answer came from
    int32_t port = 0;   // the port of its SRV record
};

// Announces the plug-in on the local network and finds renderers. A run-loop thread keeps the
// mDNS responder up (restarting it when the host's address changes); a search asks the network
// for renderers and hands the first one to the controller. A search runs when the handler starts
// and whenever a renderer asks the network for plug-ins.
//
// Renderers and questions are read from the lines the mDNS library logs.
class MDNSHandler
{
public:
    explicit MDNSHandler (varnholt::CController& controller);
    ~MDNSHandler();

    MDNSHandler (const MDNSHandler&) = delete;
    MDNSHandler& operator= (const MDNSHandler&) = delete;

    void setHostname (const std::string& hostname);
    void setPort (uint16_t port);
    void setServiceName (const std::string& serviceName);

    // Starts the responder with the settings given; the first call also starts the threads, so
    // nothing searches or hands over before the controller has configured the handler.
    void requestStart();

    // Ends the run loop and every hand-over; raised by the controller before it goes away.
    void requestQuit();

    // The log sink's work: a renderer's question for plug-ins starts a search; an SRV answer of
    // a renderer to a search is collected, when the search's own reading logs it.
    void takeLogLine (const std::string& line);

    // The service types: the renderers' one that a search asks for, and the plug-ins' one that
    // the responder answers for and a renderer's question names.
    static constexpr const char* kRendererService = "_vhremote._udp.local.";
    static constexpr const char* kPluginService = "_vhplugin._udp.local.";

    // A search ends after the library's wait without a datagram, and in any case after
    // kSearchLimitMs, so a flood of datagrams can't keep it (and a responder waiting for it)
    // busy. The run loop turns every kRunLoopTurnMs and lets a new host address settle for
    // kAddressSettleMs before the responder announces it.
    static constexpr int kSearchLimitMs = 3000;
    static constexpr int kRunLoopTurnMs = 100;
    static constexpr int kAddressSettleMs = 5000;

    // A question line "a.b.c.d:port : question PTR <name>", giving the name asked for.
    static std::optional<std::string> ParseQuestionLine (std::string_view line);

    // An SRV line of a renderer: "a.b.c.d:pppp : additional <label>._vhremote._udp.local. SRV
    // <target> priority <n> weight <n> port <port>".
    static std::optional<RemoteInfo> ParseRendererLine (std::string_view line);

    // The 38-byte question for the renderers' service; with unicast set, the answer is asked
    // for by unicast.
    static std::vector<uint8_t> BuildQuery (bool unicast);

    // Hands one received datagram's records to the library's record lines. The search reads only
    // datagrams whose source is on the link they arrived on (mdns_cpp::LinkAddresses).
    static void ReadReply (int sock, const void* data, size_t size, const sockaddr* from, size_t addrlen);

    // How many renderers one search keeps at most.
    static constexpr size_t kMaxRemotes = 32;

    std::vector<RemoteInfo> TakeRemotesForTest();

private:
    void findRemotes();
    void runLoop();
    void stopResponder();
    void startResponder();
    void startSearch();
    void handOver();
    bool sleepUnlessQuitting (int milliseconds);

    varnholt::CController& m_controller;

    std::string m_hostname;
    uint16_t m_port = 0;
    std::string m_serviceName;
    std::vector<RemoteInfo> m_remotes;
    std::once_flag m_onceFlag;
    std::thread m_findThread;
    std::thread m_runThread;
    std::mutex m_mutex;
    std::mutex m_findThreadMutex;   // the responder thread and the destructor both touch m_findThread
    std::atomic<bool> m_startRequested { false };
    std::atomic<bool> m_stopRequested { false };
    std::atomic<bool> m_restartRequested { false };
    std::atomic<bool> m_quitRequested { false };
    std::atomic<bool> m_searching { false };
    // The thread of the search that is reading answers, under m_mutex; none outside its reading.
    std::thread::id m_readingSearch;
    mdns_cpp::mDNS m_mdns;
};

// The host's IPv4 address as four octets, first octet first; 127.0.0.1 when it can't be read.
std::array<int, 4> getIPAddresses();
