#include "EditorTestSupport.h"

#include "editor/Colours.h"
#include "editor/SurfaceSlider.h"
#include "processor/PluginProcessor.h"
#include "../processor/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace varnholt::test
{
namespace
{

constexpr AutomationParameterIndex kPadParameters[] = { kParam_x, kParam_y, kParam_x2, kParam_y2 };

// Gestures as the host sees them, per parameter: begins and ends.
struct Gestures : juce::AudioProcessorParameter::Listener
{
    explicit Gestures (CPlugin& p) : plugin (p) { for (auto i : kPadParameters) plugin.getParameters()[i]->addListener (this); }
    ~Gestures() override { for (auto i : kPadParameters) plugin.getParameters()[i]->removeListener (this); }
    void parameterValueChanged (int, float) override {}
    void parameterGestureChanged (int index, bool starting) override { (starting ? begins : ends)[index]++; }

    CPlugin& plugin;
    std::map<int, int> begins, ends;
};

class Pad : public ::testing::Test
{
protected:
    // Writes as the host would and lets the automatic gestures of those writes end.
    void SetPosition (std::initializer_list<std::pair<AutomationParameterIndex, float>> values)
    {
        for (auto [index, v] : values)
            plugin.SetParameterValue (kSource_host, index, v);
        for (int tick = 0; tick < kGestureTicks; ++tick)
            plugin.TickParameters();
        clearSets (plugin.m_messageHandler);
    }

    CPlugin plugin;
};

// Each press on a new pad. Ball 1 at (0.5, 0.5): centre (130, 130), hit box 105..154 on a 260
// pad; ball 2 at (0.4, 0.6): centre (108.4, 108.4), hit box 83..132. `ball` is the one taken.
TEST_F (Pad, PressesTakeOnlyTheBallUnderThePointerAndDragItInsideOneGesturePerParameter)
{
    // `pair`: the pad's pair mode, and the instance's pair unless `pairGone` (the host switched it
    // off before the window's refresh).
    struct Case { const char* what; int size; bool pair; juce::Point<float> down, to; bool release; int ball; float x, y, x2, y2; bool pairGone = false; };
    const Case cases[] = {
        { "first press beside the balls", 260, false, { 220, 40 }, { 230, 30 }, true, 0, 0.5f, 0.5f, 0.4f, 0.6f },
        { "ball 2 while pair mode is off", 260, false, { 90, 90 }, { 100, 100 }, true, 0, 0.5f, 0.5f, 0.4f, 0.6f },
        { "press without a move", 260, false, { 130, 130 }, { 130, 130 }, true, 1, 0.5f, 0.5f, 0.4f, 0.6f },
        { "hit box top left, to the margin", 260, false, { 105, 105 }, { 22, 22 }, true, 1, 0.0f, 1.0f, 0.4f, 0.6f },
        { "hit box right edge, past the corner", 260, false, { 154, 130 }, { 400, -90 }, true, 1, 1.0f, 1.0f, 0.4f, 0.6f },
        { "just right of the hit box", 260, false, { 155, 130 }, { 238, 238 }, true, 0, 0.5f, 0.5f, 0.4f, 0.6f },
        { "ball 2 in pair mode", 260, true, { 90, 90 }, { 238, 238 }, true, 2, 0.5f, 0.5f, 1.0f, 0.0f },
        { "ball 2 shown, the instance's pair off", 260, true, { 90, 90 }, { 238, 238 }, true, 0, 0.5f, 0.5f, 0.4f, 0.6f, true },
        { "inside both hit boxes", 260, true, { 120, 120 }, { 22, 238 }, true, 1, 0.0f, 0.0f, 0.4f, 0.6f },
        { "pad deleted mid-drag", 260, false, { 130, 130 }, { 76, 184 }, false, 1, 0.25f, 0.25f, 0.4f, 0.6f },
        { "pad within its margins", 44, false, { 10, 10 }, { 0, 0 }, true, 0, 0.5f, 0.5f, 0.4f, 0.6f },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        SetPosition ({ { kParam_x, 0.5f }, { kParam_y, 0.5f }, { kParam_x2, 0.4f }, { kParam_y2, 0.6f },
                       { kParam_pair_on, c.pair && ! c.pairGone ? 1.0f : 0.0f } });
        plugin.m_grabbedBall = 1;
        Gestures gestures (plugin);

        auto pad = std::make_unique<CSurfaceSlider> (&plugin);
        pad->m_pairMode = c.pair;
        Snapshot (*pad, c.size, c.size, "pad-pressed");
        pad->mouseDown (MouseAt (*pad, c.down.x, c.down.y, c.down));
        pad->mouseDrag (MouseAt (*pad, c.to.x, c.to.y, c.down, 1, true));
        if (c.release)
            pad->mouseUp (MouseAt (*pad, c.to.x, c.to.y, c.down, 1, true));
        pad.reset();

        EXPECT_EQ (plugin.m_grabbedBall, c.ball == 2 ? 2 : 1);
        EXPECT_FLOAT_EQ (plugin.m_x->get(), c.x);
        EXPECT_FLOAT_EQ (plugin.m_y->get(), c.y);
        EXPECT_FLOAT_EQ (plugin.m_x2->get(), c.x2);
        EXPECT_FLOAT_EQ (plugin.m_y2->get(), c.y2);

        for (auto i : kPadParameters)
        {
            const int expected = (c.ball == 1 && i < kParam_x2) || (c.ball == 2 && i >= kParam_x2) ? 1 : 0;
            EXPECT_EQ (gestures.begins[i], expected) << "parameter " << i;
            EXPECT_EQ (gestures.ends[i], expected) << "parameter " << i;
        }
    }
}

// Pixels around ball 1 at (0.25, 0.75), below its label: inside its radius, inside its ring (or
// where a ring would be) and beyond; then the frame, the cross and the background.
TEST_F (Pad, PaintsBallsSizedByZWithTheRingOnTheLastGrabbedBallInPairMode)
{
    struct Case { int w, h; float z; bool pair; };
    for (const auto& c : { Case { 260, 260, 0.0f, false }, Case { 180, 120, 1.0f, true } })
    {
        SetPosition ({ { kParam_x, 0.25f }, { kParam_y, 0.75f }, { kParam_z, c.z }, { kParam_x2, 0.8f }, { kParam_y2, 0.2f } });
        CSurfaceSlider pad (&plugin);
        pad.m_pairMode = c.pair;
        pad.m_objectId = 7;

        const auto image = Snapshot (pad, c.w, c.h, juce::String::formatted ("pad-%dx%d-z%.1f", c.w, c.h, c.z));
        const auto cx = juce::roundToInt (0.25f * ((float) c.w - 44.0f) + 22.0f);
        const auto below = juce::roundToInt (0.25f * ((float) c.h - 44.0f) + 22.0f) + (int) (c.z * 9.0f + 11.0f);
        SCOPED_TRACE (juce::String (c.w) + "x" + juce::String (c.h) + " z " + juce::String (c.z));
        EXPECT_EQ (image.getPixelAt (cx, below - 2), colours::accent);
        EXPECT_EQ (image.getPixelAt (cx, below + 2), c.pair ? colours::ballRing : colours::background);
        EXPECT_EQ (image.getPixelAt (cx, below + 8), colours::background);
        EXPECT_EQ (image.getPixelAt (0, c.h / 4), colours::box);          // frame
        EXPECT_EQ (image.getPixelAt (c.w / 2, c.h - 5), colours::box);    // cross
        EXPECT_EQ (image.getPixelAt (c.w - 30, 5), colours::background);
    }
}

} // namespace
} // namespace varnholt::test
