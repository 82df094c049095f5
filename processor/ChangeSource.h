#pragma once

#include "processor/Globals.h"

#include <array>

namespace varnholt
{

// The change source that a writer stamps on the changes it makes: set it before a parameter
// write and back to kSource_host after. The setting belongs to the thread that made it, so a
// host automation arriving on another thread during a renderer write is still stamped
// kSource_host and reaches the renderer.
class CChangeSource
{
public:
    CChangeSource() = default;
    ~CChangeSource();

    CChangeSource (const CChangeSource&) = delete;
    CChangeSource& operator= (const CChangeSource&) = delete;

    CChangeSource& operator= (DataChangeSource source);

    // The source as the calling thread set it; kSource_host when it set none.
    DataChangeSource load() const;
    operator DataChangeSource() const { return load(); }

private:
    struct Slot
    {
        const CChangeSource* owner = nullptr;
        DataChangeSource source = kSource_host;
    };

    // A thread sets the source of a few instances at a time at most (a reply walks them one
    // after another), so a handful of slots per thread is plenty.
    static constexpr size_t kSlots = 8;
    static thread_local std::array<Slot, kSlots> t_slots;
};

} // namespace varnholt
