#include "link/Controller.h"

#include "processor/PluginProcessor.h"

#include <mutex>

namespace varnholt
{

CController* CController::m_singleton = nullptr;

namespace
{
// Guards the test and the creation in GetInstance, and the teardown of the last instance, so
// that a new instance never attaches to a controller that is going away.
std::mutex& instanceMutex()
{
    static std::mutex mutex;
    return mutex;
}
} // namespace

CController* CController::GetInstance()
{
    const std::lock_guard<std::mutex> guard (instanceMutex());

    if (m_singleton == nullptr)
    {
        m_singleton = new CController();
        m_singleton->SetIpAddress (kSource_controller, OSC_DEFAULT_IP);
    }

    return m_singleton;
}

void CController::RemoveProcessor (CPlugin* plugin)
{
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

CController::~CController()
{
    const juce::ScopedLock sl (m_lock);
    m_plugins.clear();
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

    if (address == m_ipAddress || ! IsDottedIPv4 (address))
        return;

    m_ipAddress = address;
    SetParameterChanged (source, { kChange_ip_address, kChange_connection_state });
}

void CController::SetPort (DataChangeSource, int port)
{
    const juce::ScopedLock sl (m_lock);

    if (port == m_portOut)
        return;

    // The ports are fixed; a renderer announcing another port still gets 5341.
    m_portOut = 5341;
    m_portIn = 5342;
    SetParameterChanged (kSource_controller, { kChange_port, kChange_connection_state });
}

bool IsDottedIPv4 (const juce::String& text)
{
    const auto parts = juce::StringArray::fromTokens (text, ".", "");
    if (parts.size() != 4)
        return false;

    for (const auto& part : parts)
    {
        if (part.isEmpty() || part.length() > 3 || ! part.containsOnly ("0123456789"))
            return false;
        if (part.getIntValue() > 255)
            return false;
    }

    return true;
}

} // namespace varnholt
