// Base fixture of the shared tests: every case starts on a fresh backend and must end with every
// installer handle closed.
#pragma once

#include "backend/Backend.h"

#include <gtest/gtest.h>

class SharedTest : public ::testing::Test {
protected:
    void SetUp() override { Backend::beginTest(); }
    void TearDown() override { EXPECT_EQ(Backend::endTest(), 0ul) << "installer handles left open"; }
};

// Skips the rest of a case where the platform departs from the documented behaviour named.
#define QEL_SKIP_WHERE_PLATFORM_DEPARTS(documented)                                                                    \
    if (Backend::departs(documented)) {                                                                                \
        GTEST_SKIP() << "the platform departs from: " << (documented);                                                 \
    }
