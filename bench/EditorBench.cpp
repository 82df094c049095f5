// The window's cost in JUCE's software renderer: one full paint; one refresh that carries a
// position change, and the paint of what that refresh invalidated; and an idle refresh, which must
// invalidate nothing (counted, reported as a counter).

#include "editor/PluginEditor.h"
#include "processor/PluginProcessor.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace varnholt;

namespace
{

// Collects every area the window would repaint: each invalidation reaches the top component.
struct RepaintRecorder : juce::CachedComponentImage
{
    explicit RepaintRecorder (juce::Component& c) : owner (c) {}

    void paint (juce::Graphics&) override {}
    bool invalidateAll() override { areas.add (owner.getLocalBounds()); return true; }
    bool invalidate (const juce::Rectangle<int>& area) override { areas.add (area); return true; }
    void releaseResources() override {}

    juce::Component& owner;
    juce::RectangleList<int> areas;
};

struct OpenWindow
{
    OpenWindow()
    {
        editor.reset (static_cast<CPluginEditor*> (plugin.createEditorIfNeeded()));
        editor->setVisible (true);
        editor->UpdateGui (true);
    }

    ~OpenWindow() { plugin.editorBeingDeleted (editor.get()); }

    // Moves the object as the host would and marks the change as the queue's thread delivers it.
    void moveObject (float x)
    {
        plugin.GetParameter (kParam_x)->setValueNotifyingHost (x);
        plugin.m_messageHandler.restoreChanged (kSource_editor, { kChange_position });
    }

    juce::ScopedJuceInitialiser_GUI juce;
    CPlugin plugin;
    std::unique_ptr<CPluginEditor> editor;
    juce::Image image { juce::Image::ARGB, CPluginEditor::kWidth, CPluginEditor::kHeight, true, juce::SoftwareImageType() };
};

OpenWindow& window()
{
    static OpenWindow w;
    return w;
}

void BM_FullPaint (benchmark::State& state)
{
    auto& w = window();
    for (auto _ : state)
    {
        juce::Graphics g (w.image);
        w.editor->paintEntireComponent (g, true);
    }
}
BENCHMARK (BM_FullPaint)->Unit (benchmark::kMicrosecond);

void BM_RefreshWithPositionChange (benchmark::State& state)
{
    auto& w = window();
    float x = 0.25f;
    for (auto _ : state)
    {
        state.PauseTiming();
        x = x < 0.5f ? 0.75f : 0.25f;
        w.moveObject (x);
        state.ResumeTiming();

        w.editor->UpdateGui (false);
    }
}
BENCHMARK (BM_RefreshWithPositionChange)->Unit (benchmark::kMicrosecond);

// The refresh and the paint of exactly what it invalidated, as the host's next frame draws it.
void BM_RefreshAndRepaintAfterMove (benchmark::State& state)
{
    auto& w = window();
    auto* recorder = new RepaintRecorder (*w.editor);
    w.editor->setCachedComponentImage (recorder);
    float x = 0.25f;
    double pixels = 0;

    for (auto _ : state)
    {
        x = x < 0.5f ? 0.75f : 0.25f;
        w.moveObject (x);
        recorder->areas.clear();
        w.editor->UpdateGui (false);

        const auto areas = recorder->areas;
        juce::Graphics g (w.image);
        g.reduceClipRegion (areas);
        w.editor->setCachedComponentImage (nullptr);
        w.editor->paintEntireComponent (g, true);
        recorder = new RepaintRecorder (*w.editor);
        w.editor->setCachedComponentImage (recorder);

        pixels = 0;
        for (const auto& r : areas)
            pixels += r.getWidth() * r.getHeight();
    }

    w.editor->setCachedComponentImage (nullptr);
    state.counters["repainted_px"] = pixels;
    state.counters["window_px"] = CPluginEditor::kWidth * CPluginEditor::kHeight;
}
BENCHMARK (BM_RefreshAndRepaintAfterMove)->Unit (benchmark::kMicrosecond);

void BM_IdleRefresh (benchmark::State& state)
{
    auto& w = window();
    auto* recorder = new RepaintRecorder (*w.editor);
    w.editor->setCachedComponentImage (recorder);
    // Whatever an earlier benchmark left in the queue is delivered and taken first.
    std::this_thread::sleep_for (std::chrono::milliseconds (50));
    w.plugin.m_messageHandler.deliverDue();
    w.editor->UpdateGui (false);
    recorder->areas.clear();

    for (auto _ : state)
        w.editor->UpdateGui (false);

    state.counters["repaint_areas"] = recorder->areas.getNumRectangles();
    w.editor->setCachedComponentImage (nullptr);
}
BENCHMARK (BM_IdleRefresh)->Unit (benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
