// Hostile datagrams against the reply port: most go to the reader and the dispatch on the message
// thread directly, a share through the real socket and receive thread on loopback.

#include "../link/LinkSupport.h"
#include "HostileBytes.h"

#include "link/ReplyReader.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

using namespace varnholt;
using namespace varnholt::linktest;

namespace
{

constexpr int kDirect = 1'000'000;
constexpr int kThroughSocket = 100'000;
constexpr int kBatch = 100;   // within the socket's receive buffer, but for the largest datagrams

// The message as OSC bytes again, to be compared with the datagram it was read from.
hostile::Bytes encoded (const juce::OSCMessage& message)
{
    hostile::Bytes tags (1, ',');
    hostile::Bytes arguments;

    for (const auto& argument : message)
    {
        uint32_t bits = 0;
        if (argument.isInt32())
        {
            tags += 'i';
            bits = static_cast<uint32_t> (argument.getInt32());
        }
        else
        {
            tags += argument.isFloat32() ? 'f' : '?';
            const float value = argument.isFloat32() ? argument.getFloat32() : 0.0f;
            std::memcpy (&bits, &value, 4);
        }
        arguments += hostile::bigEndian (bits);
    }

    return hostile::oscText (message.getAddressPattern().toString().toStdString()) + hostile::oscText (tags) + arguments;
}

class HostileReplies : public LinkTest
{
protected:
    void send (const hostile::Bytes& b)
    {
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons (CController::kPortIn);
        to.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
        ::sendto (m_socket, b.data(), b.size(), 0, reinterpret_cast<const sockaddr*> (&to), sizeof to);
    }

    // A fence of our own: once it is handled, so is everything sent before it. The largest
    // datagrams can fill the port's buffer, so a fence that got lost is sent again soon.
    bool fenced()
    {
        const int id = ++m_fenceId;
        for (int attempt = 0; attempt < 50 && m_fence.lastFence < id; ++attempt)
        {
            send (hostile::intReply (kFenceAddress, id));
            for (int k = 0; k < 50 && m_fence.lastFence < id; ++k)
                juce::MessageManager::getInstance()->runDispatchLoopUntil (1);
        }
        return m_fence.lastFence >= id;
    }

    void TearDown() override
    {
        ::close (m_socket);
        LinkTest::TearDown();
    }

    int m_socket = ::socket (AF_INET, SOCK_DGRAM, 0);
};

} // namespace

TEST_F (HostileReplies, NeverTakeAForeignAddressAndLeaveTheLinkWorking)
{
    auto& a = add (5);
    setQuietly (a, kParam_layer_num, 3.0f);
    add (1);
    tick (10);

    hostile::Source source (0x7ee1);
    int taken = 0;

    for (int k = 0; k < kDirect; ++k)
    {
        const auto datagram = source.datagram();
        const auto message = ReadReply (datagram.data(), datagram.size());
        if (! message)
            continue;

        ++taken;
        const auto address = message->getAddressPattern().toString();
        ASSERT_TRUE (datagram[0] == '/' && address.containsOnly ("!\"$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~"))
            << "datagram " << k << " gave " << address;
        // Taken means taken as it was: no byte read past, dropped, skipped or made up.
        ASSERT_TRUE (encoded (*message) == datagram) << "datagram " << k << " gave " << address << " with " << message->size() << " arguments";
        ASSERT_LE (static_cast<size_t> (address.length()), kMaxReplyAddress) << "datagram " << k;
        ASSERT_LE (static_cast<size_t> (message->size()), kMaxReplyArguments) << "datagram " << k;
        controller()->oscMessageReceived (*message);
    }

    std::printf ("%d of %d datagrams read as replies and dispatched\n", taken, kDirect);
    EXPECT_GT (taken, kDirect / 50) << "the changed replies should often still be replies";

    for (int k = 0; k < kThroughSocket; k += kBatch)
    {
        for (int j = 0; j < kBatch; ++j)
            send (source.datagram());
        ASSERT_TRUE (fenced()) << "the link stopped reading after datagram " << k;
    }

    tick (2);
    send (hostile::reply ("/vh/plugin/obj/render/width/5", { 1.25f }));
    ASSERT_TRUE (fenced());
    EXPECT_NEAR (a.m_width->get(), 1.25f, 1e-4f) << "a valid reply after the flood";
}
