#include "discovery/MDNSHandler.h"

#include "discovery/mdns/logger.h"
#include "discovery/mdns/query_callback.h"
#include "discovery/mdns/wire.h"
#include "link/Controller.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

using namespace mdns_cpp;

namespace
{

// Reads up to `maxDigits` decimal digits; false without any, or when the value exceeds `limit`.
bool readNumber (std::string_view text, size_t& pos, size_t maxDigits, uint32_t limit, uint32_t& value)
{
    value = 0;
    size_t digits = 0;

    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
    {
        if (++digits > maxDigits)
            return false;
        value = value * 10 + static_cast<uint32_t> (text[pos++] - '0');
    }

    return digits > 0 && value <= limit;
}

bool readLiteral (std::string_view text, size_t& pos, std::string_view literal)
{
    if (text.substr (pos, literal.size()) != literal)
        return false;
    pos += literal.size();
    return true;
}

// "a.b.c.d" at the start of a line, read by the link's own address rule; the canonical text is
// returned.
std::optional<std::string> readIPv4 (std::string_view text, size_t& pos)
{
    const auto end = std::min (text.find_first_not_of ("0123456789.", pos), text.size());
    auto address = varnholt::CanonicalIPv4 (text.substr (pos, end - pos));
    if (address)
        pos = end;
    return address;
}

std::string_view withoutNewline (std::string_view line)
{
    if (! line.empty() && line.back() == '\n')
        line.remove_suffix (1);
    return line;
}

void closeSockets (const std::vector<int>& sockets)
{
    for (auto s : sockets)
        ::close (s);
}


} // namespace

//==============================================================================
MDNSHandler::MDNSHandler (varnholt::CController& controller)
    : m_controller (controller)
{
    Logger::setLoggerSink ([this] (const std::string& line) { takeLogLine (line); });
}

MDNSHandler::~MDNSHandler()
{
    Logger::setLoggerSink ([] (const std::string&) {});
    requestQuit();

    if (m_runThread.joinable())
        m_runThread.join();

    // The responder has ended with the run loop, so nothing starts another search now.
    const std::lock_guard<std::mutex> guard (m_findThreadMutex);
    if (m_findThread.joinable())
        m_findThread.join();
}

void MDNSHandler::setHostname (const std::string& hostname)
{
    const std::lock_guard<std::mutex> lock (m_mutex);
    m_hostname = hostname;
}

void MDNSHandler::setPort (uint16_t port)
{
    const std::lock_guard<std::mutex> lock (m_mutex);
    m_port = port;
}

void MDNSHandler::setServiceName (const std::string& serviceName)
{
    const std::lock_guard<std::mutex> lock (m_mutex);
    m_serviceName = serviceName;
}

void MDNSHandler::requestStart()
{
    m_startRequested = true;

    std::call_once (m_onceFlag, [this]
    {
        {
            const std::lock_guard<std::mutex> guard (m_findThreadMutex);
            m_findThread = std::thread ([this] { findRemotes(); });
        }
        m_runThread = std::thread ([this] { runLoop(); });
    });
}

void MDNSHandler::requestQuit()
{
    // Under the mutex: a hand-over under way finishes first, and none begins afterwards.
    const std::lock_guard<std::mutex> lock (m_mutex);
    m_quitRequested = true;
}

//==============================================================================
void MDNSHandler::takeLogLine (const std::string& line)
{
    if (const auto asked = ParseQuestionLine (line))
    {
        // A renderer looking for plug-ins: look for renderers in turn.
        if (*asked == kPluginService)
            startSearch();
        return;
    }

    if (! m_searching)
        return;

    if (auto remote = ParseRendererLine (line))
    {
        const std::lock_guard<std::mutex> lock (m_mutex);

        // The answers to a search's question are logged by its own reading, on its own thread.
        // A line from any other thread (the responder's stop reading replies to its wake-up
        // query), or one after the hand-over, answered no search: taken, it would become the
        // target at the next search, answered or not.
        if (std::this_thread::get_id() != m_readingSearch)
            return;

        const auto known = std::any_of (m_remotes.begin(), m_remotes.end(), [&] (const RemoteInfo& r)
        {
            return r.name == remote->name && r.ip == remote->ip && r.port == remote->port;
        });

        if (! known && m_remotes.size() < kMaxRemotes)
            m_remotes.push_back (std::move (*remote));
    }
}

std::optional<std::string> MDNSHandler::ParseQuestionLine (std::string_view line)
{
    line = withoutNewline (line);
    size_t pos = 0;
    uint32_t port;

    if (! readIPv4 (line, pos) || ! readLiteral (line, pos, ":") || ! readNumber (line, pos, 5, 65535, port)
        || ! readLiteral (line, pos, " : question PTR "))
        return std::nullopt;

    return std::string (line.substr (pos));
}

std::optional<RemoteInfo> MDNSHandler::ParseRendererLine (std::string_view line)
{
    line = withoutNewline (line);
    size_t pos = 0;
    uint32_t senderPort;

    auto ip = readIPv4 (line, pos);
    if (! ip || ! readLiteral (line, pos, ":"))
        return std::nullopt;

    // Answers come from the mDNS port; a sender with a five-digit port is some other client.
    const auto portStart = pos;
    if (! readNumber (line, pos, 4, 9999, senderPort) || pos - portStart != 4)
        return std::nullopt;

    if (! readLiteral (line, pos, " : additional "))
        return std::nullopt;

    static const std::string ownerEnd = std::string (".") + kRendererService + " SRV ";
    const auto end = line.find (ownerEnd, pos);
    if (end == std::string_view::npos || end == pos)
        return std::nullopt;

    const auto name = line.substr (pos, end - pos);

    static constexpr std::string_view portTag { " port " };
    const auto tag = line.rfind (portTag);
    if (tag == std::string_view::npos || tag < end + ownerEnd.size())
        return std::nullopt;

    pos = tag + portTag.size();
    uint32_t port;
    if (! readNumber (line, pos, 5, 65535, port) || pos != line.size())
        return std::nullopt;

    return RemoteInfo { std::string (name), std::move (*ip), static_cast<int32_t> (port) };
}

std::vector<uint8_t> MDNSHandler::BuildQuery (bool unicast)
{
    std::vector<uint8_t> query (12 + 64, 0);
    query[5] = 1;   // one question

    size_t offset = 12;
    mdns_name_write (query.data(), query.size(), &offset, kRendererService, true);

    const uint16_t qclass = unicast ? (MDNS_CLASS_IN | MDNS_CLASS_TOP_BIT) : MDNS_CLASS_IN;
    const uint8_t tail[] = { 0, MDNS_TYPE_PTR, static_cast<uint8_t> (qclass >> 8), static_cast<uint8_t> (qclass & 0xFF) };
    std::copy (std::begin (tail), std::end (tail), query.begin() + static_cast<long> (offset));
    query.resize (offset + sizeof (tail));
    return query;
}

void MDNSHandler::ReadReply (int sock, const void* data, size_t size, const sockaddr* from, size_t addrlen)
{
    if (size < MDNS_HEADER_SIZE)
        return;

    const auto* bytes = static_cast<const uint8_t*> (data);
    auto word = [bytes] (size_t at) { return static_cast<uint16_t> ((bytes[at] << 8) | bytes[at + 1]); };

    const auto queryId = word (0);
    const auto questions = word (4);
    const size_t counts[3] = { word (6), word (8), word (10) };

    if (questions > 1)
        return;

    size_t offset = MDNS_HEADER_SIZE;
    if (questions == 1)
    {
        if (! mdns_name_skip (data, size, &offset) || offset + 4 > size)
            return;
        offset += 4;
    }

    const mdns_entry_type sections[3] = { MDNS_ENTRY_ANSWER, MDNS_ENTRY_AUTHORITY, MDNS_ENTRY_ADDITIONAL };
    for (int i = 0; i < 3; ++i)
        mdns_records_parse (sock, from, addrlen, data, size, &offset, sections[i], queryId, counts[i], query_callback, nullptr);
}

//==============================================================================
void MDNSHandler::startSearch()
{
    const std::lock_guard<std::mutex> guard (m_findThreadMutex);

    if (m_quitRequested)
        return;

    // Waits for a search under way: its renderers are handed over before the next one asks.
    if (m_findThread.joinable())
        m_findThread.join();

    // The wait may have outlasted a quit request; a search now would ask the network during
    // shutdown.
    if (m_quitRequested)
        return;

    m_findThread = std::thread ([this] { findRemotes(); });
}

void MDNSHandler::findRemotes()
{
    if (m_searching.exchange (true))
        return;

    std::vector<int> sockets (MDNS_MAX_CLIENT_SOCKETS, -1);
    const int opened = m_mdns.openClientSockets (sockets.data(), MDNS_MAX_CLIENT_SOCKETS, 0);
    sockets.resize (static_cast<size_t> (std::max (opened, 0)));

    if (sockets.empty())
    {
        LogMessage() << "Failed to open any client sockets" << "\n";

        const int fallback = mdns_socket_udp (AF_INET);
        sockaddr_in local {};
        local.sin_family = AF_INET;
        local.sin_port = htons (MDNS_PORT);
        local.sin_addr.s_addr = htonl (INADDR_LOOPBACK);

        if (fallback < 0 || ::connect (fallback, reinterpret_cast<sockaddr*> (&local), sizeof (local)) < 0)
        {
            LogMessage() << "Failed to bind to port " << MDNS_PORT << "\n";
            if (fallback >= 0)
                ::close (fallback);
            handOver();
            m_searching = false;
            return;
        }

        sockets.push_back (fallback);
    }

    // Answers count only from a source on the link they arrive on, as multicast DNS asks: anyone
    // further away could otherwise name the target of a live session.
    const auto links = LinkAddresses::current();
    for (auto s : sockets)
        mdns_socket_report_arrival (s);

    {
        const std::lock_guard<std::mutex> lock (m_mutex);
        m_remotes.clear();
        m_readingSearch = std::this_thread::get_id();
    }

    LogMessage() << "Opened " << static_cast<int> (sockets.size()) << " socket" << "s" << " for mDNS query\n";
    LogMessage() << "Sending mDNS query: " << kRendererService << "\n";

    for (auto s : sockets)
    {
        // A socket on the mDNS port itself gets multicast answers; any other asks for unicast.
        const auto query = BuildQuery (mdns_socket_port (s) != MDNS_PORT);
        if (const int error = mdns_multicast_send (s, query.data(), query.size()))
            LogMessage() << "Failed to send mDNS query: " << errorText (error) << "\n";
    }

    LogMessage() << "Reading mDNS query replies\n";

    std::vector<uint8_t> buffer (MDNS_RECEIVE_BUFFER_SIZE);
    std::vector<pollfd> fds;
    for (auto s : sockets)
        fds.push_back ({ s, POLLIN, 0 });

    using Clock = std::chrono::steady_clock;
    const auto limit = Clock::now() + std::chrono::milliseconds (kSearchLimitMs);
    auto silenceEnds = Clock::now() + std::chrono::milliseconds (MDNS_WAIT_MS);

    // Waits in short slices so that a quit request is seen at once.
    while (! m_quitRequested)
    {
        const auto now = Clock::now();
        const auto until = std::min (limit, silenceEnds);
        if (now >= until)
            break;

        const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (until - now).count();

        for (auto& f : fds)
            f.revents = 0;

        const int ready = mdns_poll (fds.data(), fds.size(), static_cast<int> (std::min<long long> (left + 1, kRunLoopTurnMs)));
        if (ready < 0)
            break;
        if (ready == 0)
            continue;

        silenceEnds = Clock::now() + std::chrono::milliseconds (MDNS_WAIT_MS);

        for (const auto& f : fds)
        {
            if ((f.revents & POLLIN) == 0)
                continue;

            sockaddr_storage from {};
            socklen_t fromLength = 0;
            unsigned arrival = 0;
            const auto received = mdns_receive_on (f.fd, buffer.data(), buffer.size(), &from, &fromLength, &arrival);
            const auto* sender = reinterpret_cast<const sockaddr*> (&from);

            if (received <= 0)
                continue;

            if (links.onLink (sender, arrival))
                ReadReply (f.fd, buffer.data(), static_cast<size_t> (received), sender, fromLength);
            else
                LogMessage() << "Ignored a reply from " << senderText (sender, fromLength) << ", off the link it came in on\n";
        }
    }

    closeSockets (sockets);
    LogMessage() << "Closed socket" << "s" << "\n";

    handOver();
    m_searching = false;
}

void MDNSHandler::handOver()
{
    const std::lock_guard<std::mutex> lock (m_mutex);
    m_readingSearch = {};

    // The controller owns this handler and raises the quit request, under m_mutex, before it
    // goes away: while the request is down, it is alive. No creation lock is taken here.
    if (! m_quitRequested)
    {
        using namespace varnholt;
        const juce::ScopedLock sl (m_controller.m_lock);
        m_controller.SetParameterChanged (kSource_controller, kChange_ip_address);

        // Only a renderer that answered moves the link. Without one the address stays what the
        // user typed, the project restored or an earlier search found: a quiet network must not
        // silently send a live session to the wrong place.
        if (! m_remotes.empty())
        {
            const auto& first = m_remotes.front();
            m_controller.SetIpAddress (kSource_controller, juce::String::fromUTF8 (first.ip.c_str()));
            m_controller.SetPort (kSource_controller, first.port);
        }
    }

    m_remotes.clear();
}

std::vector<RemoteInfo> MDNSHandler::TakeRemotesForTest()
{
    const std::lock_guard<std::mutex> lock (m_mutex);
    return std::exchange (m_remotes, {});
}

//==============================================================================
bool MDNSHandler::sleepUnlessQuitting (int milliseconds)
{
    for (int slept = 0; slept < milliseconds && ! m_quitRequested; slept += kRunLoopTurnMs)
        std::this_thread::sleep_for (std::chrono::milliseconds (std::min (kRunLoopTurnMs, milliseconds - slept)));
    return ! m_quitRequested;
}

void MDNSHandler::startResponder()
{
    {
        const std::lock_guard<std::mutex> lock (m_mutex);
        m_mdns.setServiceHostname (m_hostname);
        m_mdns.setServicePort (m_port);
        m_mdns.setServiceName (m_serviceName);
    }
    m_mdns.startService();
}

void MDNSHandler::stopResponder()
{
    m_mdns.stopService();
}

void MDNSHandler::runLoop()
{
    auto reference = getIPAddresses();

    for (bool quitting = false; ! quitting;)
    {
        if (m_startRequested.exchange (false) && ! m_mdns.isServiceRunning())
            startResponder();

        if (m_stopRequested.exchange (false))
            stopResponder();

        if (m_restartRequested.exchange (false))
        {
            stopResponder();
            startResponder();
        }

        if (m_quitRequested)
        {
            quitting = true;
            stopResponder();
            break;
        }

        std::this_thread::sleep_for (std::chrono::milliseconds (kRunLoopTurnMs));

        const auto current = getIPAddresses();
        if (current != reference)
        {
            // Let the new address settle before the responder announces it.
            sleepUnlessQuitting (kAddressSettleMs);
            m_restartRequested = true;
            reference = current;
        }
    }
}

std::array<int, 4> getIPAddresses()
{
    const std::array<int, 4> loopback { 127, 0, 0, 1 };

    char name[256] = {};
    if (::gethostname (name, sizeof (name) - 1) < 0)
        return loopback;

    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result = nullptr;

    if (::getaddrinfo (name, nullptr, &hints, &result) != 0 || result == nullptr)
        return loopback;

    const auto* address = reinterpret_cast<const sockaddr_in*> (result->ai_addr);
    const auto host = ntohl (address->sin_addr.s_addr);
    ::freeaddrinfo (result);

    return { static_cast<int> ((host >> 24) & 0xFF), static_cast<int> ((host >> 16) & 0xFF),
             static_cast<int> ((host >> 8) & 0xFF), static_cast<int> (host & 0xFF) };
}
