#include "editor/PluginEditor.h"

#include "processor/PluginProcessor.h"

namespace varnholt
{

CPluginEditor::CPluginEditor (CPlugin& processor)
    : juce::GenericAudioProcessorEditor (processor)
{
}

} // namespace varnholt
