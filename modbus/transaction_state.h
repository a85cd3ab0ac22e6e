#pragma once

#include <QByteArray>
#include <array>

namespace meterlink {

// The one set of fields every transaction runs through. Index 0 of the 1-based tables is unused.
struct TransactionState {
    qint32 FunctionCode = 0;
    qint32 SlaveAddress = 0;
    qint32 StartAddress = 0;
    qint32 RequestCrcLo = 0;
    qint32 RequestCrcHi = 0;
    std::array<qint32, 7> HeaderBytes{};
    qint32 CrcRegister = 0;
    qint16 CrcBit = 0;
    qint32 ResponseCrcHi = 0;
    qint32 ResponseCrcLo = 0;
    qint16 QuantityLo = 0;
    qint16 QuantityHi = 0;
    qint16 ReceivedCount = 0;
    QByteArray ResponseData;
    QByteArray WriteData;
    std::array<qint16, 37> WriteLoBytes{};
    std::array<qint16, 37> WriteHiBytes{};
    QByteArray RxBytes;
};

} // namespace meterlink
