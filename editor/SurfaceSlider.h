#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>

namespace varnholt
{

class CPlugin;

// The two-dimensional position pad: X left to right, Y bottom to top, a ball sized by Z, and in
// pair mode the partner ball (X2, Y2, Z2). It keeps no copy of the positions: every paint reads
// them from the instance. A drag on a ball writes that ball's X and Y inside one host gesture each.
class CSurfaceSlider : public juce::Component
{
public:
    explicit CSurfaceSlider (CPlugin* plugin);
    ~CSurfaceSlider() override;

    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void mouseUp (const juce::MouseEvent& e) override;
    void paint (juce::Graphics& g) override;

    CPlugin* m_plugin;
    bool m_pairMode = false;
    int32_t m_objectId = 256;
    int32_t m_grabbed = 0;       // the ball being dragged: 0 none, 1 main, 2 partner
    int32_t m_lastGrabbed = 1;   // the ball pressed last, which the instance's m_grabbedBall follows
    float m_ballRadius = 6.0f;

private:
    void WriteBallPosition (juce::Point<int> pointer);
    void CloseGestures();
};

} // namespace varnholt
