// The seams of the core, called in-process: placeholder, filled below.
#include <gtest/gtest.h>
