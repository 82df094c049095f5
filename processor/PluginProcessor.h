#pragma once

#include "processor/ChangeSource.h"
#include "processor/Globals.h"
#include "processor/MessageHandler.h"
#include "processor/Parameters.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <set>

namespace varnholt
{

// One instance of the plug-in: one sound object of the renderer. It renders no audio; it holds
// the object's parameters, queues every change of them for the renderer link and the editor,
// forwards the host tempo and turns MIDI note-ons into the snapshot number.
class CPlugin : public juce::AudioProcessor,
                public juce::AudioProcessorParameter::Listener
{
public:
    CPlugin();
    ~CPlugin() override;

    const juce::String getName() const override { return "Varnholt-v2"; }

    void prepareToPlay (double, int) override {}
    void releaseResources() override {}
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;

    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return false; }

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override { return true; }

    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return m_programName; }
    void changeProgramName (int, const juce::String&) override;

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    void updateTrackProperties (const juce::AudioProcessor::TrackProperties&) override;
    bool isBusesLayoutSupported (const BusesLayout& layout) const override;

    void parameterValueChanged (int parameterIndex, float newValue) override;
    void parameterGestureChanged (int, bool) override {}

    // Writes one parameter in plain units, stamping the resulting change with `source`.
    void SetParameterValue (DataChangeSource source, AutomationParameterIndex index, float value);

    // The parameter object behind a host index, or nullptr outside 0..23.
    juce::RangedAudioParameter* GetParameter (AutomationParameterIndex index) const;

    int32_t m_lastRequestedObject = -1;
    std::atomic<bool> m_stateRequested { false };
    std::atomic<int32_t> m_requestTicks { 0 };

    CAudioParameterFloat* m_x = nullptr;
    CAudioParameterFloat* m_y = nullptr;
    CAudioParameterFloat* m_z = nullptr;
    CAudioParameterFloat* m_x2 = nullptr;
    CAudioParameterFloat* m_y2 = nullptr;
    CAudioParameterFloat* m_z2 = nullptr;
    CAudioParameterFloat* m_layerLevel = nullptr;
    CAudioParameterFloat* m_layerNum = nullptr;
    CAudioParameterFloat* m_width = nullptr;
    CAudioParameterFloat* m_reverbLevel = nullptr;
    CAudioParameterFloat* m_curvePos = nullptr;
    CAudioParameterInt* m_layerOn = nullptr;
    CAudioParameterInt* m_reverbOn = nullptr;
    CAudioParameterFloat* m_oscOn = nullptr;
    bool m_oscOnState = true;
    CAudioParameterInt* m_pairOn = nullptr;
    CAudioParameterFloat* m_snapshotNum = nullptr;
    CAudioParameterChoice* m_space = nullptr;
    CAudioParameterFloat* m_pairSpread = nullptr;
    CAudioParameterChoice* m_coordMode = nullptr;
    CAudioParameterChoice* m_renderMode = nullptr;
    CAudioParameterFloat* m_masterLevel = nullptr;
    CAudioParameterInt* m_masterOn = nullptr;
    CAudioParameterInt* m_snapshotRewrite = nullptr;
    std::atomic<float> m_tempo { 121.0f };
    CAudioParameterFloat* m_objectNumber = nullptr;
    VH_MessageHandler m_messageHandler;
    std::atomic<int32_t> m_masterLevelSkip { 0 };
    std::set<DataChangeType> m_sentTypes;
    juce::String m_programName;
    CChangeSource m_currentSource;

    // The pad's current ball, 1 or 2. Pair switched off, from wherever, makes ball 1 current
    // again (and has the main position sent again), window open or not; so it is written by the
    // thread that switches pair off as well as by the pad.
    std::atomic<int32_t> m_grabbedBall { 1 };

    // The latest note-on of the audio thread not yet taken over, or kNoNote. The audio thread
    // must never wait for the snapshot number's lock, which the message thread holds while it
    // calls the host; the send loop takes the note over on its next tick.
    static constexpr int32_t kNoNote = -1;
    std::atomic<int32_t> m_pendingNote { kNoNote };

    // Sets the snapshot number from the note waiting in m_pendingNote, as a change of the host's.
    // True when a note was waiting. Message thread.
    bool TakePendingNote();

    // Calls Tick on all 24 parameters, in index order.
    void TickParameters();

    // Makes ball 1 current, as pair switched off does; when ball 2 was current, the main position,
    // held back meanwhile, is posted to go out again. Any thread.
    void ReturnToMainBall();

private:
    bool ShouldPost (int index, float notifiedValue);

    std::array<juce::RangedAudioParameter*, kNumHostParameters> m_parameters {};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CPlugin)
};

} // namespace varnholt
