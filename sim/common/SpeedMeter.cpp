#include "sim/common/SpeedMeter.h"

#include <cstddef>

namespace sim {

void SpeedMeter::Step(int motor, uint64_t timeUs, int direction) {
    if (motor < 1 || motor > kMotors) return;
    Motor& m = motors_[static_cast<size_t>(motor - 1)];
    m.previous = m.last;
    m.last = timeUs;
    if (m.seen < 2) ++m.seen;
    m.left = direction == 1;
    m.recent.push_back(timeUs);
    Forget(m, timeUs);
}

double SpeedMeter::StepsPerSecond(int motor, uint64_t nowUs) {
    if (motor < 1 || motor > kMotors) return 0.0;
    Motor& m = motors_[static_cast<size_t>(motor - 1)];
    Forget(m, nowUs);
    double intervalUs = 0.0;
    if (m.recent.size() >= 2) {
        intervalUs = static_cast<double>(m.recent.back() - m.recent.front()) /
                     static_cast<double>(m.recent.size() - 1);
    } else if (m.seen >= 2) {
        intervalUs = static_cast<double>(m.last - m.previous);
    }
    if (intervalUs <= 0.0) return 0.0;
    const double sinceLastUs = nowUs > m.last ? static_cast<double>(nowUs - m.last) : 0.0;
    if (sinceLastUs > 1.5 * intervalUs) return 0.0;  // overdue: the motor has stopped
    const double rate = 1e6 / intervalUs;
    return m.left ? -rate : rate;
}

void SpeedMeter::Clear() {
    motors_ = {};
}

void SpeedMeter::Forget(Motor& m, uint64_t nowUs) {
    while (!m.recent.empty() && m.recent.front() + kWindowUs <= nowUs)
        m.recent.pop_front();
}

}  // namespace sim
