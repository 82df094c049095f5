// What 128 idle instances cost a host process: the CPU time the whole process uses per second of
// wall time while the instances sit in a session that is not playing, with the message loop
// running as in a host. Empty processors give the floor to compare with.

#include "processor/PluginProcessor.h"

#include <benchmark/benchmark.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>
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

// Runs `work` on the message thread and waits for it, at most 30 s.
void OnMessageThread (const std::function<void()>& work)
{
    juce::WaitableEvent done;
    juce::MessageManager::callAsync ([&] { work(); done.signal(); });
    if (! done.wait (30000))
    {
        std::fprintf (stderr, "the message thread did not answer within 30 s\n");
        std::abort();
    }
}

template <typename Processor>
void BM_Idle128 (benchmark::State& state)
{
    const auto idleSeconds = static_cast<double> (state.range (0));

    for (auto _ : state)
    {
        // Instances live on the message thread, as in a host.
        std::vector<std::unique_ptr<juce::AudioProcessor>> instances;
        OnMessageThread ([&]
        {
            for (int i = 0; i < kInstances; ++i)
            {
                instances.push_back (std::make_unique<Processor>());
                instances.back()->setRateAndBufferSizeDetails (48000.0, 512);
                instances.back()->prepareToPlay (48000.0, 512);
            }
        });

        // Start-up work (registration, the first sends) is not idle time.
        std::this_thread::sleep_for (std::chrono::seconds (1));

        const auto wallStart = std::chrono::steady_clock::now();
        const auto cpuStart = ProcessCpuSeconds();
        std::this_thread::sleep_for (std::chrono::duration<double> (idleSeconds));
        const auto cpu = ProcessCpuSeconds() - cpuStart;
        const auto wall = std::chrono::duration<double> (std::chrono::steady_clock::now() - wallStart).count();

        state.SetIterationTime (wall);
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / wall;
        state.counters["cpu_ms_per_s_per_instance"] = 1000.0 * cpu / wall / kInstances;

        OnMessageThread ([&] { instances.clear(); });
    }
}

} // namespace

BENCHMARK_TEMPLATE (BM_Idle128, varnholt::CPlugin)->Arg (5)->ArgName ("seconds")->Iterations (1)->UseManualTime()->Unit (benchmark::kSecond);
BENCHMARK_TEMPLATE (BM_Idle128, EmptyProcessor)->Arg (5)->ArgName ("seconds")->Iterations (1)->UseManualTime()->Unit (benchmark::kSecond);

int main (int argc, char** argv)
{
    // This thread becomes the message thread and runs the message loop the way a host's does,
    // blocking until something is due. The benchmarks run on a thread of their own and only
    // sleep while the instances idle.
    juce::ScopedJuceInitialiser_GUI juce;

    benchmark::Initialize (&argc, argv);
    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    std::thread benchmarks ([]
    {
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        juce::MessageManager::getInstance()->stopDispatchLoop();
    });

    juce::MessageManager::getInstance()->runDispatchLoop();
    benchmarks.join();
    return 0;
}
