#include "tests/common/Interfaces.h"
#include "LinkSupport.h"

#include <csignal>
#include <cstdio>

int main (int argc, char** argv)
{
    // These tests point the link at unroutable addresses on purpose; outside a private network
    // namespace with only loopback such sends could leave the machine. Run through netns-run.
    if (! test_common::onlyLoopbackExists())
    {
        std::fprintf (stderr, "link_tests: run me inside a network namespace with only lo (tests/netns-run)\n");
        return 2;
    }

    // A peer that died must show as a failed test, not end the program.
    std::signal (SIGPIPE, SIG_IGN);

    // Instances need a message manager, as in a host; this thread is the message thread.
    juce::ScopedJuceInitialiser_GUI juce;
    ::testing::InitGoogleTest (&argc, argv);
    return RUN_ALL_TESTS();
}
