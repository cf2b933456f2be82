// StepGate: asked before a motor's phase changes, whether the output can carry another change of
// that motor yet. A link that sends the phases one report at a time must not see a motor change
// twice between two reports (the motor would skip a phase code: a lost step), so such a step
// waits for the link instead.
#pragma once

#include <cstdint>

namespace motion {

class StepGate {
  public:
    // On the thread about to step the motor (a timer thread or the window's), with no lock of
    // the motor held. Must not wait for the link.
    virtual bool MayStep(int32_t motorIndex) = 0;

  protected:
    ~StepGate() = default;
};

}  // namespace motion
