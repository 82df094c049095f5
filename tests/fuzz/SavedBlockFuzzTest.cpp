// Damaged saved blocks through the real processor's setStateInformation: a block is applied only
// when its address is a dotted IPv4 address, then exactly as its values say, and the instance keeps
// answering.

#include "../link/LinkSupport.h"
#include "HostileBytes.h"

#include "processor/SavedState.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <regex>

using namespace varnholt;
using namespace varnholt::linktest;

namespace
{

constexpr int kBlocks = 200'000;

// What an instance shows of a block: the renderer's address, object number, layer, coordinate mode.
struct Shown
{
    std::string address;
    int object, layer, coordMode;
    bool operator== (const Shown&) const = default;
};

Shown shown (CPlugin& p)
{
    const juce::ScopedLock sl (controller()->m_lock);
    return { controller()->m_ipAddress.toStdString(), static_cast<int> (p.m_objectNumber->get()),
             static_cast<int> (p.m_layerNum->get()), p.m_coordMode->getIndex() };
}

int32_t fieldAt (const hostile::Bytes& block, size_t at)
{
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k)
        v = (v << 8) | static_cast<uint8_t> (block[at + static_cast<size_t> (k)]);
    return static_cast<int32_t> (v);
}

// Told apart independently of the decoder: the address bytes up to the zero, four octets of one to
// three decimal digits. What the instance must then show, from `before`: the block's numbers as
// the parameters clamp them, and its address read as decimal while the link is at the default.
std::optional<Shown> applied (const hostile::Bytes& block, const Shown& before)
{
    static const std::regex dotted ("(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})");
    const auto end = block.size() < 4 ? std::string::npos : block.find ('\0', 4);
    if (end == std::string::npos || end + 17 > block.size())
        return std::nullopt;

    std::smatch m;
    const auto address = block.substr (4, end - 4);
    if (! std::regex_match (address, m, dotted))
        return std::nullopt;

    std::string decimal;
    for (size_t k = 1; k <= 4; ++k)
    {
        if (std::stoi (m[k].str()) > 255)
            return std::nullopt;
        decimal += (k > 1 ? "." : "") + std::to_string (std::stoi (m[k].str()));
    }

    auto clamped = [] (int32_t v, float low, float high) { return static_cast<int> (std::clamp (static_cast<float> (v), low, high)); };
    return Shown { before.address == OSC_DEFAULT_IP ? decimal : before.address, clamped (fieldAt (block, end + 1), 1, 128),
                   clamped (fieldAt (block, end + 9), 1, 12), clamped (fieldAt (block, end + 13), 0, 1) };
}

using HostileBlocks = LinkTest;

} // namespace

TEST_F (HostileBlocks, AreAppliedOnlyWithADottedAddress)
{
    auto& p = add (5);
    hostile::Source source (0xb10c);
    int appliedCount = 0;

    for (int k = 0; k < kBlocks; ++k)
    {
        const auto block = source.block();
        const auto before = shown (p);
        const auto expected = applied (block, before);
        appliedCount += expected ? 1 : 0;
        ASSERT_EQ (SavedState::Decode (block.data(), static_cast<int> (block.size())).has_value(), expected.has_value()) << "block " << k;
        p.setStateInformation (block.data(), static_cast<int> (block.size()));

        // Unchanged, or exactly the block's values as the parameters clamp them.
        const auto after = shown (p);
        ASSERT_TRUE (after == expected.value_or (before))
            << "block " << k << ": " << after.address << " " << after.object << " " << after.layer << " " << after.coordMode;

        // Back to the default now and then, so that a stored address is taken again.
        if (k % 50 == 0)
            controller()->SetIpAddress (kSource_controller, OSC_DEFAULT_IP);
    }

    std::printf ("%d of %d damaged blocks applied\n", appliedCount, kBlocks);
    EXPECT_GT (appliedCount, kBlocks / 20);

    // The instance still answers: a good block restores, and it saves what it was given.
    const auto good = hostile::savedBlock ("10.0.0.9", { 9, 1, 3, 1 });
    controller()->SetIpAddress (kSource_controller, OSC_DEFAULT_IP);
    p.setStateInformation (good.data(), static_cast<int> (good.size()));

    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    EXPECT_EQ (saved, juce::MemoryBlock (good.data(), good.size()));
}
