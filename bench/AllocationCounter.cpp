#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace
{

thread_local bool t_counting = false;
thread_local int64_t t_allocations = 0;

void* Allocate (std::size_t size)
{
    if (t_counting)
        ++t_allocations;

    if (auto* memory = std::malloc (size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}

void* AllocateAligned (std::size_t size, std::align_val_t alignment)
{
    if (t_counting)
        ++t_allocations;

    const auto align = static_cast<std::size_t> (alignment);
    const auto rounded = (size + align - 1) / align * align;
    if (auto* memory = std::aligned_alloc (align, rounded == 0 ? align : rounded))
        return memory;
    throw std::bad_alloc();
}

} // namespace

AllocationCounter::AllocationCounter() : m_start (t_allocations)
{
    t_counting = true;
}

AllocationCounter::~AllocationCounter()
{
    t_counting = false;
}

int64_t AllocationCounter::Count() const
{
    return t_allocations - m_start;
}

// The replaced global allocation functions. The array and nothrow forms of the standard library
// forward to these.
void* operator new (std::size_t size) { return Allocate (size); }
void* operator new[] (std::size_t size) { return Allocate (size); }
void* operator new (std::size_t size, std::align_val_t alignment) { return AllocateAligned (size, alignment); }
void* operator new[] (std::size_t size, std::align_val_t alignment) { return AllocateAligned (size, alignment); }

void operator delete (void* memory) noexcept { std::free (memory); }
void operator delete[] (void* memory) noexcept { std::free (memory); }
void operator delete (void* memory, std::size_t) noexcept { std::free (memory); }
void operator delete[] (void* memory, std::size_t) noexcept { std::free (memory); }
void operator delete (void* memory, std::align_val_t) noexcept { std::free (memory); }
void operator delete[] (void* memory, std::align_val_t) noexcept { std::free (memory); }
void operator delete (void* memory, std::size_t, std::align_val_t) noexcept { std::free (memory); }
void operator delete[] (void* memory, std::size_t, std::align_val_t) noexcept { std::free (memory); }
