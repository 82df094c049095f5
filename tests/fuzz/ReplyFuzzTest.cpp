// Hostile datagrams against the reply port: most go through the reader and the dispatch on the
// message thread directly, a share through the real socket and receive thread on loopback. The
// link must drop what isn't a reply, never let a foreign byte into an address, and still apply a
// valid reply afterwards.

#include "../link/LinkSupport.h"
#include "HostileBytes.h"

#include "link/ReplyReader.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace varnholt;
using namespace varnholt::linktest;

namespace
{

constexpr int kDirectDatagrams = 1'000'000;
constexpr int kSocketDatagrams = 100'000;
constexpr int kSocketBatch = 100;   // well within the socket's receive buffer

// What passes the reader is one message whose address is printable ASCII without blank or "#",
// with int32 and float32 arguments only.
void expectClean (const juce::OSCMessage& m, const hostile::Bytes& datagram)
{
    const auto address = m.getAddressPattern().toString();
    bool printable = true;
    for (auto p = address.getCharPointer(); ! p.isEmpty();)
    {
        const auto c = p.getAndAdvance();
        printable = printable && c > ' ' && c <= '~' && c != '#';
    }
    EXPECT_TRUE (printable && datagram[0] == '/') << "foreign address taken";

    for (const auto& argument : m)
        EXPECT_TRUE (argument.isInt32() || argument.isFloat32()) << address;
}

// A plain sender, as anyone on the network could be.
class Sender
{
public:
    Sender() : m_socket (::socket (AF_INET, SOCK_DGRAM, 0))
    {
        m_to.sin_family = AF_INET;
        m_to.sin_port = htons (CController::kPortIn);
        m_to.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    }
    ~Sender() { ::close (m_socket); }

    void send (const hostile::Bytes& b)
    {
        ::sendto (m_socket, b.data(), b.size(), 0, reinterpret_cast<const sockaddr*> (&m_to), sizeof m_to);
    }

private:
    int m_socket;
    sockaddr_in m_to {};
};

class HostileReplies : public LinkTest
{
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        if (HasFatalFailure())
            return;
        a = &add (5);
        setQuietly (*a, kParam_layer_num, 3.0f);
        b = &add (1);
        tick (10);
    }

    // Sends a fence of our own and runs the message loop until it arrives: everything sent
    // before it has been read and handled by then. A fence lost with a full buffer is sent again.
    bool fenced (Sender& sender)
    {
        const int id = ++m_fenceId;
        for (int attempt = 0; attempt < 5; ++attempt)
        {
            sender.send (hostile::intReply (kFenceAddress, id));
            for (int k = 0; k < 500 && m_fence.lastFence < id; ++k)
                juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
            if (m_fence.lastFence >= id)
                return true;
        }
        return false;
    }

    CPlugin* a = nullptr;
    CPlugin* b = nullptr;
};

} // namespace

TEST_F (HostileReplies, NeverTakeAForeignAddressAndLeaveTheLinkWorking)
{
    hostile::DatagramSource source (0x7ee1);
    int accepted = 0;

    for (int k = 0; k < kDirectDatagrams; ++k)
    {
        const auto datagram = source.next();
        if (auto message = ReadReply (datagram.data(), datagram.size()))
        {
            ++accepted;
            expectClean (*message, datagram);
            controller()->oscMessageReceived (*message);
        }

        if (HasFailure())
            FAIL() << "datagram " << k;
        // Lets the instances' queues and the host notifications keep up, as between datagrams.
        if (k % 50'000 == 0)
            pump (1);
    }

    // Some of the changed replies still are replies; most of the rest are not.
    EXPECT_GT (accepted, kDirectDatagrams / 50);
    EXPECT_LT (accepted, kDirectDatagrams / 2);
    std::printf ("%d of %d datagrams read as replies and dispatched\n", accepted, kDirectDatagrams);

    Sender sender;
    hostile::DatagramSource wire (0x50c7);
    for (int k = 0; k < kSocketDatagrams; k += kSocketBatch)
    {
        for (int j = 0; j < kSocketBatch; ++j)
            sender.send (wire.next());
        ASSERT_TRUE (fenced (sender)) << "the link stopped reading after datagram " << k;
    }

    tick (2);
    sender.send (hostile::floatReply ("/vh/plugin/obj/render/width/5", { 1.25f }));
    ASSERT_TRUE (fenced (sender));
    EXPECT_NEAR (a->m_width->get(), 1.25f, 1e-4f) << "a valid reply after the flood";
}
