// Test support for the parallel-port drive: a loader that records what the drive asks of the
// real loader and can hand it a different library in place of "inpout32.dll", and four motors
// whose steps are written through the drive onto the fake port library.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "motion/ParallelPort.h"
#include "motion/StepperMotor.h"
#include "platform/LibraryLoader.h"
#include "platform/virtual/VirtualDesktop.h"
#include "platform/virtual/VirtualTimerService.h"
#include "testsupport/FakePortLibrary.h"

namespace motion {

// Passes every request on to the platform's loader, recording it; a name in Substitute is
// loaded as the library given there instead. For the window's thread only, like the drive's
// loading.
struct RecordingLoader : platform::LibraryLoader {
    std::map<std::string, std::string> Substitute;
    std::vector<std::string> Names;    // every Load, by the name asked for
    std::vector<std::string> Symbols;  // every Symbol lookup
    int Loaded = 0;                    // successful loads
    int Freed = 0;

    platform::LibraryHandle Load(const char* name) override {
        Names.emplace_back(name);
        const auto found = Substitute.find(name);
        platform::LibraryHandle library = platform::SystemLibraryLoader().Load(
            found != Substitute.end() ? found->second.c_str() : name);
        Loaded += library != nullptr;
        return library;
    }
    platform::LibrarySymbol Symbol(platform::LibraryHandle library, const char* name) override {
        Symbols.emplace_back(name);
        return platform::SystemLibraryLoader().Symbol(library, name);
    }
    void Free(platform::LibraryHandle library) override {
        Freed += library != nullptr;
        platform::SystemLibraryLoader().Free(library);
    }
};

// Four motors whose steps are written through the drive, as the window's step handler does.
class PortFixture : public ::testing::Test {
  protected:
    PortFixture() {
        for (int32_t i = 0; i < 4; ++i) {
            motors[i] = std::make_unique<TStepperMotor>(i, timers);
            motors[i]->SetMaxFrequency(0);  // no rate limit: steps follow each other at once
            motors[i]->SetOnStep(TStepperMotor::StepEvent::Bind<&PortFixture::Stepped>(this));
        }
    }

    void Stepped(int32_t, uint8_t) { port.WriteOutput(Motors()); }

    std::array<const TStepperMotor*, 4> Motors() const {
        return {motors[0].get(), motors[1].get(), motors[2].get(), motors[3].get()};
    }

    platform::VirtualTimerService timers;
    platform::VirtualDesktop desktop;
    RecordingLoader loader;
    FakePortLibrary fake;
    std::array<std::unique_ptr<TStepperMotor>, 4> motors;
    TParallelPort port{loader, desktop};
};

}  // namespace motion
