#include "discovery/mdns/logger.h"

#include <cstdio>

namespace mdns_cpp {

bool Logger::logger_registered = false;
Logger::Sink Logger::logging_callback_function;
std::mutex Logger::mutex_;

void Logger::setLoggerSink(Sink sink)
{
    Sink previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        previous.swap(logging_callback_function);
        logging_callback_function = std::move(sink);
        logger_registered = true;
    }
    // The old sink is released outside the lock: its captures may log.
}

void Logger::write(const std::string& line)
{
    Sink sink;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (logger_registered && logging_callback_function)
            sink = logging_callback_function;
    }
    // Called outside the lock: a sink may wait for a thread that logs too.
    if (sink)
    {
        sink(line);
        return;
    }
    const std::string withNewline = line + "\n";
    std::fwrite(withNewline.data(), 1, withNewline.size(), stdout);
    std::fflush(stdout);
}

LogMessage::~LogMessage()
{
    // Logging never fails its caller, whatever the installed sink does.
    try
    {
        Logger::write(stream_.str());
    }
    catch (...)
    {
    }
}

}  // namespace mdns_cpp
