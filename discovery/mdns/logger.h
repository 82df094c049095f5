#pragma once

// The discovery library's one log channel. Every line goes, whole, to the
// process-wide sink, or to standard output while no sink is installed. Other
// components read these lines back with patterns, so their text is fixed.

#include <functional>
#include <mutex>
#include <sstream>
#include <string>

namespace mdns_cpp {

class Logger
{
public:
    using Sink = std::function<void(const std::string&)>;

    // Replaces the sink. Lines being written on other threads at that moment
    // finish with the sink they started with.
    static void setLoggerSink(Sink sink);

private:
    friend class LogMessage;

    static void write(const std::string& line);

    static bool logger_registered;
    static Sink logging_callback_function;
    static std::mutex mutex_;
};

// Assembles one line; it is handed over when the object goes out of scope,
// so `LogMessage() << "a" << 1 << "\n";` writes one line.
class LogMessage
{
public:
    LogMessage() = default;
    LogMessage(const LogMessage&) = delete;
    LogMessage& operator=(const LogMessage&) = delete;
    ~LogMessage();

    template <typename T>
    LogMessage& operator<<(const T& value)
    {
        stream_ << value;
        return *this;
    }

private:
    std::ostringstream stream_;
};

}  // namespace mdns_cpp
