#pragma once

#include "processor/Globals.h"

#include <juce_core/juce_core.h>

#include <set>

namespace varnholt
{

class CPlugin;

// The one renderer link of the process. Every instance registers with it; the first
// GetInstance creates it and the removal of the last instance deletes it.
class CController
{
public:
    static CController* GetInstance();

    // Unregisters an instance; the last one takes the controller with it.
    static void RemoveProcessor (CPlugin* plugin);

    // Posts one change, or each change of a set, to every registered instance.
    void SetParameterChanged (DataChangeSource source, DataChangeType type);
    void SetParameterChanged (DataChangeSource source, const std::set<DataChangeType>& types);

    // Acts only on a change. Anything but a dotted IPv4 address leaves the address as it is.
    void SetIpAddress (DataChangeSource source, juce::String address);
    void SetPort (DataChangeSource source, int port);

    juce::CriticalSection m_lock;
    juce::Array<CPlugin*> m_plugins;
    juce::String m_ipAddress;
    int32_t m_portOut = 5341;
    int32_t m_portIn = 5342;

    static CController* m_singleton;

private:
    CController() = default;
    ~CController();

    JUCE_DECLARE_NON_COPYABLE (CController)
};

// True for four decimal octets 0..255 separated by dots, nothing else.
bool IsDottedIPv4 (const juce::String& text);

} // namespace varnholt
