#include "cli/display_text.h"

namespace meterlink {

namespace {

// Codes 128 to 159 of the ANSI code page; 0 where it assigns no character.
constexpr char16_t kHighControls[32] = {
    u'\u20AC', 0,         u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', 0,         u'\u017D', 0,
    0,         u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', 0,         u'\u017E', u'\u0178'};

} // namespace

QString printableMeterText(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const quint8 code = quint8(c);
        char16_t shown = code;
        if (code < 32 || code == 127)
            shown = kUnprintableSubstitute;
        else if (code >= 128 && code < 160)
            shown = kHighControls[code - 128] ? kHighControls[code - 128] : kUnprintableSubstitute;
        text += QChar(shown);
    }
    return text;
}

} // namespace meterlink
