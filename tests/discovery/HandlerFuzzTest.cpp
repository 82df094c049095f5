// Bounded random-input test of the discovery handler's readers: log lines
// mutated from real ones (or made of random bytes) go through both line
// readers, and replies mutated from real ones go through the reply walk,
// whose lines go through the line readers in turn. Nothing may crash or
// read outside its input, and what a reader accepts must really be in the
// line. Fixed seed, fixed count.

#include "discovery/MDNSHandler.h"
#include "discovery/mdns/query_callback.h"
#include "discovery/mdns/wire.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <random>

using namespace mdns_cpp;
using mdns_test::Bytes;
using mdns_test::Datagram;

namespace {

constexpr int kLines = 1000000;
constexpr int kReplies = 500000;
constexpr uint32_t kSeed = 0x76686673;

const std::vector<std::string> kLineSeeds = {
    "192.168.1.20:5353 : question PTR _vhplugin._udp.local.\n",
    "10.0.0.7:49152 : question PTR _services._dns-sd._udp.local.\n",
    "[2001:db8::5]:5353 : question PTR _vhplugin._udp.local.\n",
    "192.168.1.20:5353 : question SRV  _vhplugin._udp.local.\n",
    "192.168.1.20:5353 : additional studio._vhremote._udp.local. SRV studio.local. priority 0 weight 0 port 9000\n",
    "192.168.1.20:5353 : answer studio._vhremote._udp.local. SRV studio.local. priority 0 weight 0 port 9000\n",
    "192.168.1.20:5353 : additional a.b._vhremote._udp.local. SRV x port 1.l. priority 9 weight 9 port 65535\n",
    "192.168.1.20:5353 : additional studio._vhremote._udp.local. TXT a = 1\n",
    "192.168.1.20:5353 : answer _vhremote._udp.local. PTR studio._vhremote._udp.local. rclass 0x1 ttl 10 length 9\n",
};

// Pieces that matter to the readers, to splice in.
const std::vector<std::string> kPieces = {
    ".", ":", " ", "\n", "0", "9", "255", "256", "65535", "65536", "99999999999999999999", " : ", " : question PTR ",
    " : additional ", "._vhremote._udp.local. SRV ", " SRV ", " port ", "_vhplugin._udp.local.", "\\x0A", "[", "]",
    "-", "\0",
};

std::string mutateLine(const std::string& seed, std::mt19937& rng)
{
    std::string line = seed;
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    for (size_t e = 1 + pick(6); e > 0; --e)
    {
        switch (pick(6))
        {
        case 0:
            if (!line.empty())
                line[pick(line.size())] = static_cast<char>(rng());
            break;
        case 1:
            line.insert(pick(line.size() + 1), kPieces[pick(kPieces.size())]);
            break;
        case 2:
            if (!line.empty())
            {
                const size_t at = pick(line.size());
                line.erase(at, 1 + pick(8));
            }
            break;
        case 3:
            line.resize(pick(line.size() + 1));
            break;
        case 4:  // a run repeated, to make the line long
            if (!line.empty())
            {
                const size_t at = pick(line.size());
                const std::string run = line.substr(at, 1 + pick(12));
                std::string repeated;
                for (size_t n = 1 + pick(200); n > 0; --n)
                    repeated += run;
                line.insert(at, repeated);
            }
            break;
        default:
            if (!line.empty())
                line[pick(line.size())] = "0123456789.: "[pick(13)];
            break;
        }
    }
    return line;
}

// What a reader accepts must be where the line says it is.
bool questionIsSound(const std::string& line, const std::optional<std::string>& asked)
{
    if (!asked)
        return true;
    std::string_view text(line);
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    const auto marker = text.find(" : question PTR ");
    return marker != std::string_view::npos && text.substr(marker + 16) == *asked;
}

// The sender as the line writes it, four octets read as decimal (leading
// zeros and all), is the address the reader took.
bool sameAddress(std::string_view sender, const std::string& ip)
{
    std::string decimal;
    size_t start = 0;
    for (int octet = 0; octet < 4; ++octet)
    {
        const auto end = octet < 3 ? sender.find('.', start) : sender.size();
        if (end == std::string_view::npos)
            return false;
        const std::string field(sender.substr(start, end - start));
        if (field.empty() || field.size() > 3 || field.find_first_not_of("0123456789") != std::string::npos)
            return false;
        decimal += (octet > 0 ? "." : "");
        decimal += std::to_string(std::stoi(field));
        start = end + 1;
    }
    return decimal == ip;
}

bool rendererIsSound(const std::string& line, const std::optional<RemoteInfo>& remote)
{
    if (!remote)
        return true;
    std::string_view text(line);
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    // The port is the digits after the last " port ", up to the end.
    const auto tag = text.rfind(" port ");
    if (tag == std::string_view::npos)
        return false;
    const auto digits = text.substr(tag + 6);
    long value = 0;
    for (const char c : digits)
    {
        if (c < '0' || c > '9' || value > 65535)
            return false;
        value = value * 10 + (c - '0');
    }
    return !digits.empty() && value == remote->port && !remote->name.empty() &&
           sameAddress(text.substr(0, text.find(':')), remote->ip) &&
           text.find(" : additional " + remote->name + "._vhremote._udp.local. SRV ") != std::string_view::npos;
}

Bytes mutateDatagram(const Bytes& seed, std::mt19937& rng)
{
    Bytes d = seed;
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    for (size_t e = 1 + pick(6); e > 0; --e)
    {
        switch (pick(6))
        {
        case 0:
            if (!d.empty())
                d[pick(d.size())] = static_cast<uint8_t>(rng());
            break;
        case 1:  // a compression pointer to anywhere
            if (d.size() > 1)
            {
                const size_t at = pick(d.size() - 1);
                const auto target = static_cast<uint16_t>(pick(d.size() + 16));
                d[at] = static_cast<uint8_t>(0xC0 | (target >> 8));
                d[at + 1] = static_cast<uint8_t>(target);
            }
            break;
        case 2:
            d.resize(pick(d.size() + 1));
            break;
        case 3:  // header counts: questions 0..2 mostly, records anything
            if (d.size() >= 12)
            {
                const size_t field = 4 + 2 * pick(4);
                d[field] = static_cast<uint8_t>(pick(4) == 0 ? rng() : 0);
                d[field + 1] = static_cast<uint8_t>(field == 4 ? pick(3) : pick(8));
            }
            break;
        case 4:
            for (size_t n = pick(24); n > 0; --n)
                d.push_back(static_cast<uint8_t>(rng()));
            break;
        default:
            if (!d.empty())
                d[pick(d.size())] ^= static_cast<uint8_t>(1u << pick(8));
            break;
        }
    }
    return d;
}

std::vector<Bytes> replySeeds()
{
    std::vector<Bytes> seeds;
    seeds.push_back(Datagram()
                        .header(0, 0x8400, 1, 1, 0, 2)
                        .question({"_vhremote", "_udp", "local"}, 12, 1)
                        .pointer(12).u16(12).u16(1).u32(10).u16(9).labels({"studio"}, false).pointer(12)
                        .labels({"studio"}, false).pointer(12).u16(33).u16(0x8001).u32(10)
                        .u16(8).u16(0).u16(0).u16(9000).pointer(27)
                        .pointer(12).u16(1).u16(1).u32(10).u16(4).raw({192, 168, 1, 20}));
    seeds.push_back(Datagram()
                        .header(0, 0x8400, 0, 1, 1, 1)
                        .labels({"studio", "_vhremote", "_udp", "local"})
                        .u16(33).u16(1).u32(10).u16(8).u16(0).u16(0).u16(9000).pointer(34)
                        .pointer(12).u16(16).u16(1).u32(10).u16(8).u8(7).text("asdf=1").u8(0)
                        .pointer(12).u16(28).u16(1).u32(10).u16(16).raw({0x20, 1, 0xd, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    seeds.push_back(Bytes(mdns_services_query, mdns_services_query + MDNS_SERVICES_QUERY_SIZE));
    seeds.push_back(MDNSHandler::BuildQuery(true));
    return seeds;
}

}  // namespace

TEST(HandlerFuzz, HostileLinesAndRepliesNeverBreakTheReaders)
{
    std::mt19937 rng(kSeed);
    long unsound = 0;
    long questions = 0;
    long renderers = 0;

    for (int i = 0; i < kLines; ++i)
    {
        std::string line;
        if (i % 10 == 0)
        {
            line.resize(std::uniform_int_distribution<size_t>(0, 200)(rng));
            for (auto& c : line)
                c = static_cast<char>(rng());
        }
        else
        {
            line = mutateLine(kLineSeeds[static_cast<size_t>(i) % kLineSeeds.size()], rng);
        }
        const auto asked = MDNSHandler::ParseQuestionLine(line);
        const auto remote = MDNSHandler::ParseRendererLine(line);
        questions += asked ? 1 : 0;
        renderers += remote ? 1 : 0;
        const bool sound = questionIsSound(line, asked) && rendererIsSound(line, remote) && !(asked && remote);
        if (!sound && unsound++ < 5)
            ADD_FAILURE() << "accepted wrongly: \"" << line << "\"";
    }

    // The reply walk writes its lines into this sink, which reads them back.
    auto state = std::make_shared<std::atomic<long>>(0);
    auto replyRenderers = std::make_shared<std::atomic<long>>(0);
    auto replyUnsound = std::make_shared<std::atomic<long>>(0);
    Logger::setLoggerSink([state, replyRenderers, replyUnsound](const std::string& line) {
        ++*state;
        const auto remote = MDNSHandler::ParseRendererLine(line);
        *replyRenderers += remote ? 1 : 0;
        if (!rendererIsSound(line, remote) && (*replyUnsound)++ < 5)
            ADD_FAILURE() << "accepted wrongly: \"" << line << "\"";
        MDNSHandler::ParseQuestionLine(line);
    });

    const auto seeds = replySeeds();
    const auto v4 = mdns_test::ipv4Sender("192.168.1.20", 5353);
    const auto v6 = mdns_test::ipv6Sender("2001:db8::5", 5353);
    for (int i = 0; i < kReplies; ++i)
    {
        Bytes input;
        if (i % 8 == 0)
        {
            input.resize(std::uniform_int_distribution<size_t>(0, 300)(rng));
            for (auto& b : input)
                b = static_cast<uint8_t>(rng());
        }
        else
        {
            input = mutateDatagram(seeds[static_cast<size_t>(i) % seeds.size()], rng);
        }
        // An exact-size heap copy, so a sanitizer build sees any read past it.
        const size_t size = input.size();
        std::unique_ptr<uint8_t[]> owned(new uint8_t[size == 0 ? 1 : size]);
        std::copy(input.begin(), input.end(), owned.get());
        const bool fromV6 = i % 5 == 0;
        MDNSHandler::ReadReply(-1, owned.get(), size,
                               fromV6 ? reinterpret_cast<const sockaddr*>(&v6) : reinterpret_cast<const sockaddr*>(&v4),
                               fromV6 ? sizeof(v6) : sizeof(v4));
    }
    Logger::setLoggerSink([](const std::string&) {});

    std::cout << "[   FUZZ   ] " << kLines << " lines (" << questions << " questions, " << renderers
              << " renderers), " << kReplies << " replies (" << state->load() << " record lines, "
              << replyRenderers->load() << " renderers)" << std::endl;
    RecordProperty("inputs", kLines + kReplies);
    EXPECT_EQ(unsound, 0);
    EXPECT_EQ(replyUnsound->load(), 0);
    EXPECT_GT(questions, 0) << "the mutations should still reach the accepting paths";
    EXPECT_GT(renderers, 0);
    EXPECT_GT(replyRenderers->load(), 0);
}
