#include "editor/Sliders.h"

#include "editor/Colours.h"
#include "editor/Controls.h"

#include <array>
#include <cmath>

namespace varnholt
{

namespace
{

using Style = juce::Slider::SliderStyle;

constexpr auto kAsync = juce::sendNotificationAsync;

// Linear thumbs are 40 pixels along the track and 20 across; the pointer's place on the track is
// measured from the thumb's centre.
constexpr int kThumbLength = 40;
constexpr int kThumbBreadth = 20;
constexpr int kThumbHalf = kThumbLength / 2;

// The horizontal groove, thumb and texts of the slider (the fader and the layer box share them).
constexpr int kSlitInset = 15;
constexpr int kSlitTop = 28;
constexpr int kSlitThickness = 4;
constexpr int kThumbTop = 20;
constexpr int kTextHeight = 20;
constexpr int kLabelWidth = 30;

// A vertical track: the groove from `slitTop` to `slitInset` pixels short of the height, the
// thumb's and the line's tops at `thumbTop` and `lineTop` for the maximum, travelling over the
// height less `travelInset`.
struct VerticalTrack
{
    int slitTop;
    int slitInset;
    int thumbTop;
    int lineTop;
    int travelInset;
};

constexpr VerticalTrack kSliderTrack { 35, 70, 20, 39, 80 };
constexpr VerticalTrack kFaderTrack { 15, 50, 0, 21, 60 };

// A widget narrower or shorter than its layout gets empty rectangles, never negative sizes.
juce::Rectangle<int> Box (int x, int y, int w, int h)
{
    return { x, y, juce::jmax (0, w), juce::jmax (0, h) };
}

juce::Rectangle<int> VerticalSlit (int w, int h, const VerticalTrack& track)
{
    return Box ((w - kSlitThickness) / 2, track.slitTop, kSlitThickness, h - track.slitInset);
}

// A bar across the vertical track (the thumb or its line), placed from the value's proportion.
juce::Rectangle<float> VerticalBar (int w, int h, double q, const VerticalTrack& track, int top, int length)
{
    const double y = (1.0 - q) * (h - track.travelInset) + top;
    return juce::Rectangle<double> ((w - kThumbBreadth) / 2, y, kThumbBreadth, length).toFloat();
}

juce::Rectangle<float> HorizontalBar (int w, double q, int left, int length)
{
    const double x = q * (w - kThumbLength) + left;
    return juce::Rectangle<double> (x, kThumbTop, length, kThumbBreadth).toFloat();
}

// The default sans-serif font is wide here; the short texts that must fit one line ("+12" in
// 12 px, "azim" in 30 px) are squeezed just as much as they need, down to this floor, instead of
// being cut to an ellipsis at the framework's default floor of 0.7.
constexpr float kMinimumSqueeze = 0.4f;

void DrawOneLine (juce::Graphics& g, const juce::String& text, juce::Rectangle<int> area, float fontHeight)
{
    g.setColour (colours::lightText);
    g.setFont (juce::Font (fontHeight));
    g.drawFittedText (text, area, juce::Justification::centred, 1, kMinimumSqueeze);
}

// The line is placed from the proportion that GetThumb stores, so the thumb comes first.
void PaintThumb (juce::Graphics& g, CSlider& widget)
{
    g.setColour (colours::thumb);
    g.fillRoundedRectangle (widget.GetThumb(), 3.0f);
    g.setColour (colours::accent);
    g.fillRect (widget.GetThumbLine());
}

struct ScaleMark
{
    const char* label;
    int tickY;
    int labelY;
};

// Fixed pixels: on the window's 270-pixel fader each tick is level with the thumb line at the
// level that the window shows for that fader position.
constexpr std::array<ScaleMark, 8> kFaderScale { {
    { "+12", 21, 15 },
    { "0", 70, 64 },
    { "-12", 113, 107 },
    { "-24", 149, 143 },
    { "-36", 178, 172 },
    { "-48", 201, 195 },
    { "-60", 218, 212 },
    { "-84", 231, 225 },
} };

} // namespace

//==============================================================================
CValueBox::CValueBox()
    : juce::Label ({}, {})
{
}

juce::TextEditor* CValueBox::createEditorComponent()
{
    auto* editor = juce::Label::createEditorComponent();
    editor->setInputFilter (new CTypingFilter (0, {}), true);
    return editor;
}

void CValueBox::textEditorReturnKeyPressed (juce::TextEditor& editor)
{
    const juce::Component::SafePointer<CSlider> slider (dynamic_cast<CSlider*> (getParentComponent()));
    if (! isBeingEdited() || slider == nullptr)
    {
        juce::Label::textEditorReturnKeyPressed (editor);
        return;
    }

    // A box left as it was opened commits nothing, also when its text is the value rounded.
    const auto typed = TypedInto (editor) ? ReadTypedNumber (editor.getText()) : std::nullopt;
    const auto before = slider->getValue();

    // A changed text moves the slider, which notifies its listeners itself.
    juce::Label::textEditorReturnKeyPressed (editor);

    if (typed.has_value() && slider != nullptr && slider->getValue() == before)
    {
        slider->setValue (*typed, juce::dontSendNotification);
        if (slider->onUnchangedCommit)
            slider->onUnchangedCommit();
    }
}

std::unique_ptr<juce::AccessibilityHandler> CValueBox::createAccessibilityHandler()
{
    return createIgnoredAccessibilityHandler (*this);
}

juce::Label* CSlider::Look::createSliderTextBox (juce::Slider& slider)
{
    // The framework's box with its colours and settings, taken over by a box of ours.
    const std::unique_ptr<juce::Label> framework (juce::LookAndFeel_V4::createSliderTextBox (slider));
    auto box = std::make_unique<CValueBox>();
    framework->copyAllExplicitColoursTo (*box);
    box->setJustificationType (framework->getJustificationType());
    box->setKeyboardType (juce::TextInputTarget::decimalKeyboard);
    return box.release();
}

//==============================================================================
CSlider::CSlider (const juce::String& name)
    : juce::Slider (name)
{
    setLookAndFeel (&m_look.get());
    CSlider::InitStyle();
}

CSlider::~CSlider()
{
    setLookAndFeel (nullptr);
}

void CSlider::mouseDown (const juce::MouseEvent& e)
{
    if (onPress)
        onPress();

    const auto at = e.getMouseDownPosition();
    const auto q = ValueProportion();

    if (getSliderStyle() == Style::LinearHorizontal)
        m_grabOffset = q - juce::jlimit (0.0, 1.0, PointerProportion (at.x, kThumbHalf, getWidth() - kThumbLength));
    else if (getSliderStyle() == Style::LinearVertical)
        m_grabOffset = 1.0 - q - juce::jlimit (0.0, 1.0, PointerProportion (at.y, kSliderTrack.thumbTop + kThumbHalf,
                                                                            getHeight() - kSliderTrack.travelInset));
}

void CSlider::mouseDrag (const juce::MouseEvent& e)
{
    const auto at = e.getPosition();

    if (getSliderStyle() == Style::LinearHorizontal)
        SetProportion (PointerProportion (at.x, kThumbHalf, getWidth() - kThumbLength) + m_grabOffset);
    else if (getSliderStyle() == Style::LinearVertical)
        SetProportion (1.0 - (PointerProportion (at.y, kSliderTrack.thumbTop + kThumbHalf, getHeight() - kSliderTrack.travelInset)
                              + m_grabOffset));
}

void CSlider::paint (juce::Graphics& g)
{
    g.setColour (colours::groove);
    g.fillRect (GetSlitRect());
    PaintThumb (g, *this);
    DrawOneLine (g, DisplayText(), GetDisplayRect(), 14.0f);
    DrawOneLine (g, getName(), GetLabelRect(), 18.0f);
}

double CSlider::getValueFromText (const juce::String& text)
{
    const auto typed = ReadTypedNumber (text);
    return typed.has_value() ? *typed : getValue();
}

void CSlider::InitStyle()
{
    SetColours (colours::background, colours::box);
}

juce::Rectangle<int> CSlider::GetSlitRect() const
{
    if (getSliderStyle() == Style::LinearHorizontal)
        return Box (kSlitInset, kSlitTop, getWidth() - 2 * kSlitInset, kSlitThickness);
    if (getSliderStyle() == Style::LinearVertical)
        return VerticalSlit (getWidth(), getHeight(), kSliderTrack);
    return {};
}

juce::Rectangle<float> CSlider::GetThumb()
{
    m_proportion = ValueProportion();

    if (getSliderStyle() == Style::LinearHorizontal)
        return HorizontalBar (getWidth(), m_proportion, 0, kThumbLength);
    if (getSliderStyle() == Style::LinearVertical)
        return VerticalBar (getWidth(), getHeight(), m_proportion, kSliderTrack, kSliderTrack.thumbTop, kThumbLength);
    return {};
}

juce::Rectangle<float> CSlider::GetThumbLine() const
{
    if (getSliderStyle() == Style::LinearHorizontal)
        return HorizontalBar (getWidth(), m_proportion, kThumbHalf - 1, 2);
    if (getSliderStyle() == Style::LinearVertical)
        return VerticalBar (getWidth(), getHeight(), m_proportion, kSliderTrack, kSliderTrack.lineTop, 2);
    return {};
}

juce::Rectangle<int> CSlider::GetDisplayRect() const
{
    if (getSliderStyle() == Style::LinearHorizontal)
        return Box (getWidth() - 35, 1, 35, kTextHeight);
    if (getSliderStyle() == Style::LinearVertical)
        return Box (0, getHeight() - kTextHeight, getWidth(), kTextHeight);
    return {};
}

juce::Rectangle<int> CSlider::GetLabelRect() const
{
    if (getSliderStyle() == Style::LinearHorizontal)
        return Box (0, 0, kLabelWidth, kTextHeight);
    if (getSliderStyle() == Style::LinearVertical)
        return Box (0, 0, getWidth(), kTextHeight);
    return {};
}

double CSlider::ValueProportion() const
{
    const auto minimum = getMinimum();
    const auto range = juce::jmax (getMaximum(), minimum) - minimum;
    return range > 0.0 ? (getValue() - minimum) / range : 0.0;
}

double CSlider::PointerProportion (int position, int start, int length)
{
    return length > 0 ? static_cast<double> (position - start) / length : 0.0;
}

void CSlider::SetProportion (double q)
{
    const auto minimum = getMinimum();
    const auto top = juce::jmax (getMaximum(), minimum);
    setValue (juce::jlimit (minimum, top, minimum + (top - minimum) * q), kAsync);
}

juce::String CSlider::DisplayText() const
{
    const auto shown = m_negateDisplay ? -getValue() : getValue();
    const auto rounded = std::round (shown * 100.0) / 100.0;

    // A value that rounds to zero reads "0.00" whatever its sign (negating 0 gives -0).
    return juce::String (rounded == 0.0 ? 0.0 : rounded, 2);
}

void CSlider::SetColours (juce::Colour textBox, juce::Colour background)
{
    setColour (textBoxTextColourId, colours::lightText);
    setColour (textBoxBackgroundColourId, textBox);
    setColour (textBoxOutlineColourId, textBox);
    setColour (thumbColourId, colours::accent);
    setColour (backgroundColourId, background);
    setColour (trackColourId, colours::accent);
    setColour (textBoxHighlightColourId, colours::background);
}

//==============================================================================
DbSlider2::DbSlider2 (const juce::String& name)
    : CSlider (name)
{
    DbSlider2::InitStyle();
}

DbSlider2::~DbSlider2() = default;

void DbSlider2::mouseDown (const juce::MouseEvent& e)
{
    if (getSliderStyle() != Style::LinearVertical)
        return;

    const auto p = PointerProportion (e.getMouseDownPosition().y, kFaderTrack.thumbTop + kThumbHalf,
                                      getHeight() - kFaderTrack.travelInset);
    m_dbGrabOffset = 1.0 - ValueProportion() - p;
}

void DbSlider2::mouseDrag (const juce::MouseEvent& e)
{
    if (getSliderStyle() != Style::LinearVertical)
        return;

    const auto p = PointerProportion (e.getPosition().y, kFaderTrack.thumbTop + kThumbHalf,
                                      getHeight() - kFaderTrack.travelInset);
    SetProportion (1.0 - (p + m_dbGrabOffset));
}

void DbSlider2::paint (juce::Graphics& g)
{
    g.setColour (colours::groove);
    g.fillRect (GetSlitRect());

    const auto w = getWidth();
    for (const auto& mark : kFaderScale)
    {
        g.setColour (colours::lightText);
        g.fillRect (w - 25, mark.tickY, 9, 2);
        DrawOneLine (g, mark.label, { w - 15, mark.labelY, 12, 12 }, 10.0f);
    }

    PaintThumb (g, *this);
}

void DbSlider2::InitStyle()
{
    CSlider::InitStyle();
}

juce::Rectangle<int> DbSlider2::GetSlitRect() const
{
    if (getSliderStyle() == Style::LinearVertical)
        return VerticalSlit (getWidth(), getHeight(), kFaderTrack);
    return CSlider::GetSlitRect();
}

juce::Rectangle<float> DbSlider2::GetThumb()
{
    if (getSliderStyle() != Style::LinearVertical)
        return CSlider::GetThumb();

    m_proportion = ValueProportion();
    return VerticalBar (getWidth(), getHeight(), m_proportion, kFaderTrack, kFaderTrack.thumbTop, kThumbLength);
}

juce::Rectangle<float> DbSlider2::GetThumbLine() const
{
    if (getSliderStyle() == Style::LinearVertical)
        return VerticalBar (getWidth(), getHeight(), m_proportion, kFaderTrack, kFaderTrack.lineTop, 2);
    return CSlider::GetThumbLine();
}

// The fader's text rectangles are the slider's, vertical or horizontal.
juce::Rectangle<int> DbSlider2::GetDisplayRect() const { return CSlider::GetDisplayRect(); }
juce::Rectangle<int> DbSlider2::GetLabelRect() const   { return CSlider::GetLabelRect(); }

//==============================================================================
CBoxSlider::CBoxSlider (const juce::String& name)
    : CSlider (name)
{
    CBoxSlider::InitStyle();
}

CBoxSlider::~CBoxSlider() = default;

void CBoxSlider::mouseDown (const juce::MouseEvent& e)
{
    const auto at = e.getMouseDownPosition();

    if (getSliderStyle() == Style::LinearHorizontal)
        setValue (at.x, kAsync);
    else if (getSliderStyle() == Style::LinearVertical)
        setValue (1 - at.y, kAsync);
}

void CBoxSlider::mouseDrag (const juce::MouseEvent& e)
{
    const auto at = e.getPosition();

    // One step per full 10 pixels above the box's top edge: the value follows the pointer's height.
    if (getSliderStyle() == Style::LinearHorizontal)
        setValue (at.x, kAsync);
    else if (getSliderStyle() == Style::LinearVertical || getSliderStyle() == Style::RotaryHorizontalVerticalDrag)
        setValue (1 - at.y / 10, kAsync);
}

void CBoxSlider::paint (juce::Graphics& g)
{
    DrawOneLine (g, getName(), GetLabelRect(), 18.0f);
}

void CBoxSlider::InitStyle()
{
    SetColours (colours::box, colours::box);
}

juce::Rectangle<int> CBoxSlider::GetSlitRect() const
{
    if (getSliderStyle() == Style::RotaryHorizontalVerticalDrag || getSliderStyle() == Style::LinearVertical)
        return Box (0, 0, getWidth(), getWidth());
    return CSlider::GetSlitRect();
}

juce::Rectangle<int> CBoxSlider::GetDisplayRect() const
{
    if (getSliderStyle() == Style::RotaryHorizontalVerticalDrag)
        return Box (0, getHeight() - kTextHeight, getWidth(), kTextHeight);
    if (getSliderStyle() == Style::LinearHorizontal)
        return Box (getWidth() - kLabelWidth, 1, kLabelWidth, kTextHeight);
    return CSlider::GetDisplayRect();
}

juce::Rectangle<int> CBoxSlider::GetLabelRect() const
{
    if (getSliderStyle() == Style::RotaryHorizontalVerticalDrag)
        return Box (0, 0, getWidth(), kTextHeight);
    return CSlider::GetLabelRect();
}

} // namespace varnholt
