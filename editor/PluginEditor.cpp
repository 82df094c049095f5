#include "editor/PluginEditor.h"

#include "editor/Colours.h"
#include "processor/PluginProcessor.h"

#include <BinaryData.h>

namespace varnholt
{

int32_t CPluginEditor::m_pluginWindowSize[2] = { CPluginEditor::kWidth, CPluginEditor::kHeight };

namespace
{

// A control's row of the editor's parameter table; a key without a row gives an empty name and
// the range 0 to 1.
ParamInfo RowOf (AutomationParameterIndex key)
{
    const auto row = Global_Parameters.find (key);
    if (row != Global_Parameters.end())
        return row->second;

    return { nullptr, nullptr, nullptr, 0, false, { 0.0f, 1.0f }, 0.0f, {}, kChange_ball };
}

juce::NormalisableRange<double> RangeOf (AutomationParameterIndex key)
{
    const auto range = RowOf (key).range;
    return { range.start, range.end, range.interval };
}

juce::String LabelOf (AutomationParameterIndex key)
{
    const auto row = RowOf (key);
    return row.label != nullptr ? juce::String (row.label) : juce::String();
}

} // namespace

CPluginEditor::CPluginEditor (CPlugin& processor)
    : juce::AudioProcessorEditor (processor)
{
    m_surface = std::make_unique<CSurfaceSlider> (&processor);
    m_surface->setWantsKeyboardFocus (true);
    addAndMakeVisible (*m_surface);

    BuildControls();

    // The limits alone may resize the window, and resized records every size: keep the stored
    // size until it has been applied.
    const int32_t saved[2] = { m_pluginWindowSize[0], m_pluginWindowSize[1] };
    setResizeLimits (kWidth, kHeight, kWidth, kHeight);
    m_pluginWindowSize[0] = saved[0];
    m_pluginWindowSize[1] = saved[1];
    setSize (saved[0], saved[1]);
    setResizable (false, false);

    UpdateGui (true);
    startTimer (kFastRefreshMs);
}

CPluginEditor::~CPluginEditor()
{
    // No refresh may run on a half-destroyed window, and no control may call back into it: the
    // focus that a dying text box gives away would otherwise commit its text from here.
    stopTimer();
    DetachFromControls();

    // A drag that the window's closing cut short still ends in the host.
    for (const auto& [slider, index] : m_openGestures)
        if (auto* parameter = dynamic_cast<CAudioParameterFloat*> (Plugin().GetParameter (index)))
            parameter->EndUserGesture();
    m_openGestures.clear();
}

CPlugin& CPluginEditor::Plugin() const
{
    return static_cast<CPlugin&> (processor);
}

//==============================================================================
void CPluginEditor::ConfigureSlider (CSlider& slider, juce::NormalisableRange<double> range, double initialValue,
                                     juce::Slider::SliderStyle style, juce::Slider::TextEntryBoxPosition textBox,
                                     int textBoxWidth, int textBoxHeight, int decimals, double doubleClickValue,
                                     bool listened, bool shown)
{
    slider.setRange (range.start, range.end, range.interval);
    if (decimals > 0)
        slider.setNumDecimalPlacesToDisplay (decimals);

    // Set quietly: a value the window starts with is no user's change, and an asynchronous
    // notification would write it, snapped to the slider's step, once the refresh has replaced it.
    slider.setValue (initialValue, juce::dontSendNotification);
    slider.setSliderStyle (style);
    slider.setTextBoxStyle (textBox, false, textBoxWidth, textBoxHeight);
    if (listened)
        slider.addListener (this);
    if (textBox != juce::Slider::NoTextBox)
        slider.onUnchangedCommit = [this, &slider] { CommitUnchangedBox (slider); };
    slider.onPress = [this] { m_dragBall = m_shownBall; };
    slider.addComponentListener (&m_gestureWatcher);
    slider.setDoubleClickReturnValue (true, doubleClickValue);
    addAndMakeVisible (slider);
    slider.setVisible (shown);
}

void CPluginEditor::ConfigureCombo (CComboBox& box, const juce::String& name, std::initializer_list<const char*> items)
{
    box.setName (name);
    box.setEditableText (false);
    int id = 1;
    for (auto* item : items)
        box.addItem (item, id++);
    box.setSelectedId (1, juce::dontSendNotification);
    box.setJustificationType (juce::Justification::centred);
    box.addListener (this);
    addAndMakeVisible (box);
}

void CPluginEditor::AddButton (std::unique_ptr<CButton>& member, const juce::String& name)
{
    member = std::make_unique<CButton> (name);
    member->addListener (this);
    addAndMakeVisible (*member);
}

void CPluginEditor::BuildControls()
{
    using S = juce::Slider;

    m_xSlider = std::make_unique<CSlider> (LabelOf (kParam_x));
    ConfigureSlider (*m_xSlider, RangeOf (kParam_x), 0.5, S::LinearHorizontal, S::NoTextBox, 50, 20, 0, 0.5, true, true);
    m_ySlider = std::make_unique<CSlider> (LabelOf (kParam_y));
    ConfigureSlider (*m_ySlider, RangeOf (kParam_y), 0.5, S::LinearVertical, S::NoTextBox, 40, 20, 0, 0.5, true, true);
    m_zSlider = std::make_unique<CSlider> (LabelOf (kParam_z));
    ConfigureSlider (*m_zSlider, RangeOf (kParam_z), 0.5, S::LinearVertical, S::NoTextBox, 40, 20, 0, 0.5, true, true);

    // The spherical sliders start hidden and unheard; the coordinate mode swaps them in.
    m_azimSlider = std::make_unique<CSlider> ("azim");
    m_azimSlider->m_negateDisplay = true;
    ConfigureSlider (*m_azimSlider, { -180.0, 180.0, 0.5 }, 0.0, S::LinearHorizontal, S::NoTextBox, 0, 0, 0, 0.0, false, false);
    m_elevSlider = std::make_unique<CSlider> ("elev");
    ConfigureSlider (*m_elevSlider, { -90.0, 90.0, 0.5 }, 0.0, S::LinearVertical, S::NoTextBox, 40, 20, 0, 0.0, false, false);
    m_distSlider = std::make_unique<CSlider> ("dist");
    ConfigureSlider (*m_distSlider, { 0.0, 1.0, static_cast<double> (0.01f) }, 0.5, S::LinearVertical, S::NoTextBox, 40, 20, 0, 0.5, false, false);

    m_objectCounter = std::make_unique<CDigital> (LabelOf (kParam_object_number));
    m_objectCounter->m_textBox.addListener (this);
    m_objectCounter->m_upButton.addListener (this);
    m_objectCounter->m_downButton.addListener (this);
    addAndMakeVisible (*m_objectCounter);

    m_objectLabel = std::make_unique<CLabel> ("Source Id Label", "obj");
    m_objectLabel->setFont (juce::Font (14.0f, juce::Font::bold));
    addAndMakeVisible (*m_objectLabel);

    m_layerLevelSlider = std::make_unique<DbSlider2> (LabelOf (kParam_layer_level));
    ConfigureSlider (*m_layerLevelSlider, RangeOf (kParam_layer_level), -10.5, S::LinearVertical, S::NoTextBox, 40, 20, 1, -10.5, true, true);

    m_layerSliderDisplay = std::make_unique<CTextEditorDb> ("layerSliderDisplay");
    m_layerSliderDisplay->addListener (this);
    addAndMakeVisible (*m_layerSliderDisplay);

    // The box's value is the range start, 1, until the refresh.
    m_layerNumSlider = std::make_unique<CBoxSlider> (LabelOf (kParam_layer_num));
    ConfigureSlider (*m_layerNumSlider, RangeOf (kParam_layer_num), 1.0, S::RotaryHorizontalVerticalDrag, S::TextBoxBelow, 50, 20, 0, 1.0, true, true);
    m_layerNumSlider->setName ("layer");

    const auto addCaption = [this] (std::unique_ptr<CLabel>& member, AutomationParameterIndex row)
    {
        member = std::make_unique<CLabel> (LabelOf (row), LabelOf (row));
        addAndMakeVisible (*member);
    };

    m_widthKnob = std::make_unique<CKnob> (LabelOf (kParam_width));
    m_widthKnob->m_arcFromCentre = true;
    ConfigureSlider (*m_widthKnob, RangeOf (kParam_width), 0.0, S::RotaryHorizontalVerticalDrag, S::TextBoxBelow, 50, 20, 2, 1.0, true, true);
    addCaption (m_widthLabel, kParam_width);

    m_reverbKnob = std::make_unique<CDbKnob> (LabelOf (kParam_reverb_level));
    ConfigureSlider (*m_reverbKnob, RangeOf (kParam_reverb_level), -84.0, S::RotaryHorizontalVerticalDrag, S::TextBoxBelow, 50, 20, 1, 0.0, true, true);
    addCaption (m_reverbLabel, kParam_reverb_level);

    m_curvePosKnob = std::make_unique<CKnob> (LabelOf (kParam_curve_pos));
    ConfigureSlider (*m_curvePosKnob, RangeOf (kParam_curve_pos), 0.0, S::RotaryHorizontalVerticalDrag, S::TextBoxBelow, 50, 20, 2, 0.0, true, true);
    addCaption (m_curvePosLabel, kParam_curve_pos);

    m_spaceCombo = std::make_unique<CComboBox> (LabelOf (kParam_space));
    ConfigureCombo (*m_spaceCombo, "space", { "no space", "space 1", "space 2", "space 3", "space 4" });

    // Pair spread is shown, and heard, only in pair mode.
    m_pairSpreadKnob = std::make_unique<CKnob> (LabelOf (kParam_pair_spread));
    m_pairSpreadKnob->m_arcFromCentre = true;
    ConfigureSlider (*m_pairSpreadKnob, RangeOf (kParam_pair_spread), 0.0, S::RotaryHorizontalVerticalDrag, S::TextBoxBelow, 50, 20, 2, 1.0, false, false);
    addCaption (m_pairSpreadLabel, kParam_pair_spread);
    m_pairSpreadLabel->setVisible (false);

    m_coordCombo = std::make_unique<CComboBox> (LabelOf (kParam_coord_mode));
    ConfigureCombo (*m_coordCombo, "coord", { "cartesian", "spherical" });
    m_renderCombo = std::make_unique<CComboBox> (LabelOf (kParam_render_mode));
    ConfigureCombo (*m_renderCombo, "render", { "min delay", "full delay", "no delay" });

    m_ipEditor = std::make_unique<CTextEditor> ("IP Address", 0);
    m_ipEditor->addListener (this);
    addAndMakeVisible (*m_ipEditor);

    m_ipLabel = std::make_unique<CLabel> ("IP Address Label", "IP");
    addAndMakeVisible (*m_ipLabel);

    // The port captions overlap the address box and lie above it: clicks go through them.
    m_portOutLabel = std::make_unique<CLabel> ("port label1", "port out 5341");
    m_portInLabel = std::make_unique<CLabel> ("port label2", "in 5342");
    for (auto* label : { m_portOutLabel.get(), m_portInLabel.get() })
    {
        label->setFont (juce::Font (13.0f));
        label->setJustificationType (juce::Justification::right);
        label->setInterceptsMouseClicks (false, false);
        addAndMakeVisible (*label);
    }

    AddButton (m_pairButton, "pair");
    AddButton (m_oscButton, "OSC");
    AddButton (m_layerOnButton, "on");
    AddButton (m_reverbOnButton, "on");
    m_layerOnButton->setToggleState (true, juce::dontSendNotification);
    m_reverbOnButton->setToggleState (true, juce::dontSendNotification);
}

void CPluginEditor::DetachFromControls()
{
    for (auto* slider : std::initializer_list<juce::Slider*> { m_xSlider.get(), m_ySlider.get(), m_zSlider.get(),
                                                                m_azimSlider.get(), m_elevSlider.get(), m_distSlider.get(),
                                                                m_layerLevelSlider.get(), m_layerNumSlider.get(), m_widthKnob.get(),
                                                                m_reverbKnob.get(), m_curvePosKnob.get(), m_pairSpreadKnob.get() })
    {
        slider->removeListener (this);
        slider->removeComponentListener (&m_gestureWatcher);
        static_cast<CSlider*> (slider)->onUnchangedCommit = nullptr;
        static_cast<CSlider*> (slider)->onPress = nullptr;
    }

    for (auto* box : std::initializer_list<juce::TextEditor*> { &m_objectCounter->m_textBox, m_ipEditor.get(), m_layerSliderDisplay.get() })
        box->removeListener (this);

    for (auto* button : std::initializer_list<juce::Button*> { &m_objectCounter->m_upButton, &m_objectCounter->m_downButton,
                                                                m_pairButton.get(), m_oscButton.get(), m_layerOnButton.get(),
                                                                m_reverbOnButton.get() })
        button->removeListener (this);

    for (auto* box : { m_spaceCombo.get(), m_coordCombo.get(), m_renderCombo.get() })
        box->removeListener (this);
}

//==============================================================================
void CPluginEditor::paint (juce::Graphics& g)
{
    const auto w = getWidth();
    const auto h = getHeight();

    g.fillAll (colours::background);

    g.setColour (colours::panel);
    g.fillRoundedRectangle (2.0f, 45.0f, static_cast<float> (w - 4), static_cast<float> (h - 43), 5.0f);

    // Decoded once; the framework's image cache serves it after that.
    const auto image = juce::ImageCache::getFromMemory (BinaryData::temp_binary_data_1, BinaryData::temp_binary_data_1Size);
    if (image.isValid())
        g.drawImageAt (image, 8, h - 50);

    g.setColour (colours::background);
    g.fillRect (380, 18, 3, h);
    g.fillRect (560, 18, 3, h);
}

void CPluginEditor::resized()
{
    const int w = getWidth();
    const int m = m_margin;
    const int p = m_padSize;

    m_surface->setBounds (m + 50, 86, p, p);
    m_xSlider->setBounds (m + 50, p + 86, p, 80);
    m_ySlider->setBounds (m, 86, 40, p);
    m_zSlider->setBounds (m + p + 60, 86, 40, p);
    m_azimSlider->setBounds (m + 50, p + 86, p, 80);
    m_elevSlider->setBounds (m + p + 60, 86, 40, p);
    m_distSlider->setBounds (m, 86, 40, p);
    m_layerNumSlider->setBounds (w - m - 67, 47, 60, 50);
    m_layerLevelSlider->setBounds (w - m - 68, 102, 60, p + 10);
    m_layerSliderDisplay->setBounds (w - m - 64, p + 97, 54, 20);
    m_layerOnButton->setBounds (w - m - 68, p + 122, 60, 30);
    m_widthLabel->setBounds (400, 90, 58, 22);
    m_widthKnob->setBounds (400, 112, 58, 80);
    m_reverbLabel->setBounds (483, 90, 58, 22);
    m_reverbKnob->setBounds (485, 112, 58, 80);
    m_reverbOnButton->setBounds (485, 201, 58, 28);
    m_pairSpreadLabel->setBounds (400, 276, 58, 22);
    m_pairSpreadKnob->setBounds (400, 298, 58, 80);
    m_curvePosLabel->setBounds (485, 276, 58, 22);
    m_curvePosKnob->setBounds (485, 298, 58, 80);
    m_objectLabel->setBounds (5, 10, 30, 30);
    m_objectCounter->setBounds (35, 10, 75, 29);
    m_pairButton->setBounds (115, 10, 58, 30);
    m_coordCombo->setBounds (60, 55, 95, 22);
    m_spaceCombo->setBounds (p - 35, 55, 95, 22);
    m_renderCombo->setBounds (425, 55, 95, 22);
    m_oscButton->setBounds (w - 185, 10, 60, 30);
    m_ipLabel->setBounds (185, 12, 25, 25);
    m_ipEditor->setBounds (220, 14, 115, 22);
    m_portOutLabel->setBounds (287, 5, 150, 25);
    m_portInLabel->setBounds (287, 19, 150, 25);

    m_pluginWindowSize[0] = getWidth();
    m_pluginWindowSize[1] = getHeight();
}

} // namespace varnholt
