#include "discovery/mdns/query_callback.h"

#include "discovery/mdns/logger.h"

#include <cstdio>
#include <cstring>

namespace mdns_cpp {

namespace {

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

std::string extractPrintable(const void* data, size_t size, size_t offset, char* /*buffer*/, size_t capacity)
{
    return mdns_name_text(data, size, offset, capacity);
}

const char* sectionWord(mdns_entry_type entry)
{
    switch (entry)
    {
    case MDNS_ENTRY_ANSWER:
        return "answer";
    case MDNS_ENTRY_AUTHORITY:
        return "authority";
    default:
        return "additional";
    }
}

}  // namespace

int query_callback(int sock, const sockaddr* from, size_t addrlen, mdns_entry_type entry, uint16_t query_id,
                   uint16_t rtype, uint16_t rclass, uint32_t ttl, const void* data, size_t size,
                   size_t name_offset, size_t name_length, size_t record_offset, size_t record_length,
                   void* user_data)
{
    char entrybuffer[256];
    char namebuffer[256];
    char line[1000];

    const auto* bytes = static_cast<const uint8_t*>(data);
    const bool dataInside = record_offset <= size && record_length <= size - record_offset;

    const std::string sender = senderText(from, addrlen);
    const char* section = sectionWord(entry);
    const std::string name = extractPrintable(data, size, name_offset, entrybuffer, sizeof(entrybuffer));
    const int nameLength = static_cast<int>(name.size());
    const int length = static_cast<int>(record_length);

    std::memset(line, 0, sizeof(line));
    switch (rtype)
    {
    case MDNS_TYPE_PTR:
    {
        std::string target;
        if (record_length >= 2 && dataInside)
            target = extractPrintable(data, size, record_offset, namebuffer, sizeof(namebuffer));
        std::snprintf(line, sizeof(line), "%s : %s %.*s PTR %.*s rclass 0x%x ttl %u length %d\n", sender.c_str(),
                      section, nameLength, name.c_str(), static_cast<int>(target.size()), target.c_str(),
                      unsigned{rclass}, ttl, length);
        break;
    }
    case MDNS_TYPE_SRV:
    {
        int priority = 0;
        int weight = 0;
        int port = 0;
        std::string target;
        if (record_length >= 8 && dataInside)
        {
            priority = read16(bytes + record_offset);
            weight = read16(bytes + record_offset + 2);
            port = read16(bytes + record_offset + 4);
            target = extractPrintable(data, size, record_offset + 6, namebuffer, sizeof(namebuffer));
        }
        std::snprintf(line, sizeof(line), "%s : %s %.*s SRV %.*s priority %d weight %d port %d\n",
                      sender.c_str(), section, nameLength, name.c_str(), static_cast<int>(target.size()),
                      target.c_str(), priority, weight, port);
        break;
    }
    case MDNS_TYPE_A:
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        if (record_length == 4 && dataInside)
            std::memcpy(&address.sin_addr, bytes + record_offset, 4);
        const std::string text = ipv4AddressToString(namebuffer, sizeof(namebuffer), &address, sizeof(address));
        std::snprintf(line, sizeof(line), "%s : %s %.*s A %s\n", sender.c_str(), section, nameLength,
                      name.c_str(), text.c_str());
        break;
    }
    case MDNS_TYPE_AAAA:
    {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        if (record_length == 16 && dataInside)
            std::memcpy(&address.sin6_addr, bytes + record_offset, 16);
        const std::string text = ipv6AddressToString(namebuffer, sizeof(namebuffer), &address, sizeof(address));
        std::snprintf(line, sizeof(line), "%s : %s %.*s AAAA %s\n", sender.c_str(), section, nameLength,
                      name.c_str(), text.c_str());
        break;
    }
    case MDNS_TYPE_TXT:
    {
        mdns_txt_pair txtbuffer[128];
        const size_t pairs = mdns_txt_parse(data, size, record_offset, record_length, txtbuffer, 128);
        for (size_t i = 0; i < pairs; ++i)
        {
            const std::string key = escapeName(txtbuffer[i].key, txtbuffer[i].key_length);
            const std::string value = escapeName(txtbuffer[i].value, txtbuffer[i].value_length);
            if (!value.empty())
                std::snprintf(line, sizeof(line), "%s : %s %.*s TXT %.*s = %.*s\n", sender.c_str(), section,
                              nameLength, name.c_str(), static_cast<int>(key.size()), key.c_str(),
                              static_cast<int>(value.size()), value.c_str());
            else
                std::snprintf(line, sizeof(line), "%s : %s %.*s TXT %.*s\n", sender.c_str(), section,
                              nameLength, name.c_str(), static_cast<int>(key.size()), key.c_str());
            LogMessage() << std::string(line);
        }
        return 0;
    }
    default:
        std::snprintf(line, sizeof(line), "%s : %s %.*s type %u rclass 0x%x ttl %u length %d\n", sender.c_str(),
                      section, nameLength, name.c_str(), unsigned{rtype}, unsigned{rclass}, ttl, length);
        break;
    }

    LogMessage() << std::string(line);
    return 0;
}

}  // namespace mdns_cpp
