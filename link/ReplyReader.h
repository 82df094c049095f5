#pragma once

#include <juce_osc/juce_osc.h>

#include <cstddef>
#include <optional>

namespace varnholt
{

// Reads one datagram from the reply port as the renderer sends it: exactly one OSC 1.0 message,
// an address of printable ASCII that begins with "/" (no blank, no "#"), a type tag string of
// "," followed only by "i" and "f", zero padding, and the big-endian arguments that the tags
// announce, nothing after them. Anything else, bundles included, gives nothing.
//
// The bytes are checked in full before any juce::String is made of them: JUCE 7.0.5 corrupts
// memory when it tokenises a string made from malformed UTF-8.
std::optional<juce::OSCMessage> ReadReply (const void* data, size_t size);

} // namespace varnholt
