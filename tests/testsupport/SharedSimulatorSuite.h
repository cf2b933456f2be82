// SharedSimulatorSuite: a test suite whose cases share one q417-sim.exe, started once for the
// suite and plugged in before every case (a case may have pulled it out). Windows only.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sim/client/SimulatorClient.h"

namespace sim::testing {

class SharedSimulatorSuite : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        simulator_ = new SimulatorClient;
        if (!simulator_->Start(Q417_SIM_EXE)) setupError_ = simulator_->Error();
    }
    static void TearDownTestSuite() {
        delete simulator_;
        simulator_ = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(setupError_, "");
        ASSERT_EQ(simulator_->Control("plug"), "ok");
    }

    static inline SimulatorClient* simulator_ = nullptr;
    static inline std::string setupError_;
};

}  // namespace sim::testing
