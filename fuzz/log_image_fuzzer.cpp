// Arbitrary bytes as a log image: refused with a reason, or read into answers that write
// back to bytes that read as the same answers, and decode to a CSV or a reason. The bytes are tried
// as they are and once more sealed with a matching length and checksum, so that what lies behind
// the checksum is reached too.

#include "fuzz/fuzz_check.h"
#include "logger/log_image.h"

#include <QCryptographicHash>

using namespace meterlink;

namespace {

void tryImage(const QByteArray& bytes) {
    QString why;
    const auto image = LogImage::fromBytes(bytes, &why);
    if (!image) {
        fuzzCheck(!why.isEmpty(), "a refused image says why");
        return;
    }
    QString again;
    const auto reread = LogImage::fromBytes(image->toBytes(), &again);
    fuzzCheck(reread.has_value(), "an image written is read back");
    fuzzCheck(reread && reread->toBytes() == image->toBytes(), "an image reads back unchanged");
    QString decodeWhy;
    const auto csv = image->csv(QLocale::c(), true, false, &decodeWhy);
    fuzzCheck(csv.has_value() || !decodeWhy.isEmpty(), "an image that cannot be decoded says why");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    tryImage(bytes);
    constexpr int checksum = 32;
    if (bytes.size() >= 18 + checksum) {
        QByteArray sealed = bytes.chopped(checksum);
        const quint64 length = quint64(bytes.size());
        for (int i = 0; i < 8; ++i)
            sealed[10 + i] = char((length >> (8 * (7 - i))) & 0xFF);
        sealed += QCryptographicHash::hash(sealed, QCryptographicHash::Sha256);
        tryImage(sealed);
    }
    return 0;
}
