// Base fixture of the host tests: every test starts from a fresh platform model.
#pragma once

#include "Simulation.h"

#include <gtest/gtest.h>

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
};
