#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <string>

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

// Presses at `from`, drags to `to` and, when asked, releases there, as one pointer gesture.
inline void PressDrag (juce::Component& component, juce::Point<float> from, juce::Point<float> to, bool release = true)
{
    component.mouseDown (MouseAt (component, from.x, from.y, from));
    component.mouseDrag (MouseAt (component, to.x, to.y, from, 1, true));
    if (release)
        component.mouseUp (MouseAt (component, to.x, to.y, from, 1, true));
}

// Records what a slider tells its listeners, in order: 's' drag start, 'v' value, 'e' drag end.
struct SliderEvents : juce::Slider::Listener
{
    void sliderValueChanged (juce::Slider*) override { events += 'v'; }
    void sliderDragStarted (juce::Slider*) override { events += 's'; }
    void sliderDragEnded (juce::Slider*) override { events += 'e'; }

    std::string events;
};

// Whether the pixel at `at` shows `expected`: a transparent expectation wants (almost) nothing
// drawn; a colour wants that colour, allowing for an anti-aliased edge over nothing.
inline bool ShowsColour (const juce::Image& image, juce::Point<int> at, juce::Colour expected)
{
    const auto pixel = image.getPixelAt (at.x, at.y);
    if (expected.isTransparent())
        return pixel.getAlpha() < 40;

    const auto near = [] (juce::uint8 a, juce::uint8 b) { return std::abs (a - b) <= 12; };
    return pixel.getAlpha() >= 150 && near (pixel.getRed(), expected.getRed())
           && near (pixel.getGreen(), expected.getGreen()) && near (pixel.getBlue(), expected.getBlue());
}

} // namespace varnholt::test
