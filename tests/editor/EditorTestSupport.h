#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace varnholt::test
{

// Paints a component at the given size into an image with the software renderer (no display
// needed) and keeps a PNG copy in the test's build folder for a reviewer to look at.
inline juce::Image Snapshot (juce::Component& component, int width, int height, const juce::String& fileStem)
{
    component.setBounds (0, 0, width, height);
    auto image = component.createComponentSnapshot ({ 0, 0, width, height }, false, 1.0f);

    juce::File file (juce::String (VARNHOLT_SNAPSHOT_DIR) + "/" + fileStem + ".png");
    file.deleteFile();
    juce::FileOutputStream out (file);
    if (out.openedOk())
        juce::PNGImageFormat().writeImageToStream (image, out);
    return image;
}

// A mouse event at (x, y) in the component's own coordinates, as the framework would deliver it.
inline juce::MouseEvent MouseAt (juce::Component& component, float x, float y, juce::Point<float> downAt,
                                 int clicks = 1, bool dragged = false,
                                 juce::ModifierKeys modifiers = juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier))
{
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), { x, y }, modifiers,
                             juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                             juce::MouseInputSource::defaultRotation, juce::MouseInputSource::defaultTiltX,
                             juce::MouseInputSource::defaultTiltY, &component, &component, now, downAt, now,
                             clicks, dragged);
}

} // namespace varnholt::test
