#pragma once

// Helpers for the discovery tests: a byte-level datagram builder that knows
// nothing of the library's own writer, and a log sink that keeps the lines.

#include "discovery/mdns/logger.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace mdns_test {

using Bytes = std::vector<uint8_t>;

class Datagram
{
public:
    Datagram& header(uint16_t id, uint16_t flags, uint16_t questions, uint16_t answers = 0,
                     uint16_t authority = 0, uint16_t additional = 0)
    {
        return u16(id).u16(flags).u16(questions).u16(answers).u16(authority).u16(additional);
    }

    Datagram& u8(uint8_t value)
    {
        bytes_.push_back(value);
        return *this;
    }

    Datagram& u16(uint16_t value) { return u8(static_cast<uint8_t>(value >> 8)).u8(static_cast<uint8_t>(value)); }

    Datagram& u32(uint32_t value) { return u16(static_cast<uint16_t>(value >> 16)).u16(static_cast<uint16_t>(value)); }

    Datagram& raw(std::initializer_list<uint8_t> values)
    {
        bytes_.insert(bytes_.end(), values);
        return *this;
    }

    Datagram& text(std::string_view value)
    {
        bytes_.insert(bytes_.end(), value.begin(), value.end());
        return *this;
    }

    // Labels given one by one, so tests can build names the library's own
    // writer would refuse; a zero byte ends the name when terminate is set.
    Datagram& labels(std::initializer_list<std::string_view> parts, bool terminate = true)
    {
        for (const auto part : parts)
            u8(static_cast<uint8_t>(part.size())).text(part);
        if (terminate)
            u8(0);
        return *this;
    }

    Datagram& pointer(uint16_t target) { return u16(static_cast<uint16_t>(0xC000 | target)); }

    Datagram& question(std::initializer_list<std::string_view> name, uint16_t type, uint16_t rclass)
    {
        return labels(name).u16(type).u16(rclass);
    }

    size_t size() const { return bytes_.size(); }
    const Bytes& bytes() const { return bytes_; }
    operator const Bytes&() const { return bytes_; }

private:
    Bytes bytes_;
};

inline sockaddr_in ipv4Sender(const char* address, uint16_t port)
{
    sockaddr_in sender{};
    sender.sin_family = AF_INET;
    sender.sin_port = htons(port);
    inet_pton(AF_INET, address, &sender.sin_addr);
    return sender;
}

inline sockaddr_in6 ipv6Sender(const char* address, uint16_t port)
{
    sockaddr_in6 sender{};
    sender.sin6_family = AF_INET6;
    sender.sin6_port = htons(port);
    inet_pton(AF_INET6, address, &sender.sin6_addr);
    return sender;
}

// Installs a sink that keeps every line; the lines live in shared state, so
// a thread still logging after the capture ends writes into valid memory.
class LogCapture
{
public:
    LogCapture() : state_(std::make_shared<State>())
    {
        auto state = state_;
        mdns_cpp::Logger::setLoggerSink([state](const std::string& line) {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->lines.push_back(line);
        });
    }

    ~LogCapture()
    {
        mdns_cpp::Logger::setLoggerSink([](const std::string&) {});
    }

    std::vector<std::string> lines() const
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        return state_->lines;
    }

    std::vector<std::string> take()
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        std::vector<std::string> result;
        result.swap(state_->lines);
        return result;
    }

    bool contains(std::string_view text) const
    {
        for (const auto& line : lines())
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

private:
    struct State
    {
        std::mutex mutex;
        std::vector<std::string> lines;
    };
    std::shared_ptr<State> state_;
};

}  // namespace mdns_test
