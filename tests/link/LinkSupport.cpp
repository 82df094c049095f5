#include "tests/common/Interfaces.h"
#include "LinkSupport.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace varnholt::linktest
{

using namespace std::chrono;

std::ostream& operator<< (std::ostream& out, const Received& r)
{
    out << r.path << " ," << r.types;
    for (const auto& a : r.args)
        out << " " << a.toString();
    return out;
}

//==============================================================================
Arg Arg::f (float v)
{
    if (std::isnan (v))
        return { "[\"f\", \"nan\"]" };
    if (std::isinf (v))
        return { v > 0 ? "[\"f\", \"inf\"]" : "[\"f\", \"-inf\"]" };

    char text[64];
    std::snprintf (text, sizeof text, "[\"f\", %.9g]", static_cast<double> (v));   // round-trips a float
    return { text };
}

Arg Arg::i (int v) { return { "[\"i\", " + std::to_string (v) + "]" }; }
Arg Arg::s (const std::string& v) { return { "[\"s\", \"" + v + "\"]" }; }
Arg Arg::b (const std::string& hex) { return { "[\"b\", \"" + hex + "\"]" }; }
Arg Arg::tagged (const std::string& tag, const std::string& valueJson) { return { "[\"" + tag + "\", " + valueJson + "]" }; }

std::string messageJson (const std::string& path, const std::vector<Arg>& args)
{
    std::string json = "{\"path\": \"" + path + "\", \"args\": [";
    for (size_t k = 0; k < args.size(); ++k)
        json += (k > 0 ? ", " : "") + args[k].json;
    return json + "]}";
}

//==============================================================================
PeerProcess::~PeerProcess()
{
    if (m_pid <= 0)
        return;

    // Closing its stdin ends the peer; it gets a few seconds before it is killed.
    ::close (m_toPeer);
    for (int k = 0; k < 250; ++k)
    {
        if (::waitpid (m_pid, nullptr, WNOHANG) == m_pid)
        {
            m_pid = -1;
            break;
        }
        ::usleep (20000);
    }

    if (m_pid > 0)
    {
        ::kill (m_pid, SIGKILL);
        ::waitpid (m_pid, nullptr, 0);
    }

    ::close (m_fromPeer);
}

bool PeerProcess::start (int listenPort)
{
    int in[2], out[2];
    if (::pipe2 (in, O_CLOEXEC) != 0 || ::pipe2 (out, O_CLOEXEC) != 0)
        return false;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_adddup2 (&actions, in[0], 0);
    posix_spawn_file_actions_adddup2 (&actions, out[1], 1);

    const std::string port = std::to_string (listenPort);
    char* argv[] = { const_cast<char*> (VARNHOLT_PYTHON), const_cast<char*> (VARNHOLT_OSC_PEER),
                     const_cast<char*> (port.c_str()), nullptr };

    const int rc = ::posix_spawn (&m_pid, VARNHOLT_PYTHON, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy (&actions);
    ::close (in[0]);
    ::close (out[1]);
    m_toPeer = in[1];
    m_fromPeer = out[0];

    if (rc != 0)
    {
        m_pid = -1;
        return false;
    }

    std::string line;
    return readLine (line, 10000) && line.find ("\"ready\"") != std::string::npos;
}

void PeerProcess::command (const std::string& json)
{
    const auto line = json + "\n";
    size_t done = 0;
    for (int tries = 0; done < line.size() && tries < 1000; ++tries)
    {
        const auto n = ::write (m_toPeer, line.data() + done, line.size() - done);
        if (n > 0)
            done += static_cast<size_t> (n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            break;
    }
    EXPECT_EQ (done, line.size()) << "the peer does not take commands";
}

bool PeerProcess::readLine (std::string& line, int timeoutMs)
{
    const auto deadline = steady_clock::now() + milliseconds (timeoutMs);

    for (;;)
    {
        const auto eol = m_buffer.find ('\n');
        if (eol != std::string::npos)
        {
            line = m_buffer.substr (0, eol);
            m_buffer.erase (0, eol + 1);
            return true;
        }

        const auto left = duration_cast<milliseconds> (deadline - steady_clock::now()).count();
        if (left <= 0)
            return false;

        pollfd fd { m_fromPeer, POLLIN, 0 };
        if (::poll (&fd, 1, static_cast<int> (left)) <= 0)
            continue;

        char chunk[65536];
        const auto n = ::read (m_fromPeer, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        m_buffer.append (chunk, static_cast<size_t> (n));
    }
}

std::vector<Received> PeerProcess::sync()
{
    const int id = ++m_syncId;
    command ("{\"sync\": " + std::to_string (id) + "}");

    std::vector<Received> got;
    std::string line;

    while (readLine (line, 5000))
    {
        const auto parsed = juce::JSON::parse (juce::String (line));

        if (parsed.hasProperty ("sync"))
        {
            if (static_cast<int> (parsed["sync"]) == id)
                return got;
            continue;
        }

        if (parsed.hasProperty ("error"))
        {
            ADD_FAILURE() << "peer: " << line;
            continue;
        }

        Received r;
        r.path = parsed["path"].toString();
        r.types = parsed["types"].toString();
        if (auto* a = parsed["args"].getArray())
            r.args = *a;
        got.push_back (r);
    }

    ADD_FAILURE() << "the peer did not answer sync " << id;
    return got;
}

PeerProcess& peer()
{
    static PeerProcess process;
    static bool started = false;
    if (! started)
    {
        started = true;
        if (! process.start())
            ADD_FAILURE() << "could not start " << VARNHOLT_OSC_PEER;
    }
    return process;
}

//==============================================================================
void FenceListener::oscMessageReceived (const juce::OSCMessage& m)
{
    if (m.getAddressPattern().toString() == kFenceAddress && m.size() == 1 && m[0].isInt32())
        lastFence = m[0].getInt32();
}

void pump (int ms)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
}

//==============================================================================
void LinkTest::SetUp()
{
    ASSERT_EQ (controller(), nullptr) << "an earlier test left instances behind";
    ASSERT_TRUE (peer().running());
    peer().sync();
}

void LinkTest::setFence (CController& c, bool present)
{
    // The receiver's thread reads its listener list unguarded: the list only changes while the
    // receiver is disconnected.
    const juce::ScopedLock sl (c.m_lock);
    c.m_oscReceiver.disconnect();
    if (present)
        c.m_oscReceiver.addListener (&m_fence);
    else
        c.m_oscReceiver.removeListener (&m_fence);
    c.m_receiverConnected = c.m_oscReceiver.connect (c.m_portIn);
}

void LinkTest::TearDown()
{
    if (auto* c = controller())
        setFence (*c, false);

    while (! m_plugins.empty())
        m_plugins.pop_back();

    // Whatever the last ticks sent must not leak into the next test.
    if (peer().running())
        peer().sync();
}

CPlugin& LinkTest::add (int objectNumber)
{
    const bool newLink = controller() == nullptr;
    m_plugins.push_back (std::make_unique<CPlugin>());
    auto& p = *m_plugins.back();

    auto* c = controller();
    c->stopTimer();

    setFence (*c, true);

    if (newLink)
    {
        // Discovery's first search ends about a second after the link starts and hands over the
        // "no renderer" address and port. Tests begin after it, so that it never falls between
        // two of their ticks.
        const bool handedOver = test::eventually ([&] { return p.m_messageHandler.isChanged (kSource_editor, kChange_ip_address); },
                                                  std::chrono::milliseconds (6000));
        EXPECT_TRUE (handedOver) << "discovery never handed over";
        test::clearSets (p.m_messageHandler);
    }

    if (objectNumber > 0)
        setQuietly (p, kParam_object_number, static_cast<float> (objectNumber));

    return p;
}

void LinkTest::remove (CPlugin& p)
{
    for (auto it = m_plugins.begin(); it != m_plugins.end(); ++it)
        if (it->get() == &p)
        {
            if (m_plugins.size() == 1)
                setFence (*controller(), false);
            m_plugins.erase (it);
            return;
        }
}

std::vector<Received> LinkTest::tick (int n)
{
    for (auto& p : m_plugins)
        EXPECT_TRUE (test::allDelivered (p->m_messageHandler));

    for (int k = 0; k < n; ++k)
        controller()->timerCallback();

    return peer().sync();
}

void LinkTest::fence()
{
    const int id = ++m_fenceId;
    peer().send (kFenceAddress, { Arg::i (id) });

    for (int k = 0; k < 2500 && m_fence.lastFence < id; ++k)
        pump (2);

    ASSERT_GE (m_fence.lastFence, id) << "the controller never received the fence";
}

void LinkTest::reply (const std::string& path, const std::vector<Arg>& args)
{
    peer().send (path, args);
    fence();
}

void LinkTest::replyRaw (const std::string& hex)
{
    peer().sendRaw (hex);
    fence();
}

void LinkTest::replyCommand (const std::string& json)
{
    peer().command (json);
    fence();
}

void LinkTest::setQuietly (CPlugin& p, AutomationParameterIndex index, float value)
{
    p.SetParameterValue (kSource_controller, index, value);
}

void LinkTest::hostSet (CPlugin& p, AutomationParameterIndex index, float plainValue)
{
    auto* parameter = p.GetParameter (index);
    parameter->setValueNotifyingHost (parameter->convertTo0to1 (plainValue));
}

int32_t LinkTest::ticksSinceReply()
{
    const juce::ScopedLock sl (controller()->m_lock);
    return controller()->m_ticksSinceReply;
}

void LinkTest::setTicksSinceReply (int32_t ticks)
{
    const juce::ScopedLock sl (controller()->m_lock);
    controller()->m_ticksSinceReply = ticks;
}

//==============================================================================
void expectTraffic (const std::vector<Received>& got, const std::vector<Msg>& want, const std::string& what)
{
    std::ostringstream seen;
    for (const auto& r : got)
        seen << "\n    " << r;

    ASSERT_EQ (got.size(), want.size()) << what << ", received:" << seen.str();

    for (size_t k = 0; k < want.size(); ++k)
    {
        const auto& r = got[k];
        const auto& w = want[k];
        EXPECT_EQ (r.path.toStdString(), w.path) << what;
        ASSERT_EQ (r.types.toStdString(), w.types) << what << ": " << w.path;
        ASSERT_EQ (static_cast<size_t> (r.args.size()), w.args.size()) << what;

        for (size_t j = 0; j < w.args.size(); ++j)
        {
            if (w.types[j] == 'f')
                EXPECT_EQ (r.f (static_cast<int> (j)), static_cast<float> (w.args[j])) << what << ": " << w.path << " argument " << j;
            else
                EXPECT_EQ (r.i (static_cast<int> (j)), static_cast<int> (w.args[j])) << what << ": " << w.path << " argument " << j;
        }
    }
}

std::vector<Received> withPath (const std::vector<Received>& got, const std::string& path)
{
    std::vector<Received> matching;
    for (const auto& r : got)
        if (r.path.toStdString() == path)
            matching.push_back (r);
    return matching;
}

bool undelivered (VH_MessageHandler& handler)
{
    std::lock_guard<std::mutex> lock (handler.m_queueMutex);
    for (const auto& m : handler.m_messages)
        if (m.pending)
            return true;
    return false;
}

float plainValue (CPlugin& p, AutomationParameterIndex index)
{
    auto* parameter = p.GetParameter (index);
    return parameter->convertFrom0to1 (parameter->getValue());
}

} // namespace varnholt::linktest
