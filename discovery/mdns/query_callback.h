#pragma once

#include "discovery/mdns/wire.h"

namespace mdns_cpp {

// The record callback of the library: logs one line per resource record (one
// per key=value pair for TXT records) and returns 0. Safe to run on several
// threads at once: all its buffers belong to the call.
int query_callback(int sock, const sockaddr* from, size_t addrlen, mdns_entry_type entry, uint16_t query_id,
                   uint16_t rtype, uint16_t rclass, uint32_t ttl, const void* data, size_t size,
                   size_t name_offset, size_t name_length, size_t record_offset, size_t record_length,
                   void* user_data);

}  // namespace mdns_cpp
