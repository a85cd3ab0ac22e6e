#pragma once

#include "modbus/event_pump.h"
#include "sim/fake_clock.h"

#include <functional>

namespace meterlink {

// Each yield moves the fake clock one step and then runs the hook, which stands in for
// whatever window event (a timer tick, a click) could arrive during a wait.
class FakeEventPump : public EventPump {
public:
    explicit FakeEventPump(FakeClock& clock, double stepSeconds = 0.001);

    void yield() override;

    void setHook(std::function<void()> hook) { hook_ = std::move(hook); }
    void setStep(double stepSeconds) { step_ = stepSeconds; }
    long long yields() const { return yields_; }

private:
    FakeClock& clock_;
    double step_;
    std::function<void()> hook_;
    long long yields_ = 0;
};

} // namespace meterlink
