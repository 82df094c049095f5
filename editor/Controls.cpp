#include "editor/Controls.h"

#include "editor/Colours.h"

#include <cmath>

namespace varnholt
{

namespace
{

constexpr float kBoxFontHeight = 15.0f;

// The look and the input filter of both text boxes. The font and justification are given here
// as well as in paint, so a text set before the first paint already shows in the box's font.
// Typed and pasted text passes the filter before the window reads it, so the window only ever
// parses or tokenises the allowed ASCII characters, never a clipboard's raw bytes.
void SetUpBox (juce::TextEditor& box, int maxLength, const juce::String& allowed, juce::Justification justification)
{
    box.setMultiLine (false, false);
    box.setReturnKeyStartsNewLine (false);
    box.setCaretVisible (true);
    box.setInputFilter (new CTypingFilter (maxLength, allowed), true);

    box.setColour (juce::TextEditor::backgroundColourId, colours::box);
    box.setColour (juce::TextEditor::textColourId, colours::lightText);
    box.setColour (juce::TextEditor::outlineColourId, colours::box);
    box.setColour (juce::TextEditor::focusedOutlineColourId, colours::lightText);
    box.setColour (juce::TextEditor::highlightedTextColourId, colours::lightText);
    box.setColour (juce::TextEditor::highlightColourId, colours::background);

    box.setJustification (justification);
    box.setFont (juce::Font (kBoxFontHeight));
}

// Puts the box's justification and font back if a caller changed them. Both setters act only on
// a difference, so a steady paint changes nothing and makes no font.
void KeepBoxLook (juce::TextEditor& box, juce::Justification justification)
{
    if (box.getJustificationType() != justification)
        box.setJustification (justification);

    const auto& font = box.getFont();
    if (font.getHeight() != kBoxFontHeight || font.getStyleFlags() != juce::Font::plain)
        box.setFont (juce::Font (kBoxFontHeight));
}

float ReadNumber (const juce::String& text)
{
    auto p = text.getCharPointer();
    return static_cast<float> (juce::CharacterFunctions::readDoubleValue (p));
}

// A button's name on one line, centred over the whole button; never shortened to an ellipsis.
void DrawName (juce::Graphics& g, const juce::Button& button, juce::Colour colour)
{
    g.setColour (colour);
    g.drawText (button.getName(), button.getLocalBounds(), juce::Justification::centred, false);
}

} // namespace

//==============================================================================
namespace
{
const juce::Identifier kTypedInto { "typedInto" };
} // namespace

juce::String CTypingFilter::filterNewText (juce::TextEditor& box, const juce::String& text)
{
    // Typing changes the text: it lets something in or replaces a selection. A refused key, a
    // Backspace at the start or a cut of nothing leaves the box as the window showed it.
    auto accepted = LengthAndCharacterRestriction::filterNewText (box, text);
    if (accepted.isNotEmpty() || ! box.getHighlightedRegion().isEmpty())
        box.getProperties().set (kTypedInto, true);
    return accepted;
}

bool TypedInto (const juce::TextEditor& box)
{
    return static_cast<bool> (box.getProperties()[kTypedInto]);
}

void ForgetTyping (juce::TextEditor& box)
{
    box.getProperties().remove (kTypedInto);
}

//==============================================================================
std::optional<double> ReadTypedNumber (const juce::String& text)
{
    const auto t = text.trim();
    auto p = t.getCharPointer();
    if (*p == '-' || *p == '+')
        ++p;

    int digits = 0;
    int points = 0;
    for (auto c = p; ! c.isEmpty(); ++c)
    {
        if (c.isDigit())
            ++digits;
        else if (*c == '.' && points++ == 0)
            continue;
        else
            return std::nullopt;
    }

    if (digits == 0)
        return std::nullopt;

    // The characters are checked: the framework's reader sees only a sign, digits and one point.
    auto read = t.getCharPointer();
    return juce::CharacterFunctions::readDoubleValue (read);
}

//==============================================================================
CTextEditor::CTextEditor (const juce::String& name, wchar_t passwordCharacter)
    : juce::TextEditor (name, passwordCharacter)
{
    SetUpBox (*this, 16, ".0123456789", juce::Justification::centredTop);
}

CTextEditor::~CTextEditor() = default;

void CTextEditor::paint (juce::Graphics& g)
{
    KeepBoxLook (*this, juce::Justification::centredTop);
    juce::TextEditor::paint (g);
}

//==============================================================================
CTextEditorDb::CTextEditorDb (const juce::String& name)
    : juce::TextEditor (name, 0)
{
    SetUpBox (*this, 5, "-.0123456789", juce::Justification::centred);
}

CTextEditorDb::~CTextEditorDb() = default;

void CTextEditorDb::paint (juce::Graphics& g)
{
    ClampText();
    KeepBoxLook (*this, juce::Justification::centred);
    juce::TextEditor::paint (g);
}

float CTextEditorDb::GetDbValue() const
{
    const auto v = ReadNumber (getText());
    return std::isnan (v) ? 0.0f : juce::jlimit (kMinDb, kMaxDb, v);
}

void CTextEditorDb::insertTextAtCaret (const juce::String& textToInsert)
{
    juce::TextEditor::insertTextAtCaret (textToInsert);
    ClampText();
}

void CTextEditorDb::focusLost (FocusChangeType cause)
{
    ClampText();
    juce::TextEditor::focusLost (cause);
}

void CTextEditorDb::ClampText()
{
    const auto v = ReadNumber (getText());

    if (v > kMaxDb)
        setText ("12", true);
    else if (v < kMinDb)
        setText ("-84", true);
}

//==============================================================================
CButton::CButton (const juce::String& name)
    : juce::ToggleButton (name),
      m_cornerSize (4.0f)
{
}

CButton::~CButton() = default;

void CButton::paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    auto fill = colours::toggleAccent;
    auto text = colours::buttonText;

    if (getToggleState())
    {
        if (shouldDrawButtonAsHighlighted || shouldDrawButtonAsDown)
            fill = fill.brighter (0.1f);
    }
    else if (shouldDrawButtonAsDown)
    {
        fill = fill.brighter (0.05f);
    }
    else
    {
        fill = shouldDrawButtonAsHighlighted ? colours::toggleHover : colours::knobBody;
        text = colours::lightText;
    }

    const juce::Rectangle<float> body (2.5f, 2.5f, (float) getWidth() - 4.0f, (float) getHeight() - 4.0f);

    if (! body.isEmpty())
    {
        g.setColour (fill);
        g.fillRoundedRectangle (body, m_cornerSize);
        g.setColour (colours::panel);
        g.drawRoundedRectangle (body, m_cornerSize, 1.0f);
    }

    DrawName (g, *this, text);
}

//==============================================================================
CAvanceButton::CAvanceButton (const juce::String& name)
    : CButton (name)
{
}

CAvanceButton::~CAvanceButton() = default;

void CAvanceButton::paintButton (juce::Graphics& g, bool, bool)
{
    g.fillAll (colours::buttonText);
    g.setFont (juce::Font (18.0f, juce::Font::bold));
    DrawName (g, *this, colours::toggleAccent);
}

//==============================================================================
CLabel::CLabel (const juce::String& name, const juce::String& text)
    : juce::Label (name, text)
{
    setFont (juce::Font (14.0f));
    setColour (juce::Label::textColourId, colours::lightText);
    setJustificationType (juce::Justification::centred);
}

CLabel::~CLabel() = default;

//==============================================================================
CDigital::CDigital (const juce::String& name)
    : juce::Component (name),
      m_textBox ({}, 0),
      m_upButton ({}),
      m_downButton ({})
{
    addAndMakeVisible (m_textBox);

    m_upButton.setName (">");
    m_upButton.setEnabled (true);
    addAndMakeVisible (m_upButton);

    m_downButton.setName ("<");
    m_downButton.setEnabled (true);
    addAndMakeVisible (m_downButton);
}

CDigital::~CDigital() = default;

void CDigital::resized()
{
    // Proportions of the width, truncated as single-precision products; the framework turns the
    // negative sizes of a counter shorter than 10 pixels into empty children.
    const auto w = static_cast<float> (getWidth());
    const auto h = getHeight();
    const auto arrow = static_cast<int> (0.275f * w);

    m_downButton.setBounds (0, 0, arrow, h - 1);
    m_textBox.setBounds (arrow + 2, 6, static_cast<int> (0.45f * w), h - 10);
    m_upButton.setBounds (static_cast<int> (0.725f * w) + 3, 0, arrow, h - 1);
}

//==============================================================================
CComboBox::CComboBox (const juce::String& name)
    : juce::ComboBox (name)
{
    setColour (juce::ComboBox::textColourId, colours::lightText);
    setColour (juce::ComboBox::outlineColourId, colours::background);
    setColour (juce::ComboBox::buttonColourId, colours::box);
    setColour (juce::ComboBox::backgroundColourId, colours::box);
    setColour (juce::ComboBox::arrowColourId, colours::accent);
}

CComboBox::~CComboBox() = default;

void CComboBox::mouseDown (const juce::MouseEvent& e)
{
    juce::ComboBox::mouseDown (e);
    repaint();
}

// A drag over the box neither opens the list nor picks an item.
void CComboBox::mouseDrag (const juce::MouseEvent&)
{
}

void CComboBox::paint (juce::Graphics& g)
{
    juce::ComboBox::paint (g);
}

//==============================================================================
BoxLookAndFeel::BoxLookAndFeel() = default;
BoxLookAndFeel::~BoxLookAndFeel() = default;

juce::Font BoxLookAndFeel::getPopupMenuFont()                  { return juce::Font (25.0f); }
juce::Font BoxLookAndFeel::getComboBoxFont (juce::ComboBox&)   { return juce::Font (25.0f); }

} // namespace varnholt
