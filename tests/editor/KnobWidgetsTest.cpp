#include "EditorTestSupport.h"

#include "editor/Colours.h"
#include "editor/Knobs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

namespace varnholt
{
namespace
{

std::unique_ptr<CSlider> MakeKnob (bool db, bool arcFromCentre = false)
{
    auto plain = std::make_unique<CKnob> ("width");
    plain->m_arcFromCentre = arcFromCentre;
    std::unique_ptr<CSlider> knob = db ? std::make_unique<CDbKnob> ("reverb") : std::unique_ptr<CSlider> (std::move (plain));
    knob->setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    knob->setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    return knob;
}

// The pixel `radius` from the knob's centre at `turn` (in units of pi, clockwise from 12 o'clock),
// `across` pixels sideways: the pointer bar's middle lies half a pixel left of its axis.
juce::Point<int> OnKnob (int w, float radius, float turn, float across)
{
    const auto a = turn * juce::MathConstants<float>::pi, c = w / 2.0f;
    return juce::Point<float> (c + across * std::cos (a) + radius * std::sin (a),
                               c + across * std::sin (a) - radius * std::cos (a)).toInt();
}

TEST (Knobs, DrawBodyScaleArcAndPointerFromTheirWidth)
{
    struct Probe { float radius, turn, across; juce::Colour colour; };
    struct Case { const char* stem; bool db, fromCentre; double max, value; int w; std::vector<Probe> probes; };
    const auto none = juce::Colours::transparentBlack;
    constexpr float bar = -0.5f;

    const Case cases[] = {
        { "knob_58_min", false, false, 1, 0, 58,
          { { 27, 2.0f, 0, colours::groove }, { 22, 1.25f, bar, colours::accent }, { 16, 0.5f, 0, colours::knobBody },
            { 0, 0, 0, colours::knobBody }, { 27, 1.0f, 0, none }, { 22, 2.0f, bar, none } } },
        { "knob_58_max", false, false, 1, 1, 58, { { 27, 2.6f, 0, colours::accent }, { 22, 2.75f, bar, colours::accent } } },
        { "width_100_half", false, true, 2, 0.5, 100,
          { { 48, 1.75f, 0, colours::accent }, { 48, 2.25f, 0, colours::groove }, { 48, 1.5f, 0, colours::groove },
            { 36, 1.625f, bar, colours::accent } } },
        // 0 dB is 0.875 of the range; arc and pointer stop at 0.875 squared of the sweep.
        { "reverb_58_0dB", true, false, 96, 84, 58,
          { { 22, 2.3984f, bar, colours::accent }, { 22, 2.5625f, bar, none }, { 27, 2.2f, 0, colours::accent },
            { 27, 2.55f, 0, colours::groove } } },
        // Too narrow for a scale, with an empty range: nothing drawn, nothing divided by zero.
        { "reverb_3_empty", true, false, 0, 0, 3, { { 0, 0, 0, none } } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.stem);
        auto knob = MakeKnob (c.db, c.fromCentre);
        knob->setRange (0.0, c.max, 0.0);
        knob->setValue (c.value, juce::dontSendNotification);
        const auto image = test::Snapshot (*knob, c.w, c.w + 22, c.stem);

        for (const auto& p : c.probes)
        {
            // A 2-pixel stroke at an angle fully covers at least one pixel next to the point.
            const auto at = OnKnob (c.w, p.radius, p.turn, p.across);
            bool shown = test::ShowsColour (image, at, p.colour);
            for (int d = 0; d < 9 && ! p.colour.isTransparent(); ++d)
                shown = shown || test::ShowsColour (image, at.translated (d % 3 - 1, d / 3 - 1), p.colour);
            EXPECT_TRUE (shown) << "radius " << p.radius << " turn " << p.turn;
        }
    }
}

// The window records knob moves as host gestures from these notifications: each way of moving a
// knob reports one start, its values, and one end, also when the knob goes away mid-drag.
TEST (Knobs, EveryMoveIsBracketedByOneDragStartAndEnd)
{
    struct Case
    {
        const char* name;
        std::function<void (CSlider&)> act;
        double expected;
        bool deleteAfter;
    };

    const Case cases[] = {
        { "drag 25 px up", [] (CSlider& k) { test::PressDrag (k, { 29, 29 }, { 29, 4 }); }, 0.6, false },
        { "double-click", [] (CSlider& k) { k.mouseDoubleClick (test::MouseAt (k, 29, 29, { 29, 29 }, 2)); }, 1.0, false },
        { "wheel", [] (CSlider& k)
          {
              juce::MouseWheelDetails wheel {};
              wheel.deltaY = 2.0f / 3.0f;
              k.mouseWheelMove (test::MouseAt (k, 29, 29, { 29, 29 }, 1, false, {}), wheel);
          }, 0.6, false },
        { "deleted mid-drag", [] (CSlider& k) { test::PressDrag (k, { 29, 29 }, { 29, 4 }, false); }, 0.6, true },
    };

    for (const bool db : { false, true })
        for (const auto& c : cases)
        {
            SCOPED_TRACE (juce::String (db ? "CDbKnob " : "CKnob ") + c.name);
            auto knob = MakeKnob (db);
            knob->setTextBoxStyle (juce::Slider::TextBoxBelow, false, 50, 20);
            knob->setRange (0.0, 1.0, 0.01);
            knob->setValue (0.5, juce::dontSendNotification);
            knob->setDoubleClickReturnValue (true, 1.0);
            knob->setBounds (0, 0, 58, 80);
            test::SliderEvents listener;
            knob->addListener (&listener);

            c.act (*knob);
            EXPECT_NEAR (knob->getValue(), c.expected, 1e-6);

            if (c.deleteAfter)
                knob.reset();
            else
                knob->removeListener (&listener);

            EXPECT_EQ (listener.events, "sve");
        }
}

} // namespace
} // namespace varnholt
