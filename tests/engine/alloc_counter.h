// Counts the heap allocations and frees made on one thread while counting is switched on
// there. The test executable's replaced global operator new and delete (alloc_counter.cpp)
// do the counting; it is off by default, so every other test allocates as usual.
#pragma once

namespace allocCounter {
void begin();    // counting on for the calling thread, counts cleared
long end();      // counting off; the number of allocations since begin()
long frees();    // the number of frees between the last begin() and end()
}  // namespace allocCounter
