// The renderer's replies: each is applied, with the renderer link as its source, to every
// instance whose object it names, unless that instance sent or still has to send a change of the
// same kind (a reply must never overwrite a fresher local edit, nor come back as an echo).

#include "link/Controller.h"
#include "link/OscAddresses.h"
#include "processor/PluginProcessor.h"

#include <climits>
#include <cmath>
#include <optional>

namespace varnholt
{

namespace
{

struct ObjectReply
{
    const juce::String& prefix;
    AutomationParameterIndex parameter;
    DataChangeType type;
    bool toggle;   // on/off or choice: the number is rounded
};

// Recognised in this order; the first prefix that matches decides.
const ObjectReply kObjectReplies[] = {
    { kOscResponseString_source_position_xyz, kParam_x,           kChange_position,     false },
    { kOscResponseString_width,               kParam_width,       kChange_width,        false },
    { kOscResponseString_reverbsend,          kParam_reverb_level, kChange_reverb_level, false },
    { kOscResponseString_reverbOn,            kParam_reverb_on,   kChange_reverb_on,    true },
    { kOscResponseString_curve_position,      kParam_curve_pos,   kChange_curve_pos,    false },
    { kOscResponseString_space_mode,          kParam_space,       kChange_space,        true },
    { kOscResponseString_stereo_mode,         kParam_pair_on,     kChange_pair_on,      true },
    { kOscResponseString_render_mode,         kParam_render_mode, kChange_render_mode,  true },
    { kOscResponseString_stereo_spread,       kParam_pair_spread, kChange_pair_spread,  false },
};

const ObjectReply kLayerOnReply { kOscResponseString_vhLayer, kParam_layer_on, kChange_layer_on, true };
const ObjectReply kLayerLevelReply { kOscResponseString_vhLayer, kParam_layer_level, kChange_layer_level, false };

// Argument i as a number: int32 and float32 both count; anything else, or a value that isn't
// finite, counts as missing.
std::optional<float> numberAt (const juce::OSCMessage& message, int i)
{
    if (i >= message.size())
        return std::nullopt;

    const auto& argument = message[i];
    float value;

    if (argument.isFloat32())
        value = argument.getFloat32();
    else if (argument.isInt32())
        value = static_cast<float> (argument.getInt32());
    else
        return std::nullopt;

    if (! std::isfinite (value))
        return std::nullopt;

    return value;
}

// A decimal number as atoi reads it (leading blanks, a sign, digits up to the first other
// character; 0 without digits), but one that overflows an int is INT_MAX, which no object or
// layer has.
int parseNumber (juce::String text)
{
    auto p = text.getCharPointer();
    while (p.isWhitespace())
        ++p;

    bool negative = false;
    if (*p == '-' || *p == '+')
        negative = (p.getAndAdvance() == '-');

    long long value = 0;
    while (p.isDigit())
    {
        value = value * 10 + (p.getAndAdvance() - '0');
        if (value > INT_MAX)
            return INT_MAX;
    }

    return static_cast<int> (negative ? -value : value);
}

// Sets a parameter with the renderer link as the source of the change.
template <typename Param, typename Value>
void setFromRenderer (CPlugin& plugin, Param* parameter, Value value)
{
    plugin.m_currentSource = kSource_controller;
    parameter->SetParameterValue (value);
    plugin.m_currentSource = kSource_host;
}

} // namespace

void CController::oscMessageReceived (const juce::OSCMessage& message)
{
    const juce::ScopedLock sl (m_lock);

    if (m_plugins.isEmpty())
        return;

    m_replyLayer = 0;

    if (message.isEmpty())
        return;

    const auto address = message.getAddressPattern().toString();
    const auto first = numberAt (message, 0);

    // Renderer-wide values: every instance takes them.
    if (address.startsWith (kOscResponseString_master_level))
    {
        if (first)
            for (auto* plugin : m_plugins)
                setFromRenderer (*plugin, plugin->m_masterLevel, *first);
        return;
    }

    if (address.startsWith (kOscResponseString_master_on))
    {
        if (first)
            for (auto* plugin : m_plugins)
                setFromRenderer (*plugin, plugin->m_masterOn, juce::roundToInt (juce::jlimit (0.0f, 1.0f, *first)));
        return;
    }

    const auto object = parseNumber (address.fromLastOccurrenceOf (kOscDelimiterString, false, true));
    if (object < 1)
        return;

    const ObjectReply* reply = nullptr;
    for (const auto& candidate : kObjectReplies)
        if (address.startsWith (candidate.prefix))
        {
            reply = &candidate;
            break;
        }

    if (reply == nullptr && address.startsWith (kOscResponseString_vhLayer))
    {
        m_replyLayer = parseNumber (address.fromLastOccurrenceOf (kOscResponseString_vhLayer, false, false));

        if (address.startsWith (juce::String::formatted (kOscResponseString_layerSubOnOff, m_replyLayer)))
            reply = &kLayerOnReply;
        else if (address.startsWith (juce::String::formatted (kOscResponseString_layerSubLevel, m_replyLayer)))
            reply = &kLayerLevelReply;
    }

    if (reply == nullptr)
        return;

    const bool position = reply->parameter == kParam_x;
    std::optional<float> values[3] = { first, numberAt (message, 1), numberAt (message, 2) };

    // A reply without every value it needs is not applied at all, rather than as zeros.
    if (! values[0] || (position && (! values[1] || ! values[2])))
        return;

    // Whether the instance may take a reply of this type now.
    auto mayTake = [] (CPlugin& plugin, DataChangeType type)
    {
        plugin.m_oscOnState = static_cast<int> (plugin.m_oscOn->get()) != 0;

        return plugin.m_oscOnState
            && plugin.m_sentTypes.count (type) == 0
            && ! plugin.m_messageHandler.isChangePending (kSource_controller, type);
    };

    for (auto* plugin : m_plugins)
    {
        const auto own = static_cast<int> (plugin->m_objectNumber->get());

        if (own != object)
        {
            // The second object of a pair has the number after the instance's own.
            if (position && own + 1 == object && plugin->m_pairOn->get() != 0 && mayTake (*plugin, kChange_position2))
            {
                setFromRenderer (*plugin, plugin->m_x2, *values[0]);
                setFromRenderer (*plugin, plugin->m_y2, *values[1]);
                setFromRenderer (*plugin, plugin->m_z2, *values[2]);
            }
            continue;
        }

        if (! mayTake (*plugin, reply->type))
            continue;

        if (reply == &kLayerOnReply || reply == &kLayerLevelReply)
            if (m_replyLayer != static_cast<int> (plugin->m_layerNum->get()))
                continue;

        if (position)
        {
            setFromRenderer (*plugin, plugin->m_x, *values[0]);
            setFromRenderer (*plugin, plugin->m_y, *values[1]);
            setFromRenderer (*plugin, plugin->m_z, *values[2]);
        }
        else if (reply == &kLayerOnReply)
        {
            setFromRenderer (*plugin, plugin->m_layerOn, juce::roundToInt (juce::jlimit (0.0f, 1.0f, *values[0])));
        }
        else if (reply == &kLayerLevelReply)
        {
            setFromRenderer (*plugin, plugin->m_layerLevel, *values[0]);
        }
        else
        {
            const auto value = reply->toggle ? std::round (*values[0]) : *values[0];
            plugin->SetParameterValue (kSource_controller, reply->parameter, value);
        }
    }

    const auto silence = m_timerIntervalMs * m_ticksSinceReply;
    m_ticksSinceReply = 0;

    if (silence >= kSilenceMs)
        SetParameterChanged (kSource_controller, kChange_connection_state);
}

} // namespace varnholt
