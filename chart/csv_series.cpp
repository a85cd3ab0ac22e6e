#include "chart/csv_series.h"

#include "chart/date_order.h"
#include "chart/series_builder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <string>
#include <vector>

namespace meterlink {

namespace {

constexpr int sampleRecords = 200;
constexpr int cancelCheckRecords = 4096;

struct Field {
    const char* begin;
    const char* end;
};

// Walks the records of a CSV text: fields split at the separator, a field in double quotes
// may hold separators, line ends and doubled quotes. Quoted fields are unescaped into
// `scratch`.
class CsvCursor {
public:
    CsvCursor(const char* begin, const char* end, char separator = ',')
        : at_(begin), end_(end), separator_(separator) {}

    bool atEnd() const { return at_ >= end_; }

    // The next record's fields; empty lines are skipped.
    bool next(std::vector<Field>& fields) {
        fields.clear();
        scratch_.clear();
        while (at_ < end_ && (*at_ == '\r' || *at_ == '\n'))
            ++at_;
        if (at_ >= end_)
            return false;
        std::vector<std::pair<std::size_t, std::size_t>> quoted;
        for (;;) {
            if (at_ < end_ && *at_ == '"') {
                ++at_;
                const std::size_t start = scratch_.size();
                while (at_ < end_) {
                    if (*at_ == '"') {
                        if (at_ + 1 < end_ && at_[1] == '"') {
                            scratch_.push_back('"');
                            at_ += 2;
                            continue;
                        }
                        ++at_;
                        break;
                    }
                    scratch_.push_back(*at_++);
                }
                // Text after the closing quote belongs to the field as well.
                while (at_ < end_ && *at_ != separator_ && *at_ != '\r' && *at_ != '\n')
                    scratch_.push_back(*at_++);
                quoted.emplace_back(fields.size(), start);
                fields.push_back({nullptr, nullptr});
                ends_.push_back(scratch_.size());
            } else {
                const char* start = at_;
                while (at_ < end_ && *at_ != separator_ && *at_ != '\r' && *at_ != '\n')
                    ++at_;
                fields.push_back({start, at_});
            }
            if (at_ < end_ && *at_ == separator_) {
                ++at_;
                continue;
            }
            break;
        }
        // Pointed at only now: the scratch buffer may have moved while it grew.
        std::size_t q = 0;
        for (const auto& [index, start] : quoted) {
            fields[index] = {scratch_.data() + start, scratch_.data() + ends_[q++]};
        }
        ends_.clear();
        return true;
    }

private:
    const char* at_;
    const char* end_;
    char separator_;
    std::string scratch_;
    std::vector<std::size_t> ends_;
};

// UTF-8 where the bytes are valid UTF-8, else Latin-1 (a file written with the Windows
// code page).
QString textOf(const Field& field) {
    const QByteArrayView bytes(field.begin, field.end - field.begin);
    bool ascii = true;
    for (char c : bytes) {
        if (uchar(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return QString::fromLatin1(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

// ";" when the first two records both hold one outside quotes (a file with ";" between
// fields and "," in readings); a comma file has none in its readings, whatever its names.
char separatorOf(const char* begin, const char* end) {
    int records = 0;
    int withSemicolon = 0;
    bool quoted = false;
    bool semicolon = false;
    bool content = false;
    for (const char* at = begin; at < end && records < 2; ++at) {
        const char c = *at;
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && (c == '\r' || c == '\n')) {
            if (content) {
                ++records;
                withSemicolon += semicolon ? 1 : 0;
            }
            semicolon = content = false;
            continue;
        } else if (!quoted && c == ';')
            semicolon = true;
        content = true;
    }
    if (content && records < 2) {
        ++records;
        withSemicolon += semicolon ? 1 : 0;
    }
    return records > 0 && withSemicolon == records ? ';' : ',';
}

QString sizeText(qint64 bytes) {
    return QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 0);
}

} // namespace

CsvSeries readCsvSeries(const QString& path, const QLocale& locale, const std::atomic<bool>* cancel,
                        qint64 maxBytes) {
    CsvSeries result;
    const QString shown = QDir::toNativeSeparators(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("Cannot read %1: %2").arg(shown, file.errorString());
        return result;
    }
    if (file.size() > maxBytes) {
        result.error = QStringLiteral("%1 is %2; the chart opens files of up to %3.")
                           .arg(shown, sizeText(file.size()), sizeText(maxBytes));
        return result;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        result.error = QStringLiteral("Cannot read %1: %2").arg(shown, file.errorString());
        return result;
    }
    return csvSeriesFromBytes(std::move(bytes), shown, locale, cancel);
}

CsvSeries csvSeriesFromBytes(QByteArray bytes, const QString& shown, const QLocale& locale,
                             const std::atomic<bool>* cancel) {
    CsvSeries result;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        auto encoding = QStringConverter::encodingForData(bytes);
        QStringDecoder decoder(encoding.value_or(QStringConverter::Utf16));
        bytes = QString(decoder.decode(bytes)).toUtf8();
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    if (bytes.trimmed().isEmpty()) {
        result.error = QStringLiteral("%1 is empty.").arg(shown);
        return result;
    }
    if (bytes.left(4096).contains('\0')) {
        result.error = QStringLiteral("%1 is not a text file, so not a log of records.").arg(shown);
        return result;
    }

    const char* begin = bytes.constData();
    const char* end = begin + bytes.size();
    std::vector<Field> fields;

    const char separator = separatorOf(begin, end);
    // The first record may be the headings; the next ones show the timestamps' form.
    CsvCursor cursor(begin, end, separator);
    cursor.next(fields);
    std::vector<QString> firstRecord;
    for (const Field& field : fields)
        firstRecord.push_back(textOf(field));
    QStringList samples;
    while (samples.size() < sampleRecords && cursor.next(fields))
        samples << textOf(fields[0]);
    TimestampReader reader(locale);
    if (samples.isEmpty())
        samples << firstRecord[0];
    const int readable = reader.detect(samples);
    // Day and month both fit the first rows: the whole file decides.
    DateOrderContest contest(reader);
    QString dateOrder;
    if (contest.needed()) {
        CsvCursor all(begin, end);
        int count = 0;
        while (all.next(fields)) {
            if (cancel && ++count % cancelCheckRecords == 0 && cancel->load()) {
                result.error = QStringLiteral("Reading %1 was cancelled.").arg(shown);
                return result;
            }
            contest.add(textOf(fields[0]));
        }
        dateOrder = contest.settle();
    }
    const bool headed = !reader.read(firstRecord[0]).isValid();
    if (readable == 0 && headed) {
        result.error = QStringLiteral("%1 is not a log of records: no line starts with a date "
                                      "and time.")
                           .arg(shown);
        return result;
    }

    QStringList names;
    for (std::size_t i = 1; i < firstRecord.size(); ++i) {
        const QString name = firstRecord[i].trimmed();
        names << (headed && !name.isEmpty() ? name : QStringLiteral("Channel %1").arg(i));
    }
    if (names.isEmpty()) {
        result.error = QStringLiteral("%1 holds timestamps but no channel readings.").arg(shown);
        return result;
    }

    SeriesBuilder builder(names, reader);
    CsvCursor records(begin, end, separator);
    if (headed)
        records.next(fields);
    int count = 0;
    std::string reading; // a reading with "," for its decimal mark, given a "."
    while (records.next(fields)) {
        if (cancel && ++count % cancelCheckRecords == 0 && cancel->load()) {
            result.error = QStringLiteral("Reading %1 was cancelled.").arg(shown);
            return result;
        }
        const Field& stamp = fields[0];
        if (!builder.beginRow(textOf(stamp), int(fields.size()) - 1))
            continue;
        for (std::size_t i = 1; i < fields.size() && i <= std::size_t(names.size()); ++i) {
            if (separator == ';' &&
                std::find(fields[i].begin, fields[i].end, ',') != fields[i].end) {
                reading.assign(fields[i].begin, fields[i].end);
                std::replace(reading.begin(), reading.end(), ',', '.');
                builder.addReading(int(i) - 1, reading.data(), reading.data() + reading.size());
            } else {
                builder.addReading(int(i) - 1, fields[i].begin, fields[i].end);
            }
        }
    }
    result.data = builder.finish();
    result.data.dateOrder = dateOrder;
    if (result.data.rows == 0) {
        result.error = QStringLiteral("%1 is not a log of records: no line has a date and time "
                                      "that could be read.")
                           .arg(shown);
    }
    return result;
}

} // namespace meterlink
