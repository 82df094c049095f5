#include "discovery/mdns/responder.h"

#include "discovery/mdns/logger.h"
#include "discovery/mdns/query_callback.h"
#include "discovery/mdns/wire.h"

#include <cstring>
#include <string_view>

namespace mdns_cpp {

namespace {

constexpr uint32_t kUnicastTtl = 10;
constexpr uint32_t kMulticastTtl = 60;
constexpr size_t kMaxMetaAnswerNameLength = 178;
constexpr size_t kMaxServiceAnswerNamesLength = 212;
constexpr std::string_view kMetaName = "_services._dns-sd._udp.local.";
// One character string of length 7: "asdf=1" and a zero byte.
constexpr uint8_t kTxtData[] = {7, 'a', 's', 'd', 'f', '=', '1', 0};

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// Appends to a fixed buffer; any write that does not fit spoils the whole
// answer, so a caller checks ok() once at the end.
class AnswerWriter
{
public:
    AnswerWriter(uint8_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

    size_t position() const { return pos_; }
    bool ok() const { return ok_; }

    void bytes(const void* data, size_t size)
    {
        if (!ok_ || capacity_ - pos_ < size)
        {
            ok_ = false;
            return;
        }
        std::memcpy(buffer_ + pos_, data, size);
        pos_ += size;
    }

    void u16(uint16_t value)
    {
        const uint8_t b[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
        bytes(b, 2);
    }

    void u32(uint32_t value)
    {
        const uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
        bytes(b, 4);
    }

    void pointer(size_t target) { u16(static_cast<uint16_t>(0xC000 | target)); }

    void name(std::string_view text, bool terminate)
    {
        if (ok_ && !mdns_name_write(buffer_, capacity_, &pos_, text, terminate))
            ok_ = false;
    }

    // Type, class and TTL, then room for the data length, which
    // finishRecord fills in once the data is written.
    size_t beginRecord(uint16_t type, uint16_t rclass, uint32_t ttl)
    {
        u16(type);
        u16(rclass);
        u32(ttl);
        const size_t lengthAt = pos_;
        u16(0);
        return lengthAt;
    }

    void finishRecord(size_t lengthAt)
    {
        if (!ok_)
            return;
        const size_t length = pos_ - lengthAt - 2;
        buffer_[lengthAt] = static_cast<uint8_t>(length >> 8);
        buffer_[lengthAt + 1] = static_cast<uint8_t>(length);
    }

    void patch16(size_t at, uint16_t value)
    {
        if (!ok_ || at + 2 > pos_)
            return;
        buffer_[at] = static_cast<uint8_t>(value >> 8);
        buffer_[at + 1] = static_cast<uint8_t>(value);
    }

private:
    uint8_t* buffer_;
    size_t capacity_;
    size_t pos_ = 0;
    bool ok_ = true;
};

// Offset of the last label of the encoded name that starts at `start`.
size_t lastLabelOffset(const uint8_t* buffer, size_t start, size_t end)
{
    size_t last = start;
    for (size_t pos = start; pos < end && buffer[pos] != 0; pos += 1 + size_t{buffer[pos]})
        last = pos;
    return last;
}

size_t buildMetaAnswer(const ResponderSettings& settings, uint8_t* buffer, size_t capacity)
{
    if (settings.name.size() > kMaxMetaAnswerNameLength)
        return 0;
    AnswerWriter out(buffer, capacity);
    out.bytes(mdns_services_query, MDNS_SERVICES_QUERY_SIZE);
    out.patch16(2, MDNS_FLAGS_AUTHORITATIVE_ANSWER);
    out.patch16(6, 1);
    out.pointer(MDNS_HEADER_SIZE);
    const size_t lengthAt = out.beginRecord(MDNS_TYPE_PTR, MDNS_CLASS_IN, kUnicastTtl);
    out.name(settings.name, true);
    out.finishRecord(lengthAt);
    return out.ok() ? out.position() : 0;
}

size_t buildServiceAnswer(const ResponderSettings& settings, bool unicast, uint16_t queryId, uint8_t* buffer,
                          size_t capacity)
{
    if (settings.hostname.size() + settings.name.size() > kMaxServiceAnswerNamesLength)
        return 0;
    const uint16_t rclass = unicast ? (MDNS_CLASS_IN | MDNS_CLASS_TOP_BIT) : MDNS_CLASS_IN;
    const uint32_t ttl = unicast ? kUnicastTtl : kMulticastTtl;
    const bool withA = settings.has_ipv4 && settings.address_ipv4.s_addr != 0;
    const bool withAaaa = settings.has_ipv6;

    AnswerWriter out(buffer, capacity);
    out.u16(unicast ? queryId : 0);
    out.u16(MDNS_FLAGS_AUTHORITATIVE_ANSWER);
    out.u16(unicast ? 1 : 0);
    out.u16(1);
    out.u16(0);
    out.u16(static_cast<uint16_t>(2 + (withA ? 1 : 0) + (withAaaa ? 1 : 0)));

    // The service type is written once, at offset 12, as the question's
    // name (unicast) or the answer's name (multicast); everything else
    // points back at it.
    const size_t serviceOffset = out.position();
    out.name(settings.name, true);
    const size_t serviceEnd = out.position();
    if (!out.ok() || serviceEnd - serviceOffset < 2)
        return 0;  // a service type without a label cannot carry an instance
    const size_t localOffset = lastLabelOffset(buffer, serviceOffset, serviceEnd);

    if (unicast)
    {
        out.u16(MDNS_TYPE_PTR);
        out.u16(MDNS_CLASS_IN | MDNS_CLASS_TOP_BIT);
        out.pointer(serviceOffset);
    }

    size_t lengthAt = out.beginRecord(MDNS_TYPE_PTR, rclass, ttl);
    const size_t instanceOffset = out.position();
    out.name(settings.hostname, false);
    out.pointer(serviceOffset);
    out.finishRecord(lengthAt);

    out.pointer(instanceOffset);
    lengthAt = out.beginRecord(MDNS_TYPE_SRV, rclass, ttl);
    out.u16(0);
    out.u16(0);
    out.u16(settings.port);
    const size_t targetOffset = out.position();
    out.name(settings.hostname, false);
    out.pointer(localOffset);
    out.finishRecord(lengthAt);

    if (withA)
    {
        out.pointer(targetOffset);
        lengthAt = out.beginRecord(MDNS_TYPE_A, rclass, ttl);
        out.bytes(&settings.address_ipv4, 4);
        out.finishRecord(lengthAt);
    }
    if (withAaaa)
    {
        out.pointer(targetOffset);
        lengthAt = out.beginRecord(MDNS_TYPE_AAAA, rclass, ttl);
        out.bytes(&settings.address_ipv6, 16);
        out.finishRecord(lengthAt);
    }

    out.pointer(instanceOffset);
    lengthAt = out.beginRecord(MDNS_TYPE_TXT, rclass, ttl);
    out.bytes(kTxtData, sizeof(kTxtData));
    out.finishRecord(lengthAt);

    return out.ok() ? out.position() : 0;
}

}  // namespace

void respondToQuestions(const ResponderSettings& settings, const void* data, size_t size, const sockaddr* from,
                        size_t addrlen, const AnswerSender& send)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (size < MDNS_HEADER_SIZE)
        return;
    const uint16_t queryId = read16(bytes);
    const uint16_t flags = read16(bytes + 2);
    const uint16_t questions = read16(bytes + 4);
    // Answering a response could start an endless exchange with another
    // responder; other opcodes are not queries we understand.
    if ((flags & MDNS_FLAG_RESPONSE) || (flags & MDNS_FLAG_OPCODE_MASK))
        return;

    size_t offset = MDNS_HEADER_SIZE;
    for (uint16_t question = 0; question < questions; ++question)
    {
        const size_t nameOffset = offset;
        if (mdns_name_equal(data, size, &offset))
        {
            if (flags != 0 || questions != 1)
                return;
        }
        else if (!mdns_name_skip(data, size, &offset))
        {
            return;
        }
        if (size - offset < 4)
            return;
        const uint16_t rtype = read16(bytes + offset);
        const uint16_t rclass = read16(bytes + offset + 2);
        offset += 4;
        if ((rclass & ~MDNS_CLASS_TOP_BIT) != MDNS_CLASS_IN)
            return;

        if (rtype != MDNS_TYPE_PTR && rtype != MDNS_TYPE_SRV)
            continue;

        char nameBuffer[256];
        const size_t nameLength = mdns_name_extract(data, size, nameOffset, nameBuffer, sizeof(nameBuffer));
        const std::string_view asked(nameBuffer, nameLength);
        const std::string sender = senderText(from, addrlen);

        if (rtype == MDNS_TYPE_SRV)
        {
            LogMessage() << sender << " : question SRV  " << mdns_name_text(data, size, nameOffset, sizeof(nameBuffer)) << "\n";
            continue;
        }

        LogMessage() << sender << " : question PTR " << mdns_name_text(data, size, nameOffset, sizeof(nameBuffer)) << "\n";
        uint8_t answer[MDNS_ANSWER_BUFFER_SIZE];
        if (asked == kMetaName)
        {
            LogMessage() << "  --> answer " << settings.name << " \n";
            if (const size_t length = buildMetaAnswer(settings, answer, sizeof(answer)))
                send(true, answer, length);
        }
        else if (asked == settings.name)
        {
            const bool unicast = (rclass & MDNS_CLASS_TOP_BIT) != 0;
            LogMessage() << "  --> answer " << settings.hostname << "." << settings.name << " port "
                         << settings.port << " (" << (unicast ? "unicast" : "multicast") << ")\n";
            if (const size_t length = buildServiceAnswer(settings, unicast, queryId, answer, sizeof(answer)))
                send(unicast, answer, length);
        }
    }
}

void takeDiscoveryReply(int sock, const sockaddr* from, size_t addrlen, const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (size < MDNS_HEADER_SIZE)
        return;
    const uint16_t queryId = read16(bytes);
    const uint16_t flags = read16(bytes + 2);
    const uint16_t questions = read16(bytes + 4);
    const uint16_t answers = read16(bytes + 6);
    const uint16_t authority = read16(bytes + 8);
    const uint16_t additional = read16(bytes + 10);
    if (queryId != 0 || flags != MDNS_FLAGS_AUTHORITATIVE_ANSWER)
        return;

    size_t offset = MDNS_HEADER_SIZE;
    for (uint16_t i = 0; i < questions; ++i)
    {
        if (!mdns_name_equal(data, size, &offset) || size - offset < 4)
            return;
        const uint16_t rtype = read16(bytes + offset);
        const uint16_t rclass = read16(bytes + offset + 2);
        if (rtype != MDNS_TYPE_PTR || (rclass & ~MDNS_CLASS_TOP_BIT) != MDNS_CLASS_IN)
            return;
        offset += 4;
    }

    for (uint16_t i = 0; i < answers; ++i)
    {
        const size_t nameOffset = offset;
        const bool isMeta = mdns_name_equal(data, size, &offset);
        if (!isMeta && !mdns_name_skip(data, size, &offset))
            return;
        if (size - offset < 10)
            return;
        const uint16_t rtype = read16(bytes + offset);
        const uint16_t rclass = read16(bytes + offset + 2);
        const uint32_t ttl = (uint32_t{read16(bytes + offset + 4)} << 16) | read16(bytes + offset + 6);
        const size_t length = read16(bytes + offset + 8);
        const size_t recordOffset = offset + 10;
        if (size - recordOffset < length)
            return;
        if (isMeta)
            query_callback(sock, from, addrlen, MDNS_ENTRY_ANSWER, queryId, rtype, rclass, ttl, data, size,
                           nameOffset, recordOffset - 10 - nameOffset, recordOffset, length, nullptr);
        offset = recordOffset + length;
    }

    mdns_records_parse(sock, from, addrlen, data, size, &offset, MDNS_ENTRY_AUTHORITY, queryId, authority,
                       query_callback, nullptr);
    mdns_records_parse(sock, from, addrlen, data, size, &offset, MDNS_ENTRY_ADDITIONAL, queryId, additional,
                       query_callback, nullptr);
}

}  // namespace mdns_cpp
