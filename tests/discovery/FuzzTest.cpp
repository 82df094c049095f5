// Bounded random-input test: datagrams from anyone on the network, mutated
// from real ones or made of random bytes, go through every reader. Nothing
// may crash, read outside the datagram, hang, print control bytes or answer
// a response. Fixed seed, fixed count.

#include "discovery/mdns/query_callback.h"
#include "discovery/mdns/responder.h"
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

constexpr int kInputs = 300000;
constexpr uint32_t kSeed = 0x6d646e73;

std::atomic<long> g_lines{0};
std::atomic<long> g_badLines{0};

bool printableLine(const std::string& line)
{
    for (size_t i = 0; i < line.size(); ++i)
    {
        const auto c = static_cast<unsigned char>(line[i]);
        if ((c < 0x20 || c > 0x7E) && !(c == '\n' && i + 1 == line.size()))
            return false;
    }
    return true;
}

int checkRecord(int, const sockaddr*, size_t, mdns_entry_type, uint16_t, uint16_t, uint16_t, uint32_t, const void*,
                size_t size, size_t nameOffset, size_t nameLength, size_t recordOffset, size_t recordLength,
                void* user)
{
    auto* failures = static_cast<long*>(user);
    if (nameOffset >= size || nameOffset + nameLength + 10 != recordOffset || recordOffset + recordLength > size)
        ++*failures;
    return 0;
}

ResponderSettings settings()
{
    ResponderSettings s;
    s.hostname = "studio";
    s.name = "_vhplugin._udp.local.";
    s.port = 5342;
    s.has_ipv4 = true;
    s.address_ipv4.s_addr = htonl(0xC0A80114);
    s.has_ipv6 = true;
    s.address_ipv6.s6_addr[15] = 1;
    return s;
}

std::vector<Bytes> seeds()
{
    std::vector<Bytes> result;
    result.push_back(Datagram().header(0, 0, 1).question({"_vhplugin", "_udp", "local"}, 12, 1));
    result.push_back(Datagram().header(7, 0, 1).question({"_vhplugin", "_udp", "local"}, 12, 0x8001));
    result.push_back(Bytes(mdns_services_query, mdns_services_query + MDNS_SERVICES_QUERY_SIZE));
    result.push_back(Datagram()
                         .header(0, 0, 3)
                         .question({"_other", "_udp", "local"}, 12, 1)
                         .labels({"_vhplugin"}, false).pointer(19).u16(12).u16(0x8001)
                         .labels({"studio"}, false).pointer(35).u16(33).u16(1));
    // The responder's own answers, and a reply to the meta query.
    const auto sender = mdns_test::ipv4Sender("192.168.1.20", 5353);
    for (const Bytes& question : std::vector<Bytes>(result))
        respondToQuestions(settings(), question.data(), question.size(), reinterpret_cast<const sockaddr*>(&sender),
                           sizeof(sender), [&](bool, const uint8_t* data, size_t size) {
                               result.emplace_back(data, data + size);
                           });
    result.push_back(Datagram()
                         .header(0, 0x8400, 1, 1, 1, 2)
                         .question({"_services", "_dns-sd", "_udp", "local"}, 12, 0x8001)
                         .pointer(12).u16(12).u16(1).u32(10).u16(22).labels({"_vhremote", "_udp", "local"})
                         .labels({"studio"}, false).pointer(58).u16(16).u16(1).u32(10).u16(8)
                         .u8(3).text("a=1").u8(3).text("b=2")
                         .pointer(80).u16(33).u16(1).u32(10).u16(8).u16(0).u16(0).u16(9000).pointer(73)
                         .pointer(80).u16(1).u16(1).u32(10).u16(4).raw({10, 0, 0, 1}));
    return result;
}

Bytes mutate(const Bytes& seed, std::mt19937& rng)
{
    Bytes d = seed;
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
    const size_t edits = 1 + pick(8);
    for (size_t e = 0; e < edits; ++e)
    {
        switch (pick(7))
        {
        case 0:  // random byte
            if (!d.empty())
                d[pick(d.size())] = static_cast<uint8_t>(rng());
            break;
        case 1:  // compression pointer to anywhere
            if (d.size() > 1)
            {
                const size_t at = pick(d.size() - 1);
                const auto target = static_cast<uint16_t>(pick(d.size() + 16));
                d[at] = static_cast<uint8_t>(0xC0 | (target >> 8));
                d[at + 1] = static_cast<uint8_t>(target);
            }
            break;
        case 2:  // label length that may run past the end
            if (!d.empty())
                d[pick(d.size())] = static_cast<uint8_t>(pick(0xC0));
            break;
        case 3:  // cut short
            d.resize(pick(d.size() + 1));
            break;
        case 4:  // random tail
            for (size_t n = pick(24); n > 0; --n)
                d.push_back(static_cast<uint8_t>(rng()));
            break;
        case 5:  // header counts and flags
            if (d.size() >= 12)
            {
                const size_t field = 2 + 2 * pick(5);
                d[field] = static_cast<uint8_t>(pick(4) == 0 ? rng() : 0);
                d[field + 1] = static_cast<uint8_t>(pick(8));
            }
            break;
        default:  // flip a bit
            if (!d.empty())
                d[pick(d.size())] ^= static_cast<uint8_t>(1u << pick(8));
            break;
        }
    }
    return d;
}

}  // namespace

TEST(MdnsFuzz, HostileDatagramsNeverBreakTheReaders)
{
    mdns_cpp::Logger::setLoggerSink([](const std::string& line) {
        ++g_lines;
        if (!printableLine(line))
            ++g_badLines;
    });

    const auto corpus = seeds();
    const auto responderSettings = settings();
    const auto v4 = mdns_test::ipv4Sender("192.168.1.20", 5353);
    const auto v6 = mdns_test::ipv6Sender("2001:db8::5", 5353);
    std::mt19937 rng(kSeed);
    long failures = 0;
    long answers = 0;
    long recordFailures = 0;

    for (int i = 0; i < kInputs; ++i)
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
            input = mutate(corpus[i % corpus.size()], rng);
        }
        // An exact-size heap copy, so a sanitizer build sees any read past it.
        const size_t size = input.size();
        std::unique_ptr<uint8_t[]> owned(new uint8_t[size == 0 ? 1 : size]);
        std::copy(input.begin(), input.end(), owned.get());
        const uint8_t* data = owned.get();

        const size_t offsets[] = {12, size > 0 ? static_cast<size_t>(rng()) % size : 0, size / 2, size};
        for (const size_t offset : offsets)
        {
            size_t end = offset;
            if (mdns_name_skip(data, size, &end) && (end <= offset || end > size))
                ++failures;
            char text[256];
            if (mdns_name_extract(data, size, offset, text, sizeof(text)) > sizeof(text))
                ++failures;
            if (mdns_name_extract(data, size, offset, text, 7) > 7)
                ++failures;
            end = offset;
            if (mdns_name_equal(data, size, &end) && (end <= offset || end > size))
                ++failures;
        }

        size_t offset = 12;
        if (size >= 12)
        {
            const size_t questions = (data[4] << 8) | data[5];
            for (size_t q = 0; q < questions && mdns_name_skip(data, size, &offset) && size - offset >= 4; ++q)
                offset += 4;
            mdns_records_parse(-1, nullptr, 0, data, size, &offset, MDNS_ENTRY_ANSWER, 0, 0xFFFF, checkRecord,
                               &recordFailures);
            offset = 12;
            mdns_records_parse(-1, reinterpret_cast<const sockaddr*>(&v4), sizeof(v4), data, size, &offset,
                               MDNS_ENTRY_ADDITIONAL, 0, data[7], query_callback, nullptr);
        }

        const bool isResponse = size >= 12 && (data[2] & 0x80);
        const auto& from = (i % 5 == 0) ? reinterpret_cast<const sockaddr&>(v6) : reinterpret_cast<const sockaddr&>(v4);
        const size_t fromLength = (i % 5 == 0) ? sizeof(v6) : sizeof(v4);
        const long linesBefore = g_lines;
        respondToQuestions(responderSettings, data, size, &from, fromLength,
                           [&](bool, const uint8_t* answer, size_t answerSize) {
                               ++answers;
                               if (isResponse || answerSize > MDNS_ANSWER_BUFFER_SIZE || answerSize < 12)
                                   ++failures;
                           });
        if (isResponse && g_lines != linesBefore)
            ++failures;
        takeDiscoveryReply(-1, &from, fromLength, data, size);
    }

    mdns_cpp::Logger::setLoggerSink([](const std::string&) {});
    std::cout << "[   FUZZ   ] " << kInputs << " inputs, " << answers << " answers, " << g_lines << " log lines"
              << std::endl;
    RecordProperty("inputs", kInputs);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(recordFailures, 0);
    EXPECT_EQ(g_badLines, 0) << "log lines with unescaped control bytes";
    EXPECT_GT(answers, 0) << "the mutations should still reach the answering code";
}
