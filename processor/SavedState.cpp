#include "processor/SavedState.h"

#include "link/Controller.h"
#include "processor/PluginProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace varnholt
{

void SavedState::Encode (juce::MemoryBlock& destination) const
{
    juce::MemoryOutputStream out (destination, true);
    out.writeInt (version);
    out.writeString (address);
    out.writeInt (objectNumber);
    out.writeInt (oscOn);
    out.writeInt (layerNumber);
    out.writeInt (coordMode);
}

std::optional<SavedState> SavedState::Decode (const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 0)
        return std::nullopt;

    const auto* bytes = static_cast<const char*> (data);
    const auto size = static_cast<size_t> (sizeInBytes);

    // version, at least an empty address, four fields
    if (size < 4 + 1 + 16)
        return std::nullopt;

    // The address bytes are checked before any text is made of them (a damaged project file may
    // hold anything there): a dotted IPv4 address, terminated within its longest form, taken in
    // its canonical form ("127.000.000.010" is 127.0.0.10).
    const auto* address = bytes + 4;
    const auto* end = static_cast<const char*> (std::memchr (address, 0, std::min (size - 4, kMaxAddressLength + 1)));
    if (end == nullptr)
        return std::nullopt;

    const auto addressLength = static_cast<size_t> (end - address);
    const auto canonical = CanonicalIPv4 (std::string_view (address, addressLength));
    if (4 + addressLength + 1 + 16 > size || ! canonical)
        return std::nullopt;

    SavedState state;
    state.address = juce::String (*canonical);

    juce::MemoryInputStream in (data, size, false);
    state.version = in.readInt();
    in.setPosition (static_cast<juce::int64> (4 + addressLength + 1));
    state.objectNumber = in.readInt();
    state.oscOn = in.readInt();
    state.layerNumber = in.readInt();
    state.coordMode = in.readInt();
    return state;
}

void SavedState::Write (CPlugin& plugin, juce::MemoryBlock& destination)
{
    SavedState state;

    if (auto* controller = CController::GetInstance())
    {
        const juce::ScopedLock sl (controller->m_lock);
        state.address = controller->m_ipAddress;
    }

    state.objectNumber = static_cast<int32_t> (plugin.m_objectNumber->get());
    state.oscOn = static_cast<int32_t> (plugin.m_oscOn->get());
    state.layerNumber = static_cast<int32_t> (plugin.m_layerNum->get());
    state.coordMode = plugin.m_coordMode->getIndex();
    state.Encode (destination);
}

void SavedState::Restore (CPlugin& plugin, const void* data, int sizeInBytes)
{
    // Cleared whatever the block holds: the renderer link asks the renderer for the object's
    // state once more.
    plugin.m_stateRequested = false;

    const auto state = Decode (data, sizeInBytes);
    if (! state)
        return;

    auto* controller = CController::GetInstance();

    {
        const juce::ScopedLock sl (controller->m_lock);

        if (state->objectNumber != static_cast<int32_t> (plugin.m_objectNumber->get()))
        {
            plugin.m_objectNumber->SetParameterValue (static_cast<float> (state->objectNumber));
            plugin.m_sentTypes.clear();
            plugin.m_messageHandler.setParameterChanged (kSource_host, kChange_object_number);
        }

        // Any value but 0 counts as on, as the parameter itself would read it.
        const bool oscOn = state->oscOn != 0;
        if (oscOn != plugin.m_oscOnState)
        {
            plugin.m_oscOnState = oscOn;
            plugin.m_sentTypes.clear();
            plugin.m_messageHandler.setParameterChanged (kSource_host, kChange_osc_on);
        }

        // The link reads osc on from its parameter on every tick; without this the restored
        // state would be undone 50 ms later.
        plugin.m_oscOn->SetParameterValue (oscOn ? 1.0f : 0.0f);

        if (controller->m_ipAddress == OSC_DEFAULT_IP)
            controller->SetIpAddress (kSource_host, state->address);
    }

    plugin.m_currentSource = kSource_host;
    plugin.m_layerNum->SetParameterValue (static_cast<float> (state->layerNumber));
    plugin.m_currentSource = kSource_host;
    plugin.m_coordMode->SetParameterValue (static_cast<float> (state->coordMode));
    plugin.m_currentSource = kSource_host;
}

} // namespace varnholt
