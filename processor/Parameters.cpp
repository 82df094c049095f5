#include "processor/Parameters.h"

#include <cmath>

namespace varnholt
{

namespace
{

struct LastChange
{
    const juce::AudioProcessorParameter* parameter = nullptr;
    NotifiedChange change {};
};

thread_local LastChange t_lastChange;

template <typename Atomic, typename Value>
void recordChange (const juce::AudioProcessorParameter* parameter, Atomic& current, Atomic& previous, Value newValue)
{
    // One exchange orders concurrent writers: each sees exactly the value it replaced.
    const auto replaced = current.exchange (newValue);
    previous.store (replaced);
    t_lastChange = { parameter, { static_cast<float> (replaced), static_cast<float> (newValue) } };
}

template <typename Param>
NotifiedChange notifiedChange (const Param& parameter)
{
    if (t_lastChange.parameter == &parameter)
        return t_lastChange.change;

    return { static_cast<float> (parameter.m_previousValue.load()), static_cast<float> (parameter.m_currentValue.load()) };
}

template <typename Param>
constexpr bool hasUserGesture = requires (Param p) { p.m_userGesture; };

// Called under the parameter's lock, before a change that passed the setter's checks.
template <typename Param>
void openAutomaticGesture (Param& parameter)
{
    if constexpr (hasUserGesture<Param>)
        if (parameter.m_userGesture)
            return;

    if (parameter.m_ticks >= kGestureTicks)
        parameter.beginChangeGesture();

    parameter.m_ticks = 0;
}

template <typename Param>
void tickGesture (Param& parameter)
{
    // Every parameter of every instance is ticked 20 times a second; almost all of them have no
    // gesture open, and those need no lock.
    if (parameter.m_ticks.load() >= kGestureTicks)
        return;

    const juce::ScopedLock sl (parameter.m_lock);

    if constexpr (hasUserGesture<Param>)
        if (parameter.m_userGesture)
            return;

    if (parameter.m_ticks < kGestureTicks && ++parameter.m_ticks == kGestureTicks)
        parameter.endChangeGesture();
}

template <typename Param>
void beginUserGesture (Param& parameter)
{
    const juce::ScopedLock sl (parameter.m_lock);

    if (parameter.m_userGesture)
        return;

    // An automatic gesture still open becomes the drag's gesture rather than a second one.
    if (parameter.m_ticks >= kGestureTicks)
        parameter.beginChangeGesture();

    parameter.m_userGesture = true;
}

template <typename Param>
void endUserGesture (Param& parameter)
{
    const juce::ScopedLock sl (parameter.m_lock);

    if (! parameter.m_userGesture)
        return;

    parameter.endChangeGesture();
    parameter.m_userGesture = false;
    parameter.m_ticks = kGestureTicks;
}

juce::ParameterID makeID (const juce::String& id)
{
    return { id, 1 };
}

} // namespace

//==============================================================================
CAudioParameterFloat::CAudioParameterFloat (juce::String parameterID, juce::String name, juce::NormalisableRange<float> range, float defaultValue)
    : juce::AudioParameterFloat (makeID (parameterID), name, range, defaultValue),
      m_currentValue (defaultValue),
      m_previousValue (defaultValue)
{
}

CAudioParameterFloat::~CAudioParameterFloat() = default;

void CAudioParameterFloat::SetParameterValue (float value)
{
    if (! std::isfinite (value))
        return;

    const juce::ScopedLock sl (m_lock);

    const auto& r = getNormalisableRange();
    const auto v = juce::jlimit (r.start, r.end, value);
    const auto current = get();

    if (v > current - r.interval && v < current + r.interval)
        return;

    openAutomaticGesture (*this);
    setValueNotifyingHost (r.convertTo0to1 (v));
}

void CAudioParameterFloat::Tick()             { tickGesture (*this); }
void CAudioParameterFloat::BeginUserGesture() { beginUserGesture (*this); }
void CAudioParameterFloat::EndUserGesture()   { endUserGesture (*this); }

NotifiedChange CAudioParameterFloat::GetNotifiedChange() const { return notifiedChange (*this); }

void CAudioParameterFloat::valueChanged (float newValue)
{
    recordChange (this, m_currentValue, m_previousValue, newValue);
}

//==============================================================================
CAudioParameterInt::CAudioParameterInt (juce::String parameterID, juce::String name, int minValue, int maxValue, int defaultValue)
    : juce::AudioParameterInt (makeID (parameterID), name, minValue, maxValue, defaultValue),
      m_currentValue (defaultValue),
      m_previousValue (defaultValue)
{
}

CAudioParameterInt::~CAudioParameterInt() = default;

void CAudioParameterInt::SetParameterValue (int value)
{
    const juce::ScopedLock sl (m_lock);

    const auto range = getRange();
    value = juce::jlimit (range.getStart(), range.getEnd(), value);

    if (value == get())
        return;

    openAutomaticGesture (*this);
    setValueNotifyingHost (convertTo0to1 (static_cast<float> (value)));
}

void CAudioParameterInt::Tick()             { tickGesture (*this); }
void CAudioParameterInt::BeginUserGesture() { beginUserGesture (*this); }
void CAudioParameterInt::EndUserGesture()   { endUserGesture (*this); }

NotifiedChange CAudioParameterInt::GetNotifiedChange() const { return notifiedChange (*this); }

void CAudioParameterInt::valueChanged (int newValue)
{
    recordChange (this, m_currentValue, m_previousValue, newValue);
}

//==============================================================================
CAudioParameterChoice::CAudioParameterChoice (const juce::String& parameterID,
                                              const juce::String& name,
                                              const juce::StringArray& choiceTexts,
                                              int defaultIndex,
                                              const juce::String& label,
                                              std::function<juce::String (int, int)> stringFromIndex,
                                              std::function<int (const juce::String&)> indexFromString)
    : juce::AudioParameterChoice (makeID (parameterID), name, choiceTexts, defaultIndex,
                                  juce::AudioParameterChoiceAttributes()
                                      .withLabel (label)
                                      .withStringFromValueFunction (std::move (stringFromIndex))
                                      .withValueFromStringFunction (std::move (indexFromString))),
      m_currentValue (defaultIndex),
      m_previousValue (defaultIndex)
{
}

CAudioParameterChoice::~CAudioParameterChoice() = default;

void CAudioParameterChoice::SetParameterValue (float value)
{
    if (! std::isfinite (value))
        return;

    const juce::ScopedLock sl (m_lock);

    // Clamp before truncating: an index far outside the list must never reach the host as a
    // normalised value outside 0..1.
    const auto last = choices.size() - 1;
    const auto index = static_cast<int> (juce::jlimit (0.0f, static_cast<float> (last), value));

    if (index == getIndex())
        return;

    openAutomaticGesture (*this);
    setValueNotifyingHost (convertTo0to1 (static_cast<float> (index)));
}

void CAudioParameterChoice::Tick() { tickGesture (*this); }

NotifiedChange CAudioParameterChoice::GetNotifiedChange() const { return notifiedChange (*this); }

void CAudioParameterChoice::valueChanged (int newIndex)
{
    recordChange (this, m_currentValue, m_previousValue, newIndex);
}

} // namespace varnholt
