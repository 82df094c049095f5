#include "editor/SurfaceSlider.h"

#include "editor/Colours.h"
#include "processor/PluginProcessor.h"

#include <cmath>

namespace varnholt
{

namespace
{

constexpr float kMargin = 22.0f;
constexpr int kHitSize = 50;

// What one ball stands for in the instance.
struct Ball
{
    const CAudioParameterFloat* x;
    const CAudioParameterFloat* y;
    const CAudioParameterFloat* z;
    AutomationParameterIndex xIndex;
    AutomationParameterIndex yIndex;
    DataChangeType change;
};

Ball BallOf (const CPlugin& plugin, int ball)
{
    if (ball == 2)
        return { plugin.m_x2, plugin.m_y2, plugin.m_z2, kParam_x2, kParam_y2, kChange_position2 };
    return { plugin.m_x, plugin.m_y, plugin.m_z, kParam_x, kParam_y, kChange_position };
}

// Read without a lock while the host may write from another thread: a value outside 0..1 (or
// not a number) must not throw a ball off the pad or its label out of its square.
float UnitValue (const CAudioParameterFloat* parameter)
{
    const auto v = parameter != nullptr ? parameter->get() : 0.5f;
    return std::isnan (v) ? 0.0f : juce::jlimit (0.0f, 1.0f, v);
}

// The usable span inside the margins; a pad of 44 pixels or less across or down has none.
juce::Point<float> Span (const juce::Component& pad)
{
    return { static_cast<float> (pad.getWidth()) - 2.0f * kMargin, static_cast<float> (pad.getHeight()) - 2.0f * kMargin };
}

bool HasSpan (const juce::Component& pad)
{
    const auto span = Span (pad);
    return span.x > 0.0f && span.y > 0.0f;
}

juce::Point<float> CentreOf (const juce::Component& pad, const Ball& ball)
{
    const auto span = Span (pad);
    return { UnitValue (ball.x) * span.x + kMargin, (1.0f - UnitValue (ball.y)) * span.y + kMargin };
}

bool Hits (const juce::Component& pad, const Ball& ball, juce::Point<int> pointer)
{
    const auto centre = CentreOf (pad, ball);
    const auto left = static_cast<int> (centre.x - kHitSize / 2);
    const auto top = static_cast<int> (centre.y - kHitSize / 2);
    return pointer.x >= left && pointer.x < left + kHitSize && pointer.y >= top && pointer.y < top + kHitSize;
}

bool PairOn (const CPlugin& plugin)
{
    return plugin.m_pairOn != nullptr && plugin.m_pairOn->get() != 0;
}

CAudioParameterFloat* HostParameter (CPlugin& plugin, AutomationParameterIndex index)
{
    return dynamic_cast<CAudioParameterFloat*> (plugin.getParameters()[index]);
}

} // namespace

//==============================================================================
// A window opened while the partner ball is the instance's current one opens on it.
CSurfaceSlider::CSurfaceSlider (CPlugin* plugin)
    : m_plugin (plugin),
      m_lastGrabbed (plugin != nullptr && plugin->m_grabbedBall == 2 ? 2 : 1)
{
}

// A pad closed mid-drag (the window goes away under the pointer) gets no release: the gestures
// it opened are closed here, so the host never keeps one open.
CSurfaceSlider::~CSurfaceSlider()
{
    CloseGestures();
}

void CSurfaceSlider::mouseDown (const juce::MouseEvent& e)
{
    // A second press before the release of the first (another pointer) ends the first drag.
    CloseGestures();

    if (m_plugin == nullptr || ! HasSpan (*this))
        return;

    // Only a press on a ball takes one; a press beside the balls moves nothing. The partner ball
    // is taken only while the instance's pair is on: the host or the renderer may have switched it
    // off since the window last showed the ball, and with pair off ball 1 stays current.
    const auto pointer = e.getMouseDownPosition();
    int grabbed = 0;

    if (Hits (*this, BallOf (*m_plugin, 1), pointer))
        grabbed = 1;
    else if (m_pairMode && PairOn (*m_plugin) && Hits (*this, BallOf (*m_plugin, 2), pointer))
        grabbed = 2;
    else
        return;

    m_plugin->m_grabbedBall = grabbed;

    // Pair switched off on another thread between the test and the store: the instance's own
    // rule, which that thread may have applied before the store, is applied again.
    if (grabbed == 2 && ! PairOn (*m_plugin))
    {
        m_plugin->ReturnToMainBall();
        return;
    }

    m_grabbed = m_lastGrabbed = grabbed;
    const auto ball = BallOf (*m_plugin, m_grabbed);
    m_plugin->m_messageHandler.setParameterChanged (kSource_host, ball.change);

    for (auto index : { ball.xIndex, ball.yIndex })
        if (auto* parameter = HostParameter (*m_plugin, index))
            parameter->BeginUserGesture();

    WriteBallPosition (pointer);
}

void CSurfaceSlider::mouseDrag (const juce::MouseEvent& e)
{
    if (m_grabbed == 1 || m_grabbed == 2)
        WriteBallPosition (e.getPosition());
}

void CSurfaceSlider::mouseUp (const juce::MouseEvent&)
{
    CloseGestures();
}

void CSurfaceSlider::WriteBallPosition (juce::Point<int> pointer)
{
    // Resized below its margins mid-drag: there is no position to take.
    if (m_plugin == nullptr || ! HasSpan (*this))
        return;

    // The ball dragged is no longer the current one (pair switched off mid-drag): the drag ends
    // and writes nothing more.
    if (m_plugin->m_grabbedBall.load() != m_grabbed)
    {
        CloseGestures();
        repaint();
        return;
    }

    const auto span = Span (*this);
    const auto x = juce::jlimit (0.0f, 1.0f, (static_cast<float> (pointer.x) - kMargin) / span.x);
    const auto y = 1.0f - juce::jlimit (0.0f, 1.0f, (static_cast<float> (pointer.y) - kMargin) / span.y);
    const auto ball = BallOf (*m_plugin, m_grabbed);

    m_plugin->SetParameterValue (kSource_editor, ball.xIndex, x);
    m_plugin->SetParameterValue (kSource_editor, ball.yIndex, y);
}

void CSurfaceSlider::CloseGestures()
{
    if (m_plugin != nullptr && (m_grabbed == 1 || m_grabbed == 2))
    {
        const auto ball = BallOf (*m_plugin, m_grabbed);

        for (auto index : { ball.xIndex, ball.yIndex })
            if (auto* parameter = HostParameter (*m_plugin, index))
                parameter->EndUserGesture();
    }

    m_grabbed = 0;
}

void CSurfaceSlider::paint (juce::Graphics& g)
{
    const auto w = static_cast<float> (getWidth());
    const auto h = static_cast<float> (getHeight());

    juce::Path outline;
    outline.addRectangle (0.0f, 0.0f, w, h);
    g.setColour (colours::background);
    g.fillPath (outline);
    g.setColour (colours::box);
    g.strokePath (outline, juce::PathStrokeType (2.0f));

    g.drawLine (0.0f, h / 2.0f, w, h / 2.0f, 2.0f);
    g.drawLine (w / 2.0f, 0.0f, w / 2.0f, h, 2.0f);
    g.fillEllipse (w / 2.0f - 3.0f, h / 2.0f - 3.0f, 6.0f, 6.0f);

    if (! m_pairMode)
        m_lastGrabbed = 1;

    if (m_plugin == nullptr || ! HasSpan (*this))
        return;

    const auto drawBall = [&] (const Ball& ball, bool ringed, int64_t label)
    {
        const auto centre = CentreOf (*this, ball);
        const auto circle = [centre] (float radius) { return juce::Rectangle<float> (2.0f * radius, 2.0f * radius).withCentre (centre); };
        m_ballRadius = UnitValue (ball.z) * 9.0f + 11.0f;

        if (ringed)
        {
            g.setColour (colours::ballRing);
            g.fillEllipse (circle (m_ballRadius + 5.0f));
        }

        g.setColour (colours::accent);
        g.fillEllipse (circle (m_ballRadius));

        const auto side = static_cast<int> (2.0f * m_ballRadius);
        g.setColour (colours::background);
        g.drawFittedText (juce::String (label), static_cast<int> (centre.x - m_ballRadius),
                          static_cast<int> (centre.y - m_ballRadius), side, side, juce::Justification::centred, 1);
    };

    // The ring marks the ball that the window's sliders edit, the instance's current one.
    const bool secondCurrent = m_plugin->m_grabbedBall == 2;
    const auto ball1 = BallOf (*m_plugin, 1);

    if (m_pairMode)
    {
        const auto ball2 = BallOf (*m_plugin, 2);
        const auto from = CentreOf (*this, ball1);
        const auto to = CentreOf (*this, ball2);

        g.setColour (colours::accent);
        g.drawLine (from.x, from.y, to.x, to.y, 1.0f);
        drawBall (ball2, secondCurrent, int64_t { m_objectId } + 1);
    }

    drawBall (ball1, m_pairMode && ! secondCurrent, m_objectId);
}

} // namespace varnholt
