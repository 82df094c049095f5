#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>

int main (int argc, char** argv)
{
    // No display: the windows are painted into images. JUCE takes ":0.0" for a missing DISPLAY
    // and would join whatever X server the machine runs there (and die with it), so the name
    // given is one that names no display at all.
    setenv ("DISPLAY", "none", 1);

    // Components and the pad's instance need a message manager.
    juce::ScopedJuceInitialiser_GUI juce;
    ::testing::InitGoogleTest (&argc, argv);
    return RUN_ALL_TESTS();
}
