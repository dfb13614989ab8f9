// Construction order of the program's static objects, which live in their subsystems' files:
// the station list, the program folder, the decode worker, the engine, the glyph rain.
// Lower numbers are constructed first and destroyed last. The rain's generator state is
// constant-initialised and exists before all of them.
#pragma once

#define KESTRUM_STATIC(order) __attribute__((init_priority(order)))
#define KESTRUM_ORDER_STATIONS 1001
#define KESTRUM_ORDER_DIR 1002
#define KESTRUM_ORDER_DEC 1003
#define KESTRUM_ORDER_ENGINE 1004
#define KESTRUM_ORDER_RAIN 1005
