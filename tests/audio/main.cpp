// The audio tests, and the live driver that the sound-server scripts run through
// `test_audio --live ...` (live_driver.h).
#include <gtest/gtest.h>

#include <cstring>

#include "audio/live_driver.h"

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--live") == 0) return liveDriver(argc - 2, argv + 2);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
