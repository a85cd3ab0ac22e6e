// Arbitrary log blocks decoded into the grid.

#include "fuzz/fuzz_check.h"
#include "logger/grid_model.h"
#include "logger/record_decoder.h"

#include <QLocale>

using namespace meterlink;

namespace {

QLocale localeNumbered(int n) {
    switch (n % 4) {
    case 0:
        return QLocale(QLocale::English, QLocale::UnitedStates);
    case 1:
        return QLocale(QLocale::German, QLocale::Germany);
    case 2:
        return QLocale::c();
    default:
        return QLocale(QLocale::Japanese, QLocale::Japan);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    // Byte 0: the locale, and whether rows came before; bytes 1-2: where the block splits
    // in two calls; then (when rows came before) bytes 3-4: their count; then the records.
    const uint8_t mode = data[0];
    const qsizetype split = data[1] * 256 + data[2];
    qsizetype at = 3;
    qint32 firstRow = 1;
    if ((mode & 0x80) && size >= 5) {
        firstRow = 1 + (data[3] * 256 + data[4]) % 20000;
        at = 5;
    }
    const QByteArray bytes(reinterpret_cast<const char*>(data) + at, qsizetype(size) - at);
    const QByteArray first = bytes.left(split);
    const QByteArray second = bytes.mid(first.size());

    GridModel grid;
    RecordDecoder decoder(grid, localeNumbered(mode));
    qint32 lastRow = firstRow;
    decoder.DecodeRecord(first, lastRow);
    decoder.DecodeRecord(second, lastRow);

    const qint32 records = qint32(first.size() / 8 + second.size() / 8);
    fuzzCheck(lastRow >= firstRow && lastRow <= firstRow + records, "at most one row per record");
    fuzzCheck(grid.TextMatrix(1, 1).isEmpty() || firstRow > 1, "the header row stays free");
    for (qint32 row = firstRow + 1; row <= lastRow && row < grid.Rows(); ++row) {
        fuzzCheck(!grid.TextMatrix(row, 1).isEmpty(), "every record row has its moment");
        fuzzCheck(grid.TextMatrix(row, 0) == QString::number(row - 1), "rows are numbered");
        for (int column = 2; column < GridModel::columns; ++column) {
            const QString reading = grid.TextMatrix(row, column);
            fuzzCheck(reading.isEmpty() || reading.startsWith(u' ') || reading.startsWith(u'-'),
                      "a reading starts with a blank or a minus sign");
            fuzzCheck(!reading.contains(u','), "a reading holds no field separator");
        }
    }
    return 0;
}
