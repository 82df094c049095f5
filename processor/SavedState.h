#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <optional>

namespace varnholt
{

class CPlugin;

// The block the host stores with each instance: little-endian, no padding.
//   int32 version, renderer address (UTF-8, zero-terminated),
//   int32 object number, int32 osc on, int32 layer number, int32 coordinate mode.
struct SavedState
{
    int32_t version = kVersion;
    juce::String address;
    int32_t objectNumber = 0;
    int32_t oscOn = 0;
    int32_t layerNumber = 0;
    int32_t coordMode = 0;

    // 1.0: major in the high 16 bits, minor in the low 16.
    static constexpr int32_t kVersion = 0x00010000;

    // "255.255.255.255"
    static constexpr size_t kMaxAddressLength = 15;

    void Encode (juce::MemoryBlock& destination) const;

    // Nothing for a block too short to hold every field or whose address is not a dotted
    // IPv4 address: such a block is not applied at all.
    static std::optional<SavedState> Decode (const void* data, int sizeInBytes);

    static void Write (CPlugin& plugin, juce::MemoryBlock& destination);
    static void Restore (CPlugin& plugin, const void* data, int sizeInBytes);
};

} // namespace varnholt
