// "Run in order": the motors' programs run one after the other, motor 1 to motor 4, and round
// again with its "Loop". The one rule for which motor comes next, for the module-timed chain
// (the USB protocol) and the host-timed one (the run control) alike.
#pragma once

#include <cstdint>
#include <functional>

namespace motion {

struct InOrderNext {
    int32_t motor;  // the next motor that holds a program step, or the one asked about
    bool wrapped;   // the chain passed motor 4 on the way: it goes on only with "Loop"
};

// After motor's program: the next motor (1 to 4, then 1 again) whose program holds a step.
// Each motor is looked at once; when none holds a step the answer is motor itself, whose
// empty program then ends the chain (a chain of empty programs would pass on for ever).
inline InOrderNext NextInOrder(int32_t motor, int32_t motorCount,
                               const std::function<int32_t(int32_t)>& programCount) {
    InOrderNext next{motor, false};
    for (int32_t k = 0; k < motorCount; ++k) {
        next.motor = (next.motor + 1) % motorCount;
        if (next.motor == 0) next.wrapped = true;
        if (programCount(next.motor) > 0) break;
    }
    return next;
}

}  // namespace motion
