#include "HostedPlugin.h"

#include <cstring>
#include <filesystem>

namespace
{

juce::String g_bundlePath;

// What the JUCE VST3 client writes after the plug-in's block: int64 0, its private data, the
// int64 size of that data, then this marker.
constexpr const char* kClientTrailerMarker = "JUCEPrivateData";

struct ComponentState
{
    juce::MemoryBlock pluginBlock;
    juce::MemoryBlock trailer;
};

std::optional<ComponentState> SplitComponentState (const juce::MemoryBlock& state)
{
    const auto markerSize = std::strlen (kClientTrailerMarker);
    const auto size = state.getSize();
    if (size < markerSize + 2 * sizeof (juce::int64))
        return std::nullopt;

    const auto* bytes = static_cast<const char*> (state.getData());
    if (std::memcmp (bytes + size - markerSize, kClientTrailerMarker, markerSize) != 0)
        return std::nullopt;

    const auto privateSize = static_cast<juce::uint64> (
        juce::ByteOrder::littleEndianInt64 (bytes + size - markerSize - sizeof (juce::int64)));
    const auto trailerSize = privateSize + markerSize + 2 * sizeof (juce::int64);
    if (trailerSize > size)
        return std::nullopt;

    const auto blockSize = static_cast<size_t> (size - trailerSize);
    return ComponentState { juce::MemoryBlock (bytes, blockSize),
                            juce::MemoryBlock (bytes + blockSize, static_cast<size_t> (trailerSize)) };
}

std::unique_ptr<juce::PluginDescription> FindDescription (juce::String& error)
{
    const auto path = std::filesystem::weakly_canonical (g_bundlePath.toStdString());
    const auto bundle = juce::File (juce::String (path.string()));
    if (! bundle.isDirectory())
    {
        error = "no VST3 bundle at " + bundle.getFullPathName();
        return nullptr;
    }

    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> types;
    format.findAllTypesForFile (types, bundle.getFullPathName());
    if (types.size() != 1)
    {
        error = juce::String (types.size()) + " plug-in types in " + bundle.getFullPathName();
        return nullptr;
    }

    return std::make_unique<juce::PluginDescription> (*types[0]);
}

// The host's saved state of the instance: its XML, the VST3 component's element in it, and that
// element's bytes.
struct HostState
{
    std::unique_ptr<juce::XmlElement> xml;
    juce::XmlElement* component = nullptr;
    juce::MemoryBlock componentState;
};

std::optional<HostState> ReadHostState (const juce::MemoryBlock& hostState)
{
    HostState host;
    host.xml = juce::AudioProcessor::getXmlFromBinary (hostState.getData(), static_cast<int> (hostState.getSize()));
    if (host.xml == nullptr)
        return std::nullopt;

    host.component = host.xml->getChildByName ("IComponent");
    if (host.component == nullptr || ! host.componentState.fromBase64Encoding (host.component->getAllSubText()))
        return std::nullopt;

    return host;
}

} // namespace

void HostedPlugin::SetBundlePath (const juce::String& path)
{
    g_bundlePath = path;
}

std::unique_ptr<HostedPlugin> HostedPlugin::Load (juce::String& error)
{
    // Scanning instantiates the plug-in once; do it once per run.
    static juce::String scanError;
    static const auto description = FindDescription (scanError);
    if (description == nullptr)
    {
        error = scanError;
        return nullptr;
    }

    juce::AudioPluginFormatManager formats;
    formats.addFormat (new juce::VST3PluginFormat());

    auto instance = formats.createPluginInstance (*description, kSampleRate, kBlockSize, error);
    if (instance == nullptr)
        return nullptr;

    instance->enableAllBuses();
    instance->setRateAndBufferSizeDetails (kSampleRate, kBlockSize);
    instance->prepareToPlay (kSampleRate, kBlockSize);
    return std::unique_ptr<HostedPlugin> (new HostedPlugin (std::move (instance)));
}

HostedPlugin::HostedPlugin (std::unique_ptr<juce::AudioPluginInstance> instance)
    : m_instance (std::move (instance))
{
}

HostedPlugin::~HostedPlugin()
{
    m_instance->releaseResources();
    m_instance.reset();
}

void HostedPlugin::RereadParameters()
{
    juce::MemoryBlock state;
    m_instance->getStateInformation (state);
    m_instance->setStateInformation (state.getData(), static_cast<int> (state.getSize()));
}

std::optional<juce::MemoryBlock> HostedPlugin::PluginBlockOf (const juce::MemoryBlock& hostState)
{
    auto host = ReadHostState (hostState);
    if (! host)
        return std::nullopt;

    if (auto split = SplitComponentState (host->componentState))
        return split->pluginBlock;
    return std::nullopt;
}

std::optional<juce::MemoryBlock> HostedPlugin::WithPluginBlock (const juce::MemoryBlock& hostState,
                                                                const juce::MemoryBlock& pluginBlock)
{
    auto host = ReadHostState (hostState);
    if (! host)
        return std::nullopt;

    auto split = SplitComponentState (host->componentState);
    if (! split)
        return std::nullopt;

    juce::MemoryBlock replaced (pluginBlock);
    replaced.append (split->trailer.getData(), split->trailer.getSize());
    host->component->deleteAllTextElements();
    host->component->addTextElement (replaced.toBase64Encoding());

    juce::MemoryBlock result;
    juce::AudioProcessor::copyXmlToBinary (*host->xml, result);
    return result;
}
