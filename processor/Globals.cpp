#include "processor/Globals.h"

namespace varnholt
{

const std::set<DataChangeType> OscConfig { kChange_ip_address, kChange_timer_interval, kChange_connection_state };

const std::set<DataChangeType> PluginInstanceConfig { kChange_object_number, kChange_instance_config, kChange_osc_on };

const std::set<DataChangeType> AutomationParameters = []
{
    std::set<DataChangeType> types;
    for (int t = kChange_osc_on; t <= kChange_snapshot_rewrite; ++t)
        types.insert (static_cast<DataChangeType> (t));
    return types;
}();

namespace
{
juce::NormalisableRange<float> linear (float start, float end, float interval)
{
    return { start, end, interval };
}
} // namespace

// The editor's view of the parameters. The host parameters carry their own names, ranges and
// texts (see the processor); these rows differ from them in places on purpose.
const std::map<AutomationParameterIndex, const ParamInfo> Global_Parameters {
    { kParam_x,             { "01", "X", "x", 0, true, linear (0.0f, 1.0f, 0.01f), 0.5f, {}, kChange_position } },
    { kParam_y,             { "02", "Y", "y", 0, true, linear (0.0f, 1.0f, 0.01f), 0.5f, {}, kChange_position } },
    { kParam_z,             { "03", "Z", "z", 0, true, linear (0.0f, 1.0f, 0.01f), 0.5f, {}, kChange_position } },
    { kParam_object_number, { "", "object number", "object number", 1, false, linear (1.0f, 128.0f, 1.0f), 1.0f, {}, kChange_object_number } },
    { kParam_layer_num,     { "05", "layer num", "layer num", 1, true, linear (1.0f, 12.0f, 1.0f), 1.0f, {}, kChange_layer_num } },
    { kParam_layer_level,   { "05", "layer level", "layer level", 0, true, linear (-84.0f, 12.0f, 0.01f), -10.5f, {}, kChange_layer_level } },
    { kParam_layer_on,      { "05", "layer on", "layer switch", 2, true, linear (0.0f, 1.0f, 1.0f), 1.0f, {}, kChange_layer_on } },
    { kParam_width,         { "05", "width", "width", 0, true, linear (0.0f, 2.0f, 0.01f), 1.0f, {}, kChange_width } },
    { kParam_render_mode,   { "05", "render mode", "render mode", 1, true, linear (0.0f, 2.0f, 1.0f), 0.0f,
                              { "min delay", "full delay", "no delay" }, kChange_render_mode } },
    { kParam_reverb_level,  { "05", "reverb level", "reverb", 0, true, linear (-84.0f, 12.0f, 0.01f), -10.5f, {}, kChange_reverb_level } },
    { kParam_reverb_on,     { "05", "reverb on", "reverb on", 2, true, linear (0.0f, 1.0f, 1.0f), 0.0f, {}, kChange_reverb_on } },
    { kParam_curve_pos,     { "05", "curve pos", "curve pos", 0, true, linear (0.0f, 1.0f, 0.01f), 0.0f, {}, kChange_curve_pos } },
    { kParam_osc_on,        { "05", "osc on", "osc on", 2, true, linear (0.0f, 1.0f, 1.0f), 0.0f, {}, kChange_osc_on } },
    { kParam_space,         { "05", "space", "space", 1, true, linear (0.0f, 4.0f, 1.0f), 0.0f,
                              { "none", "space1", "space2", "space3", "space4" }, kChange_space } },
    { kParam_pair_on,       { "05", "pair on", "pair on", 2, true, linear (0.0f, 1.0f, 1.0f), 0.0f, {}, kChange_pair_on } },
    { kParam_pair_spread,   { "05", "pair spread", "spread", 0, true, linear (0.0f, 2.0f, 0.01f), 1.0f, {}, kChange_pair_spread } },
    { kParam_coord_mode,    { "05", "coords", "cord mode", 2, true, linear (0.0f, 1.0f, 1.0f), 0.0f,
                              { "cartesian", "spherical" }, kChange_coord_mode } },
    { kParam_x2,            { "01", "X2", "x", 0, true, linear (0.0f, 1.0f, 0.01f), 0.5f, {}, kChange_position2 } },
    { kParam_y2,            { "02", "Y2", "y", 0, true, linear (0.0f, 1.0f, 0.01f), 0.5f, {}, kChange_position2 } },
    { kParam_z2,            { "03", "Z2", "z", 0, true, linear (0.0f, 1.0f, 0.01f), 0.5f, {}, kChange_position2 } },
    { kParam_ip1,           { "", "ip1", "ip1", 1, true, linear (0.0f, 255.0f, 1.0f), 0.0f, {}, kChange_ip_address } },
    { kParam_ip2,           { "", "ip2", "ip2", 1, true, linear (0.0f, 255.0f, 1.0f), 0.0f, {}, kChange_ip_address } },
    { kParam_ip3,           { "", "ip3", "ip3", 1, true, linear (0.0f, 255.0f, 1.0f), 0.0f, {}, kChange_ip_address } },
    { kParam_ip4,           { "", "ip4", "ip4", 1, true, linear (0.0f, 255.0f, 1.0f), 0.0f, {}, kChange_ip_address } },
    { kParam_ball,          { "", "ball", "grabbed ball", 1, false, linear (0.0f, 1.0f, 1.0f), 0.0f, {}, kChange_ball } },
};

} // namespace varnholt
