#pragma once

#include "task_list_codec.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// A task as an iCalendar VTODO carries it. Kestrune's six texts map onto standard properties;
// whatever a VTODO holds that Kestrune has no field for lives on in `vtodo`, the component as
// read, which is patched (never rebuilt) when the task goes out again.
struct CalendarTask
{
    QString uid; // as in the file; empty when the file gave none
    TaskListCodec::Fields fields;
    std::optional<qint64> sortOrder; // X-APPLE-SORT-ORDER
    // Where Kestrune kept the task, in files Kestrune wrote; an empty path otherwise.
    QStringList categoryPath;
    QString categoryKey;
    bool deleted = false;
    // The VTODO as read, BEGIN:VTODO to END:VTODO; empty for a task Kestrune made. A file
    // Kestrune wrote leaves it empty too for a task that says nothing beyond `fields` and its
    // placement (carriesMore false): the task's own fields write it again as it was.
    QByteArray vtodo;
    // Whether `vtodo` holds anything Kestrune would not write for the task itself (an alarm, a
    // rule, another program's property, a time of day on the due date), so it is worth keeping.
    bool carriesMore = false;
};

// A category of the tree as a Kestrune file lists it, parents before their children.
struct CalendarCategory
{
    QStringList path; // the names from the top-level category down
    QString key;
};

struct CalendarFile
{
    bool writtenByKestrune = false;
    QList<CalendarCategory> categories; // the whole tree, in tree order, for Kestrune files
    QList<CalendarTask> tasks;          // in file order
    int skippedComponents = 0;          // VEVENT, VJOURNAL and the like
};

namespace VTodoMapping {

// The VTODO of a task, as text. With `kept` (a VTODO read before, for the same UID) only the
// properties Kestrune's fields and placement say are changed in it; everything else stays,
// its UID too where it stands for the task's.
QByteArray write(const CalendarTask& task, QByteArrayView kept = {});
// The task a VTODO text says. Throws Failure when libical refuses the text.
CalendarTask read(QByteArrayView vtodo);
// The time zones a VTODO text's properties name (DUE;TZID=...), each once.
QList<QByteArray> timeZoneIds(QByteArrayView vtodo);
// The VTIMEZONE of each of `tzids` the system's time zones know, under that TZID, as text: a
// calendar must define every zone its entries name. Those it does not know are left out.
QByteArray timeZoneDefinitions(const QList<QByteArray>& tzids);

} // namespace VTodoMapping

namespace IcsFile {

// Larger files are refused before anything is read.
constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

// Reads a whole .ics file. Throws Failure, with a message naming the file and the line, when
// the file is too big, is not iCalendar, is cut off or holds a component libical refuses; a
// file either reads whole or not at all.
CalendarFile read(const QString& path);
// The same for bytes already in memory; `name` stands for the file in messages.
CalendarFile parse(QByteArrayView bytes, const QString& name);

// Writes one VCALENDAR, category list first, then task by task, into a file that appears
// only when finish() succeeds (nothing half written is ever left). Throws Failure.
class Writer
{
public:
    Writer(const QString& path, const QList<CalendarCategory>& categories);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void add(const CalendarTask& task, QByteArrayView kept = {});
    void finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace IcsFile
