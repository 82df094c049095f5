// Damaged saved blocks through the real processor's setStateInformation: a block is applied only
// when its address is a dotted IPv4 address, and the instance keeps answering.

#include "../link/LinkSupport.h"
#include "HostileBytes.h"

#include "processor/SavedState.h"

#include <cstdio>
#include <regex>

using namespace varnholt;
using namespace varnholt::linktest;

namespace
{

constexpr int kBlocks = 200'000;

// Told apart independently of the decoder: the address bytes up to the zero, four octets.
bool holdsDottedAddress (const hostile::Bytes& block)
{
    static const std::regex dotted ("(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})");
    const auto end = block.size() < 4 ? std::string::npos : block.find ('\0', 4);
    if (end == std::string::npos || end + 17 > block.size())
        return false;

    std::smatch m;
    const auto address = block.substr (4, end - 4);
    if (! std::regex_match (address, m, dotted))
        return false;
    for (size_t k = 1; k <= 4; ++k)
        if (std::stoi (m[k].str()) > 255)
            return false;
    return true;
}

using HostileBlocks = LinkTest;

} // namespace

TEST_F (HostileBlocks, AreAppliedOnlyWithADottedAddress)
{
    auto& p = add (5);
    hostile::Source source (0xb10c);
    int applied = 0;

    for (int k = 0; k < kBlocks; ++k)
    {
        const auto block = source.block();
        const bool dotted = holdsDottedAddress (block);
        applied += dotted ? 1 : 0;
        ASSERT_EQ (SavedState::Decode (block.data(), static_cast<int> (block.size())).has_value(), dotted) << "block " << k;
        p.setStateInformation (block.data(), static_cast<int> (block.size()));

        // Back to the default now and then, so that a stored address is taken again.
        if (k % 20'000 == 0)
            controller()->SetIpAddress (kSource_controller, OSC_DEFAULT_IP);
    }

    std::printf ("%d of %d damaged blocks applied\n", applied, kBlocks);
    EXPECT_GT (applied, kBlocks / 20);

    // The instance still answers: a good block restores, and it saves what it was given.
    const auto good = hostile::savedBlock ("10.0.0.9", { 9, 1, 3, 1 });
    controller()->SetIpAddress (kSource_controller, OSC_DEFAULT_IP);
    p.setStateInformation (good.data(), static_cast<int> (good.size()));

    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    EXPECT_EQ (saved, juce::MemoryBlock (good.data(), good.size()));
}
