#include "link/ReplyReceiver.h"

#include "link/ReplyReader.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace varnholt
{

struct CReplyReceiver::Reply : juce::Message
{
    explicit Reply (juce::OSCMessage m) : message (std::move (m)) {}
    juce::OSCMessage message;
};

namespace
{

// A child process the host starts must not inherit the reply port, not even one started by
// another thread between the opening and a later fcntl: hence the atomic forms where there are.
int openSocket()
{
#ifdef SOCK_CLOEXEC
    return ::socket (AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
#else
    const int fd = ::socket (AF_INET, SOCK_DGRAM, 0);
    if (fd >= 0)
        ::fcntl (fd, F_SETFD, FD_CLOEXEC);
    return fd;
#endif
}

int openPipe (int (&fds)[2])
{
#ifdef __linux__
    return ::pipe2 (fds, O_CLOEXEC);
#else
    if (::pipe (fds) != 0)
        return -1;
    ::fcntl (fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl (fds[1], F_SETFD, FD_CLOEXEC);
    return 0;
#endif
}

void closeIfOpen (int& fd)
{
    if (fd >= 0)
        ::close (fd);
    fd = -1;
}

// The line is made inside: the receive thread logs too, and nothing may leave it, not even a
// failed allocation.
template <typename MakeLine>
void log (MakeLine&& makeLine) noexcept
{
    try
    {
        juce::Logger::writeToLog ("Varnholt-v2 link: " + makeLine());
    }
    catch (...)
    {
    }
}

} // namespace

CReplyReceiver::~CReplyReceiver()
{
    disconnect();
}

bool CReplyReceiver::connect (int port)
{
    disconnect();

    m_socket = openSocket();
    if (m_socket < 0)
        return fail (port, "no socket", std::strerror (errno));

    // No SO_REUSEADDR: with it a later bind by another process would silently take every reply
    // away from this one. A UDP port is free again as soon as its socket closes, so rebinding
    // the same port here never waits.
    sockaddr_in any {};
    any.sin_family = AF_INET;
    any.sin_port = htons (static_cast<uint16_t> (port));
    any.sin_addr.s_addr = htonl (INADDR_ANY);

    if (::bind (m_socket, reinterpret_cast<const sockaddr*> (&any), sizeof any) != 0)
        return fail (port, "cannot bind", std::strerror (errno));

    int wake[2];
    if (openPipe (wake) != 0)
        return fail (port, "no wake pipe", std::strerror (errno));

    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];

    // Cleared before the thread starts, so that a thread ending at once opens a run of failures
    // of its own; a thread that cannot start stays in the run it was tried in.
    const bool wasFailing = m_failing.exchange (false);
    m_port = port;
    m_stop = false;
    m_ended = false;
    m_testFault = TestFault::none;
    try
    {
        m_thread = std::thread ([this] { run(); });
    }
    catch (const std::exception& e)
    {
        m_failing = wasFailing;
        return fail (port, "no receive thread", e.what());
    }
    catch (...)
    {
        m_failing = wasFailing;
        return fail (port, "no receive thread", "unknown exception");
    }

    if (wasFailing)
        log ([&] { return "reply port " + juce::String (port) + " bound, replies arrive again"; });
    return true;
}

bool CReplyReceiver::fail (int port, const char* what, const char* why)
{
    closeIfOpen (m_socket);
    closeIfOpen (m_wakeRead);
    closeIfOpen (m_wakeWrite);

    if (! m_failing.exchange (true))
        log ([&] { return "reply port " + juce::String (port) + ": " + what + " (" + juce::String (why)
                          + "); no reply arrives until it is bound, tried again every second"; });
    return false;
}

void CReplyReceiver::disconnect()
{
    if (m_thread.joinable())
    {
        m_stop = true;
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write (m_wakeWrite, &byte, 1);
        m_thread.join();
    }

    closeIfOpen (m_socket);
    closeIfOpen (m_wakeRead);
    closeIfOpen (m_wakeWrite);
}

void CReplyReceiver::run()
{
    // Nothing may leave this thread: an exception escaping it would end the host. A thread that
    // ends unasked is noticed by isListening, and its owner binds the port anew.
    try
    {
        const auto error = receive();
        stopped (error != 0 ? std::strerror (error) : "socket gone");
    }
    catch (const std::exception& e)
    {
        stopped (e.what());
    }
    catch (...)
    {
        stopped ("unknown exception");
    }

    m_ended = true;
}

void CReplyReceiver::stopped (const char* why) noexcept
{
    // Asked to stop, the owner closes the port itself and loses nothing it did not mean to.
    if (m_stop)
        return;

    // The binds that fail after this belong to the same run and stay quiet.
    m_failing = true;
    log ([&] { return "reply port " + juce::String (m_port) + ": the reply thread stopped (" + juce::String (why)
                      + "); no reply arrives until the port is bound again, tried every second"; });
}

void CReplyReceiver::endThreadForTest (TestFault fault)
{
    m_testFault = fault;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write (m_wakeWrite, &byte, 1);
}

int CReplyReceiver::receive()
{
    std::vector<uint8_t> buffer (kBufferSize);

    while (! m_stop)
    {
        pollfd fds[2] = { { m_socket, POLLIN, 0 }, { m_wakeRead, POLLIN, 0 } };
        if (::poll (fds, 2, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            return errno;
        }

        if (fds[1].revents != 0 || (fds[0].revents & POLLNVAL) != 0)
        {
            switch (m_testFault.exchange (TestFault::none))
            {
                case TestFault::error:            return EIO;
                case TestFault::exception:        throw std::runtime_error ("a fault planted by a test");
                case TestFault::unknownException: throw 42;
                case TestFault::none:             break;
            }
            return 0;
        }

        // A bounded batch, so that a flood never keeps the stop request waiting.
        for (int k = 0; k < 64 && ! m_stop; ++k)
        {
            const auto n = ::recv (m_socket, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n < 0)
                break;

            if (auto message = ReadReply (buffer.data(), static_cast<size_t> (n)))
                postMessage (new Reply (std::move (*message)));
        }
    }

    return 0;
}

void CReplyReceiver::handleMessage (const juce::Message& message)
{
    if (auto* reply = dynamic_cast<const Reply*> (&message))
        for (int i = 0; i < m_listeners.size(); ++i)
            m_listeners.getUnchecked (i)->oscMessageReceived (reply->message);
}

} // namespace varnholt
