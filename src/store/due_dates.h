#pragma once

#include <QDate>
#include <QHash>
#include <QLocale>
#include <QString>
#include <optional>

// Today's date, settable so that overdue colours can be checked on fixed dates.
namespace Clock {
QDate today();
// An invalid date goes back to the real clock.
void setToday(const QDate& date);
} // namespace Clock

// The one rule for due dates: what text is a date, how a date is written, and its colour.
namespace DueDates {

enum class Colour
{
    Untouched, // not a date: the cell keeps whatever colour it had
    Overdue,   // red, RGB (255, 0, 0)
    OnTime,    // black
};

// Dates follow the user's LC_TIME locale; tests set their own.
QLocale locale();
void setLocale(const QLocale& locale);

// The locale's short date format with a four-digit year ("M/d/yyyy", "dd.MM.yyyy").
QString writeFormat();
QString format(const QDate& date);
// Text in the write format (day and month with one or two digits) or ISO yyyy-MM-dd.
std::optional<QDate> parse(const QString& text);
Colour colourFor(const QString& text);
Colour colourFor(const QString& text, const QDate& today);

// The colours of a whole list: today is read once, and each distinct text is parsed once (a
// list holds the same few dates many times, and reading a month name goes through Qt's
// general date parser).
class ListColours
{
public:
    ListColours() : m_today(Clock::today()) {}
    Colour operator()(const QString& text);

private:
    QDate m_today;
    QHash<QString, Colour> m_known;
};

} // namespace DueDates
