#pragma once

#include <QByteArray>
#include <array>

namespace meterlink {

// The fields the transaction in progress runs through. Index 0 of HeaderBytes is unused.
struct TransactionState {
    std::array<qint32, 7> HeaderBytes{};
    qint32 CrcRegister = 0; // the answer's CRC as it is taken
    qint32 ResponseCrcHi = 0;
    qint32 ResponseCrcLo = 0;
    qint16 QuantityLo = 0;
    qint16 QuantityHi = 0;
    QByteArray ResponseData;
    QByteArray RxBytes;
};

} // namespace meterlink
