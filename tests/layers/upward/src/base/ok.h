// A base header that includes only the platform: allowed.
#pragma once

#include "platform/clock.h"
