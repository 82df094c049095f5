// The window's behaviour: what each control writes when the user moves it, and the refresh that
// takes the instance's changes back into the controls. Message thread only.

#include "editor/PluginEditor.h"

#include "link/Controller.h"
#include "processor/PluginProcessor.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace varnholt
{

namespace
{

constexpr int kMinObject = 1;
constexpr int kMaxObject = 128;
constexpr float kMinDb = -84.0f;
constexpr float kMaxDb = 12.0f;

// The key under which a text box remembers the text the window last put into it.
const juce::Identifier kShownText { "shownText" };

// The types whose arrival in the editor's set makes a refresh count as busy.
const std::set<DataChangeType>& RefreshTypes()
{
    static const auto types = []
    {
        auto all = AutomationParameters;
        all.insert (PluginInstanceConfig.begin(), PluginInstanceConfig.end());
        all.insert (OscConfig.begin(), OscConfig.end());
        return all;
    }();
    return types;
}

// Types the window shows nowhere. Left in its set they would keep every refresh busy.
const std::set<DataChangeType> kUnshownTypes { kChange_ball, kChange_plugin_list, kChange_timer_interval,
                                               kChange_connection_state, kChange_instance_config, kChange_snapshot_num,
                                               kChange_master_level, kChange_master_on, kChange_snapshot_rewrite };

const std::set<DataChangeType>& AllTypes()
{
    static const auto types = []
    {
        std::set<DataChangeType> all;
        for (int t = 0; t < kNumChangeTypes; ++t)
            all.insert (static_cast<DataChangeType> (t));
        return all;
    }();
    return types;
}

// The leading decimal integer of a text, as atoi reads it, but saturating instead of overflowing;
// 0 when there is none.
int32_t LeadingInteger (const juce::String& text)
{
    auto p = text.getCharPointer();
    while (p.isWhitespace())
        ++p;

    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;

    constexpr int64_t limit = static_cast<int64_t> (std::numeric_limits<int32_t>::max()) + 1;
    int64_t n = 0;
    for (; p.isDigit(); ++p)
        n = std::min (limit, n * 10 + static_cast<int64_t> (*p - '0'));

    n = negative ? -n : std::min (n, limit - 1);
    return static_cast<int32_t> (n);
}

juce::String LevelText (float level)
{
    return juce::String (level, 1);
}

// The fader runs linearly; the level follows it on a square law.
double FaderOf (float level)
{
    const auto position = (static_cast<double> (level) + 84.0) / 96.0;
    return position * position * 96.0 - 84.0;
}

} // namespace

//==============================================================================
void CPluginEditor::sliderValueChanged (juce::Slider* slider)
{
    auto& p = Plugin();
    const bool cartesian = slider == m_xSlider.get() || slider == m_ySlider.get() || slider == m_zSlider.get();
    const bool spherical = IsPositionSlider (slider) && ! cartesian;

    // A drag writes only to the ball it began on, and its values come from that ball's place.
    // Once the instance has made the other ball current (pair switched off by the host or the
    // renderer), the drag is over: it writes nothing more until the next press, and the sliders
    // show the current ball.
    if (IsPositionSlider (slider) && p.m_grabbedBall.load() != m_dragBall)
    {
        m_dragBall = 0;
        ShowPosition();
        m_surface->repaint();
        return;
    }

    if (cartesian)
    {
        const auto index = static_cast<AutomationParameterIndex> (GetParameterIndexForSlider (static_cast<const CSlider*> (slider)));
        p.SetParameterValue (kSource_editor, index, static_cast<float> (slider->getValue()));
    }
    else if (spherical)
    {
        WriteSphericalPosition (*slider);
    }
    else if (slider == m_layerLevelSlider.get())
    {
        const auto position = juce::jmax (0.0, (slider->getValue() + 84.0) / 96.0);
        const auto db = std::sqrt (position) * 96.0 - 84.0;
        SetShownText (*m_layerSliderDisplay, LevelText (static_cast<float> (db)));
        p.SetParameterValue (kSource_editor, kParam_layer_level, static_cast<float> (db));
    }
    else
    {
        const auto index = GetParameterIndexForSlider (dynamic_cast<const CSlider*> (slider));
        if (index != kParam_count)
            p.SetParameterValue (kSource_editor, static_cast<AutomationParameterIndex> (index), static_cast<float> (slider->getValue()));
    }
}

int CPluginEditor::GetParameterIndexForSlider (const CSlider* slider) const
{
    const bool second = m_shownBall == 2;
    const std::pair<const juce::Slider*, AutomationParameterIndex> drives[] {
        { m_xSlider.get(), second ? kParam_x2 : kParam_x },
        { m_ySlider.get(), second ? kParam_y2 : kParam_y },
        { m_zSlider.get(), second ? kParam_z2 : kParam_z },
        { m_layerLevelSlider.get(), kParam_layer_level },
        { m_layerNumSlider.get(), kParam_layer_num },
        { m_widthKnob.get(), kParam_width },
        { m_curvePosKnob.get(), kParam_curve_pos },
        { m_reverbKnob.get(), kParam_reverb_level },
        { m_pairSpreadKnob.get(), kParam_pair_spread },
    };

    for (const auto& [candidate, index] : drives)
        if (slider != nullptr && slider == candidate)
            return index;
    return kParam_count;
}

void CPluginEditor::CommitUnchangedBox (CSlider& slider)
{
    const auto index = GetParameterIndexForSlider (&slider);
    const auto* parameter = index != kParam_count ? Plugin().GetParameter (static_cast<AutomationParameterIndex> (index)) : nullptr;
    if (parameter == nullptr || parameter->convertFrom0to1 (parameter->getValue()) == static_cast<float> (slider.getValue()))
        return;

    sliderDragStarted (&slider);
    sliderValueChanged (&slider);
    sliderDragEnded (&slider);
}

bool CPluginEditor::IsPositionSlider (const juce::Slider* slider) const
{
    for (const auto& s : { m_xSlider.get(), m_ySlider.get(), m_zSlider.get(), m_azimSlider.get(), m_elevSlider.get(), m_distSlider.get() })
        if (slider == s)
            return true;
    return false;
}

void CPluginEditor::sliderDragStarted (juce::Slider* slider)
{
    // A wheel step or a double-click: a drag of its own, on the ball shown now.
    if (IsPositionSlider (slider))
        m_dragBall = m_shownBall;

    const auto index = static_cast<AutomationParameterIndex> (GetParameterIndexForSlider (dynamic_cast<const CSlider*> (slider)));
    auto* parameter = dynamic_cast<CAudioParameterFloat*> (Plugin().GetParameter (index));

    // Another drag (the pad's) already holds the host's gesture on this parameter.
    if (parameter == nullptr || parameter->m_userGesture)
        return;

    parameter->BeginUserGesture();
    m_openGestures.emplace_back (slider, index);
}

void CPluginEditor::WriteSphericalPosition (const juce::Slider& notified)
{
    auto& p = Plugin();
    const bool second = m_shownBall == 2;

    // A slider still at the value the window showed stands for the exact place: the first touch
    // of one slider must not move the object along the other two, nor pull a position outside
    // the unit sphere in to the distance slider's end. The slider that notified has moved, also
    // when it is back at the value shown before the refresh could show the one in between.
    const auto moved = [&notified] (const CSlider& s, float shown)
    { return &s == &notified || static_cast<float> (s.getValue()) != shown; };
    if (moved (*m_azimSlider, m_sphereShown.azimuth))
        m_sphere.azimuth = static_cast<float> (m_azimSlider->getValue());
    if (moved (*m_elevSlider, m_sphereShown.elevation))
        m_sphere.elevation = static_cast<float> (m_elevSlider->getValue());
    if (moved (*m_distSlider, m_sphereShown.distance))
        m_sphere.distance = static_cast<float> (m_distSlider->getValue()) * m_distanceScale;

    const auto h = m_halfPi;
    const auto a = m_sphere.azimuth * h / 90.0f + h;
    const auto e = m_sphere.elevation * h / 90.0f - h;
    const auto d = m_sphere.distance;
    const auto t = std::sin (e) * d;

    const auto xIndex = second ? kParam_x2 : kParam_x;
    const auto yIndex = second ? kParam_y2 : kParam_y;
    const auto zIndex = second ? kParam_z2 : kParam_z;
    p.SetParameterValue (kSource_editor, xIndex, (std::cos (a) * t + 1.0f) * 0.5f);
    p.SetParameterValue (kSource_editor, yIndex, 1.0f - (std::sin (a) * t + 1.0f) * 0.5f);
    p.SetParameterValue (kSource_editor, zIndex, (std::cos (e) * d + 1.0f) * 0.5f);

    m_sphereWritten = { second ? 2 : 1, (second ? p.m_x2 : p.m_x)->get(), (second ? p.m_y2 : p.m_y)->get(),
                        (second ? p.m_z2 : p.m_z)->get() };
}

void CPluginEditor::EndGesturesOf (const juce::Component& control)
{
    for (auto it = m_openGestures.begin(); it != m_openGestures.end();)
    {
        if (it->first != &control)
        {
            ++it;
            continue;
        }

        if (auto* parameter = dynamic_cast<CAudioParameterFloat*> (Plugin().GetParameter (it->second)))
            parameter->EndUserGesture();
        it = m_openGestures.erase (it);
    }
}

void CPluginEditor::GestureWatcher::componentVisibilityChanged (juce::Component& c)
{
    if (! c.isVisible())
        editor.EndGesturesOf (c);
}

void CPluginEditor::GestureWatcher::componentEnablementChanged (juce::Component& c)
{
    if (! c.isEnabled())
        editor.EndGesturesOf (c);
}

void CPluginEditor::sliderDragEnded (juce::Slider* slider)
{
    // The gesture the drag opened, even if the current ball has changed since.
    EndGesturesOf (*slider);
}

//==============================================================================
void CPluginEditor::textEditorFocusLost (juce::TextEditor& box)
{
    auto& p = Plugin();

    if (box.getParentComponent() == m_objectCounter.get())
    {
        if (EditedSinceShown (box))
            CommitObjectNumber (juce::jlimit (kMinObject, kMaxObject, LeadingInteger (box.getText())));

        SetShownText (box, juce::String (static_cast<int> (p.m_objectNumber->get())));
    }
    else if (&box == m_ipEditor.get())
    {
        if (EditedSinceShown (box))
        {
            CommitIpAddress();

            // Committed (or replaced by the controller's address): the box follows the refresh again.
            SetShownText (box, box.getText());
        }
        else
        {
            SetShownText (box, ControllerAddress());
        }
    }

    if (&box == m_layerSliderDisplay.get())
    {
        if (EditedSinceShown (box))
            CommitLevelText();
        else
            SetShownText (box, LevelText (p.m_layerLevel->get()));
    }
}

void CPluginEditor::textEditorReturnKeyPressed (juce::TextEditor&)
{
    // Taking the focus away commits the box.
    m_surface->grabKeyboardFocus();
}

void CPluginEditor::CommitObjectNumber (int32_t number)
{
    auto& p = Plugin();
    if (number == static_cast<int> (p.m_objectNumber->get()))
        return;

    p.m_objectNumber->SetParameterValue (static_cast<float> (number));

    // A new object number starts the link's bookkeeping of this instance afresh.
    const juce::ScopedLock sl (CController::GetInstance()->m_lock);
    p.m_sentTypes.clear();
    p.m_messageHandler.setParameterChanged (kSource_editor, kChange_object_number);
}

void CPluginEditor::CommitIpAddress()
{
    // The link's one address rule; the box then shows the address in the form the link uses.
    if (const auto address = CanonicalIPv4 (m_ipEditor->getText()))
        CController::GetInstance()->SetIpAddress (kSource_editor, *address);
    SetShownText (*m_ipEditor, ControllerAddress());
}

void CPluginEditor::CommitLevelText()
{
    auto& box = *m_layerSliderDisplay;
    const auto typed = ReadTypedNumber (box.getText());

    if (typed.has_value())
    {
        // Clamped before the square law, which would fold a level below -84 dB back up the fader.
        auto db = static_cast<float> (*typed);
        db = std::isfinite (db) ? juce::jlimit (kMinDb, kMaxDb, db) : kMinDb;

        // Moved from where the instance's level puts the fader, not from where the window last
        // showed it: a change from elsewhere that the refresh has not shown yet could leave the
        // fader at the typed level, and a fader that does not move notifies nothing. At once: a
        // refresh before a later notification would put the renderer's level into the fader.
        const auto fader = juce::roundToInt (FaderOf (db) * 10.0) / 10.0;
        m_layerLevelSlider->setValue (FaderOf (Plugin().m_layerLevel->get()), juce::dontSendNotification);
        m_layerLevelSlider->setValue (fader, juce::sendNotificationSync);
    }

    // A text that is no number writes nothing: the box shows the level again.
    if (EditedSinceShown (box))
        SetShownText (box, LevelText (Plugin().m_layerLevel->get()));
}

juce::String CPluginEditor::ControllerAddress() const
{
    auto* controller = CController::GetInstance();
    const juce::ScopedLock sl (controller->m_lock);
    return controller->m_ipAddress;
}

//==============================================================================
void CPluginEditor::buttonClicked (juce::Button* button)
{
    auto& p = Plugin();
    const bool state = button->getToggleState();
    const float value = state ? 1.0f : 0.0f;

    if (button == m_reverbOnButton.get())
    {
        p.SetParameterValue (kSource_editor, kParam_reverb_on, value);
    }
    else if (button == m_oscButton.get())
    {
        SetOscOnState (state);
        p.SetParameterValue (kSource_editor, kParam_osc_on, value);
    }
    else if (button == m_pairButton.get())
    {
        p.SetParameterValue (kSource_editor, kParam_pair_on, value);
        ApplyPairMode (state);
    }
    else if (button == m_layerOnButton.get())
    {
        p.SetParameterValue (kSource_editor, kParam_layer_on, value);
    }
    else if (button->getParentComponent() == m_objectCounter.get())
    {
        StepObjectNumber (button->getName() == ">");

        // Every click toggles an arrow on again.
        button->setToggleState (false, juce::dontSendNotification);
    }
}

void CPluginEditor::buttonStateChanged (juce::Button*)
{
}

void CPluginEditor::SetOscOnState (bool on)
{
    auto& p = Plugin();
    const juce::ScopedLock sl (CController::GetInstance()->m_lock);

    if (p.m_oscOnState == on)
        return;

    p.m_oscOnState = on;
    p.m_sentTypes.clear();
    p.m_messageHandler.setParameterChanged (kSource_editor, kChange_osc_on);
}

void CPluginEditor::StepObjectNumber (bool up)
{
    auto& box = m_objectCounter->m_textBox;
    const auto n = LeadingInteger (box.getText());
    const auto m = juce::jlimit (kMinObject, kMaxObject, up ? (n <= kMaxObject - 1 ? n + 1 : kMinObject)
                                                            : (n >= kMinObject + 1 ? n - 1 : kMaxObject));
    CommitObjectNumber (m);

    m_surface->m_objectId = m;
    m_shownObjectNumber = m;
    SetShownText (box, juce::String (m));
    m_surface->repaint();
}

void CPluginEditor::ApplyPairMode (bool on)
{
    // Pair off has made ball 1 current again (the instance's rule); the sliders show it.
    if (! on)
        ShowPosition();

    setSlidersCartesianOrPolar();
    m_surface->m_pairMode = on;
    m_surface->repaint();
    ShowPairSpread (on);
}

void CPluginEditor::ShowPairSpread (bool shown)
{
    if (shown)
        m_pairSpreadKnob->addListener (this);
    else
        m_pairSpreadKnob->removeListener (this);

    m_pairSpreadKnob->setVisible (shown);
    m_pairSpreadLabel->setVisible (shown);
}

//==============================================================================
void CPluginEditor::comboBoxChanged (juce::ComboBox* box)
{
    auto& p = Plugin();
    const auto value = static_cast<float> (box->getSelectedId() - 1);

    if (box == m_spaceCombo.get())
    {
        p.SetParameterValue (kSource_editor, kParam_space, value);
    }
    else if (box == m_coordCombo.get())
    {
        p.SetParameterValue (kSource_editor, kParam_coord_mode, value);
        setSlidersCartesianOrPolar();
        m_surface->repaint();
    }
    else if (box == m_renderCombo.get())
    {
        p.SetParameterValue (kSource_editor, kParam_render_mode, value);
    }
}

void CPluginEditor::setSlidersCartesianOrPolar()
{
    const bool cartesian = m_coordCombo->getSelectedId() == 1;

    for (auto* slider : { m_xSlider.get(), m_ySlider.get(), m_zSlider.get() })
    {
        if (cartesian)
            slider->addListener (this);
        else
            slider->removeListener (this);
        slider->setVisible (cartesian);
    }

    for (auto* slider : { m_azimSlider.get(), m_elevSlider.get(), m_distSlider.get() })
    {
        if (cartesian)
            slider->removeListener (this);
        else
            slider->addListener (this);
        slider->setVisible (! cartesian);
    }

    resized();

    // The sliders just shown must not carry the values of their last use: the first touch would
    // make the object jump there.
    ShowPosition();
}

void CPluginEditor::ShowPosition()
{
    auto& p = Plugin();
    m_shownBall = p.m_grabbedBall.load() == 2 ? 2 : 1;
    const bool second = m_shownBall == 2;
    const auto x = (second ? p.m_x2 : p.m_x)->get();
    const auto y = (second ? p.m_y2 : p.m_y)->get();
    const auto z = (second ? p.m_z2 : p.m_z)->get();

    if (m_coordCombo->getSelectedId() == 1)
    {
        m_xSlider->setValue (x, juce::dontSendNotification);
        m_ySlider->setValue (y, juce::dontSendNotification);
        m_zSlider->setValue (z, juce::dontSendNotification);
        return;
    }

    // The position that the spherical sliders have just written: the exact place they aimed at
    // stays, since the parameters may have clamped it into the cube.
    const auto& w = m_sphereWritten;
    if (w.ball != m_shownBall || w.x != x || w.y != y || w.z != z)
    {
        const auto h = m_halfPi;
        const auto dx = 2.0f * (x - 0.5f);
        const auto dy = 2.0f * (y - 0.5f);
        const auto dz = 2.0f * (z - 0.5f);
        const auto r = std::sqrt (dx * dx + dy * dy + dz * dz);
        const auto alpha = std::atan2 (dy, dx);

        // Rounding can put dz / r a hair outside acos's domain.
        if (r > 0.001f)
            m_lastElevation = h - std::acos (juce::jlimit (-1.0f, 1.0f, dz / r));

        m_sphere = { 180.0f - std::fmod (alpha * 90.0f / h + 450.0f, 360.0f), m_lastElevation * 90.0f / h, r };
        m_distanceScale = juce::jmax (1.0f, r);
        m_sphereWritten = {};
    }

    const auto oneDecimal = [] (float v) { return std::round (v * 10.0f) / 10.0f; };
    m_azimSlider->setValue (oneDecimal (m_sphere.azimuth), juce::dontSendNotification);
    m_distSlider->setValue (m_sphere.distance / m_distanceScale, juce::dontSendNotification);
    m_elevSlider->setValue (oneDecimal (m_sphere.elevation), juce::dontSendNotification);

    m_sphereShown = { static_cast<float> (m_azimSlider->getValue()), static_cast<float> (m_elevSlider->getValue()),
                      static_cast<float> (m_distSlider->getValue()) };
}

//==============================================================================
void CPluginEditor::RefreshText (juce::TextEditor& box, const juce::String& text)
{
    // What the user typed stays until it is committed or left, focused or not (a commit by Return
    // reaches the window only after the focus has gone); a box merely clicked follows.
    if (EditedSinceShown (box))
    {
        m_heldBack.insert (&box);
        return;
    }

    m_heldBack.erase (&box);
    SetShownText (box, text);
}

void CPluginEditor::RefreshSlider (juce::Slider& slider, double value)
{
    juce::Label* box = nullptr;
    for (auto* child : slider.getChildren())
        if (auto* label = dynamic_cast<juce::Label*> (child))
            box = label;

    // The framework's value box drops its open editor whenever the value is set. What the user
    // typed stays, also a text retyped just as the box showed it.
    auto* typing = box != nullptr ? box->getCurrentTextEditor() : nullptr;
    if (typing != nullptr && (typing->getText() != box->getText() || TypedInto (*typing)))
    {
        m_heldBack.insert (&slider);
        return;
    }

    m_heldBack.erase (&slider);
    slider.setValue (value, juce::dontSendNotification);

    // A box opened but not typed in stays open, now with the new value.
    if (typing != nullptr && box->getCurrentTextEditor() == nullptr)
        box->showEditor();
}

void CPluginEditor::SetShownText (juce::TextEditor& box, const juce::String& text)
{
    // The framework drops the selection and puts the caret at the end; a box the user has clicked
    // into keeps both, so that the next key still replaces what was selected (all of the new text
    // if all of the old one was) rather than landing beside it or past the box's length limit.
    const auto length = box.getTotalNumChars();
    const auto selection = box.getHighlightedRegion();
    const auto caret = box.getCaretPosition();

    box.setText (text, true);

    const juce::Range<int> all (0, box.getTotalNumChars());
    if (! selection.isEmpty() && selection.getLength() == length)
        box.setHighlightedRegion (all);
    else if (! selection.isEmpty())
        box.setHighlightedRegion (selection.getIntersectionWith (all));
    else
        box.setCaretPosition (caret >= length ? all.getEnd() : juce::jmin (caret, all.getEnd()));

    box.getProperties().set (kShownText, text);
    ForgetTyping (box);
}

bool CPluginEditor::EditedSinceShown (const juce::TextEditor& box)
{
    return box.getText() != box.getProperties()[kShownText].toString() || TypedInto (box);
}

void CPluginEditor::timerCallback()
{
    UpdateGui (false);
}

void CPluginEditor::UpdateGui (bool force)
{
    auto& p = Plugin();
    auto& queue = p.m_messageHandler;

    const bool pending = force || queue.isAnyChanged (kSource_editor, RefreshTypes());

    const auto take = [&] (DataChangeType type) { return queue.popParameterChanged (kSource_editor, type) || force; };

    // The toggles and lists follow every source, the host's included, whose changes reach only the
    // editor's own set.
    const auto takeFromAny = [&] (DataChangeType type)
    {
        const bool own = queue.popParameterChanged (kSource_editor, type);
        const bool others = queue.popParameterChanged (kSource_host, type);
        return own || others || force;
    };

    const auto setToggle = [] (juce::Button& button, bool on)
    {
        if (button.getToggleState() != on)
            button.setToggleState (on, juce::dontSendNotification);
    };

    if (queue.popParameterChanged (kSource_editor, kChange_position) || take (kChange_position2))
    {
        ShowPosition();
        m_surface->repaint();
    }

    if (take (kChange_layer_level) || HeldBack (*m_layerSliderDisplay))
    {
        const auto level = p.m_layerLevel->get();
        RefreshText (*m_layerSliderDisplay, LevelText (level));
        m_layerLevelSlider->setValue (FaderOf (level), juce::dontSendNotification);
    }

    if (take (kChange_layer_num) || HeldBack (*m_layerNumSlider))
        RefreshSlider (*m_layerNumSlider, p.m_layerNum->get());
    if (take (kChange_layer_on))
        setToggle (*m_layerOnButton, p.m_layerOn->get() != 0);
    if (take (kChange_width) || HeldBack (*m_widthKnob))
        RefreshSlider (*m_widthKnob, p.m_width->get());
    if (take (kChange_curve_pos) || HeldBack (*m_curvePosKnob))
        RefreshSlider (*m_curvePosKnob, p.m_curvePos->get());
    if (take (kChange_reverb_level) || HeldBack (*m_reverbKnob))
        RefreshSlider (*m_reverbKnob, p.m_reverbLevel->get());
    if (takeFromAny (kChange_reverb_on))
        setToggle (*m_reverbOnButton, p.m_reverbOn->get() != 0);
    if (takeFromAny (kChange_osc_on))
        m_oscButton->setToggleState (juce::roundToInt (p.m_oscOn->get()) != 0, juce::dontSendNotification);

    if (takeFromAny (kChange_pair_on))
    {
        const bool on = p.m_pairOn->get() != 0;
        if (on != m_pairButton->getToggleState())
        {
            m_pairButton->setToggleState (on, juce::dontSendNotification);
            ApplyPairMode (on);
        }
    }

    if (takeFromAny (kChange_space))
        m_spaceCombo->setSelectedId (p.m_space->getIndex() + 1, juce::dontSendNotification);

    if (takeFromAny (kChange_coord_mode))
    {
        m_coordCombo->setSelectedId (p.m_coordMode->getIndex() + 1, juce::dontSendNotification);
        setSlidersCartesianOrPolar();
        m_surface->repaint();
    }

    if (takeFromAny (kChange_render_mode))
        m_renderCombo->setSelectedId (p.m_renderMode->getIndex() + 1, juce::dontSendNotification);
    if (take (kChange_pair_spread) || HeldBack (*m_pairSpreadKnob))
        RefreshSlider (*m_pairSpreadKnob, p.m_pairSpread->get());

    if (take (kChange_object_number) || HeldBack (m_objectCounter->m_textBox))
    {
        const auto number = static_cast<int32_t> (p.m_objectNumber->get());
        RefreshText (m_objectCounter->m_textBox, juce::String (number));
        if (number != m_shownObjectNumber || number != m_surface->m_objectId)
            m_surface->repaint();
        m_shownObjectNumber = number;
        m_surface->m_objectId = number;
    }

    if (queue.popParameterChanged (kSource_host, kChange_object_number) || force)
        repaint();

    if (take (kChange_ip_address) || HeldBack (*m_ipEditor))
        RefreshText (*m_ipEditor, ControllerAddress());

    if (queue.popParameterChanged (kSource_editor, kChange_port))
    {
        int32_t port = CController::kPortOut;
        {
            auto* controller = CController::GetInstance();
            const juce::ScopedLock sl (controller->m_lock);
            port = controller->m_portOut;
        }
        m_portOutLabel->setText ("port out " + juce::String (port), juce::sendNotification);
        m_portInLabel->setText ("in " + juce::String (port + 1), juce::sendNotification);
    }

    // What no step above shows goes, so that the refresh can fall back to its idle rate.
    queue.takeChanged (kSource_editor, kUnshownTypes);
    queue.takeChanged (kSource_host, AllTypes());

    if (pending)
    {
        m_idleCount = 0;
        if (getTimerInterval() == kIdleRefreshMs)
            startTimer (kFastRefreshMs);
    }
    else if (m_idleCount < kIdleRefreshes - 1)
    {
        ++m_idleCount;
    }
    else if (getTimerInterval() == kFastRefreshMs)
    {
        startTimer (kIdleRefreshMs);
    }
}

} // namespace varnholt
