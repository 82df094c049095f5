#pragma once

#include <juce_osc/juce_osc.h>

#include <cstddef>
#include <optional>

namespace varnholt
{

// Reads one datagram from the reply port as the renderer sends it: exactly one OSC 1.0 message,
// an address of printable ASCII that begins with "/" and does not end with one (no blank, no
// "#"), a type tag string of "," followed only by "i" and "f", zero padding, and the big-endian
// arguments that the tags announce, nothing after them. Anything else, bundles included, gives
// nothing; what it gives, written out again, is the datagram byte for byte.
//
// Sizes are bounded by what the renderer sends, not by what OSC allows: an address longer than
// kMaxReplyAddress or more than kMaxReplyArguments arguments is refused before any text is made,
// so a stream of huge datagrams costs no more than one of small garbage.
//
// The bytes are checked in full before any juce::String is made of them: JUCE 7.0.5 corrupts
// memory when it tokenises a string made from malformed UTF-8.
std::optional<juce::OSCMessage> ReadReply (const void* data, size_t size);

// The longest reply address, "/vh/plugin/layer/<layer>/obj/level/<object>" with both numbers
// written as the longest int32, is 50 bytes; the most arguments a reply carries are the three of
// a position. Both with room to spare.
inline constexpr size_t kMaxReplyAddress = 128;
inline constexpr size_t kMaxReplyArguments = 16;

} // namespace varnholt
