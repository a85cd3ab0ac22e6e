// Arbitrary bytes as an append's state file: either refused with a reason, or taken as a
// state that writes back to text which reads again as the same state.

#include "fuzz/fuzz_check.h"
#include "logger/append_state.h"

using namespace meterlink;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), int(size));
    QString why;
    const auto state = AppendState::parse(text, &why);
    if (!state) {
        fuzzCheck(!why.isEmpty(), "a refused state file says why");
        return 0;
    }
    fuzzCheck(state->seamOffset <= state->csvSize, "the seam lies inside the file");
    fuzzCheck(state->seamBlock % 1024 == 0 && state->seamBlock < state->logLength,
              "the seam block lies inside the log");
    const QByteArray written = state->toText();
    QString again;
    const auto reread = AppendState::parse(written, &again);
    fuzzCheck(reread.has_value(), "a state written is read back");
    fuzzCheck(reread && reread->toText() == written, "a state reads back unchanged");
    return 0;
}
