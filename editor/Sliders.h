#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace varnholt
{

// The value box under a knob or the layer box: the framework's, but it marks what the user
// types (CTypingFilter) and tells its slider of every commit of a number, by Return, by the
// focus leaving or by a click elsewhere. The framework moves the slider only when the box's text
// changed and the slider's value with it; a number retyped as it stood, or one that the slider
// holds while the instance has changed since, would otherwise be committed to nobody.
class CValueBox : public juce::Label
{
public:
    CValueBox();

    void textEditorReturnKeyPressed (juce::TextEditor& editor) override;

    // As the framework's own value box: the wheel over it does nothing, and screen readers read
    // the slider, not the box.
    void mouseWheelMove (const juce::MouseEvent&, const juce::MouseWheelDetails&) override {}
    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;

protected:
    juce::TextEditor* createEditorComponent() override;
};

// A linear slider that draws itself completely (groove, thumb, value and name) and drags
// relatively: a press never moves the value, a drag moves it by the pointer's travel since the
// press. It is also the base of the fader, the layer box and the knobs, which override its
// geometry. The framework's own press handling is not called, so a press and drag send no
// drag-start or drag-end notification; double-click reset and wheel remain the framework's.
class CSlider : public juce::Slider
{
public:
    explicit CSlider (const juce::String& name);
    ~CSlider() override;

    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void paint (juce::Graphics& g) override;

    // The value typed into the framework's value box (knobs, layer box). A text that is no number
    // gives the current value back, so the box commits nothing and shows that value again.
    double getValueFromText (const juce::String& text) override;

    virtual void InitStyle();
    virtual juce::Rectangle<int> GetSlitRect() const;
    // Also stores the value's proportion that GetThumbLine places the line from.
    virtual juce::Rectangle<float> GetThumb();
    virtual juce::Rectangle<float> GetThumbLine() const;
    virtual juce::Rectangle<int> GetDisplayRect() const;
    virtual juce::Rectangle<int> GetLabelRect() const;

    // Shows the value with its sign inverted (the azimuth slider).
    bool m_negateDisplay = false;

    // A number typed and committed in the value box that left the slider's value as it was: the
    // framework notifies no listener then. Called with the slider at the typed value.
    std::function<void()> onUnchangedCommit;

    // A press that starts this slider's own drag (the linear sliders'): the framework's drag-start
    // notification never comes for it.
    std::function<void()> onPress;

protected:
    // The value's place in the range, 0 to 1; 0 for an empty range.
    double ValueProportion() const;

    // Where a pointer coordinate lies on a track whose thumb centre runs over `length` pixels
    // from `start`. A track with no length (a widget too small for its thumb) reads 0, so a drag
    // on it leaves the value where it is.
    static double PointerProportion (int position, int start, int length);

    // Sets the value at proportion q of the range, asynchronously as the drags do.
    void SetProportion (double q);

    // The value text: two decimals, and never "-0.00".
    juce::String DisplayText() const;

    // The framework's text-box and slider colours: they style only the framework's value box,
    // since the widgets paint themselves from the palette.
    void SetColours (juce::Colour textBox, juce::Colour background);

    double m_proportion = 0.0;
    double m_grabOffset = 0.0;

private:
    // The framework's look, but for the value box it makes: one CValueBox per slider.
    struct Look : juce::LookAndFeel_V4
    {
        juce::Label* createSliderTextBox (juce::Slider& slider) override;
    };
    juce::SharedResourcePointer<Look> m_look;
};

// The layer level fader: a fixed dB scale beside a vertical groove, no text of its own. Its value
// runs linearly; the window maps it to dB on a square law, which the scale's ticks follow.
class DbSlider2 : public CSlider
{
public:
    explicit DbSlider2 (const juce::String& name);
    ~DbSlider2() override;

    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void paint (juce::Graphics& g) override;

    void InitStyle() override;
    juce::Rectangle<int> GetSlitRect() const override;
    juce::Rectangle<float> GetThumb() override;
    juce::Rectangle<float> GetThumbLine() const override;
    juce::Rectangle<int> GetDisplayRect() const override;
    juce::Rectangle<int> GetLabelRect() const override;

protected:
    double m_dbGrabOffset = 0.0;
};

// The layer-number box: draws only its name; the value sits in the framework's text box below.
// Dragging sets the value from the pointer's height above the box, not from the distance dragged.
class CBoxSlider : public CSlider
{
public:
    explicit CBoxSlider (const juce::String& name);
    ~CBoxSlider() override;

    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void paint (juce::Graphics& g) override;

    void InitStyle() override;
    juce::Rectangle<int> GetSlitRect() const override;
    juce::Rectangle<int> GetDisplayRect() const override;
    juce::Rectangle<int> GetLabelRect() const override;
};

} // namespace varnholt
