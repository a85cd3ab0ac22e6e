#include "chart/date_order.h"

#include <algorithm>

namespace meterlink {

namespace {

// A steady log has one step, a clock change or a gap adds a few; a misread one has a jump
// at every day. Beyond this many different steps the rest all count as unsteady.
constexpr int stepKindLimit = 1024;
// In seconds, which the timestamps count in: a damaged year of nine digits still fits.
constexpr qint64 secondsPerDay = 24LL * 60 * 60;

QString orderName(TimestampReader::Order order) {
    return order == TimestampReader::Order::DayFirst ? QStringLiteral("day first")
                                                     : QStringLiteral("month first");
}

} // namespace

qint64 DateOrderContest::Contender::unsteady() const {
    qint64 commonest = 0;
    for (qint64 count : stepCounts)
        commonest = std::max(commonest, count);
    return steps - commonest;
}

DateOrderContest::DateOrderContest(TimestampReader& reader) : reader_(reader) {
    if (reader.rivals().isEmpty())
        return;
    contenders_.emplace_back(reader.form());
    for (TimestampReader::Form rival : reader.rivals())
        contenders_.emplace_back(rival);
}

void DateOrderContest::add(QStringView timestamp) {
    for (Contender& contender : contenders_) {
        const TimestampReader::Moment moment = reader_.readIn(contender.form, timestamp);
        if (!moment.isValid())
            continue;
        ++contender.read;
        // Local time would add a clock change's hour to the steps; only their sameness counts.
        const qint64 now =
            moment.date.toJulianDay() * secondsPerDay + moment.time.msecsSinceStartOfDay() / 1000;
        if (contender.any) {
            ++contender.steps;
            const qint64 step = now - contender.previous;
            auto found = contender.stepCounts.find(step);
            if (found != contender.stepCounts.end())
                ++*found;
            else if (contender.stepCounts.size() < stepKindLimit)
                contender.stepCounts.insert(step, 1);
        } else {
            contender.firstDate = moment.date;
        }
        contender.previous = now;
        contender.any = true;
    }
}

QString DateOrderContest::settle() {
    if (!needed())
        return QString();
    // The reader's own choice stands first, so it wins every tie.
    const auto better = [](const Contender& a, const Contender& b) {
        if (a.read != b.read)
            return a.read > b.read;
        return a.unsteady() < b.unsteady();
    };
    const Contender& winner =
        *std::min_element(contenders_.begin(), contenders_.end(),
                          [&](const Contender& a, const Contender& b) { return better(a, b); });
    reader_.setForm(winner.form);

    const TimestampReader::Order order = reader_.orderOf(winner.form);
    const Contender* other = nullptr;
    for (const Contender& contender : contenders_) {
        if (contender.read == winner.read && reader_.orderOf(contender.form) != order)
            other = &contender;
    }
    if (!other)
        return QString();
    const QString first = QLocale::c().toString(winner.firstDate, QStringLiteral("d MMMM yyyy"));
    const QString why = other->unsteady() > winner.unsteady()
                            ? QStringLiteral("its time steps are not steady")
                            : QStringLiteral("the PC's locale decided");
    return QStringLiteral("Dates read %1 (the first is %2): %3 fits them too, but %4.")
        .arg(orderName(order), first, orderName(reader_.orderOf(other->form)), why);
}

} // namespace meterlink
