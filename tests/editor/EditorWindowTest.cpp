// The whole window on a real instance: what it draws, what it writes, and how often it refreshes.

#include "EditorTestSupport.h"
#include "../common/Interfaces.h"
#include "../processor/TestSupport.h"

#include "editor/Colours.h"
#include "editor/PluginEditor.h"
#include "link/Controller.h"

#include <array>
#include <functional>
#include <thread>

namespace varnholt
{
namespace
{

// A window on a fresh instance, closed as a host closes it; `beforeOpening` sets the instance up
// before the window opens.
struct Window
{
    explicit Window (const std::function<void (Window&)>& beforeOpening = {})
    {
        EXPECT_TRUE (test_common::onlyLoopbackExists()) << "run through tests/netns-run";
        if (beforeOpening)
            beforeOpening (*this);
        editor.reset (static_cast<CPluginEditor*> (plugin.createEditorIfNeeded()));
        refresh();
    }

    ~Window() { close(); }

    void close()
    {
        if (editor == nullptr)
            return;
        plugin.editorBeingDeleted (editor.get());
        editor.reset();
    }

    // Lets the instance's queue deliver what was posted, then refreshes once.
    void refresh()
    {
        settle();
        editor->UpdateGui (false);
    }

    void settle()
    {
        std::this_thread::sleep_for (std::chrono::milliseconds (2));
        plugin.m_messageHandler.deliverDue();
    }

    // As the host's automation sets a parameter, in plain units.
    void hostSet (AutomationParameterIndex index, float value)
    {
        auto* parameter = plugin.GetParameter (index);
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
    }

    float value (AutomationParameterIndex index) const
    {
        auto* parameter = plugin.GetParameter (index);
        return parameter->convertFrom0to1 (parameter->getValue());
    }

    static void pump (int ms) { juce::MessageManager::getInstance()->runDispatchLoopUntil (ms); }

    CPlugin plugin;
    std::unique_ptr<CPluginEditor> editor;
};

struct Probe
{
    int x, y;
    juce::Colour colour;
};

// `text` typed over all of a box, as keys or a paste arrive.
void TypeOver (juce::TextEditor& box, const juce::String& text)
{
    box.setHighlightedRegion ({ 0, box.getTotalNumChars() });
    box.insertTextAtCaret (text);
}

// The framework's value box under a knob or the layer box, opened, and `text` typed over all of it.
juce::Label& TypeInto (juce::Slider& slider, const juce::String& text)
{
    auto* box = dynamic_cast<juce::Label*> (slider.getChildComponent (0));
    box->showEditor();
    TypeOver (*box->getCurrentTextEditor(), text);
    return *box;
}

// A drag across a linear slider, `dx` pixels along it from its middle, as the pointer moves
// once; its value reaches the listeners asynchronously, as the framework delivers it.
void DragAlong (juce::Slider& slider, float dx, bool press = true)
{
    const juce::Point<float> middle (slider.getWidth() / 2.0f, 30.0f);
    if (press)
        slider.mouseDown (test::MouseAt (slider, middle.x, middle.y, middle));
    slider.mouseDrag (test::MouseAt (slider, middle.x + dx, middle.y, middle, 1, true));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
}

// Return in an open value box, as the framework delivers it.
void PressReturn (juce::Label& box)
{
    ASSERT_NE (box.getCurrentTextEditor(), nullptr) << "the box was closed";
    box.getCurrentTextEditor()->keyPressed (juce::KeyPress (juce::KeyPress::returnKey));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (20);
}

// The pad's ball centre in window pixels for a position, as the pad places it.
juce::Point<int> Ball (float x, float y)
{
    return { 60 + juce::roundToInt (x * 216.0f + 22.0f), 86 + juce::roundToInt ((1.0f - y) * 216.0f + 22.0f) };
}

TEST (EditorWindow, SnapshotShowsEveryPanelAndControlAtItsPlace)
{
    using namespace colours;
    const std::vector<Probe> always {
        { 1, 200, background },    // window left of the panel
        { 390, 250, panel },       // the panel between the bars
        { 381, 250, background },  // the bars
        { 561, 250, background },
        { 22, 399, accent },       // the emblem's ball
        { 429, 141, knobBody },    // width knob body
        { 503, 147, knobBody },    // reverb knob body, beside its "dB"
        { 514, 327, knobBody },    // curve knob
        { 578, 397, toggleAccent },// layer "on"
        { 491, 215, toggleAccent },// reverb "on"
        { 471, 25, toggleAccent },  // OSC on, as a new instance starts
        { 80, 106, background },   // the pad
        { 190, 100, box },         // the pad's vertical cross line
    };

    struct Case
    {
        const char* name;
        std::function<void (Window&)> change;
        std::vector<Probe> probes;
    };

    const auto ball = Ball (0.2f, 0.8f);
    const std::vector<Case> cases {
        { "default", [] (Window&) {},
          { { 190, 204, accent }, { 175, 376, thumb }, { 30, 296, groove }, { 121, 25, knobBody }, { 429, 327, panel } } },
        { "pair on", [] (Window& w) { w.hostSet (kParam_pair_on, 1); w.hostSet (kParam_x2, 0.9f); },
          { { 121, 25, toggleAccent }, { 429, 327, knobBody }, { Ball (0.9f, 0.5f).x, 204, accent }, { 190, 216 - 18, ballRing } } },
        { "ball 2 current", [] (Window& w) { w.hostSet (kParam_pair_on, 1); w.hostSet (kParam_x2, 0.9f); w.plugin.m_grabbedBall = 2; },
          { { Ball (0.9f, 0.5f).x, 216 - 18, ballRing }, { 190 + 13, 216 - 13, background } } },
        { "spherical", [] (Window& w) { w.hostSet (kParam_coord_mode, 1); },
          { { 30, 296, thumb }, { 175, 376, groove } } },
        { "moved object", [] (Window& w) { w.hostSet (kParam_x, 0.2f); w.hostSet (kParam_y, 0.8f); },
          { { ball.x, ball.y - 12, accent }, { 198, 208, background }, { 130, 376, thumb }, { 175, 376, groove } } },
    };

    for (const auto& c : cases)
    {
        Window w;
        c.change (w);
        w.refresh();
        const auto image = test::Snapshot (*w.editor, CPluginEditor::kWidth, CPluginEditor::kHeight,
                                           juce::String ("window-") + juce::String (c.name).replaceCharacter (' ', '-'));

        auto probes = always;
        probes.insert (probes.end(), c.probes.begin(), c.probes.end());
        for (const auto& p : probes)
            EXPECT_TRUE (test::ShowsColour (image, { p.x, p.y }, p.colour))
                << c.name << " at " << p.x << "," << p.y << ": " << image.getPixelAt (p.x, p.y).toDisplayString (true);
    }
}

TEST (EditorWindow, OpeningWritesNothing)
{
    CPlugin plugin;
    const std::vector<std::pair<AutomationParameterIndex, float>> values {
        { kParam_x, 0.503f }, { kParam_layer_level, -10.37f }, { kParam_width, 0.555f }, { kParam_space, 3 }, { kParam_coord_mode, 1 },
    };
    for (const auto& [index, v] : values)
        plugin.SetParameterValue (kSource_controller, index, v);

    test::HostRecorder host (plugin);
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (plugin.createEditorIfNeeded());
        Window::pump (150);   // every asynchronous notification and a few refreshes
        plugin.editorBeingDeleted (editor.get());
    }

    EXPECT_TRUE (host.values.empty());
    EXPECT_TRUE (host.gestures.empty());
}

// Refreshes until the window drops to its idle rate; how many it took.
int RefreshesUntilIdle (Window& w)
{
    for (int n = 1; n <= 40; ++n)
    {
        w.editor->UpdateGui (false);
        if (w.editor->GetRefreshInterval() == CPluginEditor::kIdleRefreshMs)
            return n;
    }
    return -1;
}

// Counts what the window would repaint: every invalidated area reaches the top component.
struct RepaintCounter : juce::CachedComponentImage
{
    void paint (juce::Graphics&) override {}
    bool invalidateAll() override { areas.add ({ 0, 0, CPluginEditor::kWidth, CPluginEditor::kHeight }); return true; }
    bool invalidate (const juce::Rectangle<int>& area) override { areas.add (area); return true; }
    void releaseResources() override {}
    juce::RectangleList<int> areas;
};

TEST (EditorWindow, RefreshRunsFastWhileChangesArriveAndIdlesAfterSixteenQuietOnes)
{
    Window w;
    EXPECT_EQ (w.editor->GetRefreshInterval(), CPluginEditor::kFastRefreshMs);
    EXPECT_EQ (RefreshesUntilIdle (w), CPluginEditor::kIdleRefreshes);

    auto* counter = new RepaintCounter();
    w.editor->setVisible (true);
    w.editor->setCachedComponentImage (counter);
    counter->areas.clear();
    w.editor->UpdateGui (false);
    EXPECT_TRUE (counter->areas.isEmpty()) << "an idle refresh repaints nothing";

    // Every kind of change wakes the refresh once; none keeps it busy.
    const std::vector<std::pair<const char*, std::function<void()>>> changes {
        { "host moves the object", [&] { w.hostSet (kParam_x, 0.25f); } },
        { "link state", [&] { w.plugin.m_messageHandler.setParameterChanged (kSource_controller, kChange_connection_state); } },
        { "snapshot number", [&] { w.hostSet (kParam_snapshot_num, 7); } },
        { "OSC toggle click", [&] { w.editor->m_oscButton->setToggleState (! w.editor->m_oscButton->getToggleState(), juce::sendNotificationSync); } },
        { "reverb toggle click", [&] { w.editor->m_reverbOnButton->setToggleState (false, juce::sendNotificationSync); } },
        { "address", [&] { CController::GetInstance()->SetIpAddress (kSource_controller, "127.0.0.3"); } },
    };

    for (const auto& [name, change] : changes)
    {
        change();
        w.settle();
        w.editor->UpdateGui (false);
        EXPECT_EQ (w.editor->GetRefreshInterval(), CPluginEditor::kFastRefreshMs) << name;
        EXPECT_EQ (RefreshesUntilIdle (w), CPluginEditor::kIdleRefreshes) << name;
    }

    // A moved object repaints the pad and its sliders, not the whole window.
    counter->areas.clear();
    w.hostSet (kParam_x, 0.75f);
    w.refresh();
    EXPECT_FALSE (counter->areas.isEmpty());
    EXPECT_FALSE (counter->areas.containsRectangle ({ 0, 0, CPluginEditor::kWidth, CPluginEditor::kHeight }));
    w.editor->setCachedComponentImage (nullptr);
}

TEST (EditorWindow, HostAndRendererChangesOfTogglesAndListsReachTheWindow)
{
    struct Case { AutomationParameterIndex index; float value; std::function<bool (CPluginEditor&)> shown; };
    const std::vector<Case> cases {
        { kParam_reverb_on, 0, [] (CPluginEditor& e) { return ! e.m_reverbOnButton->getToggleState(); } },
        { kParam_osc_on, 0, [] (CPluginEditor& e) { return ! e.m_oscButton->getToggleState(); } },
        { kParam_pair_on, 1, [] (CPluginEditor& e) { return e.m_pairButton->getToggleState() && e.m_pairSpreadKnob->isVisible(); } },
        { kParam_space, 2, [] (CPluginEditor& e) { return e.m_spaceCombo->getSelectedId() == 3; } },
        { kParam_coord_mode, 1, [] (CPluginEditor& e) { return e.m_coordCombo->getSelectedId() == 2 && e.m_azimSlider->isVisible(); } },
        { kParam_render_mode, 2, [] (CPluginEditor& e) { return e.m_renderCombo->getSelectedId() == 3; } },
    };

    for (auto source : { kSource_host, kSource_controller })
        for (const auto& c : cases)
        {
            Window w;
            if (source == kSource_host)
                w.hostSet (c.index, c.value);
            else
                w.plugin.SetParameterValue (source, c.index, c.value);
            w.refresh();
            EXPECT_TRUE (c.shown (*w.editor)) << "parameter " << c.index << " from source " << source;
        }
}

TEST (EditorWindow, SphericalSlidersConvertBothWays)
{
    struct Case { float azim, elev, dist, x, y, z; };
    const std::vector<Case> cases {
        { 0, 0, 1, 0.5f, 1.0f, 0.5f },
        { 90, 0, 1, 1.0f, 0.5f, 0.5f },
        { -90, 0, 1, 0.0f, 0.5f, 0.5f },
        { 0, 90, 1, 0.5f, 0.5f, 1.0f },
        { 180, 0, 0.5f, 0.5f, 0.25f, 0.5f },
    };

    Window w;
    w.hostSet (kParam_coord_mode, 1);
    w.refresh();
    auto& e = *w.editor;

    for (const auto& c : cases)
    {
        e.m_azimSlider->setValue (c.azim, juce::dontSendNotification);
        e.m_elevSlider->setValue (c.elev, juce::dontSendNotification);
        e.m_distSlider->setValue (c.dist, juce::dontSendNotification);
        e.sliderValueChanged (e.m_distSlider.get());
        EXPECT_NEAR (w.value (kParam_x), c.x, 0.002f) << c.azim << "/" << c.elev;
        EXPECT_NEAR (w.value (kParam_y), c.y, 0.002f) << c.azim << "/" << c.elev;
        EXPECT_NEAR (w.value (kParam_z), c.z, 0.002f) << c.azim << "/" << c.elev;

        // The refresh shows the same place again.
        e.m_azimSlider->setValue (33, juce::dontSendNotification);
        w.refresh();
        EXPECT_NEAR (e.m_distSlider->getValue(), c.dist, 0.011);
        EXPECT_NEAR (e.m_elevSlider->getValue(), c.elev, 0.51);
        if (c.elev < 90)
            EXPECT_NEAR (std::abs (e.m_azimSlider->getValue()), std::abs (c.azim), 0.51);

        // The same place set by the host, which the window has never written.
        Window h;
        for (const auto& [index, v] : { std::pair { kParam_coord_mode, 1.0f }, { kParam_x, c.x }, { kParam_y, c.y }, { kParam_z, c.z } })
            h.hostSet (index, v);
        h.refresh();
        const auto shown = std::array { h.editor->m_azimSlider->getValue(), h.editor->m_elevSlider->getValue(), h.editor->m_distSlider->getValue() };
        EXPECT_NEAR (shown[2], c.dist, 0.011) << c.azim << "/" << c.elev;
        EXPECT_NEAR (shown[1], c.elev, 0.51) << c.azim << "/" << c.elev;
        EXPECT_TRUE (c.elev == 90 || std::abs (shown[0] - c.azim) < 0.51) << c.azim << "/" << c.elev;
    }
}

TEST (EditorWindow, FaultsOfTheEventsStayMended)
{
    {
        // Switching to spherical shows the current place at once: a touch moves nothing.
        Window w;
        w.hostSet (kParam_x, 1.0f);
        w.refresh();
        w.editor->m_coordCombo->setSelectedId (2, juce::sendNotificationSync);
        EXPECT_NEAR (w.editor->m_azimSlider->getValue(), 90.0, 0.01);
        EXPECT_NEAR (w.editor->m_distSlider->getValue(), 1.0, 0.01);
        w.editor->sliderValueChanged (w.editor->m_azimSlider.get());
        EXPECT_NEAR (w.value (kParam_x), 1.0f, 0.002f);
        EXPECT_NEAR (w.value (kParam_y), 0.5f, 0.002f);
    }
    {
        // A position outside the unit sphere (a pad corner): a touch of the azimuth moves nothing,
        // and the elevation turns it at its own distance, not at the distance slider's 1.
        Window w;
        w.hostSet (kParam_x, 1.0f);
        w.hostSet (kParam_y, 1.0f);
        w.hostSet (kParam_coord_mode, 1);
        w.refresh();
        auto& e = *w.editor;
        e.sliderValueChanged (e.m_azimSlider.get());
        EXPECT_EQ (w.value (kParam_x) + w.value (kParam_y), 2.0f);
        e.m_elevSlider->setValue (-30.0, juce::sendNotificationSync);
        EXPECT_NEAR (w.value (kParam_x) + w.value (kParam_y), 2 * 0.933f, 0.005f);
        EXPECT_NEAR (w.value (kParam_z), 0.146f, 0.003f);
    }
    {
        // The spread knob hidden mid-drag (pair off) ends its gesture; the automatic ones work again.
        Window w;
        test::HostRecorder host (w.plugin);
        w.hostSet (kParam_pair_on, 1);
        w.refresh();
        auto& knob = *w.editor->m_pairSpreadKnob;
        knob.mouseDown (test::MouseAt (knob, 29, 29, { 29, 29 }));
        w.hostSet (kParam_pair_on, 0);
        w.refresh();
        knob.mouseUp (test::MouseAt (knob, 29, 29, { 29, 29 }));
        EXPECT_EQ (host.count (kParam_pair_spread, false), 1);
        EXPECT_FALSE (w.plugin.m_pairSpread->m_userGesture);
    }
    {
        // A slider drag while the pad holds the same parameter's gesture leaves it to the pad.
        Window w;
        test::HostRecorder host (w.plugin);
        auto& pad = *w.editor->m_surface;
        const auto ball = Ball (0.5f, 0.5f).toFloat() - juce::Point<float> (60, 86);
        pad.mouseDown (test::MouseAt (pad, ball.x, ball.y, ball));
        w.editor->sliderDragStarted (w.editor->m_xSlider.get());
        w.editor->sliderDragEnded (w.editor->m_xSlider.get());
        EXPECT_EQ (host.count (kParam_x, false), 0);
        pad.mouseUp (test::MouseAt (pad, ball.x, ball.y, ball, 1, true));
        EXPECT_EQ (host.count (kParam_x, false), 1);
    }
    {
        // Pair off with ball 2 current: the sliders edit the main object again, which is sent again.
        Window w;
        w.editor->m_pairButton->setToggleState (true, juce::sendNotificationSync);
        w.plugin.m_grabbedBall = 2;
        w.hostSet (kParam_x, 0.2f);
        w.hostSet (kParam_x2, 0.9f);
        test::clearSets (w.plugin.m_messageHandler);
        w.editor->m_pairButton->setToggleState (false, juce::sendNotificationSync);
        EXPECT_EQ (w.plugin.m_grabbedBall, 1);
        EXPECT_NEAR (w.editor->m_xSlider->getValue(), 0.2, 0.006);
        w.settle();
        EXPECT_TRUE (w.plugin.m_messageHandler.isChanged (kSource_controller, kChange_position));
    }
    {
        // Outside the unit sphere the distance slider's travel spans the whole distance: half
        // way down puts a corner position half way to the centre.
        Window w;
        for (const auto& [index, v] : { std::pair { kParam_x, 1.0f }, { kParam_y, 1.0f }, { kParam_coord_mode, 1.0f } })
            w.hostSet (index, v);
        w.refresh();
        w.editor->m_distSlider->setValue (0.5, juce::sendNotificationSync);
        EXPECT_NEAR (w.value (kParam_x), 0.75f, 0.005f);
        EXPECT_NEAR (w.value (kParam_y), 0.75f, 0.005f);
    }
    {
        // A spherical slider dragged away and back before a refresh: the value it is back at.
        Window w;
        w.hostSet (kParam_x, 1.0f);
        w.hostSet (kParam_coord_mode, 1);
        w.refresh();
        DragAlong (*w.editor->m_azimSlider, -40.0f);
        EXPECT_LT (w.value (kParam_x), 0.95f);
        DragAlong (*w.editor->m_azimSlider, 0.0f, false);
        EXPECT_NEAR (w.value (kParam_x), 1.0f, 0.002f);
        EXPECT_NEAR (w.value (kParam_y), 0.5f, 0.002f);
    }
    {
        // A window opened while ball 2 is current opens on it.
        Window w ([] (Window& o) { o.hostSet (kParam_pair_on, 1); o.hostSet (kParam_x2, 0.9f); o.plugin.m_grabbedBall = 2; });
        EXPECT_NEAR (w.editor->m_xSlider->getValue(), 0.9, 0.006);
        EXPECT_EQ (w.editor->m_surface->m_lastGrabbed, 2);
    }
    {
        // The port captions let clicks through to the address box below them.
        Window w;
        w.editor->setVisible (true);
        auto* hit = w.editor->getComponentAt (300, 25);
        EXPECT_TRUE (hit == w.editor->m_ipEditor.get() || w.editor->m_ipEditor->isParentOf (hit))
            << (hit != nullptr ? hit->getName() : juce::String ("nothing"));
    }
}

TEST (EditorWindow, AChangeBetweenTwoEventsNeverMovesTheOtherBall)
{
    // Pair on with ball 2 being dragged; the host switches pair off and the drag's next motion
    // comes before the refresh. (A press on ball 2 after pair off: the pad's own table.)
    const auto pairedWindow = [] (Window& w, int coordMode)
    {
        for (const auto& [index, v] : { std::pair { kParam_coord_mode, static_cast<float> (coordMode) }, { kParam_x, 0.2f },
                                        { kParam_y, 0.8f }, { kParam_pair_on, 1.0f }, { kParam_x2, 0.7f }, { kParam_z2, 0.9f } })
            w.hostSet (index, v);
        w.refresh();
    };
    const auto ball1Kept = [] (Window& w, const char* what)
    {
        EXPECT_EQ (w.plugin.m_grabbedBall, 1) << what;
        EXPECT_EQ ((std::array { w.value (kParam_x), w.value (kParam_y), w.value (kParam_z) }), (std::array { 0.2f, 0.8f, 0.5f })) << what;
    };
    const auto ball2 = Ball (0.7f, 0.5f).toFloat() - juce::Point<float> (60, 86);

    {
        Window w;
        pairedWindow (w, 0);
        test::HostRecorder host (w.plugin);
        auto& pad = *w.editor->m_surface;
        pad.mouseDown (test::MouseAt (pad, ball2.x, ball2.y, ball2));
        w.hostSet (kParam_pair_on, 0);
        pad.mouseDrag (test::MouseAt (pad, 40, 40, ball2, 1, true));
        ball1Kept (w, "pad drag of ball 2");
        EXPECT_NEAR (w.value (kParam_x2), 0.7f, 0.006f);
        EXPECT_EQ (host.count (kParam_x2, false), 1) << "the drag's gesture ends";
        pad.mouseUp (test::MouseAt (pad, 40, 40, ball2, 1, true));
    }

    struct Case { const char* what; int coordMode; std::function<CSlider& (CPluginEditor&)> slider; };
    const Case cases[] {
        { "x slider", 0, [] (CPluginEditor& e) -> CSlider& { return *e.m_xSlider; } },
        { "azimuth slider", 1, [] (CPluginEditor& e) -> CSlider& { return *e.m_azimSlider; } },
    };
    const auto ball2Of = [] (Window& w) { return std::array { w.value (kParam_x2), w.value (kParam_y2), w.value (kParam_z2) }; };
    for (const auto& c : cases)
        for (const bool refreshBetween : { false, true })
        {
            Window w;
            pairedWindow (w, c.coordMode);
            w.plugin.m_grabbedBall = 2;
            w.refresh();
            auto& slider = c.slider (*w.editor);
            const auto before = slider.getValue();
            DragAlong (slider, 20.0f);
            const auto travel = slider.getValue() - before;
            const auto ball2 = ball2Of (w);
            EXPECT_NE (ball2[0], 0.7f) << c.what << ": ball 2 dragged";

            // The drag goes on after pair off: it writes nothing more.
            w.hostSet (kParam_pair_on, 0);
            for (const float dx : { 40.0f, 60.0f, 80.0f })
            {
                if (refreshBetween)
                    w.refresh();
                DragAlong (slider, dx, false);
            }
            ball1Kept (w, c.what);
            EXPECT_EQ (ball2Of (w), ball2) << c.what;
            for (auto index : { kParam_x, kParam_y, kParam_z, kParam_x2, kParam_y2, kParam_z2 })
                EXPECT_FALSE (dynamic_cast<CAudioParameterFloat*> (w.plugin.GetParameter (index))->m_userGesture) << c.what;

            // The sliders show ball 1 already, as showing it afresh does.
            const auto shown = slider.getValue();
            w.editor->setSlidersCartesianOrPolar();
            EXPECT_EQ (slider.getValue(), shown) << c.what;

            // A wheel step is an act of its own, on ball 1; the next press drags ball 1 by the
            // pointer's travel alone.
            slider.mouseWheelMove (test::MouseAt (slider, 10, 30, { 10, 30 }, 1, false, {}), { 0.0f, 0.5f, false, false, false });
            EXPECT_TRUE (w.value (kParam_x) != 0.2f || w.value (kParam_y) != 0.8f) << c.what;
            const auto wheeled = slider.getValue();
            DragAlong (slider, 20.0f);
            EXPECT_NEAR (slider.getValue() - wheeled, travel, 1e-9) << c.what;
            EXPECT_EQ (ball2Of (w), ball2) << c.what;
        }
}

TEST (EditorWindow, TypedObjectNumbersAndArrowsStayWithinOneTo128)
{
    struct Case { const char* text; const char* arrow; int expected; };
    const std::vector<Case> cases {
        { "7", "", 7 }, { "300", "", 128 }, { "0", "", 1 }, { "", "", 1 }, { "99999999999999999999", "", 128 },
        { "128", ">", 1 }, { "1", "<", 128 }, { "0", "<", 128 }, { "", ">", 1 }, { "5", ">", 6 }, { "127", ">", 128 }, { "2", "<", 1 },
        { "99999999999999999999", ">", 1 }, { "99999999999999999999", "<", 128 },
    };

    for (const auto& c : cases)
    {
        Window w;
        w.plugin.SetParameterValue (kSource_controller, kParam_object_number, c.expected == 64 ? 65.0f : 64.0f);
        w.refresh();
        auto& counter = *w.editor->m_objectCounter;
        counter.m_textBox.setText (c.text, false);

        if (juce::String (c.arrow).isEmpty())
            w.editor->textEditorFocusLost (counter.m_textBox);
        else
            (c.arrow[0] == '>' ? counter.m_upButton : counter.m_downButton).setToggleState (true, juce::sendNotificationSync);

        EXPECT_EQ (static_cast<int> (w.value (kParam_object_number)), c.expected) << c.text << " " << c.arrow;
        EXPECT_EQ (counter.m_textBox.getText(), juce::String (c.expected)) << c.text << " " << c.arrow;
        if (! juce::String (c.arrow).isEmpty())
            EXPECT_EQ (w.editor->m_surface->m_objectId, c.expected);
    }
}

TEST (EditorWindow, TypedAddressesFollowTheLinksRule)
{
    // Leading zeros are decimal, as the saved block and discovery read them; the box shows the
    // address the link then uses.
    const std::pair<const char*, const char*> cases[] = { { "127.000.000.010", "127.0.0.10" }, { "127.0.0.08", "127.0.0.8" },
                                                          { "127.0.0.256", "127.0.0.1" }, { "127.0.0", "127.0.0.1" } };
    for (const auto& [typed, used] : cases)
    {
        Window w;
        w.editor->m_ipEditor->setText (typed, false);
        w.editor->textEditorFocusLost (*w.editor->m_ipEditor);
        const auto* controller = CController::GetInstance();
        EXPECT_EQ (controller->m_ipAddress, used) << typed;
        EXPECT_EQ (w.editor->m_ipEditor->getText(), used) << typed;
    }
}

TEST (EditorWindow, TypedLevelsAreClampedAndKeepOneDecimal)
{
    // From a layer at -60 dB (fader at -78); a text that is no number changes nothing.
    struct Case { const char* text; double fader; float level; };
    const std::vector<Case> cases {
        { "-10", -27.0, -10.03f }, { "-10.5", -27.7, -10.48f }, { "-180", -84.0, -84.0f }, { "15", 12.0, 12.0f },
        { "abc", -78.0, -60.0f }, { "", -78.0, -60.0f }, { "-", -78.0, -60.0f }, { ".", -78.0, -60.0f }, { "1.2.3", -78.0, -60.0f },
    };

    for (const auto& c : cases)
    {
        Window w;
        w.plugin.SetParameterValue (kSource_controller, kParam_layer_level, -60.0f);
        w.refresh();
        test::HostRecorder host (w.plugin);
        w.editor->m_layerSliderDisplay->setText (c.text, false);
        w.editor->textEditorFocusLost (*w.editor->m_layerSliderDisplay);
        EXPECT_NEAR (w.editor->m_layerLevelSlider->getValue(), c.fader, 0.001) << c.text;
        Window::pump (60);
        EXPECT_NEAR (w.value (kParam_layer_level), c.level, 0.011f) << c.text;
        EXPECT_EQ (w.editor->m_layerSliderDisplay->getText(), juce::String (w.value (kParam_layer_level), 1)) << c.text;
        if (c.level == -60.0f)
            EXPECT_TRUE (host.values.empty()) << c.text;
    }
}

TEST (EditorWindow, KnobAndLayerBoxesCommitOnlyNumbers)
{
    struct Case { AutomationParameterIndex index; std::function<juce::Slider& (CPluginEditor&)> box; };
    const std::vector<Case> cases {
        { kParam_width, [] (CPluginEditor& e) -> juce::Slider& { return *e.m_widthKnob; } },
        { kParam_reverb_level, [] (CPluginEditor& e) -> juce::Slider& { return *e.m_reverbKnob; } },
        { kParam_layer_num, [] (CPluginEditor& e) -> juce::Slider& { return *e.m_layerNumSlider; } },
    };

    for (const auto& c : cases)
        for (const char* text : { "abc", "", "-", ".", "1.2.3" })
        {
            Window w;
            w.plugin.SetParameterValue (kSource_controller, c.index, 5.0f);
            w.refresh();
            const auto before = w.value (c.index);
            test::HostRecorder host (w.plugin);
            auto& slider = c.box (*w.editor);
            PressReturn (TypeInto (slider, text));
            EXPECT_EQ (w.value (c.index), before) << c.index << " '" << text << "'";
            EXPECT_TRUE (host.gestures.empty()) << c.index << " '" << text << "'";
            EXPECT_EQ (slider.getTextFromValue (before), slider.getTextFromValue (slider.getValue()));
        }
}

TEST (EditorWindow, ABoxLeftWithoutTypingWritesNothing)
{
    // The reverb's value box shows -37.46 dB as "-37.5". Keys that leave the text as it was shown
    // are no typing.
    const std::pair<const char*, std::function<void (juce::TextEditor&)>> touches[] {
        { "untouched", [] (juce::TextEditor&) {} },
        { "Backspace at the start", [] (juce::TextEditor& t) { t.setCaretPosition (0); t.keyPressed (juce::KeyPress (juce::KeyPress::backspaceKey)); } },
        { "a cut of nothing", [] (juce::TextEditor& t) { t.setCaretPosition (2); t.cut(); } },
    };
    const std::pair<const char*, std::function<void (juce::Label&)>> leaves[] {
        { "Return", [] (juce::Label& box) { PressReturn (box); } },
        { "a click elsewhere", [] (juce::Label& box) { static_cast<juce::Component&> (box).inputAttemptWhenModal(); } },
        { "the focus leaving", [] (juce::Label& box)
          { box.getCurrentTextEditor()->focusLost (juce::Component::focusChangedDirectly); Window::pump (20); } },
    };

    for (const auto& [touched, touch] : touches)
        for (const auto& [left, leave] : leaves)
        {
            Window w;
            w.plugin.SetParameterValue (kSource_controller, kParam_reverb_level, -37.46f);
            w.refresh();
            const auto level = w.value (kParam_reverb_level);
            test::HostRecorder host (w.plugin);
            auto& box = *dynamic_cast<juce::Label*> (w.editor->m_reverbKnob->getChildComponent (0));
            box.showEditor();
            touch (*box.getCurrentTextEditor());
            leave (box);
            EXPECT_FALSE (box.isBeingEdited()) << touched << ", " << left;
            EXPECT_EQ (w.value (kParam_reverb_level), level) << touched << ", " << left;
            EXPECT_TRUE (host.values.empty() && host.gestures.empty()) << touched << ", " << left;
        }

    // The dB box refuses a letter, and a sixth character.
    for (const char key : { 'a', '1' })
    {
        Window w;
        w.plugin.SetParameterValue (kSource_controller, kParam_layer_level, -37.46f);
        w.refresh();
        const auto level = w.value (kParam_layer_level);
        test::HostRecorder host (w.plugin);
        auto& box = *w.editor->m_layerSliderDisplay;
        box.setCaretPosition (box.getTotalNumChars());
        box.keyPressed (juce::KeyPress (key, 0, static_cast<juce::juce_wchar> (key)));
        EXPECT_EQ (box.getText(), "-37.5") << key;
        w.editor->textEditorFocusLost (box);
        Window::pump (60);
        EXPECT_EQ (w.value (kParam_layer_level), level) << key;
        EXPECT_TRUE (host.values.empty() && host.gestures.empty()) << key;
    }
}

TEST (EditorWindow, RefreshLeavesEditedBoxesAloneAndCommitsThem)
{
    {
        // A knob's value box being typed in while the renderer moves the knob.
        Window w;
        auto& box = TypeInto (*w.editor->m_widthKnob, "1.5");
        w.plugin.SetParameterValue (kSource_controller, kParam_width, 0.3f);
        w.refresh();
        EXPECT_EQ (box.getText (true), "1.5");
        PressReturn (box);
        EXPECT_NEAR (w.value (kParam_width), 1.5f, 0.001f);
    }
    {
        // The dB box: typed text outlives a renderer's level and is committed; then it follows again.
        Window w;
        auto& box = *w.editor->m_layerSliderDisplay;
        TypeOver (box, "-20");
        w.plugin.SetParameterValue (kSource_controller, kParam_layer_level, -30.0f);
        w.refresh();
        EXPECT_EQ (box.getText(), "-20");
        w.editor->textEditorFocusLost (box);
        EXPECT_NEAR (w.value (kParam_layer_level), -20.0f, 0.05f);
        w.plugin.SetParameterValue (kSource_controller, kParam_layer_level, -40.0f);
        w.refresh();
        EXPECT_EQ (box.getText(), "-40.0");
    }
    {
        // A value retyped as the box showed it, while the renderer changes the value before the
        // refresh, or the refresh comes between the typing and Return: what was typed is written.
        struct Case { AutomationParameterIndex index; float typed, arriving; std::function<juce::Slider& (CPluginEditor&)> box; };
        const Case cases[] {
            { kParam_width, 0.5f, 1.5f, [] (CPluginEditor& e) -> juce::Slider& { return *e.m_widthKnob; } },
            { kParam_reverb_level, -37.5f, -20.0f, [] (CPluginEditor& e) -> juce::Slider& { return *e.m_reverbKnob; } },
            { kParam_curve_pos, 0.25f, 0.75f, [] (CPluginEditor& e) -> juce::Slider& { return *e.m_curvePosKnob; } },
            { kParam_pair_spread, 0.5f, 1.5f, [] (CPluginEditor& e) -> juce::Slider& { return *e.m_pairSpreadKnob; } },
            { kParam_layer_num, 5.0f, 9.0f, [] (CPluginEditor& e) -> juce::Slider& { return *e.m_layerNumSlider; } },
        };
        // With nothing arriving, the instance holds the value already: no gesture.
        enum Arrival { none, beforeReturn, refreshedBeforeReturn };
        for (const auto& c : cases)
            for (const auto arrival : { none, beforeReturn, refreshedBeforeReturn })
            {
                Window w;
                w.hostSet (kParam_pair_on, 1);
                w.plugin.SetParameterValue (kSource_controller, c.index, c.typed);
                w.refresh();
                test::HostRecorder host (w.plugin);
                auto& slider = c.box (*w.editor);
                auto& box = TypeInto (slider, slider.getTextFromValue (c.typed));
                if (arrival != none)
                    w.plugin.SetParameterValue (kSource_controller, c.index, c.arriving);
                if (arrival == refreshedBeforeReturn)
                    w.refresh();
                PressReturn (box);
                EXPECT_EQ (w.value (c.index), c.typed) << c.index << " arrival " << arrival;
                // The write is the user's gesture, closed at once (an automatic one stays open).
                EXPECT_EQ (host.count (c.index, false), arrival == none ? 0 : 1) << c.index << " arrival " << arrival;
                EXPECT_TRUE (arrival != none || host.gestures.empty()) << c.index;
            }
    }
    {
        // The dB box retyped at the fader's top while a reply lowers the level, before any
        // refresh: the fader, still at the top, must not swallow it.
        Window w;
        w.hostSet (kParam_layer_level, 12.0f);
        w.refresh();
        auto& box = *w.editor->m_layerSliderDisplay;
        TypeOver (box, "12");
        w.plugin.SetParameterValue (kSource_controller, kParam_layer_level, 0.0f);
        w.editor->textEditorFocusLost (box);
        EXPECT_EQ (w.value (kParam_layer_level), 12.0f);
    }
    {
        // A value box opened but not typed in stays open through a refresh, with the new value.
        Window w;
        auto* box = dynamic_cast<juce::Label*> (w.editor->m_widthKnob->getChildComponent (0));
        box->showEditor();
        w.plugin.SetParameterValue (kSource_controller, kParam_width, 0.3f);
        w.refresh();
        ASSERT_NE (box->getCurrentTextEditor(), nullptr);
        EXPECT_EQ (box->getCurrentTextEditor()->getText(), "0.30");
    }
    {
        // The dB box clicked into follows the host; all of it selected stays so, and the next keys
        // replace it. Retyped as it stood when a change arrives, it keeps what was typed.
        Window w;
        auto& box = *w.editor->m_layerSliderDisplay;
        box.setCaretPosition (2);
        w.hostSet (kParam_layer_level, -40.0f);
        w.refresh();
        EXPECT_EQ (box.getText(), "-40.0");
        box.setHighlightedRegion ({ 0, box.getTotalNumChars() });
        w.hostSet (kParam_layer_level, -30.0f);
        w.refresh();
        box.insertTextAtCaret ("-5");
        EXPECT_EQ (box.getText(), "-5");

        TypeOver (box, "-30.0");
        w.hostSet (kParam_layer_level, -20.0f);
        w.refresh();
        EXPECT_EQ (box.getText(), "-30.0");
        w.editor->textEditorFocusLost (box);
        EXPECT_NEAR (w.value (kParam_layer_level), -30.0f, 0.05f);
    }
    {
        // The address box keeps what is typed while a search ends.
        Window w;
        w.editor->m_ipEditor->setText ("127.0.0.9", false);
        CController::GetInstance()->SetIpAddress (kSource_controller, "127.0.0.3");
        w.refresh();
        EXPECT_EQ (w.editor->m_ipEditor->getText(), "127.0.0.9");
    }
}

TEST (EditorWindow, ClosingMidDragEndsEveryGestureItOpened)
{
    Window w;
    test::HostRecorder host (w.plugin);
    auto& knob = *w.editor->m_widthKnob;
    knob.mouseDown (test::MouseAt (knob, 29, 29, { 29, 29 }));
    test::PressDrag (*w.editor->m_surface, Ball (0.5f, 0.5f).toFloat() - juce::Point<float> (60, 86),
                     { 200, 40 }, false);
    w.close();

    for (auto index : { kParam_width, kParam_x, kParam_y })
    {
        EXPECT_EQ (host.count (index, true), 1) << index;
        EXPECT_EQ (host.count (index, false), 1) << index;
    }
}

} // namespace
} // namespace varnholt
