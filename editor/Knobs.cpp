#include "editor/Knobs.h"

#include "editor/Colours.h"

namespace varnholt
{

namespace
{

// Angles clockwise from 12 o'clock, the framework's convention for arcs and rotations: the scale
// runs from the lower left through the top to the lower right.
constexpr float kScaleStart = 1.25f * juce::MathConstants<float>::pi;
constexpr float kScaleEnd = 2.75f * juce::MathConstants<float>::pi;
constexpr float kScaleTop = juce::MathConstants<float>::twoPi;

float AngleAt (float sweepProportion)
{
    return kScaleStart + (kScaleEnd - kScaleStart) * sweepProportion;
}

// Body, scale, value arc from `arcFrom` to `angle`, pointer, and the inner disc that hides the
// pointer's inner half, in a square of side w at the top of the knob. False when the knob is too
// narrow to have a scale, and nothing was drawn.
bool PaintKnob (juce::Graphics& g, float w, float arcFrom, float angle)
{
    const auto r = (w - 4.0f) / 2.0f;
    if (r <= 0.0f)
        return false;

    const auto c = r + 2.0f;
    const auto body = 0.62f * w;
    g.setColour (colours::knobBody);
    g.fillEllipse ((w - body) / 2.0f, (w - body) / 2.0f, body, body);

    const juce::PathStrokeType stroke (2.0f);
    const auto strokeArc = [&] (float from, float to, juce::Colour colour)
    {
        juce::Path arc;
        arc.addCentredArc (c, c, r, r, 0.0f, from, to, true);
        g.setColour (colour);
        g.strokePath (arc, stroke);
    };
    strokeArc (kScaleStart, kScaleEnd, colours::groove);
    strokeArc (arcFrom, angle, colours::accent);

    juce::Path pointer;
    pointer.addRectangle (-1.0f, -r, 1.0f, r);
    g.strokePath (pointer, stroke, juce::AffineTransform::rotation (angle).translated (c, c));

    g.setColour (colours::knobBody);
    g.fillEllipse (w / 4.0f, w / 4.0f, w / 2.0f, w / 2.0f);
    return true;
}

// The framework's rotary colours, beside the value box's: the knobs paint from the palette.
void SetRotaryColours (juce::Slider& knob)
{
    knob.setColour (juce::Slider::rotarySliderOutlineColourId, colours::knobBody);
    knob.setColour (juce::Slider::rotarySliderFillColourId, colours::accent);
}

} // namespace

//==============================================================================
CKnob::CKnob (const juce::String& name)
    : CSlider (name)
{
    CKnob::InitStyle();
}

CKnob::~CKnob() = default;

// The knobs keep the framework's rotary handling, which brackets each drag with notifications.
void CKnob::mouseDown (const juce::MouseEvent& e) { juce::Slider::mouseDown (e); }
void CKnob::mouseDrag (const juce::MouseEvent& e) { juce::Slider::mouseDrag (e); }

void CKnob::paint (juce::Graphics& g)
{
    const auto angle = AngleAt (static_cast<float> (ValueProportion()));
    PaintKnob (g, static_cast<float> (getWidth()), m_arcFromCentre ? kScaleTop : kScaleStart, angle);
}

void CKnob::InitStyle()
{
    SetColours (colours::box, colours::panel);
    SetRotaryColours (*this);
}

//==============================================================================
CDbKnob::CDbKnob (const juce::String& name)
    : CSlider (name)
{
    CDbKnob::InitStyle();
}

CDbKnob::~CDbKnob() = default;

void CDbKnob::mouseDown (const juce::MouseEvent& e) { juce::Slider::mouseDown (e); }
void CDbKnob::mouseDrag (const juce::MouseEvent& e) { juce::Slider::mouseDrag (e); }

void CDbKnob::paint (juce::Graphics& g)
{
    const auto q = static_cast<float> (ValueProportion());
    const auto w = static_cast<float> (getWidth());

    if (! PaintKnob (g, w, kScaleStart, AngleAt (q * q)))
        return;

    // The context's default font, as the window's other small captions.
    const auto c = w / 2.0f;
    g.setColour (colours::lightText);
    g.drawText ("dB", juce::Rectangle<float> (c - 10.0f, c - 10.0f, 20.0f, 20.0f), juce::Justification::centred, true);
}

void CDbKnob::InitStyle()
{
    SetColours (colours::box, colours::panel);
    SetRotaryColours (*this);
}

} // namespace varnholt
