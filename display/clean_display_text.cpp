#include "display/clean_display_text.h"

namespace meterlink {

QByteArray CleanDisplayText(const QByteArray& text) {
    QByteArray cleaned = text;
    for (char& c : cleaned) {
        const auto code = static_cast<unsigned char>(c);
        if (code <= 10 || code >= 254)
            c = static_cast<char>(kUnprintableDisplayCode);
    }
    return cleaned;
}

QString displayLineText(const QByteArray& bytes) {
    return QString::fromLatin1(bytes);
}

} // namespace meterlink
