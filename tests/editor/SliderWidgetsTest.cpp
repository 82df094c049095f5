#include "EditorTestSupport.h"

#include "editor/Colours.h"
#include "editor/Sliders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace varnholt
{
namespace
{

using Style = juce::Slider::SliderStyle;
enum class Kind { slider, fader, box };

std::unique_ptr<CSlider> Make (Kind kind, Style style, double min, double max, double interval, double value)
{
    std::unique_ptr<CSlider> widget;
    if (kind == Kind::fader)     widget = std::make_unique<DbSlider2> ("layer level");
    else if (kind == Kind::box)  widget = std::make_unique<CBoxSlider> ("layer");
    else                         widget = std::make_unique<CSlider> ("x");

    widget->setSliderStyle (style);
    widget->setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    widget->setRange (min, max, interval);
    widget->setValue (value, juce::dontSendNotification);
    return widget;
}

TEST (LinearWidgets, DrawGrooveThumbAndScaleFromTheirSize)
{
    struct Probe { int x, y; juce::Colour colour; };
    const juce::Colour none = juce::Colours::transparentBlack;
    struct Case { const char* stem; Kind kind; Style style; int w, h; double q; std::vector<Probe> probes; };

    const Case cases[] = {
        { "slider_h_260x80_mid", Kind::slider, Style::LinearHorizontal, 260, 80, 0.5,
          { { 20, 29, colours::groove }, { 113, 30, colours::thumb }, { 129, 30, colours::accent }, { 5, 29, none } } },
        { "slider_v_60x300_max", Kind::slider, Style::LinearVertical, 60, 300, 1.0,
          { { 29, 200, colours::groove }, { 25, 25, colours::thumb }, { 30, 39, colours::accent }, { 10, 100, none } } },
        { "fader_60x270_min", Kind::fader, Style::LinearVertical, 60, 270, 0.0,
          { { 29, 100, colours::groove }, { 30, 231, colours::accent }, { 25, 245, colours::thumb }, { 38, 21, colours::lightText } } },
        { "fader_80x400_mid", Kind::fader, Style::LinearVertical, 80, 400, 0.5,
          { { 39, 340, colours::groove }, { 35, 191, colours::accent }, { 58, 113, colours::lightText } } },
        { "box_60x50", Kind::box, Style::RotaryHorizontalVerticalDrag, 60, 50, 0.5, { { 30, 35, none }, { 5, 45, none } } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.stem);
        auto widget = Make (c.kind, c.style, 0.0, 1.0, 0.0, c.q);
        const auto image = test::Snapshot (*widget, c.w, c.h, c.stem);
        for (const auto& p : c.probes)
            EXPECT_TRUE (test::ShowsColour (image, { p.x, p.y }, p.colour)) << p.x << "," << p.y;
    }
}

TEST (LinearWidgets, PressKeepsTheValueAndDragsMoveItRelatively)
{
    struct Case { const char* name; Kind kind; Style style; int w, h; double min, max, start; juce::Point<float> press, drag; double expected; };
    const auto H = Style::LinearHorizontal, V = Style::LinearVertical, R = Style::RotaryHorizontalVerticalDrag;

    const Case cases[] = {
        { "away from the thumb, 22 px right", Kind::slider, H, 260, 80, 0, 1, 0.5, { 240, 40 }, { 262, 40 }, 0.6 },
        { "left of the track counts as its start", Kind::slider, H, 260, 80, 0, 1, 0.5, { 5, 40 }, { 27, 40 }, 0.53 },
        { "vertical, 18 px up", Kind::slider, V, 40, 260, 0, 1, 0.5, { 20, 130 }, { 20, 112 }, 0.6 },
        { "fader, press below, 21 px up", Kind::fader, V, 60, 270, -84, 12, -10.5, { 30, 260 }, { 30, 239 }, -0.9 },
        { "box, inside", Kind::box, R, 60, 50, 1, 12, 5, { 30, 25 }, { 30, 20 }, 1 },
        { "box, 10 px above", Kind::box, R, 60, 50, 1, 12, 5, { 30, 25 }, { 30, -10 }, 2 },
        { "box, 35 px above", Kind::box, R, 60, 50, 1, 12, 5, { 30, 25 }, { 30, -35 }, 4 },
        // Too small for a track, or an empty range: nothing moves and nothing divides by zero.
        { "slider with no track", Kind::slider, H, 40, 80, 0, 1, 0.5, { 20, 40 }, { 90, 40 }, 0.5 },
        { "fader of no size", Kind::fader, V, 0, 0, -84, 12, 0, { 0, 0 }, { 0, -50 }, 0 },
        { "empty range", Kind::slider, V, 40, 260, 3, 3, 3, { 20, 100 }, { 20, 50 }, 3 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto widget = Make (c.kind, c.style, c.min, c.max, c.kind == Kind::box ? 1.0 : 0.01, c.start);
        widget->setBounds (0, 0, c.w, c.h);
        test::SliderEvents listener;
        widget->addListener (&listener);

        widget->mouseDown (test::MouseAt (*widget, c.press.x, c.press.y, c.press));
        EXPECT_DOUBLE_EQ (widget->getValue(), c.start);
        test::PressDrag (*widget, c.press, c.drag);
        EXPECT_NEAR (widget->getValue(), c.expected, 1e-9);
        EXPECT_EQ (listener.events, "") << "no drag notifications, values only asynchronously";

        juce::Image image (juce::Image::ARGB, 300, 300, true);
        juce::Graphics g (image);
        widget->paint (g);
        widget->removeListener (&listener);
    }
}

// The window shows the fader at sqrt((s + 84) / 96) * 96 - 84 dB: dragging the thumb line from the
// top onto a tick lands on that tick's level, and the line is drawn on the tick.
TEST (LinearWidgets, FaderTicksMatchTheSquareLawLevel)
{
    const std::pair<double, int> ticks[] = { { 12, 21 }, { 0, 70 }, { -12, 113 }, { -24, 149 }, { -36, 178 }, { -48, 201 }, { -60, 218 }, { -84, 231 } };

    for (const auto& [level, tickY] : ticks)
    {
        auto fader = Make (Kind::fader, Style::LinearVertical, -84.0, 12.0, 0.01, 12.0);
        fader->setBounds (0, 0, 60, 270);
        test::PressDrag (*fader, { 30, 22 }, { 30, static_cast<float> (tickY + 1) });
        EXPECT_NEAR (std::sqrt ((fader->getValue() + 84.0) / 96.0) * 96.0 - 84.0, level, 1.0);

        fader->GetThumb();
        EXPECT_NEAR (fader->GetThumbLine().getY(), tickY, 1.0) << level;
    }
}

TEST (LinearWidgets, ValueTextHasTwoDecimalsAndNoNegativeZero)
{
    struct Shown : CSlider { Shown() : CSlider ("azim") {} using CSlider::DisplayText; };
    const std::tuple<bool, double, const char*> cases[] = {
        { true, 90, "-90.00" }, { false, 0.5, "0.50" }, { true, 0, "0.00" }, { true, 0.004, "0.00" }, { false, -0.004, "0.00" },
    };

    for (const auto& [negate, value, text] : cases)
    {
        Shown slider;
        slider.setRange (-180.0, 180.0, 0.0);
        slider.setValue (value, juce::dontSendNotification);
        slider.m_negateDisplay = negate;
        EXPECT_EQ (slider.DisplayText(), juce::String (text)) << value;
    }
}

} // namespace
} // namespace varnholt
