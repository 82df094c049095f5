#include "EditorTestSupport.h"

#include "editor/Colours.h"
#include "editor/Controls.h"

#include <gtest/gtest.h>

namespace varnholt::test
{
namespace
{

void Type (juce::TextEditor& box, const juce::String& keys)
{
    for (auto c : keys)
        box.keyPressed (juce::KeyPress (c, 0, c));
}

// Lets the framework deliver what the boxes and buttons posted to their listeners.
void Deliver()
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
}

TEST (TextBoxes, RefuseCharactersOutsideTheirSetAndBeyondTheirLength)
{
    struct Case { bool db; const char* typed; const char* shown; };
    for (const auto& c : { Case { false, "10.0.0.1", "10.0.0.1" }, Case { false, "1a2-8 x", "128" },
                           Case { false, "12345678901234567", "1234567890123456" }, Case { true, "-84.0", "-84.0" },
                           Case { true, "-10.55", "-10.5" }, Case { true, "+1e2", "12" },
                           Case { true, "15", "12" }, Case { true, "-90", "-84" } })   // out of range: put back at once
    {
        CTextEditor address ("IP Address", 0);
        CTextEditorDb db ("layerSliderDisplay");
        juce::TextEditor& box = c.db ? static_cast<juce::TextEditor&> (db) : address;
        Type (box, c.typed);
        EXPECT_EQ (box.getText(), juce::String (c.shown)) << c.typed;
    }
}

// The window reads the dB box when it loses the focus; a box never painted since its text was
// set must not hand on a value outside -84..12 (-180 would become the fader's top).
TEST (TextBoxes, ADbBoxHandsOnOnlyValuesInsideTheFadersRange)
{
    struct Reader : juce::TextEditor::Listener
    {
        void textEditorFocusLost (juce::TextEditor& box) override { read = box.getText(); }
        juce::String read = "unread";
    };

    struct Case { const char* set; const char* handedOn; float value; };
    for (const auto& c : { Case { "-180", "-84", -84.0f }, Case { "99999", "12", 12.0f }, Case { "-10.5", "-10.5", -10.5f }, Case { "", "", 0.0f } })
    {
        CTextEditorDb box ("layerSliderDisplay");
        Reader reader;
        box.addListener (&reader);
        box.setText (c.set, false);
        EXPECT_FLOAT_EQ (box.GetDbValue(), c.value) << c.set;

        box.focusLost (juce::Component::focusChangedDirectly);
        Deliver();
        EXPECT_EQ (reader.read, juce::String (c.handedOn)) << c.set;
    }
}

// Colours at pixels away from any text, for each look at two sizes.
TEST (ControlSnapshots, FillAndFrameFollowStateAndSize)
{
    struct Case { const char* what; int w, h; bool on; juce::Button::ButtonState state; juce::Colour fill; };
    const auto yellow = colours::toggleAccent;
    for (const auto& c : { Case { "off", 58, 30, false, juce::Button::buttonNormal, colours::knobBody },
                           Case { "off-over", 60, 30, false, juce::Button::buttonOver, colours::toggleHover },
                           Case { "off-down", 58, 30, false, juce::Button::buttonDown, yellow.brighter (0.05f) },
                           Case { "on", 100, 44, true, juce::Button::buttonNormal, yellow },
                           Case { "on-down", 100, 44, true, juce::Button::buttonDown, yellow.brighter (0.1f) } })
    {
        CButton button ("on");
        button.setToggleState (c.on, juce::dontSendNotification);
        button.setState (c.state);
        const auto image = Snapshot (button, c.w, c.h, juce::String ("button-") + c.what);

        EXPECT_EQ (image.getPixelAt (5, c.h / 2), c.fill) << c.what;
        EXPECT_EQ (image.getPixelAt (2, c.h / 2), colours::panel) << c.what;      // outline at 2.5
        EXPECT_EQ (image.getPixelAt (c.w - 1, c.h / 2).getAlpha(), 0) << c.what; // right of w - 1.5
    }

    for (auto [w, h] : { std::pair { 20, 28 }, { 40, 30 } })
    {
        CAvanceButton arrow (">");
        CTextEditorDb db ({});
        CComboBox list ({});
        const auto stem = juce::String (w) + "x" + juce::String (h);
        EXPECT_EQ (Snapshot (arrow, w, h, "arrow-" + stem).getPixelAt (w - 2, h - 2), colours::buttonText);
        EXPECT_EQ (Snapshot (db, 3 * w, h - 8, "db-" + stem).getPixelAt (2, h - 11), colours::box);
        EXPECT_EQ (Snapshot (list, 4 * w, h - 6, "list-" + stem).getPixelAt (5, h / 2 - 3), colours::box);
    }
}

TEST (Counter, LaysOutItsArrowsAndBoxFromItsWidth)
{
    struct Case { int w, h; juce::Rectangle<int> down, box, up; };
    for (const auto& c : { Case { 75, 29, { 0, 0, 20, 28 }, { 22, 6, 33, 19 }, { 57, 0, 20, 28 } },
                           Case { 100, 30, { 0, 0, 27, 29 }, { 29, 6, 45, 20 }, { 75, 0, 27, 29 } },
                           Case { 3, 4, { 0, 0, 0, 3 }, { 2, 6, 1, 0 }, { 5, 0, 0, 3 } } })
    {
        CDigital counter ("obj");
        counter.setSize (c.w, c.h);
        EXPECT_EQ (counter.m_downButton.getBounds(), c.down) << counter.m_downButton.getName();
        EXPECT_EQ (counter.m_textBox.getBounds(), c.box);
        EXPECT_EQ (counter.m_upButton.getBounds(), c.up) << counter.m_upButton.getName();
    }

}

} // namespace
} // namespace varnholt::test
