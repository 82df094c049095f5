#include "link/Controller.h"

#include "discovery/MDNSHandler.h"
#include "processor/PluginProcessor.h"

#include <unistd.h>

#include <cctype>
#include <cstring>
#include <mutex>
#include <optional>

namespace varnholt
{

CController* CController::m_singleton = nullptr;

namespace
{

// Guards the test and the creation in GetInstance, registration, and the teardown of the last
// instance, so that a new instance never attaches to a controller that is going away and a new
// controller never starts while the old one still holds the ports.
std::mutex& instanceMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

CController* CController::GetOrCreate()
{
    if (m_singleton == nullptr)
        m_singleton = new CController();
    return m_singleton;
}

CController* CController::GetInstance()
{
    const std::lock_guard<std::mutex> guard (instanceMutex());
    return GetOrCreate();
}

namespace
{
// The computer's name as the responder announces it: without a trailing ".local".
std::string localHostName()
{
    char name[256] = {};
    if (::gethostname (name, 255) != 0)
        return {};

    // Cut as bytes: the name is the system's and need not be valid UTF-8, so no juce::String is
    // made of it here.
    std::string text (name);
    std::string lower (text);
    for (auto& c : lower)
        c = static_cast<char> (std::tolower (static_cast<unsigned char> (c)));

    const auto local = lower.rfind (".local");
    if (local != std::string::npos)
        text.resize (local);
    return text;
}
} // namespace

CController::CController()
    : m_mdnsHandler (std::make_unique<MDNSHandler> (*this))
{
    m_oscReceiver.addListener (this);

    m_mdnsHandler->setHostname (localHostName());
    m_mdnsHandler->setPort (static_cast<uint16_t> (kPortIn));
    m_mdnsHandler->setServiceName (MDNSHandler::kPluginService);

    {
        const juce::ScopedLock sl (m_lock);
        if (m_timerIntervalMs != kTimerIntervalMs)
        {
            m_timerIntervalMs = kTimerIntervalMs;
            SetParameterChanged (kSource_controller, kChange_timer_interval);
            startTimer (m_timerIntervalMs);
        }
    }

    SetIpAddress (kSource_controller, OSC_DEFAULT_IP);
    SetPort (kSource_controller, kPortIn);

    // A renderer normally announces the port the link sends to; only another one is a change
    // worth reconnecting for.
    m_announcedPort = kPortOut;

    // Discovery starts last: its first hand-over must find the controller complete.
    m_mdnsHandler->requestStart();
}

CController::~CController()
{
    stopTimer();

    // No hand-over after this; one under way has finished when it returns.
    m_mdnsHandler->requestQuit();

    {
        const juce::ScopedLock sl (m_lock);
        m_oscSender.disconnect();
        m_oscReceiver.disconnect();
        m_oscReceiver.removeListener (this);
        m_plugins.clear();
    }

    // Joins the discovery threads while every member they might touch still exists.
    m_mdnsHandler.reset();
}

void CController::AddProcessor (CPlugin* plugin)
{
    const std::lock_guard<std::mutex> guard (instanceMutex());
    auto* controller = GetOrCreate();
    const juce::ScopedLock sl (controller->m_lock);

    auto highest = static_cast<int> (plugin->m_objectNumber->get());
    for (auto* other : controller->m_plugins)
        highest = std::max (highest, static_cast<int> (other->m_objectNumber->get()));

    controller->m_plugins.add (plugin);
    controller->SetParameterChanged (kSource_controller, kChange_plugin_list);

    // Set without a host gesture: the instance is still being built and no host listens yet,
    // so a gesture would reach the host only as its end, half a second later, without its begin
    // or its value. The host reads the number when it starts listening.
    auto& number = *plugin->m_objectNumber;
    plugin->m_currentSource = kSource_controller;
    number.setValueNotifyingHost (number.convertTo0to1 (static_cast<float> (highest + 1)));
    plugin->m_currentSource = kSource_host;
}

void CController::RemoveProcessor (CPlugin* plugin)
{
    // The timer and the replies run on the message thread. A host that destroys instances on
    // another thread must not pull the controller out from under a running tick or reply, so
    // the message thread is held still for the removal.
    std::optional<juce::MessageManagerLock> messageThreadLock;
    if (auto* mm = juce::MessageManager::getInstanceWithoutCreating())
        if (! mm->isThisTheMessageThread())
            messageThreadLock.emplace();

    const std::lock_guard<std::mutex> guard (instanceMutex());

    auto* controller = m_singleton;
    if (controller == nullptr)
        return;

    {
        const juce::ScopedLock sl (controller->m_lock);
        const bool registered = controller->m_plugins.contains (plugin);

        if (registered && controller->m_plugins.size() >= 2)
        {
            controller->m_plugins.removeFirstMatchingValue (plugin);
            controller->SetParameterChanged (kSource_controller, kChange_plugin_list);
            return;
        }

        // A stranger leaves the others alone; the last instance (or nobody) ends the link.
        if (! registered && ! controller->m_plugins.isEmpty())
            return;

        controller->m_plugins.clear();
    }

    m_singleton = nullptr;
    delete controller;
}

void CController::SetParameterChanged (DataChangeSource, DataChangeType type)
{
    const juce::ScopedLock sl (m_lock);

    for (auto* plugin : m_plugins)
        plugin->m_messageHandler.setParameterChanged (kSource_controller, type);
}

void CController::SetParameterChanged (DataChangeSource source, const std::set<DataChangeType>& types)
{
    const juce::ScopedLock sl (m_lock);

    for (auto* plugin : m_plugins)
        for (auto type : types)
            plugin->m_messageHandler.setParameterChanged (source, type);
}

void CController::SetIpAddress (DataChangeSource source, juce::String address)
{
    const juce::ScopedLock sl (m_lock);

    const auto canonical = CanonicalIPv4 (address);
    if (! canonical || *canonical == m_ipAddress)
        return;

    m_ipAddress = *canonical;
    m_ticksSinceReply = kTickCountLimit;
    m_ticksSinceSend = 0;
    SetParameterChanged (source, { kChange_ip_address, kChange_connection_state });
    ReconnectOsc();
}

void CController::SetPort (DataChangeSource, int port)
{
    const juce::ScopedLock sl (m_lock);

    if (port == m_announcedPort)
        return;

    // The ports themselves are fixed: a renderer announcing another port is still sent to
    // 5341 and answers to 5342.
    m_announcedPort = port;
    m_portOut = kPortOut;
    m_portIn = kPortIn;
    m_ticksSinceReply = kTickCountLimit;
    m_ticksSinceSend = 0;
    SetParameterChanged (kSource_controller, { kChange_port, kChange_connection_state });
    ReconnectOsc();
}

void CController::ReconnectOsc()
{
    m_oscSender.disconnect();

    // The sender's own target is never used: every message names the renderer's address.
    m_oscSender.connect ("0.0.0.0", m_portOut);

    if (! m_oscReceiver.isListening())
        BindReceiver();
}

void CController::KeepReceiverBound()
{
    if (m_oscReceiver.isListening())
        return;

    // Until the port is ours the renderer's answers go nowhere, so the state requests go on.
    m_receiverConnected = false;
    if (++m_rebindTicks >= kRebindEveryTicks)
        BindReceiver();
}

void CController::BindReceiver()
{
    m_rebindTicks = 0;
    m_receiverConnected = m_oscReceiver.connect (m_portIn);

    // Whatever the renderer answered while the port was not ours is lost: every instance asks
    // for its object's state again.
    if (m_receiverConnected)
        for (auto* plugin : m_plugins)
            plugin->m_stateRequested = false;
}

std::optional<std::string> CanonicalIPv4 (std::string_view bytes)
{
    // Byte by byte, without tokenising: the bytes may come straight from a saved block.
    std::string canonical;
    size_t k = 0;

    for (int octet = 0; octet < 4; ++octet)
    {
        if (octet > 0)
        {
            if (k >= bytes.size() || bytes[k] != '.')
                return std::nullopt;
            ++k;
        }

        int value = 0;
        size_t digits = 0;
        for (; k < bytes.size() && digits < 4 && bytes[k] >= '0' && bytes[k] <= '9'; ++k, ++digits)
            value = value * 10 + (bytes[k] - '0');

        if (digits == 0 || digits > 3 || value > 255)
            return std::nullopt;

        if (octet > 0)
            canonical += '.';
        canonical += std::to_string (value);
    }

    if (k != bytes.size())
        return std::nullopt;
    return canonical;
}

std::optional<juce::String> CanonicalIPv4 (const juce::String& text)
{
    if (const auto canonical = CanonicalIPv4 (std::string_view (text.toRawUTF8())))
        return juce::String (*canonical);
    return std::nullopt;
}

} // namespace varnholt
