// The controller's 50 ms tick: closes the parameters' automatic gestures, sends every instance's
// pending changes to the renderer, forwards the host tempo, asks the renderer for an object's
// state, pings a silent renderer, keeps the link's health counters and binds the reply port anew
// when it is not listening.

#include "link/Controller.h"
#include "link/OscAddresses.h"
#include "processor/PluginProcessor.h"

#include <cmath>
#include <functional>

namespace varnholt
{

namespace
{

// How the address of a send case is filled in.
enum class Fill
{
    none,             // renderer-wide: the address stands as it is
    object,           // the object number
    partner,          // the object number + 1: the second object of a pair
    layerAndObject    // the layer number, then the object number
};

struct SendCase
{
    AutomationParameterIndex step;
    DataChangeType type;
    const juce::String* address;   // nullptr: taken up, but the renderer has no address for it
    Fill fill;
    std::function<void (juce::OSCMessage&, const CPlugin&)> arguments;
    bool mainPosition = false;     // not sent while the pad holds the second ball
};

// The renderer takes layer levels in tenths of a dB; halves round away from zero.
float toTenth (float v) { return std::round (v * 10.0f) / 10.0f; }

void addFloats (juce::OSCMessage& m, std::initializer_list<float> values)
{
    for (auto v : values)
        m.addFloat32 (v);
}

// In walk order; cases sharing a step run in the order listed.
const SendCase kSendCases[] = {
    { kParam_x, kChange_position, &kOscCommandString_source_position_xyz, Fill::object,
      [] (auto& m, auto& p) { addFloats (m, { p.m_x->get(), p.m_y->get(), p.m_z->get() }); }, true },
    { kParam_x, kChange_position2, &kOscCommandString_source_position_xyz, Fill::partner,
      [] (auto& m, auto& p) { addFloats (m, { p.m_x2->get(), p.m_y2->get(), p.m_z2->get() }); } },
    { kParam_layer_num, kChange_layer_num, &kOscCommandString_request_obj, Fill::object,
      [] (auto& m, auto& p) { m.addInt32 (static_cast<int> (p.m_objectNumber->get())); } },
    { kParam_layer_level, kChange_layer_level, &kOscCommandString_layerSubLevel, Fill::layerAndObject,
      [] (auto& m, auto& p) { m.addFloat32 (toTenth (p.m_layerLevel->get())); } },
    { kParam_layer_on, kChange_layer_on, &kOscCommandString_layerSubOnOff, Fill::layerAndObject,
      [] (auto& m, auto& p) { m.addInt32 (p.m_layerOn->get()); } },
    { kParam_width, kChange_width, &kOscCommandString_renderwidth, Fill::object,
      [] (auto& m, auto& p) { m.addFloat32 (p.m_width->get()); } },
    { kParam_render_mode, kChange_render_mode, &kOscCommandString_render_mode, Fill::object,
      [] (auto& m, auto& p) { m.addInt32 (p.m_renderMode->getIndex()); } },
    { kParam_reverb_level, kChange_reverb_level, &kOscCommandString_reverbsend, Fill::object,
      [] (auto& m, auto& p) { m.addFloat32 (p.m_reverbLevel->get()); } },
    { kParam_reverb_on, kChange_reverb_on, &kOscCommandString_reverbOn, Fill::object,
      [] (auto& m, auto& p) { m.addInt32 (p.m_reverbOn->get()); } },
    { kParam_curve_pos, kChange_curve_pos, &kOscCommandString_curve_position, Fill::object,
      [] (auto& m, auto& p) { m.addFloat32 (p.m_curvePos->get()); } },
    { kParam_space, kChange_space, &kOscCommandString_space_mode, Fill::object,
      [] (auto& m, auto& p) { m.addInt32 (p.m_space->getIndex()); } },
    { kParam_pair_on, kChange_pair_on, &kOscCommandString_stereo_mode, Fill::object,
      [] (auto& m, auto& p) { m.addInt32 (p.m_pairOn->get()); } },
    { kParam_pair_spread, kChange_pair_spread, &kOscCommandString_stereo_spread, Fill::object,
      [] (auto& m, auto& p) { m.addFloat32 (p.m_pairSpread->get()); } },
    { kParam_coord_mode, kChange_coord_mode, nullptr, Fill::none, nullptr },
    { kParam_master_level, kChange_master_level, &kOscCommandString_master_level, Fill::none,
      [] (auto& m, auto& p) { m.addFloat32 (p.m_masterLevel->get()); } },
    { kParam_master_on, kChange_master_on, &kOscCommandString_master_on, Fill::none,
      [] (auto& m, auto& p) { m.addInt32 (p.m_masterOn->get()); } },
    { kParam_snapshot_rewrite, kChange_snapshot_rewrite, &kOscCommandString_snapshot_rewrite, Fill::none,
      [] (auto& m, auto& p) { m.addInt32 (p.m_snapshotRewrite->get()); } },
    { kParam_snapshot_num, kChange_snapshot_num, &kOscCommandString_snapshotNum, Fill::none,
      [] (auto& m, auto& p) { m.addFloat32 (p.m_snapshotNum->get()); } },
};

juce::String addressFor (const SendCase& c, int object, int layer)
{
    switch (c.fill)
    {
        case Fill::none:           return *c.address;
        case Fill::object:         return juce::String::formatted (*c.address, object);
        case Fill::partner:        return juce::String::formatted (*c.address, object + 1);
        case Fill::layerAndObject: return juce::String::formatted (*c.address, layer, object);
    }
    return *c.address;
}

juce::OSCMessage requestFor (int object)
{
    juce::OSCMessage m (juce::String::formatted (kOscCommandString_request_obj, object));
    m.addInt32 (object);
    return m;
}

// Ticks with osc on before the renderer is asked once more for the object's state: ~2.3 s.
constexpr int32_t kDelayedRequestTicks = 46;

// A link without a reply or a successful send for this long is stale, and pings start.
constexpr int32_t kStaleMs = 1500;
constexpr int32_t kPingEveryTicks = 16;

} // namespace

struct CController::TickState
{
    float tempo;
    bool quiet;
    bool tempoTried = false;   // a tempo message is tried at most once per tick
};

bool CController::Send (const juce::OSCMessage& message)
{
    const bool sent = m_oscSender.sendToIPAddress (m_ipAddress, m_portOut, message);
    if (sent)
        m_ticksSinceSend = 0;
    return sent;
}

void CController::timerCallback()
{
    const juce::ScopedLock sl (m_lock);

    KeepReceiverBound();

    if (m_plugins.isEmpty())
        return;

    const bool stale = m_ticksSinceReply * m_timerIntervalMs > kStaleMs
                    || m_ticksSinceSend * m_timerIntervalMs > kStaleMs;

    TickState tick { m_plugins.getFirst()->m_tempo.load(), stale };

    for (auto* plugin : m_plugins)
    {
        plugin->m_oscOnState = static_cast<int> (plugin->m_oscOn->get()) != 0;
        plugin->m_sentTypes.clear();
        const auto layer = static_cast<int> (plugin->m_layerNum->get());

        // A note-on the audio thread left since the last tick goes out on this one.
        const bool notePosted = plugin->TakePendingNote();

        plugin->TickParameters();

        // Taken in one step: a change arriving while the turn runs waits for the next tick
        // instead of being drained unsent. With osc off the changes are dropped. Changes posted
        // in an earlier millisecond go out now, not a tick after the queue's next pass; the
        // note's change, posted just now, goes out too.
        if (notePosted)
            plugin->m_messageHandler.deliverAll();
        else
            plugin->m_messageHandler.deliverDue();
        const auto pending = plugin->m_messageHandler.takeChanged (kSource_controller, AutomationParameters);

        // Read after the take: pair switched off on another thread makes ball 1 current before
        // it posts the main position, so a taken position never meets a stale ball 2.
        const auto ball = plugin->m_grabbedBall.load();

        if (plugin->m_oscOnState)
            SendInstance (*plugin, pending, layer, ball, tick);
    }

    if (tick.quiet)
    {
        if (m_pingTicks++ >= kPingEveryTicks - 1)
        {
            juce::OSCMessage ping (kOscCommandString_ping);
            ping.addFloat32 (m_plugins.getFirst()->m_tempo.load());
            Send (ping);
            m_pingTicks = 0;
        }
    }

    const auto before = m_ticksSinceReply;
    if (m_ticksSinceReply < kTickCountLimit)
        ++m_ticksSinceReply;
    if (m_ticksSinceSend < kTickCountLimit)
        ++m_ticksSinceSend;

    if (before * m_timerIntervalMs < kSilenceMs && m_ticksSinceReply * m_timerIntervalMs >= kSilenceMs)
        SetParameterChanged (kSource_controller, kChange_connection_state);
}

void CController::SendInstance (CPlugin& plugin, const std::set<DataChangeType>& pending, int layer, int ball, TickState& tick)
{
    std::set<DataChangeType> handled;
    std::set<DataChangeType> failed;

    // The walk visits the parameters in index order; only the steps with something to do
    // matter: the send cases whose change is pending, the tempo after the first step, and the
    // state requests at the object number's step.
    auto sendTempo = [&]
    {
        if (tick.tempoTried || tick.tempo == m_lastSentTempo)
            return;

        tick.tempoTried = true;
        juce::OSCMessage tempo (kOscCommandString_ping);
        tempo.addFloat32 (tick.tempo);
        if (Send (tempo))
            m_lastSentTempo = tick.tempo;
    };

    bool tempoChecked = false;
    bool requestsDone = false;
    int step = -1;
    bool sentMark = false;

    auto endStep = [&]
    {
        if (sentMark)
            tick.quiet = false;
        sentMark = false;
    };

    for (const auto& c : kSendCases)
    {
        if (c.step != step)
        {
            endStep();
            step = c.step;
        }

        if (! tempoChecked && step > kParam_x)
        {
            sendTempo();
            tempoChecked = true;
        }

        if (! requestsDone && step > kParam_object_number)
        {
            if (SendObjectRequests (plugin, handled))
                tick.quiet = false;
            requestsDone = true;
        }

        if (pending.count (c.type) == 0 || (c.mainPosition && ball == 2))
            continue;

        handled.insert (c.type);

        if (c.address == nullptr)
            continue;

        const auto object = static_cast<int> (plugin.m_objectNumber->get());
        juce::OSCMessage message (addressFor (c, object, layer));
        c.arguments (message, plugin);

        sentMark = Send (message);
        if (! sentMark)
            failed.insert (c.type);
    }

    endStep();

    // Replies of these types in the next 50 ms would only echo what was just sent.
    plugin.m_sentTypes = handled;

    // What could not be sent stays pending for the next tick.
    if (! failed.empty())
        plugin.m_messageHandler.restoreChanged (kSource_controller, failed);
}

bool CController::SendObjectRequests (CPlugin& plugin, std::set<DataChangeType>& handled)
{
    bool sentMark = false;
    const auto object = static_cast<int> (plugin.m_objectNumber->get());

    // The object-number change is never drained: every tick compares the number with the one
    // last requested, so each new number is requested once.
    if (object != plugin.m_lastRequestedObject && plugin.m_messageHandler.isChanged (kSource_controller, kChange_object_number))
    {
        handled.insert (kChange_object_number);
        sentMark = Send (requestFor (object));
        if (sentMark)
            plugin.m_lastRequestedObject = object;
    }

    if (! plugin.m_stateRequested && plugin.m_requestTicks >= kDelayedRequestTicks)
    {
        if (Send (requestFor (static_cast<int> (plugin.m_objectNumber->get()))))
        {
            // Without a bound receive port the answer can't arrive: ask again one delay later
            // rather than on every tick.
            if (m_receiverConnected)
                plugin.m_stateRequested.exchange (true);
            else
                plugin.m_requestTicks = 0;
        }
    }

    ++plugin.m_requestTicks;
    return sentMark;
}

} // namespace varnholt
