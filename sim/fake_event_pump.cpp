#include "sim/fake_event_pump.h"

namespace meterlink {

FakeEventPump::FakeEventPump(FakeClock& clock, double stepSeconds)
    : clock_(clock), step_(stepSeconds) {}

void FakeEventPump::yield() {
    ++yields_;
    clock_.advance(step_);
    if (hook_) {
        // A copy, so that a hook may replace itself without destroying the running lambda.
        const auto hook = hook_;
        hook();
    }
}

} // namespace meterlink
