#include "LinkSupport.h"
#include "tests/fuzz/HostileBytes.h"

#include "link/ReplyReader.h"

#include <array>
#include <cstring>
#include <functional>
#include <limits>

using namespace varnholt;
using namespace varnholt::linktest;
using varnholt::test::setOf;

namespace
{

// Instance a is object 5 on layer 3, b is object 6; both with osc on and nothing pending.
class Replies : public LinkTest
{
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        if (HasFatalFailure())
            return;
        a = &add (5);
        setQuietly (*a, kParam_layer_num, 3.0f);
        b = &add (6);
        tick (10);   // closes the gestures that the registration opened
        test::clearSets (a->m_messageHandler);
        test::clearSets (b->m_messageHandler);
    }

    CPlugin* a = nullptr;
    CPlugin* b = nullptr;
};

using Values = std::array<float, kNumHostParameters>;

Values valuesOf (CPlugin& p)
{
    Values v {};
    for (int i = 0; i < kNumHostParameters; ++i)
        v[(size_t) i] = p.GetParameter (static_cast<AutomationParameterIndex> (i))->getValue();
    return v;
}

std::string bytesToHex (const std::string& bytes)
{
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes)
        hex += { digits[c >> 4], digits[c & 15] };
    return hex;
}

using hostile::oscText;
using hostile::repeated;
const auto bigEndian = hostile::bigEndianFloat;

const juce::String kTempoPath { "/vh/plugin/tempo" };

const std::string kWidthReplyBytes = oscText ("/vh/plugin/obj/render/width/5") + oscText (",f") + bigEndian (1.5f);

} // namespace

TEST_F (Replies, ReachTheirObjectConvertedAndClampedWithoutEcho)
{
    struct Case
    {
        const char* what;
        std::string path;
        std::vector<Arg> args;
        AutomationParameterIndex index;
        float before, expected;
    };

    const Case cases[] = {
        { "width", "/vh/plugin/obj/render/width/5", { Arg::f (1.5f) }, kParam_width, 1.0f, 1.5f },
        { "width as int32", "/vh/plugin/obj/render/width/5", { Arg::i (2) }, kParam_width, 1.0f, 2.0f },
        { "width clamped", "/vh/plugin/obj/render/width/5", { Arg::f (7.5f) }, kParam_width, 1.0f, 2.0f },
        { "extra arguments", "/vh/plugin/obj/render/width/5", { Arg::f (0.25f), Arg::i (7), Arg::f (1.0f) }, kParam_width, 1.0f, 0.25f },
        { "reverb level", "/vh/plugin/rev/obj/level/5", { Arg::f (-12.0f) }, kParam_reverb_level, -84.0f, -12.0f },
        { "reverb on as int32", "/vh/plugin/rev/obj/on/5", { Arg::i (0) }, kParam_reverb_on, 1.0f, 0.0f },
        { "reverb on as float32, rounded", "/vh/plugin/rev/obj/on/5", { Arg::f (0.6f) }, kParam_reverb_on, 0.0f, 1.0f },
        { "reverb on clamped", "/vh/plugin/rev/obj/on/5", { Arg::i (7) }, kParam_reverb_on, 0.0f, 1.0f },
        { "reverb on below range", "/vh/plugin/rev/obj/on/5", { Arg::i (-3) }, kParam_reverb_on, 1.0f, 0.0f },
        { "curve position", "/vh/plugin/obj/curve/pos/5", { Arg::f (0.25f) }, kParam_curve_pos, 0.0f, 0.25f },
        { "space", "/vh/plugin/obj/space/5", { Arg::i (3) }, kParam_space, 0.0f, 3.0f },
        { "space as float32, rounded", "/vh/plugin/obj/space/5", { Arg::f (2.6f) }, kParam_space, 0.0f, 3.0f },
        { "space clamped", "/vh/plugin/obj/space/5", { Arg::i (99) }, kParam_space, 0.0f, 4.0f },
        { "space below range", "/vh/plugin/obj/space/5", { Arg::i (-1) }, kParam_space, 2.0f, 0.0f },
        { "pair on", "/vh/plugin/obj/pair/on/5", { Arg::i (1) }, kParam_pair_on, 0.0f, 1.0f },
        { "render mode as float32, rounded", "/vh/plugin/obj/render/mode/5", { Arg::f (1.6f) }, kParam_render_mode, 0.0f, 2.0f },
        { "pair spread as int32", "/vh/plugin/obj/pair/spread/5", { Arg::i (0) }, kParam_pair_spread, 1.0f, 0.0f },
        { "layer level on its layer", "/vh/plugin/layer/3/obj/level/5", { Arg::f (-6.0f) }, kParam_layer_level, 0.0f, -6.0f },
        { "layer on as float32", "/vh/plugin/layer/3/obj/on/5", { Arg::f (0.0f) }, kParam_layer_on, 1.0f, 0.0f },
        { "layer on as int32", "/vh/plugin/layer/3/obj/on/5", { Arg::i (1) }, kParam_layer_on, 0.0f, 1.0f },
        { "layer on rounded", "/vh/plugin/layer/3/obj/on/5", { Arg::f (0.7f) }, kParam_layer_on, 0.0f, 1.0f },
        { "signed object number", "/vh/plugin/obj/render/width/+5", { Arg::f (0.5f) }, kParam_width, 1.0f, 0.5f },
    };

    for (const auto& c : cases)
    {
        setQuietly (*a, c.index, c.before);
        setQuietly (*b, c.index, c.before);
        tick();
        test::clearSets (a->m_messageHandler);
        const auto bBefore = valuesOf (*b);

        reply (c.path, c.args);

        EXPECT_NEAR (plainValue (*a, c.index), c.expected, 1e-4f) << c.what;
        EXPECT_EQ (valuesOf (*b), bBefore) << c.what << ": object 6 took it";

        // The host and the editor hear of it; the link must not send it back.
        ASSERT_TRUE (test::allDelivered (a->m_messageHandler));
        EXPECT_FALSE (setOf (a->m_messageHandler, kSource_host).empty()) << c.what;
        EXPECT_TRUE (setOf (a->m_messageHandler, kSource_controller).empty()) << c.what;
        const auto sentBack = tick();
        for (const auto& r : sentBack)
            EXPECT_EQ (r.path, kTempoPath) << c.what << ": sent back";   // pings are allowed
    }
}

TEST_F (Replies, PositionTakesThreeNumbers)
{
    reply ("/vh/plugin/obj/pos/xyz/5", { Arg::f (0.1f), Arg::i (1), Arg::f (0.3f) });
    EXPECT_NEAR (a->m_x->get(), 0.1f, 1e-4f);
    EXPECT_EQ (a->m_y->get(), 1.0f);
    EXPECT_NEAR (a->m_z->get(), 0.3f, 1e-4f);
    expectTraffic (withPath (tick(), "/vh/plugin/obj/pos/xyz/5"), {}, "echo");
}

TEST_F (Replies, SkipRules)
{
    struct Case { const char* what; std::function<void()> arrange; bool applied; };
    const Case cases[] = {
        { "nothing in the way", [] {}, true },
        { "width sent in the latest tick", [&] { hostSet (*a, kParam_width, 1.2f); tick(); }, false },
        { "width sent two ticks ago", [&] { hostSet (*a, kParam_width, 1.3f); tick (2); }, true },
        { "width send failed in the latest tick", [&] {
              controller()->SetIpAddress (kSource_controller, "10.9.9.9");
              hostSet (*a, kParam_width, 1.4f);
              tick();
              controller()->SetIpAddress (kSource_controller, "127.0.0.1"); }, false },
        { "width waiting in the link's set", [&] { hostSet (*a, kParam_width, 1.1f); ASSERT_TRUE (test::allDelivered (a->m_messageHandler)); }, false },
        { "another type sent in the latest tick", [&] { hostSet (*a, kParam_curve_pos, 0.9f); tick(); }, true },
        { "osc off", [&] { hostSet (*a, kParam_osc_on, 0.0f); tick(); }, false },
    };

    for (const auto& c : cases)
    {
        hostSet (*a, kParam_osc_on, 1.0f);
        tick (2);   // anything left pending goes out, and the latest tick sends nothing
        setQuietly (*a, kParam_width, 1.0f);
        c.arrange();
        setTicksSinceReply (40);

        const auto before = a->m_width->get();
        reply ("/vh/plugin/obj/render/width/5", { Arg::f (0.5f) });

        if (c.applied)
            EXPECT_NEAR (a->m_width->get(), 0.5f, 1e-4f) << c.what;
        else
            EXPECT_EQ (a->m_width->get(), before) << c.what;

        // Skipped or not, the renderer answered.
        EXPECT_EQ (ticksSinceReply(), 0) << c.what;
    }
}

TEST_F (Replies, LocalChangeNotYetDeliveredBlocksAReplyOfItsType)
{
    // The queue delivers a post about 10 ms later; a reply handled in between must not undo the
    // host's change. The reply is handed to the controller directly, as the receiver would, so
    // that it surely falls into that window; a run that misses the window is tried again.
    bool hitWindow = false;

    for (int attempt = 0; attempt < 20 && ! hitWindow; ++attempt)
    {
        tick();
        ASSERT_FALSE (undelivered (a->m_messageHandler));

        const float local = attempt % 2 == 0 ? 0.2f : 0.3f;
        hostSet (*a, kParam_curve_pos, local);
        const auto before = a->m_curvePos->get();

        juce::OSCMessage message ("/vh/plugin/obj/curve/pos/5");
        message.addFloat32 (0.9f);
        controller()->oscMessageReceived (message);

        hitWindow = undelivered (a->m_messageHandler);
        EXPECT_EQ (a->m_curvePos->get(), before) << "attempt " << attempt;
    }

    EXPECT_TRUE (hitWindow) << "every attempt missed the delivery window";
}

TEST_F (Replies, PairPartnerTakesTheSecondPositionUnderTheSameSkipRules)
{
    struct Case { const char* what; std::function<void()> arrange; bool partnerTakes; };
    const Case cases[] = {
        { "pair on", [] {}, true },
        { "pair off", [&] { setQuietly (*a, kParam_pair_on, 0.0f); }, false },
        { "partner's osc off", [&] { hostSet (*a, kParam_osc_on, 0.0f); tick(); }, false },
        { "second position sent in the latest tick", [&] { hostSet (*a, kParam_x2, 0.9f); tick(); }, false },
        { "second position waiting in the link's set", [&] { hostSet (*a, kParam_y2, 0.9f); ASSERT_TRUE (test::allDelivered (a->m_messageHandler)); }, false },
        { "main position sent in the latest tick", [&] { hostSet (*a, kParam_x, 0.9f); tick(); }, true },
        { "not the next object", [&] { setQuietly (*a, kParam_object_number, 4.0f); }, false },
    };

    for (const auto& c : cases)
    {
        setQuietly (*a, kParam_object_number, 5.0f);
        setQuietly (*a, kParam_pair_on, 1.0f);
        hostSet (*a, kParam_osc_on, 1.0f);
        for (auto* p : { a->m_x2, a->m_y2, a->m_z2, b->m_x, b->m_y, b->m_z })
            p->setValueNotifyingHost (0.5f);
        tick (2);
        c.arrange();

        const auto aBefore = valuesOf (*a);
        reply ("/vh/plugin/obj/pos/xyz/6", { Arg::f (0.1f), Arg::f (0.2f), Arg::f (0.3f) });

        if (c.partnerTakes)
        {
            EXPECT_NEAR (a->m_x2->get(), 0.1f, 1e-4f) << c.what;
            EXPECT_NEAR (a->m_y2->get(), 0.2f, 1e-4f) << c.what;
            EXPECT_NEAR (a->m_z2->get(), 0.3f, 1e-4f) << c.what;
        }
        else
        {
            EXPECT_EQ (valuesOf (*a), aBefore) << c.what;
        }

        // Object 6 takes its own position in every case.
        EXPECT_NEAR (b->m_x->get(), 0.1f, 1e-4f) << c.what;
        EXPECT_NEAR (b->m_z->get(), 0.3f, 1e-4f) << c.what;

        // The partner's new second position is the renderer's, so it is not sent back.
        if (c.partnerTakes)
            expectTraffic (withPath (tick(), "/vh/plugin/obj/pos/xyz/6"), {}, std::string (c.what) + ": echo");
    }
}

TEST_F (Replies, LayerRepliesNeedTheInstancesLayer)
{
    auto& c = add (5);   // a second instance of object 5, on layer 2
    setQuietly (c, kParam_layer_num, 2.0f);
    tick (10);

    reply ("/vh/plugin/layer/3/obj/level/5", { Arg::f (-6.0f) });
    EXPECT_NEAR (a->m_layerLevel->get(), -6.0f, 1e-3f);
    EXPECT_EQ (c.m_layerLevel->get(), 0.0f);

    setTicksSinceReply (40);
    reply ("/vh/plugin/layer/2/obj/on/5", { Arg::i (0) });
    EXPECT_EQ (c.m_layerOn->get(), 0);
    EXPECT_EQ (a->m_layerOn->get(), 1);
    EXPECT_EQ (ticksSinceReply(), 0);

    // Both instances of object 5 take an object reply.
    reply ("/vh/plugin/rev/obj/level/5", { Arg::f (-9.0f) });
    EXPECT_NEAR (a->m_reverbLevel->get(), -9.0f, 1e-3f);
    EXPECT_NEAR (c.m_reverbLevel->get(), -9.0f, 1e-3f);
}

TEST_F (Replies, RendererWideRepliesReachEveryInstance)
{
    hostSet (*b, kParam_osc_on, 0.0f);
    tick();

    struct Case { const char* what; std::string path; Arg arg; AutomationParameterIndex index; float expected; };
    const Case cases[] = {
        { "master level", "/vh/plugin/master/level", Arg::f (-10.0f), kParam_master_level, -10.0f },
        { "master level as int32", "/vh/plugin/master/level", Arg::i (-20), kParam_master_level, -20.0f },
        { "master level clamped", "/vh/plugin/master/level", Arg::f (50.0f), kParam_master_level, 12.0f },
        { "master on", "/vh/plugin/master/on", Arg::i (1), kParam_master_on, 1.0f },
        { "master on as float32, rounded", "/vh/plugin/master/on", Arg::f (0.4f), kParam_master_on, 0.0f },
        { "master on clamped", "/vh/plugin/master/on", Arg::i (5), kParam_master_on, 1.0f },
    };

    for (const auto& c : cases)
    {
        setTicksSinceReply (40);
        reply (c.path, { c.arg });
        EXPECT_NEAR (plainValue (*a, c.index), c.expected, 1e-4f) << c.what;
        EXPECT_NEAR (plainValue (*b, c.index), c.expected, 1e-4f) << c.what << ", osc off";
        EXPECT_EQ (ticksSinceReply(), 40) << c.what << ": not an object reply";
        expectTraffic (withPath (tick(), c.path), {}, std::string (c.what) + ": echo");
    }
}

TEST_F (Replies, MalformedRepliesChangeNothing)
{
    const auto nan = std::numeric_limits<float>::quiet_NaN();
    const auto inf = std::numeric_limits<float>::infinity();
    const auto send = [] (const std::string& path, const std::vector<Arg>& args) { return "{\"send\": " + messageJson (path, args) + "}"; };
    const auto raw = [] (const std::string& bytes) { return "{\"raw\": \"" + bytesToHex (bytes) + "\"}"; };

    struct Case { const char* what; std::string command; bool counterUntouched; };
    const Case cases[] = {
        { "no arguments", send ("/vh/plugin/obj/render/width/5", {}), true },
        { "string", send ("/vh/plugin/obj/render/width/5", { Arg::s ("1.5") }), true },
        { "blob", send ("/vh/plugin/obj/render/width/5", { Arg::b ("3fc00000") }), true },
        { "a string among the numbers", send ("/vh/plugin/obj/render/width/5", { Arg::f (0.25f), Arg::s ("x"), Arg::f (1.0f) }), true },
        { "NaN", send ("/vh/plugin/obj/render/width/5", { Arg::f (nan) }), false },
        { "infinity", send ("/vh/plugin/obj/render/width/5", { Arg::f (inf) }), false },
        { "minus infinity", send ("/vh/plugin/rev/obj/level/5", { Arg::f (-inf) }), false },
        { "toggle from NaN", send ("/vh/plugin/rev/obj/on/5", { Arg::f (nan) }), false },
        { "choice from a string", send ("/vh/plugin/obj/space/5", { Arg::s ("3") }), true },
        { "position with one number", send ("/vh/plugin/obj/pos/xyz/5", { Arg::f (0.1f) }), false },
        { "position with two numbers", send ("/vh/plugin/obj/pos/xyz/5", { Arg::f (0.1f), Arg::f (0.2f) }), false },
        { "position with a string", send ("/vh/plugin/obj/pos/xyz/5", { Arg::f (0.1f), Arg::s ("y"), Arg::f (0.3f) }), true },
        { "position with NaN", send ("/vh/plugin/obj/pos/xyz/5", { Arg::f (0.1f), Arg::f (0.2f), Arg::f (nan) }), false },
        { "partner position with one number", send ("/vh/plugin/obj/pos/xyz/6", { Arg::f (0.1f) }), false },
        { "layer level from a string", send ("/vh/plugin/layer/3/obj/level/5", { Arg::s ("-6") }), true },
        { "layer on from NaN", send ("/vh/plugin/layer/3/obj/on/5", { Arg::f (nan) }), false },
        { "huge object number", send ("/vh/plugin/obj/render/width/99999999999999999999", { Arg::f (1.5f) }), false },
        { "object number wrapping to 5", send ("/vh/plugin/obj/render/width/4294967301", { Arg::f (1.5f) }), false },
        { "object number past int32", send ("/vh/plugin/obj/render/width/2147483653", { Arg::f (1.5f) }), false },
        { "object 129", send ("/vh/plugin/obj/render/width/129", { Arg::f (1.5f) }), false },
        { "object number a word", send ("/vh/plugin/obj/render/width/abc", { Arg::f (1.5f) }), true },
        { "object 0", send ("/vh/plugin/obj/render/width/0", { Arg::f (1.5f) }), true },
        { "negative object", send ("/vh/plugin/obj/render/width/-5", { Arg::f (1.5f) }), true },
        { "huge negative object", send ("/vh/plugin/obj/render/width/-4294967291", { Arg::f (1.5f) }), false },
        { "layer number wrapping to 3", send ("/vh/plugin/layer/4294967299/obj/level/5", { Arg::f (-6.0f) }), true },
        { "huge layer number", send ("/vh/plugin/layer/99999999999999999999/obj/on/5", { Arg::i (0) }), true },
        { "unknown layer reply", send ("/vh/plugin/layer/3/obj/mute/5", { Arg::i (1) }), true },
        { "unknown address", send ("/vh/plugin/obj/colour/5", { Arg::f (1.0f) }), true },
        { "master level from a string", send ("/vh/plugin/master/level", { Arg::s ("-3") }), true },
        { "master level NaN", send ("/vh/plugin/master/level", { Arg::f (nan) }), true },
        { "master on without arguments", send ("/vh/plugin/master/on", {}), true },
        { "master on from infinity", send ("/vh/plugin/master/on", { Arg::f (inf) }), true },
        { "double", send ("/vh/plugin/obj/render/width/5", { Arg::tagged ("d", "1.5") }), true },
        { "int64", send ("/vh/plugin/obj/render/width/5", { Arg::tagged ("h", "2") }), true },
        { "bundle", "{\"bundle\": [" + messageJson ("/vh/plugin/obj/render/width/5", { Arg::f (1.5f) }) + ", "
                        + messageJson ("/vh/plugin/master/level", { Arg::f (-3.0f) }) + "]}", true },
        { "garbage", raw ("\xde\xad\xbe\xef\x01\x02\x03"), true },
        { "three bytes", raw ("/vh"), true },
        { "empty datagram", raw (""), true },
        { "truncated float", raw (kWidthReplyBytes.substr (0, kWidthReplyBytes.size() - 2)), true },
        { "type tags without payload", raw (kWidthReplyBytes.substr (0, kWidthReplyBytes.size() - 4)), true },
        { "no type tags", raw (oscText ("/vh/plugin/obj/render/width/5")), true },
        { "address without a slash", raw (oscText ("vh/plugin/obj/render/width/5") + oscText (",f") + bigEndian (1.5f)), true },
        { "big blob", send ("/vh/plugin/obj/render/width/5", { Arg::b (std::string (40000, 'a')) }), true },
        { "malformed UTF-8 in the address", raw (oscText ("/vh/plugin/obj/render/width/\xcc" "05") + oscText (",f") + bigEndian (1.5f)), true },
        { "blank in the address", raw (oscText ("/vh/plugin/obj/render/width/ 5") + oscText (",f") + bigEndian (1.5f)), true },
        { "a word after the arguments", raw (kWidthReplyBytes + std::string (4, '\0')), true },
        { "padding not zero", raw (std::string ("/vh/plugin/obj/render/width/5\0x\0", 32) + oscText (",f") + bigEndian (1.5f)), true },
        { "hash in the address", raw (oscText ("/vh/plugin/obj/render/width#/5") + oscText (",f") + bigEndian (1.5f)), true },
        { "last address padding byte not zero", raw (std::string ("/vh/plugin/obj/render/width/5\0\0x", 32) + oscText (",f") + bigEndian (1.5f)), true },
        { "last type tag padding byte not zero", raw (oscText ("/vh/plugin/obj/render/width/5") + std::string (",f\0x", 4) + bigEndian (1.5f)), true },
        { "address ending in a slash", raw (oscText ("/vh/plugin/obj/render/width/5/") + oscText (",f") + bigEndian (1.5f)), true },
        { "type tags without their comma", raw (oscText ("/vh/plugin/obj/render/width/5") + oscText ("ff") + bigEndian (1.5f)), true },
        { "63 KB address of 21,000 segments", raw (oscText ("/vh/plugin/obj/render/width" + repeated ("/xy", 20999) + "/5") + oscText (",f") + bigEndian (1.5f)), true },
        { "13,000 arguments", raw (oscText ("/vh/plugin/obj/render/width/5") + oscText ("," + std::string (13000, 'f')) + repeated (bigEndian (1.5f), 13000)), true },
    };

    for (const auto& c : cases)
    {
        const auto aBefore = valuesOf (*a);
        const auto bBefore = valuesOf (*b);
        setTicksSinceReply (40);

        replyCommand (c.command);

        EXPECT_EQ (valuesOf (*a), aBefore) << c.what;
        EXPECT_EQ (valuesOf (*b), bBefore) << c.what;
        if (c.counterUntouched)
            EXPECT_EQ (ticksSinceReply(), 40) << c.what;
    }

    // The link is still listening.
    reply ("/vh/plugin/obj/render/width/5", { Arg::f (1.5f) });
    EXPECT_NEAR (a->m_width->get(), 1.5f, 1e-4f);
    EXPECT_EQ (ticksSinceReply(), 0);
}

TEST (ReplyReader, TakesRepliesUpToItsLimitsAndNoLarger)
{
    const auto address = [] (size_t length) { return "/vh/" + std::string (length - 4, 'x'); };
    const auto position = [] (size_t count) { return hostile::reply ("/vh/plugin/obj/pos/xyz/5", std::vector<float> (count, 0.5f)); };

    struct Case { const char* what; std::string bytes; bool taken; };
    const Case cases[] = {
        { "address of 128 bytes", hostile::reply (address (128), { 1.5f }), true },
        { "address of 129 bytes", hostile::reply (address (129), { 1.5f }), false },
        { "16 arguments", position (16), true },
        { "17 arguments", position (17), false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (ReadReply (c.bytes.data(), c.bytes.size()).has_value(), c.taken) << c.what;
}

TEST_F (Replies, LinkStateFollowsTheRenderersSilence)
{
    const auto linkStatePosted = [&]
    {
        EXPECT_TRUE (test::allDelivered (a->m_messageHandler));
        const bool posted = setOf (a->m_messageHandler, kSource_editor).count (kChange_connection_state) > 0;
        test::clearSets (a->m_messageHandler);
        return posted;
    };

    // The first reply ends the silence that the link started with.
    reply ("/vh/plugin/obj/render/width/77", { Arg::f (1.0f) });
    EXPECT_TRUE (linkStatePosted());

    tick (99);
    EXPECT_FALSE (linkStatePosted()) << "after 99 silent ticks";
    tick();
    EXPECT_TRUE (linkStatePosted()) << "on the 100th silent tick";
    tick (50);
    EXPECT_FALSE (linkStatePosted()) << "once per silence";

    reply ("/vh/plugin/obj/render/width/77", { Arg::f (1.0f) });
    EXPECT_TRUE (linkStatePosted()) << "the first reply after the silence";
    reply ("/vh/plugin/obj/render/width/77", { Arg::f (1.0f) });
    EXPECT_FALSE (linkStatePosted()) << "a reply while the link is healthy";
}

TEST_F (Replies, AReplyEndsASilenceOnlyAfterAHundredTicks)
{
    struct Case { int silentTicks; bool linkStatePosted; };
    const Case cases[] = { { 99, false }, { 100, true }, { 101, true } };

    for (const auto& c : cases)
    {
        reply ("/vh/plugin/obj/render/width/77", { Arg::f (1.0f) });
        tick (c.silentTicks);
        test::clearSets (a->m_messageHandler);

        reply ("/vh/plugin/obj/render/width/77", { Arg::f (1.0f) });
        ASSERT_TRUE (test::allDelivered (a->m_messageHandler));
        EXPECT_EQ (setOf (a->m_messageHandler, kSource_editor).count (kChange_connection_state) > 0, c.linkStatePosted)
            << c.silentTicks << " silent ticks";
    }
}

TEST_F (Replies, RendererChangeGesturesCloseOnTheNinthQuietTick)
{
    test::HostRecorder host (*a);

    reply ("/vh/plugin/obj/render/width/5", { Arg::f (0.5f) });
    EXPECT_EQ (host.count (kParam_width, true), 1);

    tick (4);
    reply ("/vh/plugin/obj/render/width/5", { Arg::f (0.6f) });   // the same gesture goes on
    EXPECT_EQ (host.count (kParam_width, true), 1);

    tick (8);
    EXPECT_EQ (host.count (kParam_width, false), 0);
    tick();
    EXPECT_EQ (host.count (kParam_width, false), 1);
}
