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

// Told apart from the reader's own way: the address bytes up to the zero, read as text only here.
bool holdsDottedAddress (const hostile::Bytes& block)
{
    static const std::regex dotted ("([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})\\.([0-9]{1,3})");

    const auto end = block.find ('\0', 4);
    if (block.size() < 4 || end == std::string::npos || end + 17 > block.size())
        return false;

    std::smatch m;
    const auto address = block.substr (4, end - 4);
    if (! std::regex_match (address, m, dotted))
        return false;
    for (int k = 1; k <= 4; ++k)
        if (std::stoi (m[k].str()) > 255)
            return false;
    return true;
}

juce::String controllerAddress()
{
    const juce::ScopedLock sl (controller()->m_lock);
    return controller()->m_ipAddress;
}

using HostileBlocks = LinkTest;

} // namespace

TEST_F (HostileBlocks, AreAppliedOnlyWithADottedAddress)
{
    auto& p = add (5);
    hostile::BlockSource source (0xb10c);
    int applied = 0;

    for (int k = 0; k < kBlocks; ++k)
    {
        const auto block = source.next();
        const bool dotted = holdsDottedAddress (block);
        applied += dotted ? 1 : 0;

        ASSERT_EQ (SavedState::Decode (block.data(), static_cast<int> (block.size())).has_value(), dotted) << "block " << k;
        p.setStateInformation (block.data(), static_cast<int> (block.size()));

        // Now and then the link goes back to its default, so that it may take a stored address again.
        if (k % 20'000 == 0)
        {
            EXPECT_TRUE (IsDottedIPv4 (controllerAddress())) << "block " << k;
            controller()->SetIpAddress (kSource_controller, OSC_DEFAULT_IP);
            pump (1);
        }
    }

    EXPECT_GT (applied, kBlocks / 20);
    EXPECT_LT (applied, kBlocks / 2);
    std::printf ("%d of %d damaged blocks applied\n", applied, kBlocks);

    // The instance still answers: it saves what it was last given, and a good block restores.
    const auto good = hostile::savedBlock ("127.0.0.1", 9, 1, 3, 1);
    p.setStateInformation (good.data(), static_cast<int> (good.size()));
    EXPECT_EQ (p.m_objectNumber->get(), 9.0f);
    EXPECT_EQ (p.m_layerNum->get(), 3.0f);

    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    const auto state = SavedState::Decode (saved.getData(), static_cast<int> (saved.getSize()));
    ASSERT_TRUE (state.has_value());
    EXPECT_EQ (state->objectNumber, 9);
    EXPECT_TRUE (IsDottedIPv4 (state->address));
}
