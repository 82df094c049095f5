// The renderer link's cost with a full session of 128 instances: one tick of the send loop when
// nothing changed, when every object moves, and when every kind of change is pending at once;
// and how many replies per second the dispatch can apply: handed over as messages, read from
// their bytes by the link's strict reader, and made from their bytes the way JUCE's own OSC
// reader made them; and what the reader costs on huge datagrams it must refuse. Datagrams go to
// the loopback address, where nothing listens.

#include "link/Controller.h"
#include "link/ReplyReader.h"
#include "processor/PluginProcessor.h"
#include "tests/fuzz/HostileBytes.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace varnholt;

namespace
{

constexpr int kInstances = 128;

struct Session
{
    Session()
    {
        for (int i = 0; i < kInstances; ++i)
            plugins.push_back (std::make_unique<CPlugin>());

        controller = CController::GetInstance();
        controller->stopTimer();   // the benchmark drives the ticks itself
        for (auto& p : plugins)
            p->m_stateRequested = true;   // no delayed state requests in the figures
        tick();                           // the start-up traffic
    }

    void tick() { controller->timerCallback(); }

    // Marks changes pending for the link as the queue's thread would deliver them.
    void markPending (const std::set<DataChangeType>& types)
    {
        for (auto& p : plugins)
            p->m_messageHandler.restoreChanged (kSource_controller, types);
    }

    juce::ScopedJuceInitialiser_GUI juce;
    std::vector<std::unique_ptr<CPlugin>> plugins;
    CController* controller = nullptr;
};

Session& session()
{
    static Session s;
    return s;
}

void BM_TickIdle (benchmark::State& state)
{
    auto& s = session();
    for (auto _ : state)
        s.tick();
}
BENCHMARK (BM_TickIdle)->Unit (benchmark::kMicrosecond);

void BM_TickAllMoving (benchmark::State& state)
{
    auto& s = session();
    float x = 0.1f;

    for (auto _ : state)
    {
        state.PauseTiming();
        x = x > 0.8f ? 0.1f : x + 0.01f;
        for (auto& p : s.plugins)
            p->m_x->setValueNotifyingHost (x);
        s.markPending ({ kChange_position });
        state.ResumeTiming();

        s.tick();
    }

    state.counters["datagrams/s"] = benchmark::Counter (static_cast<double> (state.iterations()) * kInstances, benchmark::Counter::kIsRate);
}
BENCHMARK (BM_TickAllMoving)->Unit (benchmark::kMicrosecond);

void BM_TickEverythingPending (benchmark::State& state)
{
    auto& s = session();
    // Every send case of the walk, coordinate mode (which sends nothing) included.
    const auto everything = AutomationParameters;
    const int datagramsPerInstance = 18;

    for (auto _ : state)
    {
        state.PauseTiming();
        s.markPending (everything);
        state.ResumeTiming();

        s.tick();
    }

    state.counters["datagrams/s"] = benchmark::Counter (static_cast<double> (state.iterations()) * kInstances * datagramsPerInstance,
                                                         benchmark::Counter::kIsRate);
}
BENCHMARK (BM_TickEverythingPending)->Unit (benchmark::kMicrosecond);

void BM_ReplyDispatch (benchmark::State& state)
{
    auto& s = session();
    std::vector<juce::OSCMessage> replies;

    for (int object = 1; object <= kInstances; ++object)
        for (float width : { 0.5f, 1.5f })
        {
            juce::OSCMessage m (juce::String ("/vh/plugin/obj/render/width/") + juce::String (object));
            m.addFloat32 (width);
            replies.push_back (m);
        }

    s.tick();   // forget what the last tick sent, so replies are taken
    size_t next = 0;

    for (auto _ : state)
    {
        s.controller->oscMessageReceived (replies[next]);
        next = (next + 1) % replies.size();
    }

    state.counters["replies/s"] = benchmark::Counter (static_cast<double> (state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK (BM_ReplyDispatch)->Unit (benchmark::kMicrosecond);

using hostile::oscText;
using hostile::repeated;
const auto bigEndian = hostile::bigEndianFloat;

// The same replies as datagrams: an OSC string, the type tags ",f", a big-endian float32.
std::vector<std::string> widthDatagrams()
{
    std::vector<std::string> datagrams;

    for (int object = 1; object <= kInstances; ++object)
        for (float width : { 0.5f, 1.5f })
            datagrams.push_back (oscText ("/vh/plugin/obj/render/width/" + std::to_string (object)) + oscText (",f") + bigEndian (width));

    return datagrams;
}

// Turns one width datagram after another into a message with `read` and applies it.
template <typename Read>
void applyDatagrams (benchmark::State& state, Read read)
{
    auto& s = session();
    const auto datagrams = widthDatagrams();
    s.tick();
    size_t next = 0;

    for (auto _ : state)
    {
        if (auto message = read (datagrams[next]))
            s.controller->oscMessageReceived (*message);
        next = (next + 1) % datagrams.size();
    }

    state.counters["datagrams/s"] = benchmark::Counter (static_cast<double> (state.iterations()), benchmark::Counter::kIsRate);
}

// Read and checked by the link's reader, then applied.
void BM_ReplyReadCheckedAndDispatched (benchmark::State& state)
{
    applyDatagrams (state, [] (const std::string& d) { return ReadReply (d.data(), d.size()); });
}
BENCHMARK (BM_ReplyReadCheckedAndDispatched)->Unit (benchmark::kMicrosecond);

// Without the check, as JUCE's receiver made each message: the address as UTF-8 text, the
// address pattern, the argument. Only ever fed well-formed bytes here.
void BM_ReplyMadeUncheckedAndDispatched (benchmark::State& state)
{
    applyDatagrams (state, [] (const std::string& d)
    {
        const auto* value = reinterpret_cast<const uint8_t*> (d.data() + d.size() - 4);
        const uint32_t bits = (uint32_t (value[0]) << 24) | (uint32_t (value[1]) << 16) | (uint32_t (value[2]) << 8) | value[3];
        float width;
        std::memcpy (&width, &bits, 4);

        std::optional<juce::OSCMessage> message { juce::OSCAddressPattern (juce::String::fromUTF8 (d.data())) };
        message->addFloat32 (width);
        return message;
    });
}
BENCHMARK (BM_ReplyMadeUncheckedAndDispatched)->Unit (benchmark::kMicrosecond);

// Datagrams no renderer sends, each read by the link's reader and applied if it is taken: well-
// formed but huge, a width reply for object 5 whose address has 21,000 segments (63 KB) or that
// carries 13,000 arguments, beside small garbage (malformed UTF-8 in the address).
void BM_ReplyOversizeRead (benchmark::State& state, const std::string& datagram)
{
    auto& s = session();
    s.tick();

    for (auto _ : state)
        if (auto message = ReadReply (datagram.data(), datagram.size()))
            s.controller->oscMessageReceived (*message);

    state.counters["datagrams/s"] = benchmark::Counter (static_cast<double> (state.iterations()), benchmark::Counter::kIsRate);
}

const std::string kLongAddress = oscText ("/vh/plugin/obj/render/width" + repeated ("/xy", 20999) + "/5") + oscText (",f") + bigEndian (0.5f);
const std::string kManyArguments = oscText ("/vh/plugin/obj/render/width/5") + oscText ("," + std::string (13000, 'f')) + repeated (bigEndian (0.5f), 13000);
const std::string kSmallGarbage = oscText ("/vh/plugin/obj/render/width/\xcc" "05") + oscText (",f") + bigEndian (0.5f);

BENCHMARK_CAPTURE (BM_ReplyOversizeRead, address_of_21000_segments, kLongAddress)->Unit (benchmark::kMicrosecond);
BENCHMARK_CAPTURE (BM_ReplyOversizeRead, arguments_13000, kManyArguments)->Unit (benchmark::kMicrosecond);
BENCHMARK_CAPTURE (BM_ReplyOversizeRead, small_garbage, kSmallGarbage)->Unit (benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
