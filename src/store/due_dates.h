#pragma once

#include <QDate>
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
// For many texts at once: today read once from the clock.
Colour colourFor(const QString& text, const QDate& today);

} // namespace DueDates
