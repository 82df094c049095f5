#pragma once

#include <cstdint>

// Counts the global operator new calls made on the calling thread while a scope is open. Other
// threads (the change queue's, the message thread) allocate as they like and are not counted.
class AllocationCounter
{
public:
    AllocationCounter();
    ~AllocationCounter();

    AllocationCounter (const AllocationCounter&) = delete;
    AllocationCounter& operator= (const AllocationCounter&) = delete;

    int64_t Count() const;

private:
    int64_t m_start;
};
