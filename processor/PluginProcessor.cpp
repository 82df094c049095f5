#include "processor/PluginProcessor.h"

#include "editor/PluginEditor.h"
#include "link/Controller.h"
#include "processor/SavedState.h"

#include <cmath>

namespace varnholt
{

namespace
{

enum class ParamClass { Float, Int, Choice };

// When a notification of the parameter is posted as a change.
enum class PostRule
{
    always,
    valueChanged,           // plain value differs from the previous one
    roundedValueChanged,    // integer parameters
    indexChanged,           // choice parameters
    notifiedValueChanged,   // the notified value, unsnapped, differs from the previous one
    masterLevel             // notifiedValueChanged after the start-up skip
};

struct HostParameter
{
    const char* id;
    const char* name;
    ParamClass cls;
    float start, end, interval, defaultValue;
    std::initializer_list<const char*> choices;
    DataChangeType changeType;
    PostRule rule;
};

// The host's parameters, in host index order. The names, ranges and texts are the host's view and
// differ in places from the editor's table on purpose; saved projects depend on them.
const HostParameter kHostParameters[kNumHostParameters] = {
    { "00", "x",                ParamClass::Float,  0.0f,   1.0f,    0.001f, 0.5f,   {}, kChange_position,         PostRule::valueChanged },
    { "01", "y",                ParamClass::Float,  0.0f,   1.0f,    0.001f, 0.5f,   {}, kChange_position,         PostRule::valueChanged },
    { "02", "z",                ParamClass::Float,  0.0f,   1.0f,    0.001f, 0.5f,   {}, kChange_position,         PostRule::valueChanged },
    { "03", "object number",    ParamClass::Float,  1.0f,   128.0f,  1.0f,   0.0f,   {}, kChange_object_number,    PostRule::always },
    { "04", "layer num",        ParamClass::Float,  1.0f,   12.0f,   1.0f,   1.0f,   {}, kChange_layer_num,        PostRule::valueChanged },
    { "05", "layer level",      ParamClass::Float,  -84.0f, 12.0f,   0.01f,  0.0f,   {}, kChange_layer_level,      PostRule::valueChanged },
    { "06", "layer on",         ParamClass::Int,    0.0f,   1.0f,    1.0f,   1.0f,   {}, kChange_layer_on,         PostRule::always },
    { "07", "width",            ParamClass::Float,  0.0f,   2.0f,    0.001f, 1.0f,   {}, kChange_width,            PostRule::valueChanged },
    { "08", "render mode",      ParamClass::Choice, 0.0f,   2.0f,    1.0f,   0.0f,
      { "min delay", "full delay", "no delay" },                         kChange_render_mode,      PostRule::indexChanged },
    { "09", "reverb level",     ParamClass::Float,  -84.0f, 12.0f,   0.01f,  -84.0f, {}, kChange_reverb_level,     PostRule::valueChanged },
    { "10", "reverb on",        ParamClass::Int,    0.0f,   1.0f,    1.0f,   1.0f,   {}, kChange_reverb_on,        PostRule::always },
    { "11", "curve pos",        ParamClass::Float,  0.0f,   1.0f,    0.001f, 0.0f,   {}, kChange_curve_pos,        PostRule::valueChanged },
    { "12", "osc on",           ParamClass::Float,  0.0f,   1.0f,    1.0f,   1.0f,   {}, kChange_osc_on,           PostRule::notifiedValueChanged },
    { "13", "space",            ParamClass::Choice, 0.0f,   4.0f,    1.0f,   0.0f,
      { "none", "space 1", "space 2", "space 3", "space 4" },           kChange_space,            PostRule::indexChanged },
    { "14", "pair on",          ParamClass::Int,    0.0f,   1.0f,    1.0f,   0.0f,   {}, kChange_pair_on,          PostRule::roundedValueChanged },
    { "15", "spread",           ParamClass::Float,  0.0f,   2.0f,    0.001f, 1.0f,   {}, kChange_pair_spread,      PostRule::valueChanged },
    { "16", "coordinate",       ParamClass::Choice, 0.0f,   1.0f,    1.0f,   0.0f,
      { "cartesian", "spherical" },                                      kChange_coord_mode,       PostRule::indexChanged },
    { "17", "master level",     ParamClass::Float,  -84.0f, 12.0f,   0.01f,  -84.0f, {}, kChange_master_level,     PostRule::masterLevel },
    { "18", "master on",        ParamClass::Int,    0.0f,   1.0f,    1.0f,   0.0f,   {}, kChange_master_on,        PostRule::roundedValueChanged },
    { "19", "snapshot rewrite", ParamClass::Int,    0.0f,   1.0f,    1.0f,   0.0f,   {}, kChange_snapshot_rewrite, PostRule::roundedValueChanged },
    { "20", "snapshot number",  ParamClass::Float,  1.0f,   1024.0f, 0.1f,   1.0f,   {}, kChange_snapshot_num,     PostRule::valueChanged },
    { "21", "x2",               ParamClass::Float,  0.0f,   1.0f,    0.001f, 0.5f,   {}, kChange_position2,        PostRule::valueChanged },
    { "22", "y2",               ParamClass::Float,  0.0f,   1.0f,    0.001f, 0.5f,   {}, kChange_position2,        PostRule::valueChanged },
    { "23", "z2",               ParamClass::Float,  0.0f,   1.0f,    0.001f, 0.5f,   {}, kChange_position2,        PostRule::valueChanged },
};

// Master-level notifications that the start-up skip swallows.
constexpr int32_t kMasterLevelSkip = 3;

juce::RangedAudioParameter* makeParameter (const HostParameter& p)
{
    switch (p.cls)
    {
        case ParamClass::Float:
            return new CAudioParameterFloat (p.id, p.name, { p.start, p.end, p.interval }, p.defaultValue);
        case ParamClass::Int:
            return new CAudioParameterInt (p.id, p.name, static_cast<int> (p.start), static_cast<int> (p.end), static_cast<int> (p.defaultValue));
        case ParamClass::Choice:
            break;
    }

    juce::StringArray texts;
    for (auto* text : p.choices)
        texts.add (text);
    return new CAudioParameterChoice (p.id, p.name, texts, static_cast<int> (p.defaultValue), {});
}

template <typename Param>
Param* as (juce::RangedAudioParameter* parameter)
{
    auto* typed = dynamic_cast<Param*> (parameter);
    jassert (typed != nullptr);
    return typed;
}

NotifiedChange notifiedChangeOf (int index, juce::RangedAudioParameter* parameter)
{
    switch (kHostParameters[index].cls)
    {
        case ParamClass::Float:  return static_cast<CAudioParameterFloat*> (parameter)->GetNotifiedChange();
        case ParamClass::Int:    return static_cast<CAudioParameterInt*> (parameter)->GetNotifiedChange();
        case ParamClass::Choice: return static_cast<CAudioParameterChoice*> (parameter)->GetNotifiedChange();
    }
    return {};
}

} // namespace

//==============================================================================
CPlugin::CPlugin()
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true))
{
    for (int i = 0; i < kNumHostParameters; ++i)
    {
        auto* parameter = makeParameter (kHostParameters[i]);
        m_parameters[(size_t) i] = parameter;
        parameter->addListener (this);
        addParameter (parameter);
    }

    m_x = as<CAudioParameterFloat> (m_parameters[kParam_x]);
    m_y = as<CAudioParameterFloat> (m_parameters[kParam_y]);
    m_z = as<CAudioParameterFloat> (m_parameters[kParam_z]);
    m_objectNumber = as<CAudioParameterFloat> (m_parameters[kParam_object_number]);
    m_layerNum = as<CAudioParameterFloat> (m_parameters[kParam_layer_num]);
    m_layerLevel = as<CAudioParameterFloat> (m_parameters[kParam_layer_level]);
    m_layerOn = as<CAudioParameterInt> (m_parameters[kParam_layer_on]);
    m_width = as<CAudioParameterFloat> (m_parameters[kParam_width]);
    m_renderMode = as<CAudioParameterChoice> (m_parameters[kParam_render_mode]);
    m_reverbLevel = as<CAudioParameterFloat> (m_parameters[kParam_reverb_level]);
    m_reverbOn = as<CAudioParameterInt> (m_parameters[kParam_reverb_on]);
    m_curvePos = as<CAudioParameterFloat> (m_parameters[kParam_curve_pos]);
    m_oscOn = as<CAudioParameterFloat> (m_parameters[kParam_osc_on]);
    m_space = as<CAudioParameterChoice> (m_parameters[kParam_space]);
    m_pairOn = as<CAudioParameterInt> (m_parameters[kParam_pair_on]);
    m_pairSpread = as<CAudioParameterFloat> (m_parameters[kParam_pair_spread]);
    m_coordMode = as<CAudioParameterChoice> (m_parameters[kParam_coord_mode]);
    m_masterLevel = as<CAudioParameterFloat> (m_parameters[kParam_master_level]);
    m_masterOn = as<CAudioParameterInt> (m_parameters[kParam_master_on]);
    m_snapshotRewrite = as<CAudioParameterInt> (m_parameters[kParam_snapshot_rewrite]);
    m_snapshotNum = as<CAudioParameterFloat> (m_parameters[kParam_snapshot_num]);
    m_x2 = as<CAudioParameterFloat> (m_parameters[kParam_x2]);
    m_y2 = as<CAudioParameterFloat> (m_parameters[kParam_y2]);
    m_z2 = as<CAudioParameterFloat> (m_parameters[kParam_z2]);

    m_oscOnState = true;

    // Registration gives the instance its object number.
    CController::AddProcessor (this);
}

CPlugin::~CPlugin()
{
    CController::RemoveProcessor (this);

    for (auto* parameter : m_parameters)
        parameter->removeListener (this);
}

juce::RangedAudioParameter* CPlugin::GetParameter (AutomationParameterIndex index) const
{
    if (index < 0 || index >= kNumHostParameters)
        return nullptr;
    return m_parameters[(size_t) index];
}

void CPlugin::TickParameters()
{
    for (int i = 0; i < kNumHostParameters; ++i)
    {
        auto* parameter = m_parameters[(size_t) i];

        switch (kHostParameters[i].cls)
        {
            case ParamClass::Float:  static_cast<CAudioParameterFloat*> (parameter)->Tick(); break;
            case ParamClass::Int:    static_cast<CAudioParameterInt*> (parameter)->Tick(); break;
            case ParamClass::Choice: static_cast<CAudioParameterChoice*> (parameter)->Tick(); break;
        }
    }
}

//==============================================================================
void CPlugin::processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer& midi)
{
    float tempo = 0.0f;

    if (auto* playHead = getPlayHead())
        if (const auto position = playHead->getPosition())
            if (const auto bpm = position->getBpm())
                tempo = static_cast<float> (*bpm);

    m_tempo.store (tempo != 0.0f && std::isfinite (tempo) ? tempo : 120.0f);

    // Audio passes through untouched; so do the MIDI events.
    for (const auto event : midi)
    {
        if (event.numBytes < 3)
            continue;

        // The latest note of the block wins; the send loop sets the snapshot number from it.
        const auto* bytes = event.data;
        if ((bytes[0] & 0xF0) == 0x90 && bytes[2] != 0)
            m_pendingNote.store (bytes[1]);
    }
}

bool CPlugin::TakePendingNote()
{
    const auto note = m_pendingNote.exchange (kNoNote);
    if (note == kNoNote)
        return false;

    // Stamped as the host's change whatever the message thread is doing, so that it reaches
    // the renderer.
    SetParameterValue (kSource_host, kParam_snapshot_num, static_cast<float> (note));
    return true;
}

void CPlugin::ReturnToMainBall()
{
    // While ball 2 was current the link held the main position back; it goes out again. Posted
    // as the host side's, so that it reaches the link whoever switched pair off.
    if (m_grabbedBall.exchange (1) == 2)
        m_messageHandler.setParameterChanged (kSource_host, kChange_position);
}

//==============================================================================
void CPlugin::SetParameterValue (DataChangeSource source, AutomationParameterIndex index, float value)
{
    m_currentSource = source;

    if (std::isfinite (value))
    {
        switch (index)
        {
            case kParam_layer_on:
            case kParam_reverb_on:
            case kParam_pair_on:
            case kParam_master_on:
            case kParam_snapshot_rewrite:
            {
                // Clamped before the conversion: an int can't hold every float.
                auto* parameter = as<CAudioParameterInt> (m_parameters[(size_t) index]);
                const auto range = parameter->getRange();
                const auto clamped = juce::jlimit (static_cast<float> (range.getStart()), static_cast<float> (range.getEnd()), value);
                parameter->SetParameterValue (static_cast<int> (clamped));
                break;
            }

            case kParam_render_mode:
            case kParam_space:
            case kParam_coord_mode:
                as<CAudioParameterChoice> (m_parameters[(size_t) index])->SetParameterValue (value);
                break;

            default:
                if (index >= 0 && index < kNumHostParameters)
                    as<CAudioParameterFloat> (m_parameters[(size_t) index])->SetParameterValue (value);
                break;
        }
    }

    m_currentSource = kSource_host;
}

bool CPlugin::ShouldPost (int index, float notifiedValue)
{
    auto* parameter = m_parameters[(size_t) index];
    const auto change = notifiedChangeOf (index, parameter);

    switch (kHostParameters[index].rule)
    {
        case PostRule::always:
            return true;

        case PostRule::valueChanged:
        case PostRule::roundedValueChanged:
        case PostRule::indexChanged:
            return change.current != change.previous;

        case PostRule::masterLevel:
            for (auto skipped = m_masterLevelSkip.load(); skipped < kMasterLevelSkip;)
                if (m_masterLevelSkip.compare_exchange_weak (skipped, skipped + 1))
                    return false;
            [[fallthrough]];

        case PostRule::notifiedValueChanged:
            return parameter->getNormalisableRange().convertFrom0to1 (notifiedValue) != change.previous;
    }

    return false;
}

void CPlugin::parameterValueChanged (int parameterIndex, float newValue)
{
    if (parameterIndex < 0 || parameterIndex >= kNumHostParameters)
        return;

    if (parameterIndex == kParam_pair_on && m_pairOn != nullptr && m_pairOn->get() == 0)
        ReturnToMainBall();

    if (ShouldPost (parameterIndex, newValue))
        m_messageHandler.setParameterChanged (m_currentSource.load(), kHostParameters[parameterIndex].changeType);
}

//==============================================================================
juce::AudioProcessorEditor* CPlugin::createEditor()
{
    auto* editor = new CPluginEditor (*this);
    m_messageHandler.setParameterChanged (kSource_host, kChange_object_number);
    return editor;
}

void CPlugin::changeProgramName (int, const juce::String&)
{
    m_messageHandler.setParameterChanged (kSource_host, kChange_object_number);
}

void CPlugin::updateTrackProperties (const juce::AudioProcessor::TrackProperties&)
{
    m_messageHandler.setParameterChanged (kSource_host, kChange_object_number);
}

bool CPlugin::isBusesLayoutSupported (const BusesLayout& layout) const
{
    return layout.getMainInputChannelSet() == layout.getMainOutputChannelSet();
}

//==============================================================================
void CPlugin::getStateInformation (juce::MemoryBlock& destData)
{
    SavedState::Write (*this, destData);
}

void CPlugin::setStateInformation (const void* data, int sizeInBytes)
{
    SavedState::Restore (*this, data, sizeInBytes);
}

} // namespace varnholt

// The entry point every plug-in format calls to build an instance.
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new varnholt::CPlugin();
}
