#pragma once

#include "processor/PluginProcessor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace varnholt::test
{

// Polls a condition for at most `limit`; the queue's own thread does the work meanwhile.
template <typename Condition>
bool eventually (Condition condition, std::chrono::milliseconds limit = std::chrono::milliseconds (2000))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (! condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (2));
    }
    return true;
}

// Waits until every message posted so far has been delivered into the change sets.
inline bool allDelivered (VH_MessageHandler& handler)
{
    return eventually ([&]
    {
        std::lock_guard<std::mutex> lock (handler.m_queueMutex);
        for (const auto& m : handler.m_messages)
            if (m.pending)
                return false;
        return true;
    });
}

inline void clearSets (VH_MessageHandler& handler)
{
    allDelivered (handler);
    std::lock_guard<std::mutex> lock (handler.m_queueMutex);
    for (auto& set : handler.m_changed)
        set.clear();
}

inline std::set<DataChangeType> setOf (VH_MessageHandler& handler, DataChangeSource consumer)
{
    std::lock_guard<std::mutex> lock (handler.m_queueMutex);
    return handler.m_changed[consumer];
}

// What the host sees of a processor: gestures and parameter values, as its wrapper would.
struct HostRecorder : juce::AudioProcessorListener
{
    struct Gesture { int index; bool begin; };

    explicit HostRecorder (juce::AudioProcessor& p) : processor (p) { processor.addListener (this); }
    ~HostRecorder() override { processor.removeListener (this); }

    void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value) override
    {
        values.push_back ({ index, value });
    }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int index) override { gestures.push_back ({ index, true }); }
    void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int index) override { gestures.push_back ({ index, false }); }

    int count (int index, bool begin) const
    {
        int n = 0;
        for (auto g : gestures)
            n += (g.index == index && g.begin == begin) ? 1 : 0;
        return n;
    }

    juce::AudioProcessor& processor;
    std::vector<Gesture> gestures;
    std::vector<std::pair<int, float>> values;
};

} // namespace varnholt::test
