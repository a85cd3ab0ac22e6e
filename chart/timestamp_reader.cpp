#include "chart/timestamp_reader.h"

#include "logger/record_decoder.h"

#include <array>
#include <iterator>

namespace meterlink {

namespace {

constexpr int sampleLimit = 200;
constexpr int cacheLimit = 4096;

bool isWordChar(QChar c) {
    return c.isLetter() || c == QLatin1Char('.');
}

// The English month abbreviations the C locale writes; 0 when the word is none of them.
int monthOfName(QStringView word) {
    static const char* const names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
    if (word.size() < 3)
        return 0;
    for (int m = 0; m < 12; ++m) {
        if (word.left(3).compare(QLatin1String(names[m]), Qt::CaseInsensitive) == 0)
            return m + 1;
    }
    return 0;
}

bool sameMarker(QStringView word, const QString& marker) {
    return !marker.isEmpty() && word.compare(marker, Qt::CaseInsensitive) == 0;
}

} // namespace

TimestampReader::TimestampReader(const QLocale& locale)
    : locale_(locale), amText_(locale.amText()), pmText_(locale.pmText()),
      own_(makeLocaleForm(locale)), c_(makeLocaleForm(QLocale::c())) {}

TimestampReader::LocaleForm TimestampReader::makeLocaleForm(const QLocale& locale) {
    LocaleForm form;
    form.locale = locale;
    // The same formats the grid's timestamps are written in.
    form.dateFormat = dateFormatWithFullYear(locale);
    form.timeFormat = timeFormatWithSeconds(locale);
    form.blanksInDate =
        int(locale.toString(QDate(2001, 12, 28), form.dateFormat).count(QLatin1Char(' ')));
    return form;
}

int TimestampReader::detect(const QStringList& samples) {
    const Form candidates[] = {Form::Iso, Form::Locale, Form::CLocale, Form::DayFirst,
                               Form::MonthFirst};
    const bool monthFirstLocale =
        locale_.dateFormat(QLocale::ShortFormat).trimmed().startsWith(QLatin1Char('M'));
    int bestRead = -1;
    int bestBackwards = 0;
    int bestRank = 0;
    std::array<int, std::size(candidates)> reads{};
    for (Form candidate : candidates) {
        int read = 0;
        int backwards = 0;
        QDateTime previous;
        for (int i = 0; i < samples.size() && i < sampleLimit; ++i) {
            const Moment moment = readIn(candidate, samples[i]);
            if (!moment.isValid())
                continue;
            ++read;
            const QDateTime now(moment.date, moment.time);
            if (previous.isValid() && now < previous)
                ++backwards;
            previous = now;
        }
        reads[size_t(candidate)] = read;
        // Equal evidence: the locale's own order before the other numeric one.
        int rank = int(candidate);
        if (monthFirstLocale && candidate == Form::MonthFirst)
            rank = int(Form::DayFirst) - 1;
        const bool better = read > bestRead || (read == bestRead && backwards < bestBackwards) ||
                            (read == bestRead && backwards == bestBackwards && rank < bestRank);
        if (better) {
            bestRead = read;
            bestBackwards = backwards;
            bestRank = rank;
            form_ = candidate;
        }
    }
    rivals_.clear();
    const Order chosen = orderOf(form_);
    if (bestRead > 0 && (chosen == Order::DayFirst || chosen == Order::MonthFirst)) {
        for (Form candidate : candidates) {
            const Order order = orderOf(candidate);
            if (reads[size_t(candidate)] == bestRead && order != chosen &&
                (order == Order::DayFirst || order == Order::MonthFirst))
                rivals_ << candidate;
        }
    }
    return qMax(bestRead, 0);
}

TimestampReader::Order TimestampReader::orderOf(Form form) const {
    switch (form) {
    case Form::Iso:
        return Order::YearFirst;
    case Form::CLocale:
        return Order::NamedMonth;
    case Form::DayFirst:
        return Order::DayFirst;
    case Form::MonthFirst:
        return Order::MonthFirst;
    case Form::Locale:
        break;
    }
    const QString& format = own_.dateFormat;
    if (format.contains(QLatin1String("MMM")))
        return Order::NamedMonth;
    const auto day = format.indexOf(QLatin1Char('d'));
    const auto month = format.indexOf(QLatin1Char('M'));
    const auto year = format.indexOf(QLatin1Char('y'));
    if (year >= 0 && year < day && year < month)
        return Order::YearFirst;
    return day >= 0 && (month < 0 || day < month) ? Order::DayFirst : Order::MonthFirst;
}

TimestampReader::Moment TimestampReader::read(QStringView text) {
    return readIn(form_, text);
}

TimestampReader::Moment TimestampReader::readIn(Form form, QStringView text) {
    text = text.trimmed();
    switch (form) {
    case Form::Iso:
        return readIso(text);
    case Form::Locale:
        return readLocale(own_, text);
    case Form::CLocale:
        return readLocale(c_, text);
    case Form::DayFirst:
        return readNumeric(text, true);
    case Form::MonthFirst:
        return readNumeric(text, false);
    }
    return {};
}

TimestampReader::Moment TimestampReader::readIso(QStringView text) const {
    auto number = [&](int at, int digits, int& value) {
        if (at + digits > text.size())
            return false;
        value = 0;
        for (int i = at; i < at + digits; ++i) {
            if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9'))
                return false;
            value = value * 10 + (text[i].unicode() - '0');
        }
        return true;
    };
    int year, month, day;
    if (!number(0, 4, year) || text.size() < 10 || text[4] != QLatin1Char('-') ||
        !number(5, 2, month) || text[7] != QLatin1Char('-') || !number(8, 2, day))
        return {};
    Moment moment{QDate(year, month, day), QTime(0, 0)};
    if (text.size() == 10)
        return moment;
    int hour, minute, second = 0;
    if ((text[10] != QLatin1Char('T') && text[10] != QLatin1Char(' ')) || !number(11, 2, hour) ||
        text.size() < 16 || text[13] != QLatin1Char(':') || !number(14, 2, minute))
        return {};
    if (text.size() > 16 && text[16] == QLatin1Char(':') && !number(17, 2, second))
        return {};
    moment.time = QTime(hour, minute, second);
    return moment;
}

TimestampReader::Moment TimestampReader::readNumeric(QStringView text, bool dayFirst) const {
    struct Part {
        int value;
        int digits;
        bool monthName;
    };
    std::array<Part, 3> date{};
    int dateParts = 0;
    std::array<int, 3> time{};
    int timeParts = 0;
    int meridiem = 0; // 1 before noon, 2 after
    bool inTime = false;

    int i = 0;
    const int n = int(text.size());
    while (i < n) {
        const QChar c = text[i];
        if (c.digitValue() >= 0) {
            int value = 0;
            int digits = 0;
            while (i < n && text[i].digitValue() >= 0 && digits < 9) {
                value = value * 10 + text[i].digitValue();
                ++digits;
                ++i;
            }
            const bool colonNext = i < n && text[i] == QLatin1Char(':');
            if (inTime || colonNext) {
                if (timeParts == 3) {
                    const int before = i - digits - 1;
                    if (before >= 0 && text[before] == QLatin1Char('.'))
                        continue; // fractions of a second
                    return {};
                }
                time[size_t(timeParts++)] = value;
                inTime = colonNext;
            } else {
                if (dateParts == 3)
                    return {};
                date[size_t(dateParts++)] = {value, digits, false};
            }
            continue;
        }
        if (isWordChar(c)) {
            const int start = i;
            while (i < n && isWordChar(text[i]))
                ++i;
            const QStringView word = text.mid(start, i - start);
            if (word == QLatin1String("."))
                continue;
            if (sameMarker(word, amText_) ||
                word.compare(QLatin1String("am"), Qt::CaseInsensitive) == 0 ||
                word.compare(QLatin1String("a.m."), Qt::CaseInsensitive) == 0) {
                meridiem = 1;
            } else if (sameMarker(word, pmText_) ||
                       word.compare(QLatin1String("pm"), Qt::CaseInsensitive) == 0 ||
                       word.compare(QLatin1String("p.m."), Qt::CaseInsensitive) == 0) {
                meridiem = 2;
            } else if (const int month = monthOfName(word); month > 0 && dateParts < 3) {
                date[size_t(dateParts++)] = {month, 0, true};
            } else {
                return {};
            }
            continue;
        }
        inTime = inTime && c == QLatin1Char(':');
        ++i;
    }
    if (dateParts != 3)
        return {};

    int year, month, day;
    if (date[0].digits == 4) {
        year = date[0].value;
        month = date[1].value;
        day = date[2].value;
    } else if (date[0].monthName || (!date[1].monthName && !dayFirst)) {
        month = date[0].value;
        day = date[1].value;
        year = date[2].value;
    } else {
        day = date[0].value;
        month = date[1].value;
        year = date[2].value;
    }
    if (!date[0].monthName && date[0].digits != 4 && date[2].digits <= 2)
        year += 2000; // a two-digit year: the log's years are this century's
    Moment moment{QDate(year, month, day), QTime(0, 0)};
    if (timeParts == 1)
        return {};
    if (timeParts >= 2) {
        int hour = time[0];
        if (meridiem != 0 && (hour < 1 || hour > 12))
            return {};
        if (meridiem == 1 && hour == 12)
            hour = 0;
        else if (meridiem == 2 && hour < 12)
            hour += 12;
        moment.time = QTime(hour, time[1], timeParts == 3 ? time[2] : 0);
    }
    return moment;
}

TimestampReader::Moment TimestampReader::readLocale(LocaleForm& form, QStringView text) {
    // The date stands first, its own blanks included; the rest is the time (none at midnight).
    int cut = -1;
    for (int blanks = 0; blanks <= form.blanksInDate; ++blanks) {
        cut = int(text.indexOf(QLatin1Char(' '), cut + 1));
        if (cut < 0)
            break;
    }
    const QStringView datePart = cut < 0 ? text : text.left(cut);
    const QStringView timePart = cut < 0 ? QStringView() : text.mid(cut + 1).trimmed();

    Moment moment;
    const QString dateKey = datePart.toString();
    auto date = form.dates.constFind(dateKey);
    if (date != form.dates.cend()) {
        moment.date = *date;
    } else {
        moment.date = form.locale.toDate(dateKey, form.dateFormat);
        // A log has a few hundred dates; a file of other texts must not fill the memory.
        if (form.dates.size() < cacheLimit)
            form.dates.insert(dateKey, moment.date);
    }
    if (timePart.isEmpty()) {
        moment.time = QTime(0, 0);
        return moment;
    }
    const QString timeKey = timePart.toString();
    auto time = form.times.constFind(timeKey);
    if (time != form.times.cend()) {
        moment.time = *time;
    } else {
        moment.time = form.locale.toTime(timeKey, form.timeFormat);
        if (form.times.size() < cacheLimit)
            form.times.insert(timeKey, moment.time);
    }
    return moment;
}

} // namespace meterlink
