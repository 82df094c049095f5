// The render-thread cost of one instance: processBlock on 512 stereo frames, without MIDI and
// with one note-on per block, and the operator new calls that the render thread makes meanwhile.

#include "AllocationCounter.h"

#include "processor/PluginProcessor.h"

#include <benchmark/benchmark.h>
#include <juce_events/juce_events.h>

#include <chrono>
#include <memory>
#include <thread>

namespace
{

constexpr double kSampleRate = 48000.0;
constexpr int kBlockSize = 512;

enum class Midi
{
    none,           // audio only
    sameNote,       // note-on 60 in every block
    changingNote    // note-on 60 and 61 in turn: the note left for the link changes every block
};

struct Setup
{
    Setup()
    {
        plugin.setRateAndBufferSizeDetails (kSampleRate, kBlockSize);
        plugin.prepareToPlay (kSampleRate, kBlockSize);

        juce::Random random (1);
        for (int channel = 0; channel < audio.getNumChannels(); ++channel)
            for (int frame = 0; frame < kBlockSize; ++frame)
                audio.setSample (channel, frame, random.nextFloat() * 2.0f - 1.0f);

        notes[0].addEvent (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100), 0);
        notes[1].addEvent (juce::MidiMessage::noteOn (1, 61, (juce::uint8) 100), 0);

        // A note-on only leaves its note for the link's next tick; one block first all the same,
        // so that the measured ones find everything warm.
        plugin.processBlock (audio, notes[0]);
    }

    juce::MidiBuffer& MidiFor (Midi midi, int64_t block)
    {
        switch (midi)
        {
            case Midi::none:         return empty;
            case Midi::sameNote:     return notes[0];
            case Midi::changingNote: return notes[(block + 1) % 2];
        }
        return empty;
    }

    varnholt::CPlugin plugin;
    juce::AudioBuffer<float> audio { 2, kBlockSize };
    juce::MidiBuffer empty;
    juce::MidiBuffer notes[2];
};

void ReportAllocations (benchmark::State& state, int64_t allocations)
{
    state.counters["allocs"] = benchmark::Counter (static_cast<double> (allocations));
    state.counters["allocs_per_block"] = benchmark::Counter (static_cast<double> (allocations), benchmark::Counter::kAvgIterations);
}

// Blocks back to back, as fast as the thread can call.
void BM_ProcessBlock (benchmark::State& state)
{
    const auto midi = static_cast<Midi> (state.range (0));
    Setup setup;

    int64_t block = 0;
    AllocationCounter allocations;
    for (auto _ : state)
    {
        setup.plugin.processBlock (setup.audio, setup.MidiFor (midi, block++));
        benchmark::DoNotOptimize (setup.audio.getReadPointer (0));
    }
    ReportAllocations (state, allocations.Count());
}

// Blocks at the pace of a host at 48 kHz (one every 10.7 ms), so the change queue delivers
// between them as it does in use. Only the processBlock calls are timed.
void BM_ProcessBlockAtHostPace (benchmark::State& state)
{
    const auto midi = static_cast<Midi> (state.range (0));
    Setup setup;

    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (kBlockSize / kSampleRate));
    auto next = Clock::now();

    int64_t block = 0;
    AllocationCounter allocations;
    for (auto _ : state)
    {
        next += period;
        std::this_thread::sleep_until (next);

        const auto start = Clock::now();
        setup.plugin.processBlock (setup.audio, setup.MidiFor (midi, block++));
        state.SetIterationTime (std::chrono::duration<double> (Clock::now() - start).count());
    }
    ReportAllocations (state, allocations.Count());
}

void MidiArguments (benchmark::internal::Benchmark* benchmark)
{
    benchmark->ArgName ("midi");
    for (const auto midi : { Midi::none, Midi::sameNote, Midi::changingNote })
        benchmark->Arg (static_cast<int64_t> (midi));
}

} // namespace

BENCHMARK (BM_ProcessBlock)->Apply (MidiArguments);
BENCHMARK (BM_ProcessBlockAtHostPace)->Apply (MidiArguments)->UseManualTime()->Iterations (300);

int main (int argc, char** argv)
{
    // Instances need a message manager, as in a host.
    juce::ScopedJuceInitialiser_GUI juce;

    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
