// The one definition of the minimp3 decoder in the program; every other file includes
// minimp3.h for its declarations only. The header comes in as a system header (see the
// minimp3 target in CMakeLists.txt), so its own style stays out of our warnings.
#include <cstdint>

#define MINIMP3_IMPLEMENTATION
#include <minimp3.h>
