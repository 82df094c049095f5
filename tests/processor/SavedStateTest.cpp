#include "TestSupport.h"

#include "link/Controller.h"
#include "processor/SavedState.h"

using namespace varnholt;
using namespace varnholt::test;

namespace
{

juce::MemoryBlock block (std::initializer_list<int> bytes)
{
    juce::MemoryBlock b;
    for (auto v : bytes)
        b.append (&v, 1);
    return b;
}

juce::MemoryBlock stateOf (const char* address, int object, int oscOn, int layer, int coords)
{
    SavedState s;
    s.address = address;
    s.objectNumber = object;
    s.oscOn = oscOn;
    s.layerNumber = layer;
    s.coordMode = coords;
    juce::MemoryBlock b;
    s.Encode (b);
    return b;
}

juce::String controllerAddress()
{
    auto* controller = CController::GetInstance();
    const juce::ScopedLock sl (controller->m_lock);
    return controller->m_ipAddress;
}

} // namespace

TEST (SavedState, FreshInstanceSavesTheDocumentedBytes)
{
    CPlugin p;
    p.SetParameterValue (kSource_editor, kParam_object_number, 5.0f);

    juce::MemoryBlock saved;
    p.getStateInformation (saved);

    const auto expected = block ({ 0x00, 0x00, 0x01, 0x00,
                                   '1', '2', '7', '.', '0', '.', '0', '.', '1', 0x00,
                                   0x05, 0, 0, 0,  0x01, 0, 0, 0,  0x01, 0, 0, 0,  0x00, 0, 0, 0 });
    EXPECT_EQ (saved, expected);
}

TEST (SavedState, RestoringOwnUnchangedStateChangesNothing)
{
    CPlugin p;
    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    clearSets (p.m_messageHandler);
    p.m_sentTypes = { kChange_width };
    p.m_stateRequested = true;

    p.setStateInformation (saved.getData(), (int) saved.getSize());

    EXPECT_FALSE (p.m_stateRequested.load());
    EXPECT_EQ (p.m_sentTypes, std::set<DataChangeType> { kChange_width });
    ASSERT_TRUE (allDelivered (p.m_messageHandler));
    EXPECT_TRUE (setOf (p.m_messageHandler, kSource_editor).empty());
}

TEST (SavedState, RestoreAppliesIdentityAndLinkSettings)
{
    CPlugin p;
    clearSets (p.m_messageHandler);
    p.m_sentTypes = { kChange_width };

    const auto saved = stateOf ("127.0.0.1", 9, 1, 20, 1);
    p.setStateInformation (saved.getData(), (int) saved.getSize());

    EXPECT_EQ (p.m_objectNumber->get(), 9.0f);
    EXPECT_EQ (p.m_layerNum->get(), 12.0f);   // clamped
    EXPECT_EQ (p.m_coordMode->getIndex(), 1);
    EXPECT_TRUE (p.m_sentTypes.empty());

    ASSERT_TRUE (allDelivered (p.m_messageHandler));
    const auto link = setOf (p.m_messageHandler, kSource_controller);
    EXPECT_EQ (link.count (kChange_object_number), 1u);
    EXPECT_EQ (link.count (kChange_layer_num), 1u);
}

TEST (SavedState, OscOffIsRestoredIntoTheParameterToo)
{
    CPlugin p;
    const auto saved = stateOf ("127.0.0.1", 1, 0, 1, 0);
    p.setStateInformation (saved.getData(), (int) saved.getSize());

    EXPECT_FALSE (p.m_oscOnState);
    EXPECT_EQ (p.m_oscOn->get(), 0.0f);

    const auto on = stateOf ("127.0.0.1", 1, 7, 1, 0);
    p.setStateInformation (on.getData(), (int) on.getSize());
    EXPECT_TRUE (p.m_oscOnState);
    EXPECT_EQ (p.m_oscOn->get(), 1.0f);
}

TEST (SavedState, StoredAddressIsAdoptedOnlyWhileTheControllerHasTheDefault)
{
    CPlugin p;
    const auto first = stateOf ("10.0.0.7", 1, 1, 1, 0);
    p.setStateInformation (first.getData(), (int) first.getSize());
    EXPECT_EQ (controllerAddress(), "10.0.0.7");

    const auto second = stateOf ("10.0.0.8", 1, 1, 1, 0);
    p.setStateInformation (second.getData(), (int) second.getSize());
    EXPECT_EQ (controllerAddress(), "10.0.0.7");

    juce::MemoryBlock saved;
    p.getStateInformation (saved);
    EXPECT_EQ (SavedState::Decode (saved.getData(), (int) saved.getSize())->address, "10.0.0.7");
}

TEST (SavedState, LeadingZerosAreReadAsDecimal)
{
    // A hand-edited or damaged project: the address the user meant, never the resolver's octal.
    const std::pair<const char*, const char*> cases[] = { { "127.000.000.010", "127.0.0.10" }, { "010.0.0.08", "10.0.0.8" },
                                                          { "192.168.001.099", "192.168.1.99" } };
    for (const auto& [stored, meant] : cases)
    {
        CPlugin p;
        const auto saved = stateOf (stored, 1, 1, 1, 0);
        EXPECT_EQ (SavedState::Decode (saved.getData(), (int) saved.getSize())->address, meant) << stored;
        p.setStateInformation (saved.getData(), (int) saved.getSize());
        EXPECT_EQ (controllerAddress(), meant) << stored;

        juce::MemoryBlock again;
        p.getStateInformation (again);
        EXPECT_EQ (again, stateOf (meant, 1, 1, 1, 0)) << stored;
    }
}

TEST (SavedState, DamagedBlocksAreNotApplied)
{
    const auto good = stateOf ("127.0.0.1", 9, 0, 3, 1);

    struct Case { const char* what; juce::MemoryBlock data; };
    std::vector<Case> cases;
    cases.push_back ({ "four bytes", block ({ 0, 0, 1, 0 }) });
    cases.push_back ({ "one int short", juce::MemoryBlock (good.getData(), good.getSize() - 1) });
    cases.push_back ({ "no terminator", block ({ 0, 0, 1, 0, '1', '2', '7', '.', '0', '.', '0', '.', '1', '1', '1', '1', '1', '1', '1', '1', '1', '1', '1', '1', '1', '1' }) });
    cases.push_back ({ "host name", stateOf ("renderer.local", 9, 0, 3, 1) });
    cases.push_back ({ "empty address", stateOf ("", 9, 0, 3, 1) });
    cases.push_back ({ "octet too big", stateOf ("10.0.0.256", 9, 0, 3, 1) });
    cases.push_back ({ "octet of four digits", stateOf ("10.0.0.0001", 9, 0, 3, 1) });

    for (auto& c : cases)
    {
        CPlugin p;
        p.m_stateRequested = true;
        p.setStateInformation (c.data.getData(), (int) c.data.getSize());

        EXPECT_FALSE (p.m_stateRequested.load()) << c.what;
        EXPECT_EQ (p.m_objectNumber->get(), 1.0f) << c.what;
        EXPECT_EQ (p.m_layerNum->get(), 1.0f) << c.what;
        EXPECT_TRUE (p.m_oscOnState) << c.what;
        EXPECT_EQ (controllerAddress(), "127.0.0.1") << c.what;
    }

    CPlugin p;
    p.setStateInformation (nullptr, 0);
    EXPECT_EQ (p.m_objectNumber->get(), 1.0f);
}
