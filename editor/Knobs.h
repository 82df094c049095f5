#pragma once

#include "editor/Sliders.h"

namespace varnholt
{

// A rotary knob with a body, a 270 degree scale, a value arc and a pointer. The mouse is the
// framework's rotary handling, so drags, double-click resets and wheel steps reach the listeners
// between a drag-start and a drag-end notification.
class CKnob : public CSlider
{
public:
    explicit CKnob (const juce::String& name);
    ~CKnob() override;

    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void paint (juce::Graphics& g) override;

    void InitStyle() override;

    // The value arc grows from the top of the scale (the middle of the range) to either side.
    bool m_arcFromCentre = false;
};

// A level knob: arc and pointer follow the square of the value's proportion, "dB" in the middle.
class CDbKnob : public CSlider
{
public:
    explicit CDbKnob (const juce::String& name);
    ~CDbKnob() override;

    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void paint (juce::Graphics& g) override;

    void InitStyle() override;
};

} // namespace varnholt
