#pragma once

#include "processor/Globals.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace varnholt
{

struct VH_Message
{
    DataChangeType type;
    DataChangeSource source;
    int64_t timeMs;     // steady clock at posting, whole milliseconds
    bool pending;
};

// One instance's change queue. Producers on any thread post (source, type); the queue's own
// thread fans each message out, at the earliest in the millisecond after its posting, into the
// change sets of the consumers that did not cause it (the editor's set sees everything).
// The sets merge repeated changes of one type until the consumer pops it.
class VH_MessageHandler
{
public:
    VH_MessageHandler();
    ~VH_MessageHandler();

    VH_MessageHandler (const VH_MessageHandler&) = delete;
    VH_MessageHandler& operator= (const VH_MessageHandler&) = delete;

    void setParameterChanged (DataChangeSource source, const DataChangeType& type);
    bool popParameterChanged (DataChangeSource consumer, const DataChangeType& type);

    // Looks without removal, each under the queue mutex for the one test.
    bool isChanged (DataChangeSource consumer, DataChangeType type) const;
    bool isAnyChanged (DataChangeSource consumer, const std::set<DataChangeType>& types) const;

    // True while a change of the type waits for the consumer: in its set, or posted and not yet
    // delivered by a source whose changes reach it.
    bool isChangePending (DataChangeSource consumer, DataChangeType type) const;

    // Puts types back into the consumer's set, for another try.
    void restoreChanged (DataChangeSource consumer, const std::set<DataChangeType>& types);

    // Delivers now, on the caller's thread, what the queue's thread would deliver on its next
    // pass: a consumer about to read its set need not wait for that pass.
    void deliverDue();

    // Delivers every message posted so far, those of this millisecond too: for a consumer that
    // has just posted a change itself and sends it right away.
    void deliverAll();

    // Removes and returns, in one step, every member of `types` that the consumer's set holds.
    std::set<DataChangeType> takeChanged (DataChangeSource consumer, const std::set<DataChangeType>& types);

    static int64_t nowMs();

    static constexpr size_t kReservedMessages = 256;
    static constexpr int kPassIntervalMs = 10;

    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    mutable std::mutex m_queueMutex;
    std::vector<VH_Message> m_messages;
    std::set<DataChangeType> m_changed[kNumChangeSources];

private:
    void messageLoop();
    void deliver (int64_t now);

    // The queue's thread parks on m_posts while nothing is pending; a post wakes it only when
    // m_parked says it is parked. Both sides write their flag before they read the other's
    // (sequentially consistent), so a post is never missed.
    std::atomic<uint32_t> m_posts { 0 };
    std::atomic<uint32_t> m_pendingCount { 0 };   // changed under m_queueMutex, read without it
    std::atomic<bool> m_parked { false };
};

} // namespace varnholt
