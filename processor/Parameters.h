#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <functional>

namespace varnholt
{

// The value pair that a parameter's last valueChanged recorded on the calling thread. The
// processor's listener runs right after valueChanged on the same thread, so this is the pair of
// exactly the notification it is handling, whatever other threads write meanwhile.
struct NotifiedChange
{
    float previous;
    float current;
};

// Ticks of the send loop after which an automatic host gesture closes.
constexpr int kGestureTicks = 9;

class CAudioParameterFloat : public juce::AudioParameterFloat
{
public:
    CAudioParameterFloat (juce::String parameterID, juce::String name, juce::NormalisableRange<float> range, float defaultValue);
    ~CAudioParameterFloat() override;

    int getNumSteps() const override { return 2047; }

    // A change made by the plug-in itself: clamped, ignored within one interval of the current
    // value, and wrapped in an automatic host gesture that Tick closes.
    void SetParameterValue (float value);
    void Tick();

    // An editor drag. A drag that starts while an automatic gesture is open takes that gesture
    // over, so the host sees exactly one end for every begin.
    void BeginUserGesture();
    void EndUserGesture();

    NotifiedChange GetNotifiedChange() const;

    std::atomic<int> m_ticks { kGestureTicks };   // written under m_lock; read without it by Tick
    bool m_userGesture = false;
    juce::CriticalSection m_lock;
    std::atomic<float> m_currentValue;
    std::atomic<float> m_previousValue;

protected:
    void valueChanged (float newValue) override;
};

class CAudioParameterInt : public juce::AudioParameterInt
{
public:
    CAudioParameterInt (juce::String parameterID, juce::String name, int minValue, int maxValue, int defaultValue);
    ~CAudioParameterInt() override;

    int getNumSteps() const override { return 2047; }

    void SetParameterValue (int value);
    void Tick();
    void BeginUserGesture();
    void EndUserGesture();

    NotifiedChange GetNotifiedChange() const;

    std::atomic<int> m_ticks { kGestureTicks };   // written under m_lock; read without it by Tick
    bool m_userGesture = false;
    juce::CriticalSection m_lock;
    std::atomic<int> m_currentValue;
    std::atomic<int> m_previousValue;

protected:
    void valueChanged (int newValue) override;
};

class CAudioParameterChoice : public juce::AudioParameterChoice
{
public:
    CAudioParameterChoice (const juce::String& parameterID,
                           const juce::String& name,
                           const juce::StringArray& choices,
                           int defaultIndex,
                           const juce::String& label,
                           std::function<juce::String (int, int)> stringFromIndex = nullptr,
                           std::function<int (const juce::String&)> indexFromString = nullptr);
    ~CAudioParameterChoice() override;

    // The value is a choice index; fractions are truncated.
    void SetParameterValue (float value);
    void Tick();

    NotifiedChange GetNotifiedChange() const;

    std::atomic<int> m_ticks { kGestureTicks };   // written under m_lock; read without it by Tick
    juce::CriticalSection m_lock;
    std::atomic<int> m_currentValue;
    std::atomic<int> m_previousValue;

protected:
    void valueChanged (int newIndex) override;
};

} // namespace varnholt
