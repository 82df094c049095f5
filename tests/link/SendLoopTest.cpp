#include "LinkSupport.h"

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <random>
#include <thread>

using namespace varnholt;
using namespace varnholt::linktest;
using varnholt::test::setOf;

namespace
{

const std::string kTempo = "/vh/plugin/tempo";

using SendLoop = LinkTest;

// Fires once, on the first host gesture end of the processor it listens to.
struct OnGestureEnd : juce::AudioProcessorListener
{
    std::function<void()> action;

    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override {}
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int) override
    {
        if (auto f = std::exchange (action, nullptr))
            f();
    }
};

} // namespace

TEST_F (SendLoop, StartUpTrafficTickByTick)
{
    auto& a = add();   // object 1, osc on, tempo 121

    // The host announces the track, which makes the link ask for the object, and automates X.
    a.updateTrackProperties ({});
    hostSet (a, kParam_x, 0.25f);

    expectTraffic (tick(), {
        { "/vh/plugin/obj/pos/xyz/1", "fff", { a.m_x->get(), a.m_y->get(), a.m_z->get() } },
        { kTempo, "f", { 121.0 } },
        { "/vh/plugin/obj/request/1", "i", { 1 } },
    }, "first tick");

    // The first tick sent, so it was not quiet: the 16th quiet tick is tick 17. The delayed state
    // request goes out on the 47th tick with osc on, and only once while replies can arrive.
    const Msg ping { kTempo, "f", { 121.0 } };
    const Msg request { "/vh/plugin/obj/request/1", "i", { 1 } };
    const std::map<int, std::vector<Msg>> expected {
        { 17, { ping } }, { 33, { ping } }, { 47, { request } }, { 49, { ping } },
        { 65, { ping } }, { 81, { ping } }, { 97, { ping } },
    };

    for (int t = 2; t <= 100; ++t)
    {
        const auto it = expected.find (t);
        expectTraffic (tick(), it == expected.end() ? std::vector<Msg> {} : it->second, "tick " + std::to_string (t));
    }

    // Without any reply the link never turned healthy, so there was no change of link state.
    EXPECT_EQ (setOf (a.m_messageHandler, kSource_editor).count (kChange_connection_state), 0u);
}

TEST_F (SendLoop, PingsGoOutOnEverySixteenthQuietTick)
{
    struct Case
    {
        const char* what;
        bool oscOn;
        std::set<int> changeBefore;   // ticks before which the host changes the width
        bool replyFirst;              // a reply makes the link healthy for 30 ticks
        std::vector<int> pings;
    };

    const Case cases[] = {
        { "osc on, idle", true, {}, false, { 16, 32, 48, 64 } },
        { "osc off", false, {}, false, { 16, 32, 48, 64 } },
        { "sends on ticks 10 and 11", true, { 10, 11 }, false, { 18, 34, 50, 66 } },
        { "a reply before the first tick", true, {}, true, { 47, 63 } },
    };

    for (const auto& c : cases)
    {
        auto& a = add (5);
        if (! c.oscOn)
            hostSet (a, kParam_osc_on, 0.0f);
        if (c.replyFirst)
            reply ("/vh/plugin/obj/render/width/99", { Arg::f (1.0f) });

        std::vector<int> pings;
        for (int t = 1; t <= 70; ++t)
        {
            if (c.changeBefore.count (t) > 0)
                hostSet (a, kParam_width, 0.5f + 0.1f * static_cast<float> (t % 2));

            const auto tempos = withPath (tick(), kTempo);
            for (const auto& r : tempos)
                EXPECT_EQ (r.f (0), 121.0f) << c.what;

            // The first tick with osc on carries the tempo, not a ping.
            const size_t tempoMessages = (t == 1 && c.oscOn) ? 1u : 0u;
            ASSERT_GE (tempos.size(), tempoMessages) << c.what << " tick " << t;
            if (tempos.size() > tempoMessages)
                pings.push_back (t);
        }

        EXPECT_EQ (pings, c.pings) << c.what;
        remove (a);
    }
}

TEST_F (SendLoop, TempoOfTheFirstInstanceGoesOutOncePerChange)
{
    auto& a = add (5);
    auto& b = add (6);
    a.m_tempo = 120.0f;
    b.m_tempo = 90.0f;

    struct Step { const char* what; std::function<void()> act; std::vector<double> tempos; };
    const Step steps[] = {
        { "first tick", [] {}, { 120.0 } },
        { "second instance's tempo", [&] { b.m_tempo = 95.0f; }, {} },
        { "first instance's tempo", [&] { a.m_tempo = 100.0f; }, { 100.0 } },
        { "unchanged", [] {}, {} },
        { "first instance off, second on", [&] { hostSet (a, kParam_osc_on, 0.0f); a.m_tempo = 80.0f; }, { 80.0 } },
        { "every instance off", [&] { hostSet (b, kParam_osc_on, 0.0f); a.m_tempo = 70.0f; }, {} },
        { "second instance on again", [&] { hostSet (b, kParam_osc_on, 1.0f); }, { 70.0 } },
    };

    for (const auto& s : steps)
    {
        s.act();
        std::vector<Msg> want;
        for (auto t : s.tempos)
            want.push_back ({ kTempo, "f", { t } });
        expectTraffic (withPath (tick(), kTempo), want, s.what);
    }
}

TEST_F (SendLoop, EveryChangeSendsOneExactMessage)
{
    auto& a = add (5);
    setQuietly (a, kParam_layer_num, 3.0f);

    // The host's first master-level notifications at start-up are not taken for changes.
    for (int k = 0; k < 3; ++k)
        a.m_masterLevel->setValueNotifyingHost (0.2f);
    tick();

    // Empty arguments stand for the parameters' current values: a float32 goes out unchanged.
    struct Case { const char* what; AutomationParameterIndex index; float value; const char* path; const char* types; std::vector<double> args; DataChangeType type; };
    const Case cases[] = {
        { "X", kParam_x, 0.25f, "/vh/plugin/obj/pos/xyz/5", "fff", {}, kChange_position },
        { "Z", kParam_z, 0.9f, "/vh/plugin/obj/pos/xyz/5", "fff", {}, kChange_position },
        { "X2 goes to the next object, pair off", kParam_x2, 0.7f, "/vh/plugin/obj/pos/xyz/6", "fff", {}, kChange_position2 },
        { "layer level -0.25 in tenths", kParam_layer_level, -0.25f, "/vh/plugin/layer/3/obj/level/5", "f", { -0.3f }, kChange_layer_level },
        { "layer level 7.04 in tenths", kParam_layer_level, 7.04f, "/vh/plugin/layer/3/obj/level/5", "f", { 7.0f }, kChange_layer_level },
        { "layer off", kParam_layer_on, 0.0f, "/vh/plugin/layer/3/obj/on/5", "i", { 0 }, kChange_layer_on },
        { "layer on", kParam_layer_on, 1.0f, "/vh/plugin/layer/3/obj/on/5", "i", { 1 }, kChange_layer_on },
        { "width", kParam_width, 1.5f, "/vh/plugin/obj/render/width/5", "f", {}, kChange_width },
        { "render mode", kParam_render_mode, 2.0f, "/vh/plugin/obj/render/mode/5", "i", { 2 }, kChange_render_mode },
        { "reverb level", kParam_reverb_level, -12.0f, "/vh/plugin/rev/obj/level/5", "f", {}, kChange_reverb_level },
        { "reverb off", kParam_reverb_on, 0.0f, "/vh/plugin/rev/obj/on/5", "i", { 0 }, kChange_reverb_on },
        { "curve position", kParam_curve_pos, 0.75f, "/vh/plugin/obj/curve/pos/5", "f", {}, kChange_curve_pos },
        { "space", kParam_space, 3.0f, "/vh/plugin/obj/space/5", "i", { 3 }, kChange_space },
        { "pair on", kParam_pair_on, 1.0f, "/vh/plugin/obj/pair/on/5", "i", { 1 }, kChange_pair_on },
        { "pair spread", kParam_pair_spread, 0.4f, "/vh/plugin/obj/pair/spread/5", "f", {}, kChange_pair_spread },
        { "coordinate mode has no address", kParam_coord_mode, 1.0f, nullptr, "", {}, kChange_coord_mode },
        { "master level", kParam_master_level, -20.0f, "/vh/plugin/master/level", "f", {}, kChange_master_level },
        { "master on", kParam_master_on, 1.0f, "/vh/plugin/master/on", "i", { 1 }, kChange_master_on },
        { "snapshot rewrite", kParam_snapshot_rewrite, 1.0f, "/vh/plugin/snapshot/rewrite", "i", { 1 }, kChange_snapshot_rewrite },
        { "snapshot number", kParam_snapshot_num, 12.0f, "/vh/plugin/snapshot/num", "f", {}, kChange_snapshot_num },
        { "layer number asks for the object", kParam_layer_num, 4.0f, "/vh/plugin/obj/request/5", "i", { 5 }, kChange_layer_num },
        { "object number asks for the new object", kParam_object_number, 8.0f, "/vh/plugin/obj/request/8", "i", { 8 }, kChange_object_number },
    };

    const auto current = [&] (AutomationParameterIndex index) -> std::vector<double>
    {
        if (index <= kParam_z)
            return { a.m_x->get(), a.m_y->get(), a.m_z->get() };
        if (index >= kParam_x2)
            return { a.m_x2->get(), a.m_y2->get(), a.m_z2->get() };
        return { plainValue (a, index) };
    };

    for (const auto& c : cases)
    {
        hostSet (a, c.index, c.value);

        std::vector<Msg> want;
        if (c.path != nullptr)
            want.push_back ({ c.path, c.types, c.args.empty() ? current (c.index) : c.args });
        expectTraffic (tick(), want, c.what);

        const juce::ScopedLock sl (controller()->m_lock);
        EXPECT_EQ (a.m_sentTypes, std::set<DataChangeType> { c.type }) << c.what;
    }

    // One message per change type, however many of its parameters changed.
    hostSet (a, kParam_x, 0.1f);
    hostSet (a, kParam_y, 0.2f);
    hostSet (a, kParam_z, 0.3f);
    expectTraffic (tick(), { { "/vh/plugin/obj/pos/xyz/8", "fff", current (kParam_x) } }, "X, Y and Z at once");
    expectTraffic (tick(), {}, "each change went out once");
}

TEST_F (SendLoop, ChangesOfOneTickGoOutInWalkOrder)
{
    auto& a = add (5);
    auto& b = add (7);
    setQuietly (a, kParam_layer_num, 3.0f);
    for (auto* p : { &a, &b })
        for (int k = 0; k < 3; ++k)
            p->m_masterLevel->setValueNotifyingHost (0.2f);
    tick();

    // The second instance's turn comes after the whole of the first one's.
    hostSet (b, kParam_width, 0.8f);
    hostSet (b, kParam_master_level, -3.0f);

    // Posted in reverse, so that the order on the wire can only come from the walk.
    const std::pair<AutomationParameterIndex, float> changes[] = {
        { kParam_snapshot_num, 9.0f }, { kParam_snapshot_rewrite, 1.0f }, { kParam_master_on, 1.0f },
        { kParam_master_level, -3.0f }, { kParam_coord_mode, 1.0f }, { kParam_pair_spread, 0.3f },
        { kParam_pair_on, 1.0f }, { kParam_space, 2.0f }, { kParam_curve_pos, 0.6f }, { kParam_reverb_on, 0.0f },
        { kParam_reverb_level, -6.0f }, { kParam_render_mode, 1.0f }, { kParam_width, 0.2f },
        { kParam_layer_on, 0.0f }, { kParam_layer_level, -1.0f }, { kParam_x2, 0.1f }, { kParam_x, 0.9f },
    };
    for (const auto& [index, value] : changes)
        hostSet (a, index, value);

    const char* order[] = {
        "/vh/plugin/obj/pos/xyz/5", "/vh/plugin/obj/pos/xyz/6", "/vh/plugin/layer/3/obj/level/5",
        "/vh/plugin/layer/3/obj/on/5", "/vh/plugin/obj/render/width/5", "/vh/plugin/obj/render/mode/5",
        "/vh/plugin/rev/obj/level/5", "/vh/plugin/rev/obj/on/5", "/vh/plugin/obj/curve/pos/5",
        "/vh/plugin/obj/space/5", "/vh/plugin/obj/pair/on/5", "/vh/plugin/obj/pair/spread/5",
        "/vh/plugin/master/level", "/vh/plugin/master/on", "/vh/plugin/snapshot/rewrite", "/vh/plugin/snapshot/num",
        "/vh/plugin/obj/render/width/7", "/vh/plugin/master/level",
    };

    const auto got = tick();
    ASSERT_EQ (got.size(), std::size (order));
    for (size_t k = 0; k < got.size(); ++k)
        EXPECT_EQ (got[k].path.toStdString(), order[k]) << "message " << k;
}

TEST_F (SendLoop, GrabbedSecondBallHoldsTheMainPositionBack)
{
    auto& a = add (5);
    tick();

    a.m_grabbedBall = 2;
    hostSet (a, kParam_x, 0.3f);
    hostSet (a, kParam_y2, 0.8f);

    expectTraffic (tick(), { { "/vh/plugin/obj/pos/xyz/6", "fff", { a.m_x2->get(), a.m_y2->get(), a.m_z2->get() } } }, "ball 2");
    {
        const juce::ScopedLock sl (controller()->m_lock);
        EXPECT_EQ (a.m_sentTypes, std::set<DataChangeType> { kChange_position2 });
    }

    // The held-back change is dropped, not sent late.
    a.m_grabbedBall = 1;
    expectTraffic (tick(), {}, "ball 1 again");

    // Pair switched off while ball 2 is current, by whoever, with no window open: ball 1 is
    // current again, and the main position goes out again, as do its later changes.
    const auto mainPosition = [&] { return Msg { "/vh/plugin/obj/pos/xyz/5", "fff", { a.m_x->get(), a.m_y->get(), a.m_z->get() } }; };
    const std::pair<const char*, std::function<void()>> pairOff[] = {
        { "host", [&] { hostSet (a, kParam_pair_on, 0.0f); } },
        { "renderer", [&] { setQuietly (a, kParam_pair_on, 0.0f); } },
        { "editor", [&] { a.SetParameterValue (kSource_editor, kParam_pair_on, 0.0f); } },
    };
    float x = 0.1f;
    for (const auto& [who, switchOff] : pairOff)
    {
        setQuietly (a, kParam_pair_on, 1.0f);
        a.m_grabbedBall = 2;
        tick();

        switchOff();
        expectTraffic (withPath (tick(), "/vh/plugin/obj/pos/xyz/5"), { mainPosition() }, std::string ("pair off by the ") + who);
        hostSet (a, kParam_x, x += 0.1f);
        expectTraffic (tick(), { mainPosition() }, std::string ("X after pair off by the ") + who);
    }
}

TEST_F (SendLoop, NoteOnsGoOutOnTheNextTickAndNeverWaitForTheMessageThread)
{
    auto& a = add (5);
    tick();

    // The message thread holds the snapshot number's lock, as while it calls the host to end a
    // gesture, when the audio thread plays a note: the block still finishes.
    std::future<void> block;
    {
        const juce::ScopedLock held (a.m_snapshotNum->m_lock);
        block = std::async (std::launch::async, [&]
        {
            juce::AudioBuffer<float> audio (2, 64);
            juce::MidiBuffer midi;
            midi.addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
            a.processBlock (audio, midi);
        });
        EXPECT_EQ (block.wait_for (std::chrono::seconds (10)), std::future_status::ready) << "the audio thread waited";
    }
    block.wait();

    // (The block without a play head also set the tempo to 120.)
    expectTraffic (withPath (tick(), "/vh/plugin/snapshot/num"), { { "/vh/plugin/snapshot/num", "f", { 60.0 } } }, "the next tick");
    EXPECT_EQ (a.m_snapshotNum->get(), 60.0f);
}

TEST_F (SendLoop, StateRequests)
{
    auto& a = add (5);
    tick();

    struct Step { const char* what; std::function<void()> act; std::vector<Msg> expected; };
    const Step steps[] = {
        { "host announces the track", [&] { a.updateTrackProperties ({}); }, { { "/vh/plugin/obj/request/5", "i", { 5 } } } },
        { "announced again, same object", [&] { a.updateTrackProperties ({}); }, {} },
        { "host moves the object to 8", [&] { hostSet (a, kParam_object_number, 8.0f); }, { { "/vh/plugin/obj/request/8", "i", { 8 } } } },
        // The object-number change stays with the link, so a later number is asked for too.
        { "renderer-side move to 9", [&] { setQuietly (a, kParam_object_number, 9.0f); }, { { "/vh/plugin/obj/request/9", "i", { 9 } } } },
        { "layer number", [&] { hostSet (a, kParam_layer_num, 2.0f); }, { { "/vh/plugin/obj/request/9", "i", { 9 } } } },
        { "nothing", [] {}, {} },
    };

    for (const auto& s : steps)
    {
        s.act();
        expectTraffic (tick(), s.expected, s.what);
    }
    EXPECT_EQ (a.m_lastRequestedObject, 9);
}

TEST_F (SendLoop, DelayedRequestCountsTicksWithOscOnAndFollowsARestore)
{
    auto& a = add (5);
    hostSet (a, kParam_osc_on, 0.0f);
    tick (10);
    hostSet (a, kParam_osc_on, 1.0f);

    std::vector<int> requestTicks;
    for (int t = 11; t <= 120; ++t)
        if (! withPath (tick(), "/vh/plugin/obj/request/5").empty())
            requestTicks.push_back (t);
    EXPECT_EQ (requestTicks, std::vector<int> { 57 });

    // Restoring the instance's own state asks once more, on the next tick.
    juce::MemoryBlock saved;
    a.getStateInformation (saved);
    a.setStateInformation (saved.getData(), static_cast<int> (saved.getSize()));
    expectTraffic (tick(), { { "/vh/plugin/obj/request/5", "i", { 5 } } }, "own state restored");
    expectTraffic (tick(), {}, "after the restore");

    // A restored object number asks for the new object, and the cleared flag once more.
    const char block[] = { 0, 0, 1, 0, '1', '2', '7', '.', '0', '.', '0', '.', '1', 0, 9, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0 };
    a.setStateInformation (block, sizeof block);
    const Msg request9 { "/vh/plugin/obj/request/9", "i", { 9 } };
    expectTraffic (tick(), { request9, request9 }, "object 9 restored");
    expectTraffic (tick(), {}, "after object 9");
}

TEST_F (SendLoop, OscOffSendsNothingAndDropsWhatWasPending)
{
    auto& a = add (5);
    tick();

    hostSet (a, kParam_osc_on, 0.0f);
    hostSet (a, kParam_width, 0.3f);
    hostSet (a, kParam_reverb_level, -30.0f);
    a.m_tempo = 99.0f;
    a.updateTrackProperties ({});

    expectTraffic (tick(), {}, "osc off");
    {
        const juce::ScopedLock sl (controller()->m_lock);
        EXPECT_TRUE (a.m_sentTypes.empty());
    }
    const auto left = setOf (a.m_messageHandler, kSource_controller);
    for (auto type : AutomationParameters)
        EXPECT_EQ (left.count (type), 0u) << "type " << type;

    // Switching on again sends none of the dropped changes; the tempo and the request were only
    // waiting for osc on.
    hostSet (a, kParam_osc_on, 1.0f);
    expectTraffic (tick(), { { kTempo, "f", { 99.0 } }, { "/vh/plugin/obj/request/5", "i", { 5 } } }, "osc on again");

    hostSet (a, kParam_width, 0.4f);
    expectTraffic (tick(), { { "/vh/plugin/obj/render/width/5", "f", { a.m_width->get() } } }, "a new change");

    // Gestures still close while osc is off.
    test::HostRecorder host (a);
    hostSet (a, kParam_osc_on, 0.0f);
    setQuietly (a, kParam_curve_pos, 0.1f);
    tick (8);
    EXPECT_EQ (host.count (kParam_curve_pos, false), 0);
    tick();
    EXPECT_EQ (host.count (kParam_curve_pos, false), 1);
}

TEST_F (SendLoop, ChangeArrivingDuringATickGoesOutOnTheNext)
{
    auto& a = add (5);
    auto& b = add (6);
    tick (10);   // closes the gestures that the registration opened

    // A renderer write opens b's automatic host gesture; its 9th quiet tick closes it, during
    // b's turn, after a's turn of the same tick has taken its changes.
    setQuietly (b, kParam_width, 1.7f);
    OnGestureEnd hook;
    int firedOnTick = 0, currentTick = 0;
    hook.action = [&]
    {
        firedOnTick = currentTick;
        hostSet (a, kParam_curve_pos, 0.6f);
        EXPECT_TRUE (test::allDelivered (a.m_messageHandler));
    };
    b.addListener (&hook);

    for (currentTick = 1; currentTick <= 9; ++currentTick)
        expectTraffic (withPath (tick(), "/vh/plugin/obj/curve/pos/5"), {}, "tick " + std::to_string (currentTick));
    b.removeListener (&hook);

    EXPECT_EQ (firedOnTick, 9) << "the gesture closes on the ninth quiet tick";
    EXPECT_TRUE (a.m_messageHandler.isChanged (kSource_controller, kChange_curve_pos));
    expectTraffic (tick(), { { "/vh/plugin/obj/curve/pos/5", "f", { a.m_curvePos->get() } } }, "next tick");
}

TEST_F (SendLoop, ATickSendsChangesTheQueueHasNotDeliveredYet)
{
    auto& a = add (5);
    tick();

    // Posted in an earlier millisecond, the change goes out on this tick rather than waiting for
    // the queue's next pass and then for another tick.
    hostSet (a, kParam_width, 0.3f);
    std::this_thread::sleep_for (std::chrono::milliseconds (2));
    expectTraffic (withPath (tick(), "/vh/plugin/obj/render/width/5"), { { "/vh/plugin/obj/render/width/5", "f", { a.m_width->get() } } },
                   "the tick after the change");
}

TEST_F (SendLoop, ChangesDeliveredWhileATurnRunsAreKept)
{
    auto& a = add (5);
    tick();

    // With the renderer unreachable every send fails at once and its change stays pending, so
    // each turn sends a dozen messages and a delivery often lands inside one.
    controller()->SetIpAddress (kSource_controller, "10.9.9.9");
    const AutomationParameterIndex busy[] = { kParam_render_mode, kParam_reverb_level, kParam_reverb_on, kParam_curve_pos,
                                              kParam_space, kParam_pair_on, kParam_pair_spread, kParam_snapshot_num,
                                              kParam_snapshot_rewrite, kParam_master_on, kParam_layer_on };
    for (auto index : busy)
        hostSet (a, index, 1.0f);

    std::mt19937 random (20230329);
    float width = 0.0f;

    for (int round = 0; round < 40; ++round)
    {
        width = 0.5f + 0.01f * static_cast<float> (round);
        std::atomic<bool> done { false };
        const auto delay = std::chrono::microseconds (random() % 4000);

        std::thread host ([&]
        {
            std::this_thread::sleep_for (delay);
            hostSet (a, kParam_width, width);
            done = true;
        });

        for (int k = 0; k < 100000 && ! (done && ! undelivered (a.m_messageHandler)); ++k)
            controller()->timerCallback();
        host.join();

        ASSERT_TRUE (test::allDelivered (a.m_messageHandler));
        controller()->timerCallback();
        ASSERT_TRUE (a.m_messageHandler.isChanged (kSource_controller, kChange_width)) << "round " << round << ": the change was lost";
    }

    controller()->SetIpAddress (kSource_controller, "127.0.0.1");
    const auto widths = withPath (tick(), "/vh/plugin/obj/render/width/5");
    ASSERT_EQ (widths.size(), 1u);
    EXPECT_EQ (widths[0].f (0), a.m_width->get());
}

TEST_F (SendLoop, FailedSendsStayPendingUntilTheRendererIsReachable)
{
    auto& a = add (5);
    tick();

    controller()->SetIpAddress (kSource_controller, "10.9.9.9");
    a.m_tempo = 100.0f;
    hostSet (a, kParam_width, 1.25f);
    a.updateTrackProperties ({});
    a.m_requestTicks = 46;   // the delayed request is due

    for (int k = 0; k < 2; ++k)
    {
        expectTraffic (tick(), {}, "unreachable");
        EXPECT_TRUE (a.m_messageHandler.isChanged (kSource_controller, kChange_width));
        EXPECT_EQ (a.m_lastRequestedObject, -1);
        EXPECT_FALSE (a.m_stateRequested.load());
        const juce::ScopedLock sl (controller()->m_lock);
        EXPECT_EQ (controller()->m_lastSentTempo, 121.0f);
        // A reply of a type whose send just failed would still be stale.
        EXPECT_EQ (a.m_sentTypes.count (kChange_width), 1u);
    }

    controller()->SetIpAddress (kSource_controller, "127.0.0.1");
    const Msg request { "/vh/plugin/obj/request/5", "i", { 5 } };
    expectTraffic (tick(), {
        { kTempo, "f", { 100.0 } },
        request,
        request,
        { "/vh/plugin/obj/render/width/5", "f", { a.m_width->get() } },
    }, "reachable again");
    EXPECT_TRUE (a.m_stateRequested.load());
    EXPECT_EQ (a.m_lastRequestedObject, 5);

    expectTraffic (tick(), {}, "nothing left");
}
