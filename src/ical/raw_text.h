#pragma once

// Texts that iCalendar's own properties cannot carry unchanged travel in our X- properties,
// percent-encoded: libical neither escapes nor trims them then, and no other program's reader
// can mistake them for something else.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace RawText {

// UTF-8 with every byte outside A-Z a-z 0-9 - . _ ~ and non-ASCII written as %XX. An empty
// text is "%", as an X- property may not be empty.
QByteArray encode(const QString& text);
QString decode(const char* value);

// A category path: each name encoded, joined by "/".
QByteArray encodePath(const QStringList& path);
QStringList decodePath(const char* value);

// What is left of a text when whitespace and control characters are taken out. libical trims
// values and drops carriage returns; comparing what is left tells whether another program
// changed the property since we wrote the text beside it.
QString skeleton(const QString& text);

// Whether the text has anything but whitespace and control characters.
bool hasVisible(QStringView text);

// The text without the control characters a property value may not hold (all but line
// feeds and tabs); the raw text beside the property keeps them.
QString printable(const QString& text);

// Whether libical, printing and parsing the text as a TEXT value, could give back anything
// else: blanks at either end, carriage returns, tabs and other control characters.
bool altersAsText(QStringView text);

// The first byte that cannot be part of iCalendar text: NUL, another control character than
// tab and line breaks, a carriage return that does not end a line, or bytes that are not
// UTF-8. libical keeps control characters in a value but leaves some out when printing, so
// such a value would not survive being written again.
struct BadByte
{
    enum Kind
    {
        None,
        Nul,
        Control,
        StrayCarriageReturn,
        NotUtf8
    };
    Kind kind = None;
    qsizetype offset = -1;
};
BadByte firstBadByte(QByteArrayView bytes);
QString describe(const BadByte& bad, QByteArrayView bytes);

} // namespace RawText
