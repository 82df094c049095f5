#pragma once

#include "link/ReplyReceiver.h"
#include "processor/Globals.h"

#include <juce_events/juce_events.h>
#include <juce_osc/juce_osc.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

class MDNSHandler;

namespace varnholt
{

class CPlugin;

// The one renderer link of the process. Every instance registers with it; the first instance
// creates it and the removal of the last one deletes it. Every 50 ms it sends the instances'
// pending changes to the renderer; the renderer's replies come back into their parameters.
class CController : public juce::OSCReceiver::Listener<juce::OSCReceiver::MessageLoopCallback>,
                    public juce::Timer
{
public:
    static CController* GetInstance();

    // Registers a new instance and gives it the next object number. Done under the creation
    // lock, so that an instance never registers with a controller that is going away.
    static void AddProcessor (CPlugin* plugin);

    // Unregisters an instance; the last one takes the controller with it.
    static void RemoveProcessor (CPlugin* plugin);

    // Posts one change, or each change of a set, to every registered instance.
    void SetParameterChanged (DataChangeSource source, DataChangeType type);
    void SetParameterChanged (DataChangeSource source, const std::set<DataChangeType>& types);

    // Act only on a change. The address is kept in its canonical form (CanonicalIPv4); anything
    // that is no address leaves it as it is.
    void SetIpAddress (DataChangeSource source, juce::String address);
    void SetPort (DataChangeSource source, int port);

    void oscMessageReceived (const juce::OSCMessage& message) override;
    void timerCallback() override;

    static constexpr int kPortOut = 5341;
    static constexpr int kPortIn = 5342;
    static constexpr int kTimerIntervalMs = 50;
    static constexpr int32_t kTickCountLimit = 65535;
    // A renderer silent for this long counts as gone; its next reply counts as a return.
    static constexpr int32_t kSilenceMs = 5000;

    int32_t m_pingTicks = 0;
    int32_t m_replyLayer = -1;
    juce::Array<CPlugin*> m_plugins;
    juce::OSCSender m_oscSender;
    CReplyReceiver m_oscReceiver;
    juce::String m_ipAddress;
    int32_t m_portOut = kPortOut;
    int32_t m_portIn = kPortIn;
    std::unique_ptr<MDNSHandler> m_mdnsHandler;
    int32_t m_timerIntervalMs = 0;
    int32_t m_ticksSinceReply = kTickCountLimit;
    int32_t m_ticksSinceSend = 0;
    float m_lastSentTempo = -1.0f;
    bool m_receiverConnected = false;
    juce::CriticalSection m_lock;

    static CController* m_singleton;

private:
    CController();
    ~CController() override;

    // The caller holds the creation lock.
    static CController* GetOrCreate();

    // Reconnects the sender. A listening reply port stays bound: closed even for a moment, it
    // could go to another host process retrying it. One that is not listening is bound here
    // as well. The caller holds m_lock.
    void ReconnectOsc();

    // Called by every tick: a receiver that could not bind its port (another process holds it)
    // or whose thread ended is bound anew about once a second. The caller holds m_lock.
    void KeepReceiverBound();

    // Binds the reply port; once it is bound again, every instance asks for its object's state.
    // The caller holds m_lock.
    void BindReceiver();

    struct TickState;

    // One send of the link; a success restarts the count of ticks since the last send.
    bool Send (const juce::OSCMessage& message);

    // One instance's turn of the tick, while its osc on is set.
    void SendInstance (CPlugin& plugin, const std::set<DataChangeType>& pending, int layer, int ball, TickState& tick);

    // The request for the object's state after a new object number, and the delayed one.
    bool SendObjectRequests (CPlugin& plugin, std::set<DataChangeType>& handled);

    // The last port the renderer was announced with; SetPort acts only when it changes.
    int m_announcedPort = kPortOut;

    // Ticks since the receiver was last found not listening, up to the next attempt to bind.
    static constexpr int32_t kRebindEveryTicks = 20;
    int32_t m_rebindTicks = 0;

    JUCE_DECLARE_NON_COPYABLE (CController)
};

// The one rule for a renderer's address, whoever gives it: the window's box, a saved block or a
// discovery answer. Four decimal octets 0..255 of one to three digits each, separated by dots,
// nothing else. A leading zero is read as decimal ("010" is ten), never as octal as the system's
// resolver would; the result is the canonical text ("127.0.0.10"), the only form the link keeps
// and sends to. Nothing for any other text. The form on bytes checks outside bytes before any
// text is made of them.
std::optional<std::string> CanonicalIPv4 (std::string_view bytes);
std::optional<juce::String> CanonicalIPv4 (const juce::String& text);

} // namespace varnholt
