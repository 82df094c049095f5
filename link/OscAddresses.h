#pragma once

#include <juce_core/juce_core.h>

// The renderer's OSC vocabulary. Commands go to the renderer; responses are the prefixes of its
// replies, which carry the object number after a last "/". "%d" is filled in printf-style.
namespace varnholt
{

inline const juce::String kOscDelimiterString { "/" };
inline const juce::String kOscCommandString_ping { "/vh/plugin/tempo" };
inline const juce::String kOscCommandString_request_obj { "/vh/plugin/obj/request/%d" };
inline const juce::String kOscCommandString_source_position_xyz { "/vh/plugin/obj/pos/xyz/%d" };
inline const juce::String kOscCommandString_layerSubLevel { "/vh/plugin/layer/%d/obj/level/%d" };
inline const juce::String kOscCommandString_layerSubOnOff { "/vh/plugin/layer/%d/obj/on/%d" };
inline const juce::String kOscCommandString_renderwidth { "/vh/plugin/obj/render/width/%d" };
inline const juce::String kOscCommandString_reverbsend { "/vh/plugin/rev/obj/level/%d" };
inline const juce::String kOscCommandString_reverbOn { "/vh/plugin/rev/obj/on/%d" };
inline const juce::String kOscCommandString_snapshotNum { "/vh/plugin/snapshot/num" };
inline const juce::String kOscCommandString_curve_position { "/vh/plugin/obj/curve/pos/%d" };
inline const juce::String kOscResponseString_source_position_xyz { "/vh/plugin/obj/pos/xyz" };
inline const juce::String kOscResponseString_width { "/vh/plugin/obj/render/width" };
inline const juce::String kOscResponseString_reverbsend { "/vh/plugin/rev/obj/level" };
inline const juce::String kOscResponseString_reverbOn { "/vh/plugin/rev/obj/on" };
inline const juce::String kOscResponseString_curve_position { "/vh/plugin/obj/curve/pos" };
inline const juce::String kOscResponseString_vhLayer { "/vh/plugin/layer/" };
inline const juce::String kOscResponseString_layerSubOnOff { "/vh/plugin/layer/%d/obj/on" };
inline const juce::String kOscResponseString_layerSubLevel { "/vh/plugin/layer/%d/obj/level" };
inline const juce::String kOscCommandString_space_mode { "/vh/plugin/obj/space/%d" };
inline const juce::String kOscCommandString_render_mode { "/vh/plugin/obj/render/mode/%d" };
inline const juce::String kOscCommandString_stereo_spread { "/vh/plugin/obj/pair/spread/%d" };
inline const juce::String kOscCommandString_stereo_mode { "/vh/plugin/obj/pair/on/%d" };
inline const juce::String kOscCommandString_master_level { "/vh/plugin/master/level" };
inline const juce::String kOscCommandString_master_on { "/vh/plugin/master/on" };
inline const juce::String kOscCommandString_snapshot_rewrite { "/vh/plugin/snapshot/rewrite" };
inline const juce::String kOscResponseString_space_mode { "/vh/plugin/obj/space" };
inline const juce::String kOscResponseString_render_mode { "/vh/plugin/obj/render/mode" };
inline const juce::String kOscResponseString_stereo_spread { "/vh/plugin/obj/pair/spread" };
inline const juce::String kOscResponseString_stereo_mode { "/vh/plugin/obj/pair/on" };
inline const juce::String kOscResponseString_master_level { "/vh/plugin/master/level" };
inline const juce::String kOscResponseString_master_on { "/vh/plugin/master/on" };

} // namespace varnholt
