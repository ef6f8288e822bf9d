#include "raw_text.h"

#include <algorithm>

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

QString decode(const char* value)
{
    if (!value || (value[0] == '%' && value[1] == '\0'))
        return {};
    return QString::fromUtf8(QByteArray::fromPercentEncoding(QByteArray(value)));
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
    for (const QByteArray& piece : QByteArray(value).split('/'))
        path.append(decode(piece.constData()));
    return path;
}

QString skeleton(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() > 0x20 && c.unicode() != 0x7F)
            out.append(c);
    }
    return out;
}

bool hasVisible(QStringView text)
{
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() > 0x20 && c.unicode() != 0x7F; });
}

QString printable(const QString& text)
{
    const auto dropped = [](QChar c) {
        return (c.unicode() < 0x20 && c != u'\n' && c != u'\t') || c.unicode() == 0x7F;
    };
    if (std::none_of(text.begin(), text.end(), dropped))
        return text;
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if ((c.unicode() >= 0x20 && c.unicode() != 0x7F) || c == u'\n' || c == u'\t')
            out.append(c);
    }
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

qsizetype strayCarriageReturn(QByteArrayView bytes)
{
    for (qsizetype at = bytes.indexOf('\r'); at >= 0; at = bytes.indexOf('\r', at + 1)) {
        if (at + 1 >= bytes.size() || bytes[at + 1] != '\n')
            return at;
    }
    return -1;
}

} // namespace RawText
