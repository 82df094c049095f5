#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace varnholt
{

class CPlugin;

// The plug-in's window. Until the custom editor exists it shows the framework's generic
// controls for the 24 parameters, so the object can be edited by hand.
class CPluginEditor : public juce::GenericAudioProcessorEditor
{
public:
    explicit CPluginEditor (CPlugin& processor);
};

} // namespace varnholt
