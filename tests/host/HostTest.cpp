// What a host sees of the built plug-in: identity, buses, parameters, audio, MIDI and the saved
// block, all through the VST3 interface.

#include "HostedPlugin.h"
#include "../fuzz/HostileBytes.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace
{

class HostTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        juce::String error;
        m_plugin = HostedPlugin::Load (error);
        ASSERT_NE (m_plugin, nullptr) << error;
    }

    juce::AudioPluginInstance& Instance() { return m_plugin->Instance(); }

    juce::AudioProcessorParameter& Parameter (int index) { return *Instance().getParameters()[index]; }

    void Process (juce::AudioBuffer<float>& audio, juce::MidiBuffer& midi)
    {
        Instance().processBlock (audio, midi);
    }

    void ProcessSilence (juce::MidiBuffer& midi)
    {
        juce::AudioBuffer<float> audio (2, HostedPlugin::kBlockSize);
        audio.clear();
        Process (audio, midi);
    }

    // Runs the host's message loop until the parameter reads `normalised`, for at most a second.
    bool Reaches (int index, float normalised)
    {
        for (int attempt = 0; attempt < 100; ++attempt)
        {
            juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
            m_plugin->RereadParameters();
            if (std::abs (Parameter (index).getValue() - normalised) < 1e-6f)
                return true;
        }
        return false;
    }

    std::unique_ptr<HostedPlugin> m_plugin;
};

// The ID that the VST3 client derives from a parameter's string ID, and that hosts store in
// their projects' automation.
juce::String Vst3IdOf (const char* id)
{
    return juce::String (static_cast<juce::uint32> (juce::String (id).hashCode()) & 0x7fffffffu);
}

//==============================================================================
TEST_F (HostTest, IdentityBusesAndMidi)
{
    auto& plugin = Instance();

    EXPECT_EQ (plugin.getName(), "Varnholt-v2");
    EXPECT_TRUE (plugin.acceptsMidi());
    EXPECT_FALSE (plugin.producesMidi());

    for (const bool isInput : { true, false })
    {
        SCOPED_TRACE (isInput ? "input" : "output");
        ASSERT_EQ (plugin.getBusCount (isInput), 1);
        const auto* bus = plugin.getBus (isInput, 0);
        ASSERT_NE (bus, nullptr);
        EXPECT_EQ (bus->getName(), isInput ? "Input" : "Output");
        EXPECT_EQ (bus->getCurrentLayout(), juce::AudioChannelSet::stereo());
        EXPECT_TRUE (bus->isEnabled());
    }
}

//==============================================================================
struct TextSample
{
    float normalised;
    const char* text;
};

struct ParameterRow
{
    const char* id;
    const char* name;
    float defaultNormalised;
    std::vector<TextSample> texts;
};

const ParameterRow kParameters[] = {
    { "00", "x",                0.5f,   { { 0.0f, "0.000" }, { 0.5f, "0.500" }, { 1.0f, "1.000" } } },
    { "01", "y",                0.5f,   { { 0.5f, "0.500" } } },
    { "02", "z",                0.5f,   { { 0.5f, "0.500" } } },
    { "03", "object number",    0.0f,   { { 0.0f, "1" }, { 1.0f, "128" } } },
    { "04", "layer num",        0.0f,   { { 0.0f, "1" }, { 1.0f, "12" } } },
    { "05", "layer level",      0.875f, { { 0.0f, "-84.00" }, { 0.875f, "0.00" }, { 1.0f, "12.00" } } },
    { "06", "layer on",         1.0f,   { { 0.0f, "0" }, { 1.0f, "1" } } },
    { "07", "width",            0.5f,   { { 0.0f, "0.000" }, { 0.5f, "1.000" }, { 1.0f, "2.000" } } },
    { "08", "render mode",      0.0f,   { { 0.0f, "min delay" }, { 0.5f, "full delay" }, { 1.0f, "no delay" } } },
    { "09", "reverb level",     0.0f,   { { 0.0f, "-84.00" }, { 1.0f, "12.00" } } },
    { "10", "reverb on",        1.0f,   { { 0.0f, "0" }, { 1.0f, "1" } } },
    { "11", "curve pos",        0.0f,   { { 0.0f, "0.000" }, { 1.0f, "1.000" } } },
    { "12", "osc on",           1.0f,   { { 0.0f, "0" }, { 1.0f, "1" } } },
    { "13", "space",            0.0f,   { { 0.0f, "none" }, { 0.25f, "space 1" }, { 0.5f, "space 2" }, { 0.75f, "space 3" }, { 1.0f, "space 4" } } },
    { "14", "pair on",          0.0f,   { { 0.0f, "0" }, { 1.0f, "1" } } },
    { "15", "spread",           0.5f,   { { 0.5f, "1.000" }, { 1.0f, "2.000" } } },
    { "16", "coordinate",       0.0f,   { { 0.0f, "cartesian" }, { 1.0f, "spherical" } } },
    { "17", "master level",     0.0f,   { { 0.0f, "-84.00" }, { 1.0f, "12.00" } } },
    { "18", "master on",        0.0f,   { { 0.0f, "0" }, { 1.0f, "1" } } },
    { "19", "snapshot rewrite", 0.0f,   { { 0.0f, "0" }, { 1.0f, "1" } } },
    { "20", "snapshot number",  0.0f,   { { 0.0f, "1.0" }, { 1.0f, "1024.0" } } },
    { "21", "x2",               0.5f,   { { 0.5f, "0.500" } } },
    { "22", "y2",               0.5f,   { { 0.5f, "0.500" } } },
    { "23", "z2",               0.5f,   { { 0.5f, "0.500" } } },
};

constexpr int kNumObjectParameters = 24;

TEST_F (HostTest, ParametersAsTheHostSeesThem)
{
    const auto& parameters = Instance().getParameters();

    // The 24 of the object, then the bypass switch that the VST3 client adds to a processor
    // without one of its own.
    ASSERT_EQ (parameters.size(), kNumObjectParameters + 1);
    EXPECT_EQ (Instance().getBypassParameter(), parameters[kNumObjectParameters]);

    for (int index = 0; index < kNumObjectParameters; ++index)
    {
        const auto& row = kParameters[index];
        const auto& parameter = *parameters[index];
        SCOPED_TRACE (juce::String ("parameter ") + row.id);

        auto* withId = dynamic_cast<const juce::HostedAudioProcessorParameter*> (&parameter);
        ASSERT_NE (withId, nullptr);
        EXPECT_EQ (withId->getParameterID(), Vst3IdOf (row.id));

        EXPECT_EQ (parameter.getName (128), row.name);
        EXPECT_TRUE (parameter.isAutomatable());
        EXPECT_NEAR (parameter.getDefaultValue(), row.defaultNormalised, 1e-6f);
        // A fresh instance holds its defaults; the object number is 1, the bottom of its range.
        EXPECT_NEAR (parameter.getValue(), row.defaultNormalised, 1e-6f);

        for (const auto& sample : row.texts)
            EXPECT_EQ (parameter.getText (sample.normalised, 128), sample.text) << "at " << sample.normalised;
    }
}

//==============================================================================
TEST_F (HostTest, AudioPassesBitExact)
{
    juce::Random random (0x5eed);
    juce::MidiBuffer midi;

    for (int block = 0; block < 8; ++block)
    {
        juce::AudioBuffer<float> audio (2, HostedPlugin::kBlockSize);
        for (int channel = 0; channel < audio.getNumChannels(); ++channel)
            for (int frame = 0; frame < audio.getNumSamples(); ++frame)
                audio.setSample (channel, frame, random.nextFloat() * 2.0f - 1.0f);

        const juce::AudioBuffer<float> input (audio);

        // A note-on in every other block: MIDI handling must not touch the audio either.
        midi.clear();
        if (block % 2 == 1)
            midi.addEvent (juce::MidiMessage (0x90, 60 + block, 100), block * 16);

        Process (audio, midi);

        for (int channel = 0; channel < 2; ++channel)
            EXPECT_EQ (std::memcmp (audio.getReadPointer (channel), input.getReadPointer (channel),
                                    sizeof (float) * static_cast<size_t> (HostedPlugin::kBlockSize)), 0)
                << "block " << block << ", channel " << channel;
    }
}

//==============================================================================
struct MidiEvent
{
    juce::uint8 status, data1, data2;
};

struct MidiCase
{
    const char* what;
    std::vector<std::vector<MidiEvent>> blocks;    // events spread over each block in this order
    int snapshotNumber;                            // expected after the last block
};

const MidiCase kMidiCases[] = {
    { "a note-on sets the snapshot number to its note",    { { { 0x90, 60, 100 } } },                                    60 },
    { "on any channel, with any velocity",                 { { { 0x9F, 61, 1 } } },                                      61 },
    { "a note-on with velocity 0 changes nothing",         { { { 0x90, 60, 100 }, { 0x90, 61, 0 } } },                   60 },
    { "a note-off changes nothing",                        { { { 0x90, 60, 100 }, { 0x80, 62, 100 } } },                 60 },
    { "other channel messages change nothing",             { { { 0x90, 60, 100 }, { 0xB0, 7, 100 }, { 0xA0, 63, 100 }, { 0xE0, 0, 64 } } }, 60 },
    { "the last note-on of a block wins",                  { { { 0x90, 10, 100 }, { 0x91, 20, 100 } } },                 20 },
    { "a later block's note-on replaces the number",       { { { 0x90, 60, 100 } }, { { 0x90, 127, 100 } } },            127 },
    { "note 0 gives the lowest snapshot number, 1",        { { { 0x90, 60, 100 } }, { { 0x90, 0, 100 } } },              1 },
};

constexpr int kSnapshotNumber = 20;

TEST_F (HostTest, NoteOnsSetTheSnapshotNumber)
{
    for (const auto& testCase : kMidiCases)
    {
        SCOPED_TRACE (testCase.what);

        // Each case starts from a fresh instance, at snapshot number 1.
        m_plugin.reset();
        juce::String error;
        m_plugin = HostedPlugin::Load (error);
        ASSERT_NE (m_plugin, nullptr) << error;

        for (const auto& events : testCase.blocks)
        {
            juce::MidiBuffer midi;
            int position = 0;
            for (const auto& event : events)
                midi.addEvent (juce::MidiMessage (event.status, event.data1, event.data2), position += 32);

            ProcessSilence (midi);
        }

        // The instance takes the note over on its link's next 50 ms tick.
        const auto& snapshot = Parameter (kSnapshotNumber);
        EXPECT_TRUE (Reaches (kSnapshotNumber, static_cast<float> (testCase.snapshotNumber - 1) / 1023.0f));
        EXPECT_EQ (snapshot.getCurrentValueAsText(), juce::String (testCase.snapshotNumber) + ".0");
    }
}

//==============================================================================
// Gestures as the host sees them, from whichever thread the plug-in reports them.
struct GestureLog : juce::AudioProcessorListener
{
    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int index) override { add (index, +1); }
    void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int index) override { add (index, -1); }

    void add (int index, int step)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        open[index] += step;
        unmatchedEnd = unmatchedEnd || open[index] < 0;
    }

    std::mutex mutex;
    std::map<int, int> open;
    bool unmatchedEnd = false;
};

TEST_F (HostTest, AFreshInstanceEndsNoGestureItDidNotBegin)
{
    // Listening from right after the instance was made, as a host does, for longer than an
    // automatic gesture stays open.
    GestureLog log;
    Instance().addListener (&log);
    for (int k = 0; k < 20; ++k)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    Instance().removeListener (&log);

    const std::lock_guard<std::mutex> lock (log.mutex);
    EXPECT_FALSE (log.unmatchedEnd);
}

//==============================================================================
// The block a fresh instance saves: version 1.0, the default renderer address, object number 1,
// osc on, layer 1, cartesian coordinates; int32 fields little-endian.
const std::array<juce::uint8, 30> kFreshBlock = {
    0x00, 0x00, 0x01, 0x00,
    '1', '2', '7', '.', '0', '.', '0', '.', '1', 0x00,
    0x01, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00,
};

constexpr size_t kObjectNumberOffset = 14;
constexpr size_t kLayerNumberOffset = 22;
constexpr size_t kCoordModeOffset = 26;

std::vector<juce::uint8> BytesOf (const juce::MemoryBlock& block)
{
    const auto* data = static_cast<const juce::uint8*> (block.getData());
    return { data, data + block.getSize() };
}

juce::MemoryBlock SavedHostState (juce::AudioPluginInstance& plugin)
{
    juce::MemoryBlock state;
    plugin.getStateInformation (state);
    return state;
}

TEST_F (HostTest, FreshInstanceSavesItsBlock)
{
    const auto block = HostedPlugin::PluginBlockOf (SavedHostState (Instance()));
    ASSERT_TRUE (block.has_value());
    EXPECT_EQ (BytesOf (*block), std::vector<juce::uint8> (kFreshBlock.begin(), kFreshBlock.end()));
}

struct RestoredField
{
    size_t offset;
    juce::uint8 value;
    int parameter;
    float normalised;
    const char* text;
};

const RestoredField kRestoredFields[] = {
    { kObjectNumberOffset, 9, 3,  8.0f / 127.0f, "9" },
    { kLayerNumberOffset,  3, 4,  2.0f / 11.0f,  "3" },
    { kCoordModeOffset,    1, 16, 1.0f,          "spherical" },
};

TEST_F (HostTest, RestoredBlockReachesTheParameters)
{
    const auto saved = SavedHostState (Instance());

    auto bytes = std::vector<juce::uint8> (kFreshBlock.begin(), kFreshBlock.end());
    for (const auto& field : kRestoredFields)
        bytes[field.offset] = field.value;

    const auto restored = HostedPlugin::WithPluginBlock (saved, juce::MemoryBlock (bytes.data(), bytes.size()));
    ASSERT_TRUE (restored.has_value());
    Instance().setStateInformation (restored->getData(), static_cast<int> (restored->getSize()));

    for (const auto& field : kRestoredFields)
    {
        auto& parameter = Parameter (field.parameter);
        SCOPED_TRACE (parameter.getName (128));
        EXPECT_NEAR (parameter.getValue(), field.normalised, 1e-6f);
        EXPECT_EQ (parameter.getCurrentValueAsText(), field.text);
    }

    // Saved again, the instance gives back what it was given.
    const auto block = HostedPlugin::PluginBlockOf (SavedHostState (Instance()));
    ASSERT_TRUE (block.has_value());
    EXPECT_EQ (BytesOf (*block), bytes);
}

//==============================================================================
// Anyone on the network can send to the reply port, and a damaged project file can hold anything:
// the instance drops such bytes and goes on answering.
TEST_F (HostTest, HostileBytesLeaveTheInstanceAnswering)
{
    const int sender = ::socket (AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE (sender, 0);
    sockaddr_in port {};
    port.sin_family = AF_INET;
    port.sin_port = htons (5342);
    port.sin_addr.s_addr = htonl (INADDR_LOOPBACK);

    const auto send = [&] (const hostile::Bytes& b)
    {
        ::sendto (sender, b.data(), b.size(), 0, reinterpret_cast<const sockaddr*> (&port), sizeof port);
    };

    // The probe below sets the width to 0.625. An argument sits on a 4-byte boundary, and no such
    // word of the flood, read as a float, comes within the width's step (0.001) of the probe; int32
    // replies are whole numbers. So no flooded reply can pass for it.
    constexpr float kProbe = 0.625f;
    const auto nearProbe = [] (const hostile::Bytes& d)
    {
        for (size_t at = 0; at + 4 <= d.size(); at += 4)
        {
            const auto* p = reinterpret_cast<const unsigned char*> (d.data() + at);
            const uint32_t bits = (uint32_t (p[0]) << 24) | (uint32_t (p[1]) << 16) | (uint32_t (p[2]) << 8) | p[3];
            float v;
            std::memcpy (&v, &bits, 4);
            if (std::abs (v - kProbe) < 0.001f)
                return true;
        }
        return false;
    };

    hostile::Source source (0x4057);
    std::vector<hostile::Bytes> flood;
    for (int k = 0; k < 2000; ++k)
    {
        flood.push_back (source.datagram());
        ASSERT_FALSE (nearProbe (flood.back())) << "flooded datagram " << k << " could pass for the probe";
    }

    for (size_t k = 0; k < flood.size(); ++k)
    {
        send (flood[k]);
        if (k % 100 == 99)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
    }

    // None of these is applied: the saved block afterwards is still the fresh one.
    const auto fresh = std::string (kFreshBlock.begin(), kFreshBlock.end());
    const std::vector<hostile::Bytes> damaged = {
        fresh.substr (0, 10) + "\xcc" "0" + fresh.substr (12),   // malformed UTF-8 in the address
        fresh.substr (0, 4) + "\xff\xfe\xfd" + fresh.substr (7),
        fresh.substr (0, 4) + std::string (40, '7'),             // no terminator
        fresh.substr (0, 13) + "000000000" + fresh.substr (13),   // address too long
        fresh.substr (0, 20),                                     // cut short
        "\xcc",
    };

    const auto saved = SavedHostState (Instance());
    for (const auto& block : damaged)
    {
        const auto restored = HostedPlugin::WithPluginBlock (saved, juce::MemoryBlock (block.data(), block.size()));
        ASSERT_TRUE (restored.has_value());
        Instance().setStateInformation (restored->getData(), static_cast<int> (restored->getSize()));
    }

    // A real reply still reaches the parameter: width 0.625 of object 1 is 0.3125 of its range.
    constexpr int kWidth = 7;
    bool applied = false;
    for (int attempt = 0; attempt < 100 && ! applied; ++attempt)
    {
        send (hostile::reply ("/vh/plugin/obj/render/width/1", { kProbe }));
        juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
        m_plugin->RereadParameters();
        applied = Parameter (kWidth).getValue() == 0.3125f;
    }
    ::close (sender);
    EXPECT_TRUE (applied) << "the instance no longer takes replies";

    const auto block = HostedPlugin::PluginBlockOf (SavedHostState (Instance()));
    ASSERT_TRUE (block.has_value());
    EXPECT_EQ (BytesOf (*block), std::vector<juce::uint8> (kFreshBlock.begin(), kFreshBlock.end()));
}

} // namespace
