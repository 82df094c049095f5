#include "link/ReplyReceiver.h"

#include "link/ReplyReader.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A child process the host starts must not inherit the reply port.
void closeOnExec (int fd)
{
    ::fcntl (fd, F_SETFD, ::fcntl (fd, F_GETFD) | FD_CLOEXEC);
}

void closeIfOpen (int& fd)
{
    if (fd >= 0)
        ::close (fd);
    fd = -1;
}

} // namespace

CReplyReceiver::~CReplyReceiver()
{
    disconnect();
}

bool CReplyReceiver::connect (int port)
{
    disconnect();

    m_socket = ::socket (AF_INET, SOCK_DGRAM, 0);
    if (m_socket < 0)
        return false;
    closeOnExec (m_socket);

    // As JUCE's datagram sockets do, so that a rebinding never waits for the old socket.
    const int on = 1;
    ::setsockopt (m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

    sockaddr_in any {};
    any.sin_family = AF_INET;
    any.sin_port = htons (static_cast<uint16_t> (port));
    any.sin_addr.s_addr = htonl (INADDR_ANY);

    int wake[2];
    if (::bind (m_socket, reinterpret_cast<const sockaddr*> (&any), sizeof any) != 0 || ::pipe (wake) != 0)
    {
        closeIfOpen (m_socket);
        return false;
    }

    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];
    closeOnExec (m_wakeRead);
    closeOnExec (m_wakeWrite);

    m_stop = false;
    m_thread = std::thread ([this] { run(); });
    return true;
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
    std::vector<uint8_t> buffer (kBufferSize);

    while (! m_stop)
    {
        pollfd fds[2] = { { m_socket, POLLIN, 0 }, { m_wakeRead, POLLIN, 0 } };
        if (::poll (fds, 2, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            return;
        }

        if (fds[1].revents != 0 || (fds[0].revents & POLLNVAL) != 0)
            return;

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
}

void CReplyReceiver::handleMessage (const juce::Message& message)
{
    if (auto* reply = dynamic_cast<const Reply*> (&message))
        for (int i = 0; i < m_listeners.size(); ++i)
            m_listeners.getUnchecked (i)->oscMessageReceived (reply->message);
}

} // namespace varnholt
