#include "processor/Globals.h"

#include <gtest/gtest.h>

using namespace varnholt;

TEST (Globals, ParameterTableHoldsTheEditorRowsOnly)
{
    EXPECT_EQ (Global_Parameters.size(), 25u);

    for (auto missing : { kParam_master_level, kParam_master_on, kParam_snapshot_rewrite, kParam_snapshot_num, kParam_count })
        EXPECT_EQ (Global_Parameters.count (missing), 0u) << missing;

    // Every row's change type is the one the processor raises for that parameter.
    const std::pair<AutomationParameterIndex, DataChangeType> types[] = {
        { kParam_x, kChange_position }, { kParam_z2, kChange_position2 }, { kParam_ip3, kChange_ip_address },
        { kParam_ball, kChange_ball }, { kParam_coord_mode, kChange_coord_mode }, { kParam_osc_on, kChange_osc_on },
    };
    for (auto [index, type] : types)
        EXPECT_EQ (Global_Parameters.at (index).changeType, type) << index;
}

TEST (Globals, RowsThatTheEditorReadsCarryTheirOwnTexts)
{
    struct Row { AutomationParameterIndex index; const char* name; const char* label; int kind; bool flag; float start, end, interval, def; int choices; };
    const Row rows[] = {
        { kParam_pair_spread,   "pair spread",   "spread",        0, true,  0.0f,   2.0f,   0.01f, 1.0f,   0 },
        { kParam_coord_mode,    "coords",        "cord mode",     2, true,  0.0f,   1.0f,   1.0f,  0.0f,   2 },
        { kParam_object_number, "object number", "object number", 1, false, 1.0f,   128.0f, 1.0f,  1.0f,   0 },
        { kParam_layer_level,   "layer level",   "layer level",   0, true,  -84.0f, 12.0f,  0.01f, -10.5f, 0 },
        { kParam_space,         "space",         "space",         1, true,  0.0f,   4.0f,   1.0f,  0.0f,   5 },
        { kParam_ball,          "ball",          "grabbed ball",  1, false, 0.0f,   1.0f,   1.0f,  0.0f,   0 },
    };

    for (const auto& r : rows)
    {
        const auto& info = Global_Parameters.at (r.index);
        EXPECT_STREQ (info.name, r.name);
        EXPECT_STREQ (info.label, r.label);
        EXPECT_EQ (info.kind, r.kind) << r.name;
        EXPECT_EQ (info.flag, r.flag) << r.name;
        EXPECT_EQ (info.range.start, r.start) << r.name;
        EXPECT_EQ (info.range.end, r.end) << r.name;
        EXPECT_EQ (info.range.interval, r.interval) << r.name;
        EXPECT_EQ (info.range.skew, 1.0f) << r.name;
        EXPECT_EQ (info.defaultValue, r.def) << r.name;
        EXPECT_EQ (info.choices.size(), r.choices) << r.name;
    }

    EXPECT_EQ (Global_Parameters.at (kParam_coord_mode).choices, juce::StringArray ({ "cartesian", "spherical" }));
    EXPECT_EQ (Global_Parameters.at (kParam_space).choices[1], "space1");
}

TEST (Globals, ChangeGroups)
{
    EXPECT_EQ (OscConfig, (std::set<DataChangeType> { kChange_ip_address, kChange_timer_interval, kChange_connection_state }));
    EXPECT_EQ (PluginInstanceConfig.count (kChange_osc_on), 1u);
    EXPECT_EQ (AutomationParameters.count (kChange_osc_on), 1u);

    std::vector<int> visited (AutomationParameters.begin(), AutomationParameters.end());
    std::vector<int> expected;
    for (int t = 8; t <= 26; ++t)
        expected.push_back (t);
    EXPECT_EQ (visited, expected);
}
