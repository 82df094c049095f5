#pragma once

#include "editor/Controls.h"
#include "editor/Knobs.h"
#include "editor/Sliders.h"
#include "editor/SurfaceSlider.h"
#include "processor/Globals.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdint>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace varnholt
{

class CPlugin;

// The plug-in's window, 650 x 420: the position pad with its x, y, z (or azimuth, elevation,
// distance) sliders, the level fader with its dB box, the knobs, toggles, lists, the object counter
// and the renderer's address. It edits one instance through the processor's parameters and follows
// the instance's changes with a refresh every 33 ms, 118 ms when nothing has changed for a while.
// Everything here runs on the message thread.
class CPluginEditor : public juce::AudioProcessorEditor,
                      public juce::TextEditor::Listener,
                      public juce::Slider::Listener,
                      public juce::ComboBox::Listener,
                      public juce::Button::Listener,
                      public BoxLookAndFeel,
                      private juce::Timer
{
public:
    explicit CPluginEditor (CPlugin& processor);
    ~CPluginEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    void sliderValueChanged (juce::Slider* slider) override;
    void sliderDragStarted (juce::Slider* slider) override;
    void sliderDragEnded (juce::Slider* slider) override;
    void textEditorFocusLost (juce::TextEditor& box) override;
    void textEditorReturnKeyPressed (juce::TextEditor& box) override;
    void buttonClicked (juce::Button* button) override;
    void buttonStateChanged (juce::Button* button) override;
    void comboBoxChanged (juce::ComboBox* box) override;

    // Takes the instance's pending changes into the controls; `force` refreshes every control.
    void UpdateGui (bool force);

    // Shows and listens to the position sliders of the selected coordinate mode, already showing
    // the current position.
    void setSlidersCartesianOrPolar();

    // The parameter a slider drives, or kParam_count.
    int GetParameterIndexForSlider (const CSlider* slider) const;

    // The refresh period in milliseconds.
    int GetRefreshInterval() const { return getTimerInterval(); }

    static constexpr int kWidth = 650;
    static constexpr int kHeight = 420;
    static constexpr int kFastRefreshMs = 33;
    static constexpr int kIdleRefreshMs = 118;
    static constexpr int kIdleRefreshes = 16;   // the slow rate begins on this refresh without a change

    // The size of the next editor to open; shared by every editor of the process.
    static int32_t m_pluginWindowSize[2];

    std::unique_ptr<CSlider> m_xSlider;
    std::unique_ptr<CSlider> m_ySlider;
    std::unique_ptr<CSlider> m_zSlider;
    std::unique_ptr<DbSlider2> m_layerLevelSlider;
    std::unique_ptr<CTextEditorDb> m_layerSliderDisplay;
    std::unique_ptr<CButton> m_layerOnButton;
    std::unique_ptr<CBoxSlider> m_layerNumSlider;
    std::unique_ptr<CKnob> m_widthKnob;
    std::unique_ptr<CDbKnob> m_reverbKnob;
    std::unique_ptr<CKnob> m_curvePosKnob;
    std::unique_ptr<CLabel> m_widthLabel;
    std::unique_ptr<CLabel> m_reverbLabel;
    std::unique_ptr<CLabel> m_curvePosLabel;
    std::unique_ptr<CLabel> m_objectLabel;
    std::unique_ptr<CLabel> m_ipLabel;
    std::unique_ptr<CLabel> m_portOutLabel;
    std::unique_ptr<CLabel> m_portInLabel;
    std::unique_ptr<CDigital> m_objectCounter;
    std::unique_ptr<CTextEditor> m_ipEditor;
    std::unique_ptr<CButton> m_reverbOnButton;
    std::unique_ptr<CButton> m_oscButton;
    std::unique_ptr<CButton> m_pairButton;
    int32_t m_shownObjectNumber = 0;
    std::unique_ptr<CSurfaceSlider> m_surface;
    int32_t m_idleCount = 0;
    std::unique_ptr<CComboBox> m_spaceCombo;
    std::unique_ptr<CKnob> m_pairSpreadKnob;
    std::unique_ptr<CLabel> m_pairSpreadLabel;
    std::unique_ptr<CComboBox> m_coordCombo;
    std::unique_ptr<CComboBox> m_renderCombo;
    std::unique_ptr<CSlider> m_azimSlider;
    std::unique_ptr<CSlider> m_elevSlider;
    std::unique_ptr<CSlider> m_distSlider;
    int32_t m_margin = 10;
    int32_t m_padSize = 260;
    float m_lastElevation = 0.0f;
    float m_halfPi = juce::MathConstants<float>::halfPi;

private:
    void timerCallback() override;

    CPlugin& Plugin() const;

    // Construction steps.
    void BuildControls();
    void ConfigureSlider (CSlider& slider, juce::NormalisableRange<double> range, double initialValue, juce::Slider::SliderStyle style,
                          juce::Slider::TextEntryBoxPosition textBox, int textBoxWidth, int textBoxHeight, int decimals,
                          double doubleClickValue, bool listened, bool shown);
    void ConfigureCombo (CComboBox& box, const juce::String& name, std::initializer_list<const char*> items);
    void AddButton (std::unique_ptr<CButton>& member, const juce::String& name);

    // The position of the current ball into the shown position sliders, without notification.
    void ShowPosition();

    // The pad, the sliders and the spread knob for pair on or off.
    void ApplyPairMode (bool on);

    void ShowPairSpread (bool shown);

    // A box's text, or a knob's or the layer box's value, as the refresh sets it: held back while
    // the user has edited the box since the window last wrote it, and set at a later refresh.
    void RefreshText (juce::TextEditor& box, const juce::String& text);
    void RefreshSlider (juce::Slider& slider, double value);
    bool HeldBack (const juce::Component& control) const { return m_heldBack.count (&control) != 0; }
    static void SetShownText (juce::TextEditor& box, const juce::String& text);
    static bool EditedSinceShown (const juce::TextEditor& box);

    // Ends the host gestures that drags on this control opened: a control hidden or disabled
    // mid-drag never reports the drag's end to the window.
    void EndGesturesOf (const juce::Component& control);

    // The spherical sliders into the position of the ball they show: the slider that notified,
    // and each other one that the user moved from what the window showed, give their values; the
    // others keep the exact place.
    void WriteSphericalPosition (const juce::Slider& notified);

    // A number committed in a knob's or the layer box's value box that the slider already held:
    // written unless the instance holds it, within a gesture as a changed one is.
    void CommitUnchangedBox (CSlider& slider);

    void CommitObjectNumber (int32_t number);
    void CommitIpAddress();
    void CommitLevelText();
    void StepObjectNumber (bool up);

    juce::String ControllerAddress() const;
    void SetOscOnState (bool on);

    void DetachFromControls();

    // The host gestures that this window's sliders opened and have not closed yet.
    std::vector<std::pair<const juce::Slider*, AutomationParameterIndex>> m_openGestures;

    // The controls whose refresh waits for the user's edit to be committed or left.
    std::set<const juce::Component*> m_heldBack;

    // The current ball's place in spherical terms, exact: the sliders show it rounded to their
    // steps, and the distance slider clamped to 0..1. Outside the unit sphere the distance slider's
    // travel spans the whole distance (m_distanceScale).
    struct Sphere
    {
        float azimuth = 0.0f;
        float elevation = 0.0f;
        float distance = 0.0f;
    };
    Sphere m_sphere;
    Sphere m_sphereShown;   // the sliders' values as the window last set them
    float m_distanceScale = 1.0f;

    // The ball whose position the position sliders show: the instance's current ball as of the
    // last ShowPosition.
    int m_shownBall = 1;

    // The ball that the position sliders' latest drag began on: the ball they showed at its press
    // or at the framework's drag start (a wheel step, a double-click). 0 once that ball stopped
    // being the instance's current one: the drag writes nothing more until the next press.
    int m_dragBall = 1;

    bool IsPositionSlider (const juce::Slider* slider) const;

    // The position that the spherical sliders wrote last, as the parameters took it: its refresh
    // keeps the exact place instead of deriving it again from the clamped position.
    struct WrittenPosition
    {
        int ball = 0;
        float x = 0.0f, y = 0.0f, z = 0.0f;
    };
    WrittenPosition m_sphereWritten;

    // Hears of every slider being hidden or disabled.
    struct GestureWatcher : juce::ComponentListener
    {
        explicit GestureWatcher (CPluginEditor& e) : editor (e) {}
        void componentVisibilityChanged (juce::Component& c) override;
        void componentEnablementChanged (juce::Component& c) override;
        CPluginEditor& editor;
    };
    GestureWatcher m_gestureWatcher { *this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CPluginEditor)
};

} // namespace varnholt
