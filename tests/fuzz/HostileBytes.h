#pragma once

// Datagrams and saved blocks as an attacker on the network or a damaged project file would hand
// them to the plug-in, from a seeded generator so that every run sees the same bytes. Plain C++:
// the host test, which does not link the plug-in's code, uses it too.

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace hostile
{

using Bytes = std::string;

// An OSC string: the text, a zero byte, zero padding to a multiple of four.
inline Bytes oscText (const std::string& s)
{
    Bytes out = s;
    do out.push_back ('\0'); while (out.size() % 4 != 0);
    return out;
}

inline Bytes bigEndian (uint32_t bits)
{
    return { char (bits >> 24), char (bits >> 16), char (bits >> 8), char (bits) };
}

inline Bytes bigEndian (float v)
{
    uint32_t bits;
    std::memcpy (&bits, &v, 4);
    return bigEndian (bits);
}

inline Bytes floatReply (const std::string& address, std::vector<float> values)
{
    Bytes out = oscText (address) + oscText ("," + std::string (values.size(), 'f'));
    for (auto v : values)
        out += bigEndian (v);
    return out;
}

inline Bytes intReply (const std::string& address, int32_t value)
{
    return oscText (address) + oscText (",i") + bigEndian (static_cast<uint32_t> (value));
}

// What the renderer really sends, for the objects 1 and 5 on layer 3.
inline const std::vector<Bytes>& realReplies()
{
    static const std::vector<Bytes> replies = {
        floatReply ("/vh/plugin/obj/render/width/1", { 1.5f }),
        floatReply ("/vh/plugin/obj/render/width/5", { 0.5f }),
        floatReply ("/vh/plugin/obj/pos/xyz/5", { 0.1f, 0.2f, 0.3f }),
        floatReply ("/vh/plugin/obj/pos/xyz/6", { 0.4f, 0.5f, 0.6f }),
        floatReply ("/vh/plugin/layer/3/obj/level/5", { -6.0f }),
        intReply ("/vh/plugin/layer/3/obj/on/5", 0),
        floatReply ("/vh/plugin/rev/obj/level/1", { -12.0f }),
        intReply ("/vh/plugin/obj/space/5", 3),
        floatReply ("/vh/plugin/master/level", { -3.0f }),
        intReply ("/vh/plugin/master/on", 1),
    };
    return replies;
}

// One hostile datagram after another, of every kind in turn.
class DatagramSource
{
public:
    explicit DatagramSource (uint32_t seed) : m_random (seed) {}

    Bytes next()
    {
        switch (m_kind++ % 7)
        {
            case 0:  return randomBytes (pick (4) == 0 ? pick (2048) : pick (96));
            case 1:  return changed (real(), 1);
            case 2:  return changed (real(), 1 + pick (4));
            case 3:  return badTags();
            case 4:  return truncated();
            case 5:  return bundle();
            default: return foreignAddressByte();
        }
    }

    size_t pick (size_t n) { return n == 0 ? 0 : static_cast<size_t> (m_random() % n); }
    char anyByte() { return static_cast<char> (m_random() & 0xff); }

    Bytes randomBytes (size_t n)
    {
        Bytes out (n, '\0');
        for (auto& c : out)
            c = anyByte();
        return out;
    }

    const Bytes& real() { return realReplies()[pick (realReplies().size())]; }

    // Bytes anywhere replaced by any value, the address included.
    Bytes changed (Bytes b, size_t count)
    {
        for (size_t k = 0; k < count && ! b.empty(); ++k)
            b[pick (b.size())] = anyByte();
        return b;
    }

    // A type tag string with tags OSC knows but the renderer never sends, or no comma.
    Bytes badTags()
    {
        static const std::string tags = "ifsbhtdScrmTFNI[]";
        std::string t = ",";
        for (size_t k = 0, n = 1 + pick (4); k < n; ++k)
            t += tags[pick (tags.size())];
        if (pick (5) == 0)
            t[0] = 'f';
        return oscText ("/vh/plugin/obj/render/width/5") + oscText (t) + randomBytes (4 * pick (5));
    }

    // Cut anywhere, or lengthened by a few bytes.
    Bytes truncated()
    {
        auto b = real();
        if (pick (3) == 0)
            return b + randomBytes (1 + pick (8));
        b.resize (pick (b.size()));
        return b;
    }

    Bytes bundle()
    {
        const auto& element = real();
        auto b = oscText ("#bundle") + bigEndian (0u) + bigEndian (1u) + bigEndian (static_cast<uint32_t> (element.size())) + element;
        return pick (2) == 0 ? b : changed (b, 1);
    }

    // The address of a real reply with a byte that is not printable ASCII, often the start of a
    // malformed UTF-8 sequence: the datagram that used to corrupt the host's heap.
    Bytes foreignAddressByte()
    {
        auto b = real();
        const auto end = b.find ('\0');
        const auto at = 1 + pick (end - 1);
        b[at] = static_cast<char> (pick (2) == 0 ? 0xCC : 0x80 + pick (0x80));
        if (at + 1 < end && pick (2) == 0)
            b[at + 1] = '0';
        return b;
    }

private:
    std::mt19937 m_random;
    unsigned m_kind = 0;
};

// The plug-in's saved block: version, address with its zero byte, four little-endian int32.
inline Bytes savedBlock (const std::string& address, int32_t object, int32_t oscOn, int32_t layer, int32_t coords)
{
    Bytes out;
    const auto little = [&out] (int32_t v)
    {
        for (int k = 0; k < 4; ++k)
            out.push_back (static_cast<char> ((static_cast<uint32_t> (v) >> (8 * k)) & 0xff));
    };

    little (0x00010000);
    out += address;
    out.push_back ('\0');
    little (object);
    little (oscOn);
    little (layer);
    little (coords);
    return out;
}

// Damaged saved blocks of every kind in turn.
class BlockSource
{
public:
    explicit BlockSource (uint32_t seed) : m_bytes (seed) {}

    Bytes next()
    {
        static const char* addresses[] = { "127.0.0.1", "10.0.0.7", "192.168.100.200", "1.2.3.4" };
        auto good = savedBlock (addresses[m_bytes.pick (4)], static_cast<int32_t> (1 + m_bytes.pick (140)),
                                static_cast<int32_t> (m_bytes.pick (3)), static_cast<int32_t> (m_bytes.pick (14)),
                                static_cast<int32_t> (m_bytes.pick (3)));

        switch (m_kind++ % 6)
        {
            case 0:  return m_bytes.changed (good, 1);
            case 1:  return m_bytes.changed (good, 1 + m_bytes.pick (6));
            case 2:  good.resize (m_bytes.pick (good.size())); return good;
            case 3:  return m_bytes.randomBytes (m_bytes.pick (64));
            case 4:  return addressByte (good);
            default: return good.substr (0, 4) + m_bytes.randomBytes (m_bytes.pick (40)) + good.substr (good.size() - 16);
        }
    }

private:
    // A byte of the address replaced by a foreign one, or its terminator taken away.
    Bytes addressByte (Bytes b)
    {
        const auto end = b.find ('\0', 4);
        const auto at = 4 + m_bytes.pick (end - 3);
        b[at] = static_cast<char> (m_bytes.pick (3) == 0 ? 0xCC : m_bytes.anyByte());
        if (at + 1 < b.size() && m_bytes.pick (2) == 0)
            b[at + 1] = '0';
        return b;
    }

    DatagramSource m_bytes;
    unsigned m_kind = 0;
};

} // namespace hostile
