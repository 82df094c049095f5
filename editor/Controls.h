#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <optional>

namespace varnholt
{

// A number as a user types it into a value box: an optional sign, then digits with at most one
// point among them, at least one digit, blanks around. Anything else (an empty box, "-", ".",
// letters) is no number, and a box commits nothing for it.
std::optional<double> ReadTypedNumber (const juce::String& text);

// The input filter of every text box of the window, the sliders' value boxes included: it lets
// only the allowed characters in, up to a length (none and 0 let anything in), and marks the box
// as typed into whenever the user's keys or paste change its text: something let in, or a
// selection replaced or deleted. A text retyped just as the window showed it is still the user's;
// a refused key, a Backspace at the start or a cut with nothing selected is no typing.
class CTypingFilter : public juce::TextEditor::LengthAndCharacterRestriction
{
public:
    using LengthAndCharacterRestriction::LengthAndCharacterRestriction;

    juce::String filterNewText (juce::TextEditor& box, const juce::String& text) override;
};

// Whether the user has typed into the box since ForgetTyping.
bool TypedInto (const juce::TextEditor& box);
void ForgetTyping (juce::TextEditor& box);

// The number and address box: digits and points only, one line, the window's grey look.
class CTextEditor : public juce::TextEditor
{
public:
    CTextEditor (const juce::String& name, wchar_t passwordCharacter);
    ~CTextEditor() override;

    void paint (juce::Graphics& g) override;
};

// The fader's dB entry box. Whatever it holds, what it hands on lies in the fader's range.
class CTextEditorDb : public juce::TextEditor
{
public:
    explicit CTextEditorDb (const juce::String& name);
    ~CTextEditorDb() override;

    void paint (juce::Graphics& g) override;

    // The text read as a number and clamped to the fader's range; an empty or non-numeric text
    // reads 0.
    float GetDbValue() const;

    static constexpr float kMinDb = -84.0f;
    static constexpr float kMaxDb = 12.0f;

    // Typed text and the focus loss that commits it: the text is back in range before any
    // listener hears of either, painted or not.
    void insertTextAtCaret (const juce::String& textToInsert) override;
    void focusLost (FocusChangeType cause) override;

private:
    void ClampText();
};

class CButton : public juce::ToggleButton
{
public:
    explicit CButton (const juce::String& name);
    ~CButton() override;

    void paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    float m_cornerSize;
};

// The counter's arrows: the same toggle, drawn as a bare yellow glyph on black whatever its state.
class CAvanceButton : public CButton
{
public:
    explicit CAvanceButton (const juce::String& name);
    ~CAvanceButton() override;

    void paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;
};

class CLabel : public juce::Label
{
public:
    CLabel (const juce::String& name, const juce::String& text);
    ~CLabel() override;
};

// The object-number counter: "<", a number box and ">". Its owner listens to the three children.
class CDigital : public juce::Component
{
public:
    explicit CDigital (const juce::String& name);
    ~CDigital() override;

    void resized() override;

    CTextEditor m_textBox;
    CAvanceButton m_upButton;
    CAvanceButton m_downButton;
};

class CComboBox : public juce::ComboBox
{
public:
    explicit CComboBox (const juce::String& name);
    ~CComboBox() override;

    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void paint (juce::Graphics& g) override;
};

class BoxLookAndFeel : public juce::LookAndFeel_V3
{
public:
    BoxLookAndFeel();
    ~BoxLookAndFeel() override;

    juce::Font getPopupMenuFont() override;
    juce::Font getComboBoxFont (juce::ComboBox& box) override;
};

} // namespace varnholt
