#pragma once

#include "chart/timestamp_reader.h"

#include <QHash>
#include <QString>

#include <vector>

namespace meterlink {

// Settles day-first against month-first over every timestamp of a file, when its first rows
// could not tell them apart: the form that reads more rows wins; when both read all alike,
// the one whose time steps are steady (a log's step is fixed), else the one detect() chose.
class DateOrderContest {
public:
    explicit DateOrderContest(TimestampReader& reader);

    // False when the reader's form was no choice; add() and settle() then do nothing.
    bool needed() const { return contenders_.size() > 1; }
    void add(QStringView timestamp);
    // Puts the winner into the reader. Returns the sentence for the note under the chart
    // when the order was a choice between forms that read every row alike, else empty.
    QString settle();

private:
    struct Contender {
        explicit Contender(TimestampReader::Form f) : form(f) {}
        TimestampReader::Form form;
        qint64 read = 0;
        qint64 steps = 0;
        qint64 previous = 0;
        bool any = false;
        QDate firstDate;
        QHash<qint64, qint64> stepCounts;
        qint64 unsteady() const;
    };

    TimestampReader& reader_;
    std::vector<Contender> contenders_;
};

} // namespace meterlink
