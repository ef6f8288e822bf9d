#pragma once

// What the .ics file reader and writer share with the mapping, below the public interface.
#include "calendar_file.h"
#include "ical_handles.h"

#include <QDate>
#include <QHash>
#include <functional>
#include <optional>

namespace VTodoMapping::Internal {

// The zone a file's VTIMEZONE defines for a TZID, or null to fall back on the system's.
using ZoneLookup = std::function<icaltimezone*(const char* tzid)>;

// Due dates as the user's locale writes them, each written once: a file holds the same few
// dates many times, and writing one goes through QLocale. One file is read or written under
// one locale, so the texts are kept no longer than the object.
class DueTexts
{
public:
    const QString& operator()(const QDate& date);

private:
    QHash<qint64, QString> m_texts;
};

// What reading the VTODOs of one file shares.
struct ReadContext
{
    ZoneLookup zones;
    DueTexts dueTexts;
    // The tasks of one list follow each other with the same category: the values last decoded,
    // by the raw bytes they came from, so that the tasks share one copy.
    QByteArray pathBytes;
    QStringList path;
    QByteArray keyBytes;
    QString key;
    QByteArray typeBytes;
    QString type;
};

// What printing the VTODOs of one file shares.
struct PrintContext
{
    DueTexts dueTexts;
    // DTSTAMP of every new VTODO: when the first of them was printed.
    std::optional<icaltimetype> now;
    // The category of the tasks printed last, encoded: a list's tasks follow each other.
    QStringList path;
    QByteArray encodedPath;
    QString key;
    QByteArray encodedKey;
};

// The task a parsed VTODO says; `vtodo` is left for the caller to fill.
CalendarTask readComponent(icalcomponent* vtodo, ReadContext& context);
// Parses one VTODO (or the first VTODO of a VCALENDAR). Throws Failure when libical refuses it.
Ical::Component parseVTodo(QByteArrayView text);
// The VTODO of a task, printed by libical.
Ical::Text print(const CalendarTask& task, QByteArrayView kept, PrintContext& context);
// A component as libical prints it, with one mistake of libical 3.0's line folding undone.
Ical::Text printComponent(icalcomponent* component);
// The message of the first X-LIC-ERROR libical left in the component or below it; null if none.
// The notes of empty values, which are no error, are removed on the way.
const char* firstError(icalcomponent* component);

} // namespace VTodoMapping::Internal
