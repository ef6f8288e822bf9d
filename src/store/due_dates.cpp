#include "due_dates.h"

#include <QRegularExpression>
#include <ctime>
#include <vector>

namespace Clock {

namespace {
QDate g_today;
}

QDate today()
{
    if (g_today.isValid())
        return g_today;
    // QDate::currentDate() runs tzset(), which reads the time zone file again on every call:
    // a fifth of the time to show 32767 tasks went there. localtime_r keeps the zone it read.
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local))
        return QDate::currentDate();
    return QDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

void setToday(const QDate& date)
{
    g_today = date;
}

} // namespace Clock

namespace DueDates {

namespace {

std::optional<QLocale> g_locale;
// Counts locale changes. The name cannot tell locales apart: the system locale takes its name
// from LANG but its date formats from LC_TIME.
int g_localeGeneration = 0;

// A numeric date format broken into its pieces, so that 32767 due dates parse in a few
// milliseconds instead of going through QDateTimeParser one by one.
struct Pattern
{
    enum Kind
    {
        Day,
        Month,
        Year,
        Literal
    };
    struct Token
    {
        Kind kind;
        QString literal;
    };
    std::vector<Token> tokens;
    bool numeric = true;
};

Pattern compile(const QString& format)
{
    Pattern pattern;
    for (int i = 0; i < format.size();) {
        const QChar c = format[i];
        int run = 1;
        while (i + run < format.size() && format[i + run] == c)
            ++run;
        if (c == u'd' && run <= 2)
            pattern.tokens.push_back({Pattern::Day, {}});
        else if (c == u'M' && run <= 2)
            pattern.tokens.push_back({Pattern::Month, {}});
        else if (c == u'y' && run == 4)
            pattern.tokens.push_back({Pattern::Year, {}});
        else if (c.isLetter() || c == u'\'')
            pattern.numeric = false;
        else
            pattern.tokens.push_back({Pattern::Literal, QString(run, c)});
        i += run;
    }
    return pattern;
}

std::optional<int> digits(QStringView text, qsizetype& pos, int minCount, int maxCount)
{
    int value = 0;
    int count = 0;
    while (pos < text.size() && count < maxCount && text[pos].isDigit()) {
        value = value * 10 + text[pos].digitValue();
        ++pos;
        ++count;
    }
    if (count < minCount)
        return std::nullopt;
    return value;
}

std::optional<QDate> parseWith(const Pattern& pattern, QStringView text)
{
    int day = 0, month = 0, year = 0;
    qsizetype pos = 0;
    for (const auto& token : pattern.tokens) {
        if (token.kind == Pattern::Literal) {
            if (!text.mid(pos).startsWith(token.literal))
                return std::nullopt;
            pos += token.literal.size();
            continue;
        }
        const auto value =
            token.kind == Pattern::Year ? digits(text, pos, 4, 4) : digits(text, pos, 1, 2);
        if (!value)
            return std::nullopt;
        (token.kind == Pattern::Day ? day : token.kind == Pattern::Month ? month : year) = *value;
    }
    if (pos != text.size())
        return std::nullopt;
    const QDate date(year, month, day);
    return date.isValid() ? std::optional(date) : std::nullopt;
}

struct Formats
{
    QString write;
    QString lenientRead; // for formats with month names, read through Qt
    Pattern pattern;
};

const Formats& formats()
{
    static int forGeneration = -1;
    static Formats cached;
    if (forGeneration != g_localeGeneration) {
        const QLocale current = locale();
        QString write = current.dateFormat(QLocale::ShortFormat);
        // Two-digit years read back as the 1900s; always write four digits.
        static const QRegularExpression shortYear(QStringLiteral("(?<!y)y{1,2}(?!y)"));
        write.replace(shortYear, QStringLiteral("yyyy"));
        QString lenient = write;
        lenient.replace(QRegularExpression(QStringLiteral("(?<!d)dd(?!d)")), QStringLiteral("d"));
        lenient.replace(QRegularExpression(QStringLiteral("(?<!M)MM(?!M)")), QStringLiteral("M"));
        cached = {write, lenient, compile(write)};
        forGeneration = g_localeGeneration;
    }
    return cached;
}

const Pattern& isoPattern()
{
    static const Pattern iso = compile(QStringLiteral("yyyy-MM-dd"));
    return iso;
}

} // namespace

QLocale locale()
{
    return g_locale ? *g_locale : QLocale::system();
}

void setLocale(const QLocale& locale)
{
    g_locale = locale;
    ++g_localeGeneration;
}

QString writeFormat()
{
    return formats().write;
}

QString format(const QDate& date)
{
    return locale().toString(date, writeFormat());
}

std::optional<QDate> parse(const QString& text)
{
    const QStringView trimmed = QStringView(text).trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const Formats& f = formats();
    if (f.pattern.numeric) {
        if (auto date = parseWith(f.pattern, trimmed))
            return date;
    } else {
        const QDate date = locale().toDate(trimmed.toString(), f.lenientRead);
        if (date.isValid())
            return date;
    }
    return parseWith(isoPattern(), trimmed);
}

Colour colourFor(const QString& text)
{
    return text.isEmpty() ? Colour::Untouched : colourFor(text, Clock::today());
}

Colour colourFor(const QString& text, const QDate& today)
{
    const auto date = parse(text);
    if (!date)
        return Colour::Untouched;
    return *date < today ? Colour::Overdue : Colour::OnTime;
}

Colour ListColours::operator()(const QString& text)
{
    if (text.isEmpty())
        return Colour::Untouched;
    const auto known = m_known.constFind(text);
    if (known != m_known.constEnd())
        return *known;
    const Colour colour = colourFor(text, m_today);
    m_known.insert(text, colour);
    return colour;
}

} // namespace DueDates
