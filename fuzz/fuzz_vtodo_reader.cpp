// An .ics file from anywhere as it is imported, and every task of it exported again over the
// VTODO it came in. Input that is no calendar is taken as six task texts instead, split at NUL
// bytes, and goes out and back in.
#include "calendar_file.h"
#include "due_dates.h"
#include "failure.h"
#include "fuzz_input.h"

namespace {

bool sameTask(const CalendarTask& a, const CalendarTask& b)
{
    return a.fields == b.fields && a.sortOrder == b.sortOrder && a.categoryPath == b.categoryPath &&
           a.categoryKey == b.categoryKey && a.deleted == b.deleted;
}

void exportAndReadBack(const CalendarTask& task, QByteArrayView kept)
{
    const QByteArray vtodo = VTodoMapping::write(task, kept);
    // The zones it names are defined, or left out, without fail.
    VTodoMapping::timeZoneDefinitions(VTodoMapping::timeZoneIds(vtodo));
    const CalendarTask back = VTodoMapping::read(vtodo);
    FUZZ_CHECK(sameTask(back, task));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool localeSet = [] {
        DueDates::setLocale(QLocale(QStringLiteral("en_US")));
        return true;
    }();
    (void)localeSet;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    CalendarFile file;
    try {
        file = IcsFile::parse(bytes, QStringLiteral("fuzz.ics"));
    } catch (const Failure& failure) {
        FUZZ_CHECK(failure.description().startsWith(QStringLiteral("fuzz.ics, line ")));
        CalendarTask task;
        const QList<QByteArray> texts = bytes.toByteArray().split('\0');
        for (int i = 0; i < TaskListCodec::kFieldCount && i < texts.size(); ++i)
            task.fields[i] = QString::fromUtf8(texts[i]);
        if (texts.size() > 6)
            task.categoryPath = QString::fromUtf8(texts[6]).split(u'/');
        if (texts.size() > 7)
            task.categoryKey = QString::fromUtf8(texts[7]);
        exportAndReadBack(task, {});
        // And over a VTODO of another program's, with categories and a due time of its own.
        static const QByteArray kept =
            "BEGIN:VTODO\r\nUID:x@example\r\nDTSTAMP:20260101T000000Z\r\n"
            "SUMMARY:Theirs\r\nPRIORITY:2\r\nCATEGORIES:Errands,Home\r\n"
            "DUE;TZID=Europe/Berlin:20260409T003000\r\nCOMPLETED:20260101T000000Z\r\n"
            "X-APPLE-SORT-ORDER:7\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\n"
            "TRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VTODO\r\n";
        exportAndReadBack(task, kept);
        return 0;
    }
    for (const CalendarTask& task : file.tasks) {
        // A task of Kestrune's own comes without its VTODO text: it is written from its fields.
        if (task.vtodo.isEmpty()) {
            exportAndReadBack(task, {});
            continue;
        }
        // What the mapping reads from the component alone (a TZID of the file's own
        // VTIMEZONE is not known there) is what comes back after writing over it.
        const CalendarTask alone = VTodoMapping::read(task.vtodo);
        exportAndReadBack(alone, task.vtodo);
    }
    return 0;
}
