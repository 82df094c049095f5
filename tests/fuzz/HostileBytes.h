#pragma once

// Datagrams and saved blocks as anyone on the network or a damaged project file could hand them
// to the plug-in, from a seeded generator. Plain C++: the host test uses it too.

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace hostile
{

using Bytes = std::string;

// An OSC string: the text, a zero byte, zero padding to a multiple of four.
inline Bytes oscText (std::string s)
{
    do s.push_back ('\0'); while (s.size() % 4 != 0);
    return s;
}

inline Bytes bigEndian (uint32_t v) { return { char (v >> 24), char (v >> 16), char (v >> 8), char (v) }; }

inline Bytes bigEndianFloat (float v)
{
    uint32_t bits;
    std::memcpy (&bits, &v, 4);
    return bigEndian (bits);
}

inline Bytes repeated (const Bytes& s, size_t times)
{
    Bytes out;
    for (size_t k = 0; k < times; ++k)
        out += s;
    return out;
}

inline Bytes reply (const std::string& address, std::vector<float> values)
{
    Bytes tags (1, ',');
    tags.append (values.size(), 'f');
    Bytes out = oscText (address) + oscText (tags);
    for (auto v : values)
        out += bigEndianFloat (v);
    return out;
}

inline Bytes intReply (const std::string& address, int32_t value)
{
    return oscText (address) + oscText (",i") + bigEndian (static_cast<uint32_t> (value));
}

// The plug-in's saved block: version, address with its zero byte, four little-endian int32.
inline Bytes savedBlock (const std::string& address, std::vector<int32_t> fields)
{
    Bytes out = Bytes ("\0\0\1\0", 4) + address + Bytes (1, '\0');
    for (auto v : fields)
        for (int k = 0; k < 4; ++k)
            out.push_back (static_cast<char> (static_cast<uint32_t> (v) >> (8 * k)));
    return out;
}

class Source
{
public:
    explicit Source (uint32_t seed) : m_random (seed) {}

    // Random bytes; real replies with bytes changed anywhere, often to a malformed UTF-8
    // sequence in the address; bad type tags; cut or lengthened replies; bundles; and now and
    // then one as large as a datagram gets, its address or its arguments filling it.
    Bytes datagram()
    {
        if (m_kind % 64 == 63)
            return changed (largest ((m_kind++ / 64) % 2 == 0), pick (3));

        static const std::vector<Bytes> real = {
            reply ("/vh/plugin/obj/render/width/1", { 1.5f }),  reply ("/vh/plugin/obj/pos/xyz/5", { 0.1f, 0.2f, 0.3f }),
            reply ("/vh/plugin/obj/pos/xyz/6", { 0.4f, 0.5f, 0.6f }), reply ("/vh/plugin/layer/3/obj/level/5", { -6.0f }),
            intReply ("/vh/plugin/layer/3/obj/on/5", 0),           intReply ("/vh/plugin/obj/space/5", 3),
            reply ("/vh/plugin/master/level", { -3.0f }),       intReply ("/vh/plugin/master/on", 1),
        };
        auto r = real[pick (real.size())];
        static const std::string tags = "ifsbhtdScrmTFNI[]";

        switch (m_kind++ % 6)
        {
            case 0:  return bytes (pick (4) == 0 ? pick (2048) : pick (96));
            case 1:  return changed (r, 1 + pick (4));
            case 2:  return foreign (r, 0, r.find ('\0'));
            case 3:  return oscText ("/vh/plugin/obj/render/width/5") + oscText (pick (5) == 0 ? "f" : "," + Bytes (1, tags[pick (tags.size())]) + "f")
                          + bytes (4 * pick (4));
            case 4:  return pick (3) == 0 ? r + bytes (1 + pick (8)) : r.substr (0, pick (r.size()));
            default: return changed (oscText ("#bundle") + bigEndian (0) + bigEndian (1) + bigEndian (static_cast<uint32_t> (r.size())) + r, pick (2));
        }
    }

    // Saved blocks (some with leading zeros in the address) with bytes changed anywhere, foreign
    // bytes in the address or no terminator, cut short, or random.
    Bytes block()
    {
        static const char* addresses[] = { "127.0.0.1", "10.0.0.7", "192.168.100.200", "127.000.000.010", "010.0.0.08" };
        auto b = savedBlock (addresses[pick (5)], { int32_t (pick (140)), int32_t (pick (3)), int32_t (pick (14)), int32_t (pick (3)) });

        switch (m_kind++ % 4)
        {
            case 0:  return changed (b, 1 + pick (4));
            case 1:  return foreign (b, 4, b.find ('\0', 4) + 1);
            case 2:  return b.substr (0, pick (b.size()));
            default: return bytes (pick (64));
        }
    }

    // The largest UDP payload over IPv4.
    static constexpr size_t kLargestDatagram = 65507;

    // A width reply whose address has thousands of segments, or a position reply with thousands
    // of arguments, each the largest whole-word size a datagram holds.
    static Bytes largest (bool byAddress)
    {
        static const Bytes longAddress = []
        {
            Bytes address = "/vh/plugin/obj/render/width";
            const auto length = (kLargestDatagram & ~size_t (3)) - 8 - 1;   // its zero byte, ",f", the value
            while (address.size() < length - 2)
                address += "/xy";
            address.resize (length - 2);
            return reply (address + "/5", { 0.75f });
        }();

        static const Bytes manyArguments = []
        {
            const auto count = ((kLargestDatagram & ~size_t (3)) - 28 - 4) / 5;
            return reply ("/vh/plugin/obj/pos/xyz/5", std::vector<float> (count, 0.75f));
        }();

        return byAddress ? longAddress : manyArguments;
    }

private:
    size_t pick (size_t n) { return n == 0 ? 0 : static_cast<size_t> (m_random() % n); }

    Bytes bytes (size_t n)
    {
        Bytes out (n, '\0');
        for (auto& c : out)
            c = static_cast<char> (m_random());
        return out;
    }

    Bytes changed (Bytes b, size_t count)
    {
        for (size_t k = 0; k < count && ! b.empty(); ++k)
            b[pick (b.size())] = static_cast<char> (m_random());
        return b;
    }

    // One byte in [from, to) replaced by a byte above ASCII, often 0xCC followed by "0": the
    // sequence that used to corrupt the host's heap.
    Bytes foreign (Bytes b, size_t from, size_t to)
    {
        const auto at = from + 1 + pick (to - from - 1);
        b[at] = static_cast<char> (pick (2) == 0 ? 0xCC : 0x80 + pick (0x80));
        if (at + 1 < b.size() && pick (2) == 0)
            b[at + 1] = '0';
        return b;
    }

    std::mt19937 m_random;
    unsigned m_kind = 0;
};

} // namespace hostile
