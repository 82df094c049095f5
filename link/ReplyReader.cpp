#include "link/ReplyReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace varnholt
{

namespace
{

// OSC forbids the blank and "#" in an address; JUCE's address class throws on them.
bool isAddressByte (uint8_t c)
{
    return c > ' ' && c <= '~' && c != '#';
}

// An OSC string at p: its bytes up to the first zero, then zeros up to a multiple of four, all
// within `available`. Gives the padded size and the length of the text, or 0 when the string
// does not end properly or is longer than `longest`; a longer one is not even searched to its end.
size_t paddedString (const uint8_t* p, size_t available, size_t longest, size_t& length)
{
    const auto* zero = static_cast<const uint8_t*> (std::memchr (p, 0, std::min (available, longest + 1)));
    if (zero == nullptr)
        return 0;

    length = static_cast<size_t> (zero - p);
    const auto padded = (length + 4) & ~static_cast<size_t> (3);
    if (padded > available)
        return 0;

    for (auto k = length; k < padded; ++k)
        if (p[k] != 0)
            return 0;

    return padded;
}

uint32_t bigEndian32 (const uint8_t* p)
{
    return (static_cast<uint32_t> (p[0]) << 24) | (static_cast<uint32_t> (p[1]) << 16)
         | (static_cast<uint32_t> (p[2]) << 8) | static_cast<uint32_t> (p[3]);
}

} // namespace

std::optional<juce::OSCMessage> ReadReply (const void* data, size_t size)
{
    // The smallest message is "/" and "," with their padding; OSC packets come in whole words.
    if (data == nullptr || size < 8 || size % 4 != 0)
        return std::nullopt;

    const auto* bytes = static_cast<const uint8_t*> (data);

    size_t addressLength = 0;
    const auto addressSize = paddedString (bytes, size, kMaxReplyAddress, addressLength);
    if (addressSize == 0 || bytes[0] != '/')
        return std::nullopt;   // a bundle begins with "#bundle"

    for (size_t k = 0; k < addressLength; ++k)
        if (! isAddressByte (bytes[k]))
            return std::nullopt;

    // JUCE's address class drops trailing slashes: "/a/5/" would be taken as the reply "/a/5".
    if (bytes[addressLength - 1] == '/')
        return std::nullopt;

    const auto* tags = bytes + addressSize;
    size_t tagsLength = 0;
    const auto tagsSize = paddedString (tags, size - addressSize, 1 + kMaxReplyArguments, tagsLength);
    if (tagsSize == 0 || tags[0] != ',')
        return std::nullopt;

    const auto argumentCount = tagsLength - 1;
    for (size_t k = 1; k < tagsLength; ++k)
        if (tags[k] != 'i' && tags[k] != 'f')
            return std::nullopt;

    if (size - addressSize - tagsSize != 4 * argumentCount)
        return std::nullopt;

    // Only now, with every byte of the address known to be printable ASCII, is it made text.
    try
    {
        juce::OSCMessage message { juce::OSCAddressPattern { juce::String (reinterpret_cast<const char*> (bytes), addressLength) } };
        const auto* argument = tags + tagsSize;

        for (size_t k = 1; k < tagsLength; ++k, argument += 4)
        {
            const auto bits = bigEndian32 (argument);

            if (tags[k] == 'i')
            {
                message.addInt32 (static_cast<juce::int32> (bits));
            }
            else
            {
                float value;
                std::memcpy (&value, &bits, sizeof value);
                message.addFloat32 (value);
            }
        }

        return message;
    }
    catch (const juce::OSCFormatError&)
    {
        // Not reached with the checks above; a reply is dropped rather than the host taken down.
        return std::nullopt;
    }
}

} // namespace varnholt
