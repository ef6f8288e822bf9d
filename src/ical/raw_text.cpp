#include "raw_text.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace RawText {

namespace {

bool keptAsIs(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~' || c >= 0x80;
}

} // namespace

QByteArray encode(const QString& text)
{
    if (text.isEmpty())
        return QByteArrayLiteral("%");
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() * 3);
    static const char kHex[] = "0123456789ABCDEF";
    for (const char byte : utf8) {
        const auto c = static_cast<unsigned char>(byte);
        if (keptAsIs(c)) {
            out.append(byte);
        } else {
            out.append('%');
            out.append(kHex[c >> 4]);
            out.append(kHex[c & 0xF]);
        }
    }
    return out;
}

namespace {

QString decodePiece(QByteArrayView piece)
{
    if (piece == "%")
        return {};
    if (!piece.contains('%'))
        return QString::fromUtf8(piece);
    return QString::fromUtf8(QByteArray::fromPercentEncoding(piece.toByteArray()));
}

} // namespace

QString decode(const char* value)
{
    return value ? decodePiece(QByteArrayView(value)) : QString();
}

QByteArray encodePath(const QStringList& path)
{
    QByteArray out;
    for (const QString& name : path) {
        if (!out.isEmpty())
            out.append('/');
        out.append(encode(name));
    }
    return out;
}

QStringList decodePath(const char* value)
{
    QStringList path;
    if (!value || !*value)
        return path;
    const QByteArrayView text(value);
    for (qsizetype start = 0;;) {
        const qsizetype slash = text.indexOf('/', start);
        path.append(decodePiece(text.sliced(start, (slash < 0 ? text.size() : slash) - start)));
        if (slash < 0)
            return path;
        start = slash + 1;
    }
}

namespace {

bool isBlank(QChar c)
{
    return c.unicode() <= 0x20 || c.unicode() == 0x7F;
}

} // namespace

QString skeleton(const QString& text)
{
    // Most texts have nothing to take out: they are handed back shared, not copied.
    const auto from = std::find_if(text.begin(), text.end(), isBlank);
    if (from == text.end())
        return text;
    QString out;
    out.reserve(text.size());
    out.append(text.constData(), from - text.begin());
    std::copy_if(from, text.end(), std::back_inserter(out), [](QChar c) { return !isBlank(c); });
    return out;
}

bool hasVisible(QStringView text)
{
    return !std::all_of(text.begin(), text.end(), isBlank);
}

QString printable(const QString& text)
{
    const auto dropped = [](QChar c) {
        return (c.unicode() < 0x20 && c != u'\n' && c != u'\t') || c.unicode() == 0x7F;
    };
    const auto from = std::find_if(text.begin(), text.end(), dropped);
    if (from == text.end())
        return text;
    QString out;
    out.reserve(text.size());
    out.append(text.constData(), from - text.begin());
    std::remove_copy_if(from, text.end(), std::back_inserter(out), dropped);
    return out;
}

bool altersAsText(QStringView text)
{
    if (text.isEmpty())
        return false;
    const auto blank = [](QChar c) { return c.unicode() <= 0x20 || c.isSpace(); };
    if (blank(text.front()) || blank(text.back()))
        return true;
    for (const QChar c : text) {
        if ((c.unicode() < 0x20 && c != u'\n') || c.unicode() == 0x7F)
            return true;
    }
    return false;
}

BadByte firstBadByte(QByteArrayView bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    while (i < size) {
        // Printable ASCII, the bulk of any calendar, eight bytes at a time: no byte with its
        // high bit set, none below 0x20 (the classic test for a byte under a bound) and no DEL
        // (a zero byte once every byte is XORed with 0x7F).
        while (i + 8 <= size) {
            quint64 word;
            std::memcpy(&word, s + i, 8);
            constexpr quint64 kHigh = 0x8080808080808080ULL;
            const quint64 del = word ^ 0x7F7F7F7F7F7F7F7FULL;
            if ((word & kHigh) || ((word - 0x2020202020202020ULL) & ~word & kHigh) ||
                ((del - 0x0101010101010101ULL) & ~del & kHigh))
                break;
            i += 8;
        }
        if (i >= size)
            break;
        const unsigned char c = s[i];
        if (c < 0x80) {
            if (c == 0)
                return {BadByte::Nul, i};
            if (c == '\r' && (i + 1 >= size || s[i + 1] != '\n'))
                return {BadByte::StrayCarriageReturn, i};
            if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F)
                return {BadByte::Control, i};
            ++i;
            continue;
        }
        int length = 0;
        char32_t min = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            min = 0x10000;
        } else {
            return {BadByte::NotUtf8, i};
        }
        if (i + length > size)
            return {BadByte::NotUtf8, i};
        char32_t code = c & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return {BadByte::NotUtf8, i};
            code = (code << 6) | (s[i + k] & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return {BadByte::NotUtf8, i};
        i += length;
    }
    return {};
}

QString describe(const BadByte& bad, QByteArrayView bytes)
{
    switch (bad.kind) {
    case BadByte::Nul:
        return QStringLiteral("binary data (a NUL byte), not iCalendar text");
    case BadByte::Control:
        return QStringLiteral("a control character (0x%1), not iCalendar text")
            .arg(uint(static_cast<unsigned char>(bytes[bad.offset])), 2, 16, QLatin1Char('0'));
    case BadByte::StrayCarriageReturn:
        return QStringLiteral("a carriage return inside a line, not iCalendar text");
    case BadByte::NotUtf8:
        return QStringLiteral("text that is not UTF-8");
    case BadByte::None:
        break;
    }
    return {};
}

} // namespace RawText
