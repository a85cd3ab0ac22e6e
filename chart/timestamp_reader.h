#pragma once

#include <QDate>
#include <QHash>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTime>

namespace meterlink {

// Reads the timestamps of one log. A log comes from this PC or another, so its form is not
// known beforehand: it is chosen once from a sample of the log's own texts, and every text
// is then read in that form.
class TimestampReader {
public:
    enum class Form {
        Iso,        // 2001-05-17 09:30:00 (or with a T)
        Locale,     // the short date and time of the locale given (as the grid writes them)
        CLocale,    // 17 May 2001 09:30:00
        DayFirst,   // 17/05/2001 09:30:00, 17.5.2001, 17-05-2001 ...
        MonthFirst, // 5/17/2001 9:30:00 AM
    };

    struct Moment {
        QDate date;
        QTime time;
        bool isValid() const { return date.isValid() && time.isValid(); }
    };

    explicit TimestampReader(const QLocale& locale = QLocale());

    // Chooses the form that reads the most samples, then the one whose times run backwards
    // least often (a day-first log read month-first jumps about), then the likelier form
    // for the locale. Returns how many samples that form reads.
    int detect(const QStringList& samples);
    Form form() const { return form_; }
    void setForm(Form form) { form_ = form; }
    // Forms that read as many samples as the one chosen but take day and month the other
    // way round: the samples could not tell them apart (every day was 12 or less).
    const QList<Form>& rivals() const { return rivals_; }

    enum class Order { YearFirst, DayFirst, MonthFirst, NamedMonth };
    Order orderOf(Form form) const;

    Moment readIn(Form form, QStringView text);

    // An invalid date when the text holds no date (the time alone) or does not convert; a
    // date alone is midnight.
    Moment read(QStringView text);

private:
    Moment readIso(QStringView text) const;
    Moment readNumeric(QStringView text, bool dayFirst) const;

    struct LocaleForm {
        QLocale locale;
        QString dateFormat;
        QString timeFormat;
        int blanksInDate = 0;
        QHash<QString, QDate> dates;
        QHash<QString, QTime> times;
    };
    static LocaleForm makeLocaleForm(const QLocale& locale);
    static Moment readLocale(LocaleForm& form, QStringView text);

    QLocale locale_;
    Form form_ = Form::Iso;
    QList<Form> rivals_;
    QString amText_;
    QString pmText_;
    LocaleForm own_;
    LocaleForm c_;
};

} // namespace meterlink
