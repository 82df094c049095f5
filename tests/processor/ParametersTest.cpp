#include "TestSupport.h"

#include <cmath>
#include <limits>

using namespace varnholt;
using varnholt::test::HostRecorder;

namespace
{

struct ParametersTest : ::testing::Test
{
    CPlugin plugin;
    HostRecorder host { plugin };

    void tick (int n, CAudioParameterFloat& p)
    {
        for (int i = 0; i < n; ++i)
            p.Tick();
    }
};

} // namespace

TEST_F (ParametersTest, AutomaticGestureOpensOnceAndClosesOnTheNinthQuietTick)
{
    auto& width = *plugin.m_width;

    width.SetParameterValue (1.5f);
    EXPECT_EQ (host.count (kParam_width, true), 1);

    // Further changes while the gesture is open restart the count without a second begin.
    tick (5, width);
    width.SetParameterValue (1.2f);
    tick (8, width);
    EXPECT_EQ (host.count (kParam_width, true), 1);
    EXPECT_EQ (host.count (kParam_width, false), 0);

    tick (1, width);
    EXPECT_EQ (host.count (kParam_width, false), 1);

    tick (30, width);
    EXPECT_EQ (host.count (kParam_width, false), 1);
    EXPECT_FLOAT_EQ (width.get(), 1.2f);
}

TEST_F (ParametersTest, FloatSetterClampsAndIgnoresChangesWithinOneInterval)
{
    struct Case { const char* what; float start; float set; float expected; bool notifies; };
    const auto nan = std::numeric_limits<float>::quiet_NaN();
    const auto inf = std::numeric_limits<float>::infinity();

    const Case cases[] = {
        { "half an interval up",   0.5f, 0.5f + 0.0005f, 0.5f,   false },
        { "two intervals up",      0.5f, 0.502f,         0.502f, true },
        { "above the end",         0.5f, 7.0f,           2.0f,   true },
        { "at the end already",    2.0f, 9.0f,           2.0f,   false },
        { "below the start",       0.5f, -1.0f,          0.0f,   true },
        { "not a number",          0.5f, nan,            0.5f,   false },
        { "infinite",              0.5f, inf,            0.5f,   false },
        { "minus infinite",        0.5f, -inf,           0.5f,   false },
    };

    for (const auto& c : cases)
    {
        plugin.m_width->setValueNotifyingHost (plugin.m_width->convertTo0to1 (c.start));
        host.values.clear();

        plugin.m_width->SetParameterValue (c.set);

        EXPECT_NEAR (plugin.m_width->get(), c.expected, 1e-6f) << c.what;
        EXPECT_EQ (! host.values.empty(), c.notifies) << c.what;
    }
}

TEST_F (ParametersTest, IntegerAndChoiceSettersClampLikeTheFloatOne)
{
    struct Case { const char* what; std::function<void()> set; juce::RangedAudioParameter* parameter; float expectedNormalised; bool notifies; };

    auto* pairOn = plugin.m_pairOn;
    auto* space = plugin.m_space;   // five choices
    auto* render = plugin.m_renderMode;

    const Case cases[] = {
        { "int 1 from 0",               [&] { pairOn->SetParameterValue (1); },      pairOn, 1.0f,  true },
        { "int same value",             [&] { pairOn->SetParameterValue (1); },      pairOn, 1.0f,  false },
        { "int far above",              [&] { pairOn->SetParameterValue (5000); },   pairOn, 1.0f,  false },
        { "int below",                  [&] { pairOn->SetParameterValue (-7); },     pairOn, 0.0f,  true },
        { "choice 2.9 is index 2",      [&] { space->SetParameterValue (2.9f); },    space,  0.5f,  true },
        { "choice same index",          [&] { space->SetParameterValue (2.1f); },    space,  0.5f,  false },
        { "choice past the list",       [&] { space->SetParameterValue (99.0f); },   space,  1.0f,  true },
        { "choice negative",            [&] { space->SetParameterValue (-3.0f); },   space,  0.0f,  true },
        { "choice huge",                [&] { render->SetParameterValue (1e30f); },  render, 1.0f,  true },
        { "choice not a number",        [&] { render->SetParameterValue (std::nanf ("")); }, render, 1.0f, false },
    };

    for (const auto& c : cases)
    {
        host.values.clear();
        c.set();

        EXPECT_FLOAT_EQ (c.parameter->getValue(), c.expectedNormalised) << c.what;
        EXPECT_EQ (! host.values.empty(), c.notifies) << c.what;

        // Whatever came in, the host never sees a normalised value outside 0..1.
        for (auto [index, value] : host.values)
            EXPECT_TRUE (value >= 0.0f && value <= 1.0f) << c.what << ": " << value;
    }
}

TEST_F (ParametersTest, EditorDragOwnsTheGestureWhileItLasts)
{
    auto& x = *plugin.m_x;

    x.BeginUserGesture();
    EXPECT_EQ (host.count (kParam_x, true), 1);

    // The renderer's values still arrive during a drag, but open nothing and tick nothing.
    x.SetParameterValue (0.8f);
    EXPECT_FLOAT_EQ (x.get(), 0.8f);
    for (int i = 0; i < 20; ++i)
        x.Tick();
    EXPECT_EQ (host.count (kParam_x, true), 1);
    EXPECT_EQ (host.count (kParam_x, false), 0);

    x.EndUserGesture();
    EXPECT_EQ (host.count (kParam_x, false), 1);
    EXPECT_EQ (x.m_ticks, kGestureTicks);

    x.EndUserGesture();
    EXPECT_EQ (host.count (kParam_x, false), 1);
}

TEST_F (ParametersTest, EveryGestureBeginHasExactlyOneEnd)
{
    // A drag that starts while an automatic gesture is open: the host must still see pairs.
    auto runs = [&] (auto& parameter, int index, auto set)
    {
        set();
        parameter.BeginUserGesture();
        set();
        parameter.EndUserGesture();
        for (int i = 0; i < 20; ++i)
            parameter.Tick();

        EXPECT_EQ (host.count (index, true), host.count (index, false)) << index;
        EXPECT_EQ (host.count (index, true), 1) << index;
    };

    float y = 0.1f;
    runs (*plugin.m_y, kParam_y, [&] { plugin.m_y->SetParameterValue (y += 0.1f); });
    int on = 1;
    runs (*plugin.m_reverbOn, kParam_reverb_on, [&] { plugin.m_reverbOn->SetParameterValue (on ^= 1); });
}

TEST_F (ParametersTest, IntegerParametersReportTheirStepCount)
{
    EXPECT_EQ (plugin.m_layerOn->getNumSteps(), 2047);
    EXPECT_EQ (plugin.m_x->getNumSteps(), 2047);
}
