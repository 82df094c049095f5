#include "TestSupport.h"

#include "link/Controller.h"
#include "processor/SavedState.h"

#include <cmath>
#include <limits>
#include <memory>
#include <optional>

using namespace varnholt;
using namespace varnholt::test;

namespace
{

int objectNumber (const CPlugin& p)
{
    return static_cast<int> (p.m_objectNumber->get());
}

struct FixedPlayHead : juce::AudioPlayHead
{
    std::optional<double> bpm;
    bool hasPosition = true;

    juce::Optional<PositionInfo> getPosition() const override
    {
        if (! hasPosition)
            return {};
        PositionInfo info;
        if (bpm)
            info.setBpm (*bpm);
        return info;
    }
};

} // namespace

TEST (PluginProcessor, ObjectNumbersFollowTheHighestRegistered)
{
    auto a = std::make_unique<CPlugin>();
    auto b = std::make_unique<CPlugin>();
    auto c = std::make_unique<CPlugin>();
    EXPECT_EQ (objectNumber (*a), 1);
    EXPECT_EQ (objectNumber (*b), 2);
    EXPECT_EQ (objectNumber (*c), 3);

    // Freed numbers are not reused.
    b.reset();
    auto d = std::make_unique<CPlugin>();
    EXPECT_EQ (objectNumber (*d), 4);

    // At the top of the range every newcomer shares 128.
    d->SetParameterValue (kSource_editor, kParam_object_number, 128.0f);
    auto e = std::make_unique<CPlugin>();
    auto f = std::make_unique<CPlugin>();
    EXPECT_EQ (objectNumber (*e), 128);
    EXPECT_EQ (objectNumber (*f), 128);

    auto* controller = CController::GetInstance();
    {
        const juce::ScopedLock sl (controller->m_lock);
        EXPECT_EQ (controller->m_plugins.size(), 5);
    }

    // The registration is the renderer link's doing: the editor hears of it, the link doesn't.
    // Each instance's own queue delivers its changes, so each is waited for.
    ASSERT_TRUE (allDelivered (e->m_messageHandler));
    EXPECT_TRUE (e->m_messageHandler.isChanged (kSource_editor, kChange_object_number));
    EXPECT_FALSE (e->m_messageHandler.isChanged (kSource_controller, kChange_object_number));
    ASSERT_TRUE (allDelivered (a->m_messageHandler));
    EXPECT_TRUE (a->m_messageHandler.isChanged (kSource_host, kChange_plugin_list));
    EXPECT_FALSE (a->m_messageHandler.isChanged (kSource_controller, kChange_plugin_list));
}

TEST (PluginProcessor, LastInstanceTakesTheControllerAndTheNextStartsAfresh)
{
    {
        CPlugin a;
        CPlugin b;
        EXPECT_EQ (objectNumber (b), 2);
    }
    CPlugin c;
    EXPECT_EQ (objectNumber (c), 1);
}

TEST (PluginProcessor, StartsInItsDocumentedState)
{
    CPlugin p;

    // A host starts listening right after construction; it must see no gesture end whose begin
    // it missed.
    HostRecorder host (p);
    for (int k = 0; k < 2 * kGestureTicks; ++k)
        CController::GetInstance()->timerCallback();
    EXPECT_TRUE (host.gestures.empty());

    EXPECT_EQ (p.m_tempo.load(), 121.0f);
    EXPECT_EQ (p.m_grabbedBall, 1);
    EXPECT_TRUE (p.m_oscOnState);
    EXPECT_EQ (p.m_currentSource.load(), kSource_host);
    EXPECT_EQ (p.m_lastRequestedObject, -1);
    EXPECT_EQ (p.getName(), "Varnholt-v2");
    EXPECT_EQ (p.getTotalNumInputChannels(), 2);
    EXPECT_EQ (p.getTotalNumOutputChannels(), 2);
    EXPECT_EQ (p.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (p.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (p.getParameters().size(), kNumHostParameters);
}

TEST (PluginProcessor, BlocksStoreTheTempoAndPassAudioAndMidiThrough)
{
    CPlugin p;
    FixedPlayHead playHead;
    p.setPlayHead (&playHead);

    struct Case { const char* what; std::optional<double> bpm; bool position; float expected; };
    const Case tempos[] = {
        { "98.5",        98.5, true,  98.5f },
        { "no tempo",    {},   true,  120.0f },
        { "zero",        0.0,  true,  120.0f },
        { "no position", {},   false, 120.0f },
        { "not a number", std::numeric_limits<double>::quiet_NaN(), true, 120.0f },
    };

    juce::AudioBuffer<float> audio (2, 512);
    juce::Random random (7);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < 512; ++i)
            audio.setSample (ch, i, random.nextFloat() * 2.0f - 1.0f);
    const juce::AudioBuffer<float> original (audio);

    for (const auto& c : tempos)
    {
        playHead.bpm = c.bpm;
        playHead.hasPosition = c.position;
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (4, 60, (juce::uint8) 100), 17);
        midi.addEvent (juce::MidiMessage::controllerEvent (1, 7, 99), 300);

        p.processBlock (audio, midi);

        EXPECT_EQ (p.m_tempo.load(), c.expected) << c.what;
        EXPECT_EQ (midi.getNumEvents(), 2) << c.what;
        EXPECT_EQ (midi.getFirstEventTime(), 17);
        EXPECT_EQ (midi.getLastEventTime(), 300);
    }

    for (int ch = 0; ch < 2; ++ch)
        EXPECT_EQ (std::memcmp (audio.getReadPointer (ch), original.getReadPointer (ch), 512 * sizeof (float)), 0);

    p.setPlayHead (nullptr);
}

TEST (PluginProcessor, NoteOnsSelectTheSnapshotNumber)
{
    struct Case { const char* what; std::vector<juce::uint8> bytes; float expected; };
    const Case cases[] = {
        { "note-on channel 4",   { 0x93, 60, 100 }, 60.0f },
        { "velocity 0",          { 0x90, 61, 0 },   60.0f },
        { "note-off",            { 0x80, 62, 100 }, 60.0f },
        { "note 0 clamps to 1",  { 0x90, 0, 1 },    1.0f },
        { "note 127",            { 0x9F, 127, 5 },  127.0f },
        { "truncated note-on",   { 0x90, 40 },      127.0f },
        { "lone status byte",    { 0x95 },          127.0f },
    };

    CPlugin p;
    juce::AudioBuffer<float> audio (2, 64);
    for (const auto& c : cases)
    {
        juce::MidiBuffer midi;
        midi.addEvent (c.bytes.data(), (int) c.bytes.size(), 0);
        p.processBlock (audio, midi);
        CController::GetInstance()->timerCallback();   // the link takes the note over
        EXPECT_EQ (p.m_snapshotNum->get(), c.expected) << c.what;
    }
}

TEST (PluginProcessor, EveryParameterPostsItsChangeType)
{
    CPlugin p;

    // Swallow the master level's start-up notifications first.
    for (int i = 0; i < 3; ++i)
        p.m_masterLevel->setValueNotifyingHost (0.1f * (float) (i + 1));

    const DataChangeType expected[kNumHostParameters] = {
        kChange_position, kChange_position, kChange_position, kChange_object_number, kChange_layer_num,
        kChange_layer_level, kChange_layer_on, kChange_width, kChange_render_mode, kChange_reverb_level,
        kChange_reverb_on, kChange_curve_pos, kChange_osc_on, kChange_space, kChange_pair_on,
        kChange_pair_spread, kChange_coord_mode, kChange_master_level, kChange_master_on,
        kChange_snapshot_rewrite, kChange_snapshot_num, kChange_position2, kChange_position2, kChange_position2,
    };

    for (int i = 0; i < kNumHostParameters; ++i)
    {
        clearSets (p.m_messageHandler);
        auto* parameter = p.getParameters()[i];
        const auto target = parameter->getValue() < 0.5f ? 1.0f : 0.0f;
        parameter->setValueNotifyingHost (target);

        ASSERT_TRUE (allDelivered (p.m_messageHandler));
        EXPECT_EQ (setOf (p.m_messageHandler, kSource_controller), std::set<DataChangeType> { expected[i] }) << "parameter " << i;
        EXPECT_TRUE (setOf (p.m_messageHandler, kSource_host).empty()) << "parameter " << i;
    }
}

TEST (PluginProcessor, OnlyRealChangesArePostedExceptForTheAlwaysPostedOnes)
{
    CPlugin p;

    struct Case { const char* what; juce::AudioProcessorParameter* parameter; float normalised; bool posted; };
    const Case cases[] = {
        { "layer on snapping to its value",   p.m_layerOn,       0.8f,  true },   // stays 1
        { "reverb on snapping to its value",  p.m_reverbOn,      0.9f,  true },
        { "X snapping to its value",          p.m_x,             0.5f,  false },
        { "pair on snapping to its value",    p.m_pairOn,        0.2f,  false },
        { "space snapping to its index",      p.m_space,         0.05f, false },
        { "object number snapping to itself", p.m_objectNumber,  0.0f,  true },
        { "master level during start-up",     p.m_masterLevel,   0.5f,  false },
        { "master level, second notification", p.m_masterLevel,  0.6f,  false },
        { "master level, third notification", p.m_masterLevel,   0.7f,  false },
        { "master level after start-up",      p.m_masterLevel,   0.8f,  true },
    };

    for (const auto& c : cases)
    {
        clearSets (p.m_messageHandler);
        c.parameter->setValueNotifyingHost (c.normalised);
        ASSERT_TRUE (allDelivered (p.m_messageHandler));
        EXPECT_EQ (! setOf (p.m_messageHandler, kSource_controller).empty(), c.posted) << c.what;
    }
}

TEST (PluginProcessor, WritesCarryTheWritersSource)
{
    CPlugin p;
    clearSets (p.m_messageHandler);

    p.SetParameterValue (kSource_controller, kParam_width, 1.7f);
    p.SetParameterValue (kSource_editor, kParam_layer_on, 0.7f);   // truncated to 0
    p.SetParameterValue (kSource_controller, kParam_pair_on, 1e30f);
    p.SetParameterValue (kSource_controller, kParam_curve_pos, std::numeric_limits<float>::quiet_NaN());
    p.SetParameterValue (kSource_editor, static_cast<AutomationParameterIndex> (24), 1.0f);
    p.SetParameterValue (kSource_editor, static_cast<AutomationParameterIndex> (-1), 1.0f);

    EXPECT_FLOAT_EQ (p.m_width->get(), 1.7f);
    EXPECT_EQ (p.m_layerOn->get(), 0);
    EXPECT_EQ (p.m_pairOn->get(), 1);
    EXPECT_FLOAT_EQ (p.m_curvePos->get(), 0.0f);
    EXPECT_EQ (p.m_currentSource.load(), kSource_host);

    ASSERT_TRUE (allDelivered (p.m_messageHandler));
    const auto link = setOf (p.m_messageHandler, kSource_controller);
    EXPECT_EQ (link.count (kChange_width), 0u) << "a renderer value must not go back to the renderer";
    EXPECT_EQ (link.count (kChange_pair_on), 0u);
    EXPECT_EQ (link.count (kChange_layer_on), 1u);
    EXPECT_EQ (setOf (p.m_messageHandler, kSource_host).count (kChange_width), 1u);
}

TEST (PluginProcessor, HostChangesOnAnotherThreadDuringARendererWriteReachTheRenderer)
{
    CPlugin p;
    clearSets (p.m_messageHandler);

    // The renderer link is in the middle of a write on this thread...
    p.m_currentSource = kSource_controller;

    // ...while the host automates and plays a note on its own threads.
    std::thread host ([&]
    {
        p.m_reverbLevel->setValueNotifyingHost (0.75f);
        juce::AudioBuffer<float> audio (2, 32);
        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 33, (juce::uint8) 90), 0);
        p.processBlock (audio, midi);
    });
    host.join();

    p.m_curvePos->SetParameterValue (0.4f);
    p.m_currentSource = kSource_host;

    ASSERT_TRUE (allDelivered (p.m_messageHandler));
    const auto link = setOf (p.m_messageHandler, kSource_controller);
    EXPECT_EQ (link.count (kChange_reverb_level), 1u);
    EXPECT_EQ (link.count (kChange_curve_pos), 0u);

    // The note is the host's change too: the link's next tick takes it over and sends it.
    auto* controller = CController::GetInstance();
    controller->timerCallback();
    const juce::ScopedLock sl (controller->m_lock);
    EXPECT_EQ (p.m_snapshotNum->get(), 33.0f);
    EXPECT_EQ (p.m_sentTypes.count (kChange_snapshot_num), 1u);
}

TEST (PluginProcessor, ProgramAndTrackCallsOnlyAnnounceTheInstance)
{
    CPlugin p;
    clearSets (p.m_messageHandler);

    p.changeProgramName (0, "verse");
    EXPECT_EQ (p.getProgramName (0), juce::String());

    juce::AudioProcessor::TrackProperties track;
    track.name = "Vox";
    p.updateTrackProperties (track);

    ASSERT_TRUE (allDelivered (p.m_messageHandler));
    EXPECT_EQ (setOf (p.m_messageHandler, kSource_controller), std::set<DataChangeType> { kChange_object_number });
}

TEST (PluginProcessor, BusLayoutsMustMatchInAndOut)
{
    CPlugin p;
    using Set = juce::AudioChannelSet;

    struct Case { Set in, out; bool ok; };
    const Case cases[] = {
        { Set::stereo(), Set::stereo(), true },
        { Set::mono(), Set::mono(), true },
        { Set::disabled(), Set::disabled(), true },
        { Set::mono(), Set::stereo(), false },
        { Set::stereo(), Set::disabled(), false },
    };

    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (c.in);
        layout.outputBuses.add (c.out);
        EXPECT_EQ (p.isBusesLayoutSupported (layout), c.ok) << c.in.getDescription() << " -> " << c.out.getDescription();
    }
}
