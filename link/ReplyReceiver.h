#pragma once

#include <juce_events/juce_events.h>
#include <juce_osc/juce_osc.h>

#include <atomic>
#include <thread>

namespace varnholt
{

// The link's reply port: a UDP socket of its own, read by its own thread, which hands each
// datagram to ReadReply and posts every message that passes to the message thread, where the
// listeners get it in arrival order. Nothing else of a datagram reaches JUCE's OSC code.
//
// The port is bound exclusively: while another process (a second host running the plug-in, the
// Standalone) holds it, connect fails and the owner of the receiver tries again later, rather
// than taking the other's replies away.
//
// connect and disconnect are called with the controller's m_lock held; listeners are added and
// removed only while the receiver is disconnected, or on the message thread.
class CReplyReceiver : private juce::MessageListener
{
public:
    using Listener = juce::OSCReceiver::Listener<juce::OSCReceiver::MessageLoopCallback>;

    CReplyReceiver() = default;
    ~CReplyReceiver() override;

    // Binds the port on every IPv4 address and starts the receive thread; false when the port
    // can't be bound or the thread can't start. The first failure of a run of them is logged,
    // and so is the success that ends it. A receive thread that ended on its own starts such a
    // run: it logs its end, and the failing binds after it stay quiet.
    bool connect (int port);

    // Stops and joins the receive thread and closes the socket. Messages already posted are still
    // delivered while the receiver exists.
    void disconnect();

    // True while the receive thread reads the port; false after a failed connect, and once the
    // thread has ended on its own (a failing poll, an exception).
    bool isListening() const { return m_thread.joinable() && ! m_ended; }

    void addListener (Listener* listener) { m_listeners.addIfNotAlreadyThere (listener); }
    void removeListener (Listener* listener) { m_listeners.removeFirstMatchingValue (listener); }

    // The largest UDP payload over IPv4 is 65507 bytes.
    static constexpr size_t kBufferSize = 65536;

    // Test seam: ends the receive thread unasked, as a failing poll does (an error) or as a throw
    // from within it would (a std::exception, or anything else). Never called by the link.
    enum class TestFault { none, error, exception, unknownException };
    void endThreadForTest (TestFault fault);

private:
    struct Reply;

    void run();
    int receive();   // the error that ended it, 0 for a stop request or a closed socket
    bool fail (int port, const char* what, const char* why);
    void stopped (const char* why) noexcept;
    void handleMessage (const juce::Message& message) override;

    juce::Array<Listener*> m_listeners;
    int m_socket = -1;
    int m_wakeRead = -1;    // a byte on this pipe ends the thread's wait at once
    int m_wakeWrite = -1;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_ended { false };
    // The port is not ours and the log said so: set by a failing connect, or by the receive
    // thread when it ends on its own; cleared by the connect that succeeds.
    std::atomic<bool> m_failing { false };
    std::atomic<TestFault> m_testFault { TestFault::none };
    int m_port = 0;   // set before the thread starts, read by it for its log
    std::thread m_thread;

    JUCE_DECLARE_NON_COPYABLE (CReplyReceiver)
};

} // namespace varnholt
