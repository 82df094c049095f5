#pragma once

// What the link tests share: a stand-in renderer in its own process (osc_peer.py), and a fixture
// that drives the controller tick by tick on the message thread and delivers the renderer's
// replies through the real sockets.

#include "../processor/TestSupport.h"

#include "link/Controller.h"

#include <juce_osc/juce_osc.h>

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace varnholt::linktest
{

// One OSC message as the peer received it.
struct Received
{
    juce::String path;
    juce::String types;
    juce::Array<juce::var> args;

    float f (int i) const { return static_cast<float> (static_cast<double> (args[i])); }
    int i (int i) const { return static_cast<int> (args[i]); }
};

std::ostream& operator<< (std::ostream& out, const Received& r);

// One argument of a message the peer sends, as the JSON of its command.
struct Arg
{
    std::string json;

    static Arg f (float v);
    static Arg i (int v);
    static Arg s (const std::string& v);
    static Arg b (const std::string& hex);
    static Arg tagged (const std::string& tag, const std::string& valueJson);
};

std::string messageJson (const std::string& path, const std::vector<Arg>& args);

// The stand-in renderer: a child process listening on 5341 and answering to 5342.
class PeerProcess
{
public:
    PeerProcess() = default;
    ~PeerProcess();

    bool start (int listenPort = CController::kPortOut);
    bool running() const { return m_pid > 0; }

    // Writes one command line (a JSON object).
    void command (const std::string& json);

    void send (const std::string& path, const std::vector<Arg>& args) { command ("{\"send\": " + messageJson (path, args) + "}"); }
    void sendRaw (const std::string& hex) { command ("{\"raw\": \"" + hex + "\"}"); }

    // Every message that reached the peer since the last call, in arrival order; empty (and a
    // test failure) when the peer does not answer in time.
    std::vector<Received> sync();

private:
    bool readLine (std::string& line, int timeoutMs);

    pid_t m_pid = -1;
    int m_toPeer = -1;
    int m_fromPeer = -1;
    int m_syncId = 0;
    std::string m_buffer;
};

// One message as a test expects it on the wire; arguments are compared as float32 or int32 as the
// type tags say.
struct Msg
{
    std::string path;
    std::string types;
    std::vector<double> args;
};

void expectTraffic (const std::vector<Received>& got, const std::vector<Msg>& want, const std::string& what);

// Only the messages with this address.
std::vector<Received> withPath (const std::vector<Received>& got, const std::string& path);

// True while a posted change has not reached the change sets yet.
bool undelivered (VH_MessageHandler& handler);

// A parameter's plain value (a choice's index), whatever its class.
float plainValue (CPlugin& p, AutomationParameterIndex index);

// The one peer of the test program, started on first use.
PeerProcess& peer();

// Sees every message the controller's receiver delivers, after or before the controller: a fence
// message that arrives here proves that everything sent before it has been handled.
struct FenceListener : juce::OSCReceiver::Listener<juce::OSCReceiver::MessageLoopCallback>
{
    void oscMessageReceived (const juce::OSCMessage& m) override;
    void oscBundleReceived (const juce::OSCBundle&) override {}

    int lastFence = -1;
};

inline constexpr const char* kFenceAddress = "/fence";

// The controller while it exists; never creates one.
inline CController* controller() { return CController::m_singleton; }

// Runs the message loop for about `ms` milliseconds.
void pump (int ms);

class LinkTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A new registered instance with the given object number (set as the renderer's doing, so
    // it asks for nothing); the controller's timer stays stopped and the test ticks by hand.
    CPlugin& add (int objectNumber = 0);
    void remove (CPlugin& p);

    // Waits until every instance's queue has delivered, runs n ticks and returns what the
    // renderer received.
    std::vector<Received> tick (int n = 1);

    // Sends through the peer, then waits until the controller has handled it.
    void reply (const std::string& path, const std::vector<Arg>& args);
    void replyRaw (const std::string& hex);
    void replyCommand (const std::string& json);
    void fence();

    // Sets a parameter as the renderer would, so that nothing goes back out.
    static void setQuietly (CPlugin& p, AutomationParameterIndex index, float value);

    // As the host's automation would.
    static void hostSet (CPlugin& p, AutomationParameterIndex index, float plainValue);

    int32_t ticksSinceReply();
    void setTicksSinceReply (int32_t ticks);

    // Adds or removes the fence listener on the controller's receiver.
    void setFence (CController& c, bool present);

    std::vector<std::unique_ptr<CPlugin>> m_plugins;
    FenceListener m_fence;
    int m_fenceId = 0;
};

} // namespace varnholt::linktest
