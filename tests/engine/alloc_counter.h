// Counts the heap allocations made on one thread while counting is switched on there.
// The test executable's replaced global operator new (alloc_counter.cpp) does the counting;
// it is off by default, so every other test allocates as usual.
#pragma once

namespace allocCounter {
void begin();    // counting on for the calling thread, count cleared
long end();      // counting off; the number of allocations since begin()
}  // namespace allocCounter
