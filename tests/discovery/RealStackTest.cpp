// The plug-in against an independent mDNS stack on another host: this
// program is the plug-in's host, in the namespace that run_two_netns.sh made
// for it; python3-zeroconf plays the renderer in the namespace at the other
// end of the veth pair (renderer_peer.py), where a packet capture sees what
// the plug-in sends and an OSC listener takes the pings.
// Every wait is bounded in turns; nothing judges how long something took.

#include "HandlerSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>

extern char** environ;

using namespace handler_test;
using varnholt::CPlugin;

namespace {

const char* const kPluginAddress = "192.0.2.1";
const char* const kRendererAddress = "192.0.2.2";

// The renderer's side, driven line by line over its standard input and output.
class RendererPeer
{
public:
    // Unannounced, the renderer's stack runs but registers its renderer only
    // when asked to ("announce").
    bool start(bool announced)
    {
        const char* ns = std::getenv("VH_RENDERER_NETNS");
        if (ns == nullptr)
            return false;
        int in[2];
        int out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const char* argv[] = {"ip", "netns", "exec", ns, "/usr/bin/python3", VH_RENDERER_PEER, kRendererAddress,
                              "vhr0", announced ? nullptr : "--unannounced", nullptr};
        const int spawned = posix_spawnp(&pid_, "ip", &actions, nullptr, const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        toPeer_ = in[1];
        fromPeer_ = out[0];
        ::fcntl(fromPeer_, F_SETFL, O_NONBLOCK);
        if (spawned != 0)
        {
            pid_ = -1;
            return false;
        }
        const auto ready = readLine(1500);
        return ready.isObject() && static_cast<bool>(ready["ready"]);
    }

    ~RendererPeer()
    {
        if (toPeer_ >= 0)
            ::close(toPeer_);
        if (pid_ > 0)
        {
            int status = 0;
            bool ended = false;
            for (int turn = 0; turn < 250 && !ended; ++turn)
            {
                ended = ::waitpid(pid_, &status, WNOHANG) == pid_;
                if (!ended)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            if (!ended)
            {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
            }
        }
        if (fromPeer_ >= 0)
            ::close(fromPeer_);
    }

    // One command and its one line of answer; the message thread keeps
    // turning meanwhile.
    juce::var request(const juce::String& json, int turns = 1500)
    {
        const auto line = json + "\n";
        const auto text = line.toStdString();
        if (::write(toPeer_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            return {};
        return readLine(turns);
    }

    // The decoded mDNS datagrams that reached the renderer from `since` on.
    juce::Array<juce::var> mdns(int since, int* next = nullptr)
    {
        const auto answer = request("{\"cmd\": \"mdns\", \"since\": " + juce::String(since) + "}");
        if (next)
            *next = static_cast<int>(answer["next"]);
        if (const auto* items = answer["mdns"].getArray())
            return *items;
        return {};
    }

    juce::Array<juce::var> osc()
    {
        const auto answer = request("{\"cmd\": \"osc\", \"since\": 0}");
        if (const auto* items = answer["osc"].getArray())
            return *items;
        return {};
    }

private:
    juce::var readLine(int turns)
    {
        for (int turn = 0; turn < turns; ++turn)
        {
            const auto end = buffer_.find('\n');
            if (end != std::string::npos)
            {
                const auto line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return juce::JSON::parse(juce::String::fromUTF8(line.c_str()));
            }
            pollfd fd{fromPeer_, POLLIN, 0};
            if (::poll(&fd, 1, 0) > 0)
            {
                char chunk[65536];
                const ssize_t n = ::read(fromPeer_, chunk, sizeof(chunk));
                if (n > 0)
                {
                    buffer_.append(chunk, static_cast<size_t>(n));
                    continue;
                }
                if (n == 0)
                    return {};
            }
            pump(20);
        }
        return {};
    }

    pid_t pid_ = -1;
    int toPeer_ = -1;
    int fromPeer_ = -1;
    std::string buffer_;
};

bool isQuestionFor(const juce::var& datagram, const juce::String& name)
{
    const auto* questions = datagram["questions"].getArray();
    return static_cast<bool>(datagram["valid"]) && !static_cast<bool>(datagram["response"]) && questions &&
           questions->size() == 1 && (*questions)[0][0].toString() == name && static_cast<int>((*questions)[0][1]) == 12;
}

int countFrom(const juce::Array<juce::var>& datagrams, int family, const std::function<bool(const juce::var&)>& what)
{
    int n = 0;
    for (const auto& d : datagrams)
        n += (static_cast<int>(d["family"]) == family && what(d)) ? 1 : 0;
    return n;
}

juce::String describe(const juce::Array<juce::var>& datagrams)
{
    juce::String text;
    for (const auto& d : datagrams)
        text << juce::JSON::toString(d, true) << "\n";
    return text;
}

std::string hostName()
{
    char host[256] = {};
    ::gethostname(host, sizeof(host) - 1);
    return host;
}

class RealStack : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(std::getenv("VH_RENDERER_NETNS"), nullptr) << "run this program through run_two_netns.sh";
        ASSERT_TRUE(onlyPluginSideExists()) << "the namespace holds more than lo and the veth end";
        ASSERT_TRUE(peer.start(announcedAtStart())) << "the zeroconf renderer did not come up";
    }

    virtual bool announcedAtStart() const { return true; }

    static bool onlyPluginSideExists()
    {
        struct if_nameindex* interfaces = if_nameindex();
        if (!interfaces)
            return false;
        int count = 0;
        bool known = true;
        for (const struct if_nameindex* i = interfaces; i->if_index != 0; ++i, ++count)
            known = known && (std::string(i->if_name) == "lo" || std::string(i->if_name) == "vhp0");
        if_freenameindex(interfaces);
        return known && count == 2;
    }

    RendererPeer peer;
};

class RendererLater : public RealStack
{
protected:
    bool announcedAtStart() const override { return false; }
};

// The renderer's stack asks for plug-ins until the plug-in's next search
// for renderers reaches it (its responder may not listen yet at first).
bool askUntilTheNextSearch(RendererPeer& peer)
{
    const auto rendererQuery = [](const juce::var& d) { return isQuestionFor(d, "_vhremote._udp.local."); };
    const int before = countFrom(peer.mdns(0), 4, rendererQuery);
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        peer.request("{\"cmd\": \"ask\", \"name\": \"_vhplugin._udp.local.\"}");
        if (waitUntil([&] { return countFrom(peer.mdns(0), 4, rendererQuery) > before; }, 150))
            return true;
    }
    return false;
}

// The saved block with another renderer address: version, address and its
// zero byte, then the four numbers as they were.
juce::MemoryBlock withAddress(const juce::MemoryBlock& saved, const std::string& address)
{
    const auto* bytes = static_cast<const char*>(saved.getData());
    const size_t end = std::string(bytes + 4, saved.getSize() - 4).find('\0');
    juce::MemoryBlock block(bytes, 4);
    block.append(address.c_str(), address.size() + 1);
    block.append(bytes + 4 + end + 1, saved.getSize() - 4 - end - 1);
    return block;
}

std::string savedAddress(CPlugin& plugin)
{
    juce::MemoryBlock saved;
    plugin.getStateInformation(saved);
    if (saved.getSize() < 5)
        return {};
    return std::string(static_cast<const char*>(saved.getData()) + 4, saved.getSize() - 4).c_str();
}

// Counts the link's tempo datagrams (its keep-alive) that reach port 5341 of
// a loopback address in the plug-in's own namespace.
class KeepAliveListener
{
public:
    explicit KeepAliveListener(const char* address)
    {
        sock_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in local = mdns_test::ipv4Sender(address, 5341);
        if (sock_ >= 0 && ::bind(sock_, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0)
        {
            ::close(sock_);
            sock_ = -1;
        }
        if (sock_ >= 0)
            ::fcntl(sock_, F_SETFL, O_NONBLOCK);
    }

    ~KeepAliveListener()
    {
        if (sock_ >= 0)
            ::close(sock_);
    }

    bool bound() const { return sock_ >= 0; }

    // The tempo datagrams received since the last call.
    int take()
    {
        static const std::string path("/vh/plugin/tempo\0", 17);
        int count = 0;
        char buffer[512];
        for (ssize_t n; sock_ >= 0 && (n = ::recv(sock_, buffer, sizeof(buffer), 0)) > 0;)
            count += std::string(buffer, static_cast<size_t>(n)).rfind(path, 0) == 0 ? 1 : 0;
        return count;
    }

private:
    int sock_ = -1;
};

}  // namespace

TEST_F(RealStack, PluginAsksAtStartAndSendsOnlyTheMetaQueryAtStop)
{
    int mark = 0;
    peer.mdns(0, &mark);

    auto plugin = std::make_unique<CPlugin>();
    ASSERT_TRUE(waitUntil([] { return controllerAddress() == kRendererAddress; }, 500))
        << "the zeroconf renderer did not become the target";

    // Up to the hand-over the plug-in only asked for renderers: no
    // announcement of its own service.
    const auto atStart = peer.mdns(mark, &mark);
    const auto rendererQuery = [](const juce::var& d) { return isQuestionFor(d, "_vhremote._udp.local."); };
    EXPECT_GE(countFrom(atStart, 4, rendererQuery), 1) << describe(atStart);
    EXPECT_EQ(countFrom(atStart, 4, rendererQuery) + countFrom(atStart, 6, rendererQuery), atStart.size())
        << describe(atStart);

    plugin.reset();
    juce::Array<juce::var> atStop;
    waitUntil([&] {
        atStop = peer.mdns(mark);
        return atStop.size() >= 2;
    }, 100);
    pump(1000);
    atStop = peer.mdns(mark);

    // The responder's stop asks the meta query once from each interface
    // address, IPv4 and IPv6, and that is all: no goodbye.
    const auto metaQuery = [](const juce::var& d) { return isQuestionFor(d, "_services._dns-sd._udp.local."); };
    EXPECT_EQ(countFrom(atStop, 4, metaQuery), 1) << describe(atStop);
    EXPECT_EQ(countFrom(atStop, 6, metaQuery), 1) << describe(atStop);
    EXPECT_EQ(atStop.size(), 2) << describe(atStop);
    for (const auto& d : atStop)
        EXPECT_TRUE(d["family"] != juce::var(4) || d["src"].toString() == kPluginAddress) << describe(atStop);
}

TEST_F(RealStack, RendererAndPluginFindEachOther)
{
    auto plugin = std::make_unique<CPlugin>();
    ASSERT_TRUE(waitUntil([] { return controllerAddress() == kRendererAddress; }, 500));
    EXPECT_EQ(controllerPorts(), std::make_pair(5341, 5342)) << "the renderer announced port 9000";
    EXPECT_TRUE(waitUntil([&] { return tookAddressChange(*plugin); }));

    // The link's tempo message and its keep-alive pings reach the renderer's
    // port 5341 at its own address.
    int pings = 0;
    waitUntil([&] {
        pings = 0;
        for (const auto& m : peer.osc())
            pings += (m["path"].toString() == "/vh/plugin/tempo" && m["types"].toString() == ",f" &&
                      m["from"].toString() == kPluginAddress)
                         ? 1
                         : 0;
        return pings >= 2;
    }, 250);
    EXPECT_GE(pings, 2);

    // A renderer that asks for plug-ins makes the plug-in search again.
    const auto rendererQuery = [](const juce::var& d) { return isQuestionFor(d, "_vhremote._udp.local."); };
    const int before = countFrom(peer.mdns(0), 4, rendererQuery);
    EXPECT_GE(before, 1);
    EXPECT_EQ(peer.request("{\"cmd\": \"ask\", \"name\": \"_vhplugin._udp.local.\"}")["asked"].toString(),
              "_vhplugin._udp.local.");
    EXPECT_TRUE(waitUntil([&] { return countFrom(peer.mdns(0), 4, rendererQuery) > before; }, 250));
    EXPECT_TRUE(waitUntil([&] { return tookAddressChange(*plugin); }, 300)) << "no second hand-over";
    EXPECT_EQ(controllerAddress(), kRendererAddress);

    // The renderer's stack finds and resolves the plug-in's service.
    const auto resolved = peer.request("{\"cmd\": \"resolve\", \"type\": \"_vhplugin._udp.local.\", \"timeout\": 10}")["resolved"];
    ASSERT_TRUE(resolved.isObject()) << "zeroconf did not resolve the plug-in";
    const auto host = hostName();
    EXPECT_EQ(resolved["name"].toString().toStdString(), host + "._vhplugin._udp.local.");
    EXPECT_EQ(static_cast<int>(resolved["port"]), 5342);
    EXPECT_EQ(resolved["server"].toString().toStdString(), host + ".local.");
    const auto* addresses = resolved["addresses"].getArray();
    ASSERT_NE(addresses, nullptr);
    EXPECT_TRUE(addresses->contains(juce::var(kPluginAddress))) << juce::JSON::toString(resolved, true);
    EXPECT_TRUE(resolved["properties"].hasProperty("asdf")) << juce::JSON::toString(resolved, true);

    // The meta query lists the plug-in's service type.
    const auto types = peer.request("{\"cmd\": \"types\", \"timeout\": 3}")["types"];
    ASSERT_NE(types.getArray(), nullptr);
    EXPECT_TRUE(types.getArray()->contains(juce::var("_vhplugin._udp.local."))) << juce::JSON::toString(types, true);

    plugin.reset();
}

TEST_F(RendererLater, RestoredAddressHoldsUntilARendererAnswers)
{
    KeepAliveListener restored("127.0.0.2");
    ASSERT_TRUE(restored.bound());

    // The host loads the plug-in and at once restores a project saved with
    // the renderer at 127.0.0.2; no renderer announces itself.
    auto plugin = std::make_unique<CPlugin>();
    juce::MemoryBlock saved;
    plugin->getStateInformation(saved);
    const auto project = withAddress(saved, "127.0.0.2");
    plugin->setStateInformation(project.getData(), static_cast<int>(project.getSize()));
    ASSERT_EQ(controllerAddress(), "127.0.0.2");

    // The first search and a second one, which a renderer's question starts
    // after the first has ended, both go unanswered.
    const auto rendererQuery = [](const juce::var& d) { return isQuestionFor(d, "_vhremote._udp.local."); };
    ASSERT_TRUE(waitUntil([&] { return countFrom(peer.mdns(0), 4, rendererQuery) >= 1; }, 250));
    ASSERT_TRUE(askUntilTheNextSearch(peer));
    pump(50);
    tookAddressChange(*plugin);
    ASSERT_TRUE(waitUntil([&] { return tookAddressChange(*plugin); }, 300)) << "the second search did not end";

    EXPECT_EQ(controllerAddress(), "127.0.0.2");
    EXPECT_EQ(savedAddress(*plugin), "127.0.0.2");
    restored.take();
    int keepAlive = 0;
    EXPECT_TRUE(waitUntil([&] { return (keepAlive += restored.take()) >= 2; }, 250))
        << "keep-alive datagrams at 127.0.0.2: " << keepAlive;

    // A renderer comes up and answers the next search: the link moves to it.
    EXPECT_EQ(peer.request("{\"cmd\": \"announce\"}")["announced"].toString(), "studio-b._vhremote._udp.local.");
    ASSERT_TRUE(askUntilTheNextSearch(peer));
    ASSERT_TRUE(waitUntil([] { return controllerAddress() == kRendererAddress; }, 300));
    EXPECT_EQ(savedAddress(*plugin), kRendererAddress);
    EXPECT_TRUE(waitUntil([&] {
        for (const auto& m : peer.osc())
            if (m["path"].toString() == "/vh/plugin/tempo" && m["from"].toString() == kPluginAddress)
                return true;
        return false;
    }, 250)) << "no keep-alive reached the renderer";

    plugin.reset();
}

TEST_F(RendererLater, AnswersFromOffTheLinkAreIgnored)
{
    // A renderer on the renderer's side answers from 198.51.100.2, outside
    // the plug-in's subnet 192.0.2.0/24 on the link the answer arrives on.
    ASSERT_EQ(peer.request("{\"cmd\": \"offlink\", \"address\": \"198.51.100.2\"}")["offlink"].toString(),
              "198.51.100.2");
    auto plugin = std::make_unique<CPlugin>();
    const auto rendererQuery = [](const juce::var& d) { return isQuestionFor(d, "_vhremote._udp.local."); };
    ASSERT_TRUE(waitUntil([&] { return countFrom(peer.mdns(0), 4, rendererQuery) >= 1; }, 250));
    pump(50);
    tookAddressChange(*plugin);
    ASSERT_TRUE(waitUntil([&] { return tookAddressChange(*plugin); }, 300)) << "the first search did not end";

    // The next search, with its lines seen on their way to the handler:
    // the answer arrives and is ignored, so the address stays.
    auto ignored = std::make_shared<std::atomic<int>>(0);
    auto* handler = controller().m_mdnsHandler.get();
    mdns_cpp::Logger::setLoggerSink([handler, ignored](const std::string& line) {
        *ignored += line.rfind("Ignored a reply from 198.51.100.2:5353,", 0) == 0 ? 1 : 0;
        handler->takeLogLine(line);
    });
    ASSERT_TRUE(askUntilTheNextSearch(peer));
    ASSERT_TRUE(waitUntil([&] { return tookAddressChange(*plugin); }, 300)) << "the second search did not end";
    EXPECT_EQ(controllerAddress(), "127.0.0.1");
    EXPECT_GE(ignored->load(), 1) << "the off-link answer never arrived";
    plugin.reset();
}
