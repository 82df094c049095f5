#pragma once

#include <net/if.h>

#include <cstring>

namespace test_common
{

// True when loopback is the only interface of this network namespace. Tests that open the
// plug-in's sockets or multicast refuse to run anywhere else. if_nameindex asks the kernel through
// the calling thread's network namespace, unlike /sys.
inline bool onlyLoopbackExists()
{
    auto* names = ::if_nameindex();
    if (names == nullptr)
        return false;

    bool onlyLoopback = true;
    for (auto* n = names; n->if_index != 0; ++n)
        onlyLoopback = onlyLoopback && std::strcmp (n->if_name, "lo") == 0;

    ::if_freenameindex (names);
    return onlyLoopback;
}

} // namespace test_common
