#include "processor/ChangeSource.h"

namespace varnholt
{

thread_local std::array<CChangeSource::Slot, CChangeSource::kSlots> CChangeSource::t_slots;

CChangeSource::~CChangeSource()
{
    *this = kSource_host;
}

CChangeSource& CChangeSource::operator= (DataChangeSource source)
{
    Slot* freeSlot = nullptr;

    for (auto& slot : t_slots)
    {
        if (slot.owner == this)
        {
            if (source == kSource_host)
                slot = {};
            else
                slot.source = source;
            return *this;
        }

        if (slot.owner == nullptr && freeSlot == nullptr)
            freeSlot = &slot;
    }

    if (source == kSource_host)
        return *this;

    // With every slot taken, the oldest gives way; its writer's changes are then stamped
    // kSource_host, which at worst sends a value back to the renderer rather than losing one.
    if (freeSlot == nullptr)
        freeSlot = &t_slots[0];

    *freeSlot = { this, source };
    return *this;
}

DataChangeSource CChangeSource::load() const
{
    for (const auto& slot : t_slots)
        if (slot.owner == this)
            return slot.source;

    return kSource_host;
}

} // namespace varnholt
