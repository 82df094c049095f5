#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>
#include <optional>

// One instance of the built VST3, loaded the way a user's host loads it: through the format
// manager, from the bundle on disk, into a prepared stereo processor.
class HostedPlugin
{
public:
    static constexpr double kSampleRate = 48000.0;
    static constexpr int kBlockSize = 512;

    static void SetBundlePath (const juce::String& path);

    // Empty with the reason when the bundle can't be found or loaded.
    static std::unique_ptr<HostedPlugin> Load (juce::String& error);

    ~HostedPlugin();

    juce::AudioPluginInstance& Instance() { return *m_instance; }

    // Makes the host's parameter objects read every value from the plug-in again. JUCE's VST3
    // host passes the values that the plug-in changes while processing on to the plug-in's
    // controller but leaves its own parameter objects as they were; restoring the current state
    // is its one path that reads them all back from the controller.
    void RereadParameters();

    // The host keeps the plug-in's own block inside its saved state (XML around the VST3
    // component state, which the JUCE client ends with a trailer of its own). These take the
    // block out of such a state and put another one in its place.
    static std::optional<juce::MemoryBlock> PluginBlockOf (const juce::MemoryBlock& hostState);
    static std::optional<juce::MemoryBlock> WithPluginBlock (const juce::MemoryBlock& hostState,
                                                             const juce::MemoryBlock& pluginBlock);

private:
    explicit HostedPlugin (std::unique_ptr<juce::AudioPluginInstance> instance);

    std::unique_ptr<juce::AudioPluginInstance> m_instance;
};
