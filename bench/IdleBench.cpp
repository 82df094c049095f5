// What 128 idle instances cost a host process: the CPU time the whole process uses per second of
// wall time while the instances sit in a session that is not playing, with the message loop
// running as in a host. An empty processor gives the floor to compare with.

#include "processor/PluginProcessor.h"

#include <benchmark/benchmark.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <vector>

namespace
{

constexpr int kInstances = 128;

// Does nothing at all: the cost of an instance that only exists.
class EmptyProcessor : public juce::AudioProcessor
{
public:
    EmptyProcessor()
        : juce::AudioProcessor (BusesProperties()
                                    .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                    .withOutput ("Output", juce::AudioChannelSet::stereo(), true))
    {
    }

    const juce::String getName() const override { return "Empty"; }
    void prepareToPlay (double, int) override {}
    void releaseResources() override {}
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return true; }
    bool producesMidi() const override { return false; }
    juce::AudioProcessorEditor* createEditor() override { return nullptr; }
    bool hasEditor() const override { return false; }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}
    void getStateInformation (juce::MemoryBlock&) override {}
    void setStateInformation (const void*, int) override {}
};

double ProcessCpuSeconds()
{
    timespec now {};
    clock_gettime (CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double> (now.tv_sec) + static_cast<double> (now.tv_nsec) * 1e-9;
}

// Runs the message loop for about `seconds`, in slices so that the bound holds even when the
// loop returns early.
void RunMessageLoop (double seconds)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration> (std::chrono::duration<double> (seconds));
    const auto maxSlices = static_cast<int> (seconds * 1000.0 / 50.0) + 1;

    for (int slice = 0; slice < maxSlices && Clock::now() < end; ++slice)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds> (end - Clock::now()).count();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (static_cast<int> (std::min<long long> (left, 50)));
    }
}

template <typename Processor>
void BM_Idle128 (benchmark::State& state)
{
    const auto idleSeconds = static_cast<double> (state.range (0));

    for (auto _ : state)
    {
        std::vector<std::unique_ptr<juce::AudioProcessor>> instances;
        for (int i = 0; i < kInstances; ++i)
        {
            instances.push_back (std::make_unique<Processor>());
            instances.back()->setRateAndBufferSizeDetails (48000.0, 512);
            instances.back()->prepareToPlay (48000.0, 512);
        }

        // Start-up work (registration, the first sends) is not idle time.
        RunMessageLoop (1.0);

        const auto wallStart = std::chrono::steady_clock::now();
        const auto cpuStart = ProcessCpuSeconds();
        RunMessageLoop (idleSeconds);
        const auto cpu = ProcessCpuSeconds() - cpuStart;
        const auto wall = std::chrono::duration<double> (std::chrono::steady_clock::now() - wallStart).count();

        state.SetIterationTime (wall);
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / wall;
        state.counters["cpu_ms_per_s_per_instance"] = 1000.0 * cpu / wall / kInstances;

        instances.clear();
    }
}

} // namespace

BENCHMARK_TEMPLATE (BM_Idle128, varnholt::CPlugin)->Arg (5)->ArgName ("seconds")->Iterations (1)->UseManualTime()->Unit (benchmark::kSecond);
BENCHMARK_TEMPLATE (BM_Idle128, EmptyProcessor)->Arg (5)->ArgName ("seconds")->Iterations (1)->UseManualTime()->Unit (benchmark::kSecond);

int main (int argc, char** argv)
{
    // The main thread is the message thread, as in a host.
    juce::ScopedJuceInitialiser_GUI juce;

    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
