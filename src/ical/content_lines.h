#pragma once

// The content lines of iCalendar text as the readers here walk them: each with the lines that
// continue it, and which components they begin and end.
#include <QByteArray>
#include <QByteArrayView>
#include <cstring>
#include <optional>

namespace IcsText {

// One content line, with the lines that continue it (folded lines start with a blank).
struct ContentLine
{
    qsizetype begin = 0; // first byte of the first physical line
    qsizetype next = 0;  // first byte after its last line break
    int number = 0;      // 1-based line of the file it starts on
    // The unfolded text. Only lines that may be BEGIN: or END: are unfolded, as nothing but
    // those two is read here; the others leave the text of their first physical line.
    QByteArray text;
};

class ContentLines
{
public:
    ContentLines(QByteArrayView bytes, int firstNumber) : m_bytes(bytes), m_number(firstNumber) {}

    bool next(ContentLine& line)
    {
        if (m_pos >= m_bytes.size())
            return false;
        line.begin = m_pos;
        line.number = m_number;
        const QByteArrayView first = physical();
        const bool mayFrame = startsLike(first, "BEGIN:") || startsLike(first, "END:");
        line.text = QByteArray::fromRawData(first.data(), first.size());
        bool copied = false;
        while (m_pos < m_bytes.size() && (m_bytes[m_pos] == ' ' || m_bytes[m_pos] == '\t')) {
            ++m_pos;
            const QByteArrayView more = physical();
            if (mayFrame) {
                if (!copied) {
                    line.text = first.toByteArray();
                    copied = true;
                }
                line.text.append(more);
            }
        }
        line.next = m_pos;
        return true;
    }

private:
    // Whether `text` starts with `keyword`, or with as much of it as it holds.
    static bool startsLike(QByteArrayView text, const char* keyword)
    {
        if (text.isEmpty() || (text[0] | 0x20) != (keyword[0] | 0x20))
            return false;
        const qsizetype n = qMin(text.size(), qsizetype(std::strlen(keyword)));
        return qstrnicmp(text.data(), keyword, n) == 0;
    }

    QByteArrayView physical()
    {
        const char* start = m_bytes.data() + m_pos;
        const auto* nl = static_cast<const char*>(std::memchr(start, '\n', m_bytes.size() - m_pos));
        qsizetype end = nl ? nl - m_bytes.data() : m_bytes.size();
        m_pos = nl ? end + 1 : end;
        ++m_number;
        if (end > start - m_bytes.data() && m_bytes[end - 1] == '\r')
            --end;
        return QByteArrayView(start, m_bytes.data() + end);
    }

    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
    int m_number;
};

// "BEGIN:X" or "END:X" gives X, upper case; other lines give nothing.
inline std::optional<QByteArray> framing(const QByteArray& text, const char* keyword)
{
    const qsizetype n = qsizetype(std::strlen(keyword));
    // Most lines are properties: their first letter tells them apart without comparing more.
    if (text.size() <= n || (text[0] | 0x20) != (keyword[0] | 0x20) ||
        qstrnicmp(text.constData(), keyword, n) != 0)
        return std::nullopt;
    const QByteArrayView name = QByteArrayView(text).sliced(n).trimmed();
    // The usual names come without a copy of their own: a file frames every task twice.
    static const QByteArray kKnown[] = {
        QByteArrayLiteral("VTODO"),    QByteArrayLiteral("VCALENDAR"),
        QByteArrayLiteral("VALARM"),   QByteArrayLiteral("VTIMEZONE"),
        QByteArrayLiteral("VEVENT"),   QByteArrayLiteral("STANDARD"),
        QByteArrayLiteral("DAYLIGHT"), QByteArrayLiteral("VJOURNAL"),
    };
    for (const QByteArray& known : kKnown) {
        if (name.size() == known.size() &&
            qstrnicmp(name.data(), known.constData(), name.size()) == 0)
            return known;
    }
    return name.toByteArray().toUpper();
}

} // namespace IcsText
