#include "HostedPlugin.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <cstdio>

int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

    if (argc != 2)
    {
        std::fprintf (stderr, "usage: %s [gtest options] PATH/TO/Plugin.vst3\n", argv[0]);
        return 2;
    }

    // This thread is the host's message thread, as in a real host.
    juce::ScopedJuceInitialiser_GUI juce;
    HostedPlugin::SetBundlePath (argv[1]);
    return RUN_ALL_TESTS();
}
