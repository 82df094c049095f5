#pragma once

// The vocabulary every part of the plug-in shares: which parameter, what changed, who changed it,
// and the constant description of each parameter that the editor builds its controls from.

#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdint>
#include <map>
#include <set>

inline const juce::String OSC_DEFAULT_IP { "127.0.0.1" };

namespace varnholt
{

enum AutomationParameterIndex : int32_t
{
    kParam_x = 0,
    kParam_y = 1,
    kParam_z = 2,
    kParam_object_number = 3,
    kParam_layer_num = 4,
    kParam_layer_level = 5,
    kParam_layer_on = 6,
    kParam_width = 7,
    kParam_render_mode = 8,
    kParam_reverb_level = 9,
    kParam_reverb_on = 10,
    kParam_curve_pos = 11,
    kParam_osc_on = 12,
    kParam_space = 13,
    kParam_pair_on = 14,
    kParam_pair_spread = 15,
    kParam_coord_mode = 16,
    kParam_master_level = 17,
    kParam_master_on = 18,
    kParam_snapshot_rewrite = 19,
    kParam_snapshot_num = 20,
    kParam_x2 = 21,
    kParam_y2 = 22,
    kParam_z2 = 23,
    kParam_ip1 = 24,
    kParam_ip2 = 25,
    kParam_ip3 = 26,
    kParam_ip4 = 27,
    kParam_ball = 28,
    kParam_count = 29
};

// The host sees the first 24 indices as its parameters "00" to "23".
constexpr int kNumHostParameters = 24;

enum DataChangeType : int32_t
{
    kChange_ball = 0,
    kChange_plugin_list = 1,
    kChange_ip_address = 2,
    kChange_port = 3,
    kChange_timer_interval = 4,
    kChange_connection_state = 5,
    kChange_object_number = 6,
    kChange_instance_config = 7,
    kChange_osc_on = 8,
    kChange_position = 9,
    kChange_position2 = 10,
    kChange_layer_level = 11,
    kChange_width = 12,
    kChange_reverb_level = 13,
    kChange_curve_pos = 14,
    kChange_snapshot_num = 15,
    kChange_layer_on = 16,
    kChange_layer_num = 17,
    kChange_pair_on = 18,
    kChange_reverb_on = 19,
    kChange_space = 20,
    kChange_pair_spread = 21,
    kChange_coord_mode = 22,
    kChange_render_mode = 23,
    kChange_master_level = 24,
    kChange_master_on = 25,
    kChange_snapshot_rewrite = 26
};

constexpr int kNumChangeTypes = 27;

// Also the index of the consumer's change set in an instance's message handler.
enum DataChangeSource : int32_t
{
    kSource_editor = 0,
    kSource_host = 1,
    kSource_controller = 2
};

constexpr int kNumChangeSources = 3;

struct ParamInfo
{
    const char* code;
    const char* name;
    const char* label;
    int32_t kind;          // 0 continuous, 1 integer or choice, 2 on/off switch
    bool flag;
    juce::NormalisableRange<float> range;
    float defaultValue;
    juce::StringArray choices;
    DataChangeType changeType;
};

extern const std::set<DataChangeType> OscConfig;
extern const std::set<DataChangeType> PluginInstanceConfig;
extern const std::set<DataChangeType> AutomationParameters;
extern const std::map<AutomationParameterIndex, const ParamInfo> Global_Parameters;

} // namespace varnholt
