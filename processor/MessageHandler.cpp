#include "processor/MessageHandler.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace varnholt
{

namespace
{
// A change reaches every consumer but the one that caused it; the editor also sees its own.
bool reaches (DataChangeSource source, DataChangeSource consumer)
{
    return consumer != source || source == kSource_editor;
}
} // namespace

VH_MessageHandler::VH_MessageHandler()
{
    m_messages.reserve (kReservedMessages);
    m_thread = std::thread ([this] { messageLoop(); });
}

VH_MessageHandler::~VH_MessageHandler()
{
    m_stop = true;
    m_posts.fetch_add (1);
    m_posts.notify_all();

    if (m_thread.joinable())
        m_thread.join();
}

int64_t VH_MessageHandler::nowMs()
{
    // A steady clock: a step of the wall clock must never hold messages back.
    using namespace std::chrono;
    return duration_cast<milliseconds> (steady_clock::now().time_since_epoch()).count();
}

void VH_MessageHandler::setParameterChanged (DataChangeSource source, const DataChangeType& type)
{
    const auto now = nowMs();

    {
        std::lock_guard<std::mutex> lock (m_queueMutex);

        // Delivered messages are purged only when the reserved room is full (and there are
        // some to purge), so a post from the render thread normally neither allocates nor walks
        // the vector.
        if (m_messages.size() >= kReservedMessages && m_messages.size() > m_pendingCount.load())
            std::erase_if (m_messages, [] (const VH_Message& m) { return ! m.pending; });

        m_messages.push_back ({ type, source, now, true });
        m_pendingCount.fetch_add (1);
    }

    // Only a parked thread needs waking; while it lingers the post costs no system call.
    if (m_parked.load())
    {
        m_posts.fetch_add (1);
        m_posts.notify_one();
    }
}

bool VH_MessageHandler::popParameterChanged (DataChangeSource consumer, const DataChangeType& type)
{
    std::lock_guard<std::mutex> lock (m_queueMutex);
    return m_changed[consumer].erase (type) > 0;
}

bool VH_MessageHandler::isChanged (DataChangeSource consumer, DataChangeType type) const
{
    std::lock_guard<std::mutex> lock (m_queueMutex);
    return m_changed[consumer].count (type) > 0;
}

bool VH_MessageHandler::isAnyChanged (DataChangeSource consumer, const std::set<DataChangeType>& types) const
{
    std::lock_guard<std::mutex> lock (m_queueMutex);
    for (auto type : types)
        if (m_changed[consumer].count (type) > 0)
            return true;
    return false;
}

bool VH_MessageHandler::isChangePending (DataChangeSource consumer, DataChangeType type) const
{
    std::lock_guard<std::mutex> lock (m_queueMutex);

    if (m_changed[consumer].count (type) > 0)
        return true;

    for (const auto& message : m_messages)
        if (message.pending && message.type == type && reaches (message.source, consumer))
            return true;

    return false;
}

void VH_MessageHandler::deliverDue()
{
    const auto now = nowMs();
    std::lock_guard<std::mutex> lock (m_queueMutex);
    deliver (now);
}

void VH_MessageHandler::deliverAll()
{
    std::lock_guard<std::mutex> lock (m_queueMutex);
    deliver (std::numeric_limits<int64_t>::max());
}

void VH_MessageHandler::restoreChanged (DataChangeSource consumer, const std::set<DataChangeType>& types)
{
    std::lock_guard<std::mutex> lock (m_queueMutex);
    m_changed[consumer].insert (types.begin(), types.end());
}

std::set<DataChangeType> VH_MessageHandler::takeChanged (DataChangeSource consumer, const std::set<DataChangeType>& types)
{
    std::set<DataChangeType> taken;
    std::lock_guard<std::mutex> lock (m_queueMutex);
    auto& set = m_changed[consumer];

    for (auto it = set.begin(); it != set.end();)
    {
        if (types.count (*it) > 0)
        {
            taken.insert (*it);
            it = set.erase (it);
        }
        else
        {
            ++it;
        }
    }

    return taken;
}

void VH_MessageHandler::deliver (int64_t now)
{

    for (auto& message : m_messages)
    {
        if (! message.pending)
            continue;

        if (now <= message.timeMs)
            continue;

        message.pending = false;
        m_pendingCount.fetch_sub (1);

        for (int consumer = 0; consumer < kNumChangeSources; ++consumer)
            if (reaches (message.source, static_cast<DataChangeSource> (consumer)))
                m_changed[consumer].insert (message.type);
    }
}

void VH_MessageHandler::messageLoop()
{
    using std::chrono::milliseconds;

    // Passes without anything to deliver before the thread parks until the next post. While
    // changes keep coming (automation, a drag) the thread polls, and posts need not wake it;
    // while nothing happens it costs nothing.
    constexpr int kLingerPasses = 10;
    int idlePasses = 0;

    for (;;)
    {
        if (m_stop)
            return;

        if (m_pendingCount.load() == 0)
        {
            if (idlePasses < kLingerPasses)
            {
                ++idlePasses;
                std::this_thread::sleep_for (milliseconds (kPassIntervalMs));
                continue;
            }

            const auto seenPosts = m_posts.load();
            m_parked.store (true);
            if (m_pendingCount.load() == 0 && ! m_stop)
                m_posts.wait (seenPosts);
            m_parked.store (false);
            continue;
        }

        // One interval after the first post, so that a burst is delivered together.
        std::this_thread::sleep_for (milliseconds (kPassIntervalMs));

        const auto now = nowMs();

        // The queue's thread never blocks on the mutex: a producer on the render thread must
        // not find it held by a sleeping thread.
        for (int attempt = 0; ! m_queueMutex.try_lock(); ++attempt)
        {
            if (m_stop)
                return;
            if (attempt < 64)
                std::this_thread::yield();
            else
                std::this_thread::sleep_for (milliseconds (1));
        }

        deliver (now);
        m_queueMutex.unlock();
        idlePasses = 0;
    }
}

} // namespace varnholt
