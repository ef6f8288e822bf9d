// Tasks as iCalendar VTODOs and .ics files: both round trips, files real programs write and
// read, and files that must be refused with the line that is wrong.
#include "calendar_file.h"
#include "due_dates.h"
#include "failure.h"
#include "test_files.h"
#include "test_main.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <ctime>
#include <libical/ical.h>

using Fields = TaskListCodec::Fields;

namespace {

const QString kDataDir = QStringLiteral(ICAL_TEST_DATA);
const QString kForeignUid = QStringLiteral("7deceaf94bec4f84a97cc4488433721d@vm");

QStringList textsOf(const Fields& fields)
{
    return QStringList(fields.begin(), fields.end());
}

Fields fieldsOf(const QStringList& texts)
{
    Fields fields;
    std::copy_n(texts.begin(), TaskListCodec::kFieldCount, fields.begin());
    return fields;
}

// A VTODO's content lines as libical prints it, unfolded and sorted: VTODOs that hold the same
// properties with the same parameters and values give the same list, whatever their order.
QStringList contentLines(QByteArrayView vtodo)
{
    const QByteArray text = vtodo.toByteArray();
    icalcomponent* component = icalparser_parse_string(text.constData());
    if (!component)
        return {};
    char* printed = icalcomponent_as_ical_string_r(component);
    QString unfolded = QString::fromUtf8(printed).replace(QStringLiteral("\r\n "), QString());
    icalmemory_free_buffer(printed);
    icalcomponent_free(component);
    QStringList lines = unfolded.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    lines.sort();
    return lines;
}

QStringList minus(QStringList lines, const QStringList& taken)
{
    for (const QString& line : taken)
        lines.removeOne(line);
    return lines;
}

QByteArray foreignVTodo()
{
    return IcsFile::read(kDataDir + QStringLiteral("/foreign_todo.ics")).tasks.value(0).vtodo;
}

QByteArray vtodoWith(const char* lines)
{
    return QByteArray("BEGIN:VTODO\r\nUID:kestrune-test\r\nDTSTAMP:20260101T000000Z\r\n") +
           QByteArray(lines).replace("\n", "\r\n") + "END:VTODO\r\n";
}

QByteArray calendarWith(const QByteArray& body)
{
    return QByteArray("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Test//Test//EN\n") + body +
           "END:VCALENDAR\n";
}

QString failureOf(const std::function<void()>& step)
{
    try {
        step();
    } catch (const Failure& failure) {
        return failure.description();
    }
    return QStringLiteral("(no failure)");
}

// The first of the program's names found on PATH, or nothing.
QString program(const QStringList& names)
{
    for (const QString& name : names) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

} // namespace

class TestIcal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Times of day are shown as local dates: a zone whose dates differ from UTC's.
        qputenv("TZ", "America/New_York");
        tzset();
        DueDates::setLocale(QLocale(QStringLiteral("en_US")));
    }
    void cleanup() { DueDates::setLocale(QLocale(QStringLiteral("en_US"))); }

    void kestruneToVTodoToKestrune_keepsEveryText_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("texts");
        const auto row = [](const char* name, const QStringList& texts,
                            const char* locale = "en_US") {
            QTest::newRow(name) << QString::fromLatin1(locale) << texts;
        };
        row("plain", {"Buy milk", "High", "Work", "3/4/2026", "Two litres", ""});
        row("done", {"Pay rent", "Highest", "Home", "12/31/2026", "", "Done"});
        row("medium, low and lowest", {"a", "Medium", "", "", "", ""});
        row("low", {"a", "Low", "", "", "", ""});
        row("lowest", {"a", "Lowest", "", "", "", ""});
        row("everything empty", {"", "", "", "", "", ""});
        row("priority none of the five", {"a", "Urgent", "", "", "", ""});
        row("priority in lower case", {"a", "high", "", "", "", ""});
        row("due not a date", {"a", "", "", "next week", "", ""});
        row("due with a two-digit year", {"a", "", "", "1/2/26", "", ""});
        row("due with zeros", {"a", "", "", "01/02/2026", "", ""});
        row("due as ISO", {"a", "", "", "2026-03-04", "", ""});
        row("due with blanks", {"a", "", "", " 3/4/2026 ", "", ""});
        // libical writes no date after the year 3000 (found by the fuzzer).
        row("due after 3000", {"a", "", "", "6/8/4052", "", ""});
        row("due in 3000", {"a", "", "", "12/31/3000", "", ""});
        row("German date", {"a", "", "", "05.03.2026", "", ""}, "de_DE");
        row("German short date", {"a", "", "", "5.3.2026", "", ""}, "de_DE");
        row("done other text", {"a", "", "", "", "", "half"});
        row("done with a blank", {"a", "", "", "", "", " Done"});
        row("type with commas", {"a", "", "Home, garden,shed", "", "", ""});
        row("type with blanks", {"a", "", "  Work  ", "", "", ""});
        row("type of blanks", {"a", "", "   ", "", "", ""});
        row("type with semicolon and backslash", {"a", "", "x;y\\z", "", "", ""});
        row("notes with CRLF", {"a", "", "", "", "line one\r\nline two\r\n", ""});
        row("notes with trailing blanks", {"a", "", "", "", "a\nb  \n  ", ""});
        row("notes with tabs and escapes", {"a", "", "", "", "\tc1\tc2\\p;x,y\\n", ""});
        row("notes of a lone CR", {"a", "", "", "", "\r", ""});
        row("non-ASCII", {"Grüße 日本 ✓", "", "Zoë", "", "Œuvre\nnaïve 😀", ""});
        row("summary empty", {"", "Low", "", "", "notes", ""});
        row("summary of blanks", {"   ", "", "", "", "", ""});
        row("summary padded", {"  padded  ", "", "", "", "", ""});
        row("control characters", {"a\x01z", "\x7f", "\x02", "", "\x1b[0m", "\x03"});
        // libical folds lines of these lengths between their CR and LF unless undone.
        row("summary whose line is folded at its end", {QString(73, u'a'), "", "", "", "", ""});
        row("raw text whose line is folded at its end",
            {QString(71, u'a') + u'\n', "", "", "", QString(147, u'b'), ""});
        row("percent signs", {"100% %41", "%", "%20", "%", "%", "%"});
        row("long text folded", {QString(40, QChar(0x00E9)) + QString(200, u'x'), "", "", "",
                                 QStringLiteral("😀").repeated(240), ""});
    }
    void kestruneToVTodoToKestrune_keepsEveryText()
    {
        QFETCH(QString, locale);
        QFETCH(QStringList, texts);
        DueDates::setLocale(QLocale(locale));
        CalendarTask task;
        task.fields = fieldsOf(texts);
        task.sortOrder = -12;
        task.categoryPath = {QStringLiteral("Home"), QStringLiteral("Garden, shed/left"),
                             QStringLiteral(" Zoë %2F ")};
        task.categoryKey = QStringLiteral("Node 7/%");
        task.deleted = true;
        // Alone, and over a VTODO another program wrote.
        for (const QByteArray& kept : {QByteArray(), foreignVTodo()}) {
            task.uid = kept.isEmpty() ? QStringLiteral("kestrune-1") : kForeignUid;
            const QByteArray vtodo = VTodoMapping::write(task, kept);
            const CalendarTask back = VTodoMapping::read(vtodo);
            for (int field = 0; field < TaskListCodec::kFieldCount; ++field)
                QCOMPARE(back.fields[field], task.fields[field]);
            QCOMPARE(back.uid, task.uid);
            QCOMPARE(back.sortOrder, task.sortOrder);
            QCOMPARE(back.categoryPath, task.categoryPath);
            QCOMPARE(back.categoryKey, task.categoryKey);
            QCOMPARE(back.deleted, task.deleted);
            QCOMPARE(back.vtodo, vtodo);
        }
    }

    void vtodoToKestruneToVTodo_keepsEveryProperty_data()
    {
        QTest::addColumn<QByteArray>("vtodo");
        QTest::newRow("todoman's, with alarm, rule and relation") << foreignVTodo();
        QTest::newRow("completed") << vtodoWith("SUMMARY:x\nSTATUS:COMPLETED\n"
                                                "COMPLETED:20260102T030405Z\n"
                                                "PERCENT-COMPLETE:100\n");
        QTest::newRow("completed without status")
            << vtodoWith("SUMMARY:x\nCOMPLETED:20260102T030405Z\n");
        QTest::newRow("cancelled") << vtodoWith("SUMMARY:x\nSTATUS:CANCELLED\n");
        QTest::newRow("priority between ours") << vtodoWith("PRIORITY:2\nSUMMARY:x\n");
        QTest::newRow("priority zero") << vtodoWith("PRIORITY:0\n");
        QTest::newRow("due in UTC") << vtodoWith("DUE:20260306T043000Z\n");
        QTest::newRow("due floating") << vtodoWith("DUE:20260306T043000\n");
        QTest::newRow("duration, no due") << vtodoWith("DTSTART:20260306T043000Z\nDURATION:PT1H\n");
        QTest::newRow("categories in several properties")
            << vtodoWith("CATEGORIES:Work,Errands\nCATEGORIES:Later\n");
        QTest::newRow("our raw texts") << vtodoWith("SUMMARY:a\nX-KESTRUNE-PRIORITY:Urgent\n"
                                                    "X-KESTRUNE-DUE:next%20week\n");
        QTest::newRow("sort order") << vtodoWith("X-APPLE-SORT-ORDER:-5\n");
        QTest::newRow("components libical does not print")
            << vtodoWith("SUMMARY:x\nBEGIN:X-FOO\nX-BAR:1\nBEGIN:X-IN\nX-A:2\nEND:X-IN\n"
                         "END:X-FOO\nBEGIN:VALARM\nACTION:DISPLAY\nDESCRIPTION:d\n"
                         "TRIGGER:-PT5M\nEND:VALARM\nbegin:VLOCATION\nUID:l\nNAME:here\n"
                         "end:VLOCATION\n");
        QTest::newRow("no UID, no summary") << QByteArray("BEGIN:VTODO\nSTATUS:IN-PROCESS\n"
                                                          "END:VTODO\n");
    }
    void vtodoToKestruneToVTodo_keepsEveryProperty()
    {
        QFETCH(QByteArray, vtodo);
        const QByteArray again = VTodoMapping::write(VTodoMapping::read(vtodo), vtodo);
        QCOMPARE(contentLines(again), contentLines(vtodo));
        // Every component too: libical's printing above leaves out those it does not know.
        for (const QByteArray& line : vtodo.split('\n'))
            if (line.toUpper().startsWith("BEGIN:"))
                QVERIFY2(again.contains(line), line.constData());
    }

    void changedField_changesOnlyItsProperty_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QStringList>("added"); // the start of each line, in sorted order
        const auto row = [](const char* name, int field, const char* text,
                            const QStringList& removed, const QStringList& added) {
            QTest::newRow(name) << field << QString::fromUtf8(text) << removed << added;
        };
        row("task", 0, "Fix the tap today", {"SUMMARY:Fix the tap"}, {"SUMMARY:Fix the tap today"});
        row("priority", 1, "Lowest", {"PRIORITY:4"}, {"PRIORITY:9"});
        row("priority cleared", 1, "", {"PRIORITY:4"}, {});
        row("priority of our own", 1, "Urgent", {"PRIORITY:4"}, {"X-KESTRUNE-PRIORITY:Urgent"});
        row("type", 2, "Garden", {"CATEGORIES:Errands"}, {"CATEGORIES:Garden"});
        row("due", 3, "4/10/2026", {"DUE;TZID=Europe/Berlin:20260409T093000"},
            {"DUE;VALUE=DATE:20260410"});
        row("due cleared", 3, "", {"DUE;TZID=Europe/Berlin:20260409T093000"}, {});
        row("notes", 4, "Call Bob",
            {"DESCRIPTION;LANGUAGE=en:Call the plumber\\, then the landlord"},
            {"DESCRIPTION;LANGUAGE=en:Call Bob"});
        row("done", 5, "Done", {"STATUS:NEEDS-ACTION"},
            {"COMPLETED:", "PERCENT-COMPLETE:100", "STATUS:COMPLETED"});
    }
    void changedField_changesOnlyItsProperty()
    {
        QFETCH(int, field);
        QFETCH(QString, text);
        QFETCH(QStringList, removed);
        QFETCH(QStringList, added);
        const QByteArray kept = foreignVTodo();
        CalendarTask task = VTodoMapping::read(kept);
        QCOMPARE(textsOf(task.fields), QStringList({"Fix the tap", "High", "Errands", "4/9/2026",
                                                    "Call the plumber, then the landlord", ""}));
        task.fields[field] = text;
        const QStringList before = contentLines(kept);
        const QStringList after = contentLines(VTodoMapping::write(task, kept));
        QCOMPARE(minus(before, after), removed);
        const QStringList gained = minus(after, before);
        QCOMPARE(gained.size(), added.size());
        for (int i = 0; i < added.size(); ++i)
            QVERIFY2(gained[i].startsWith(added[i]), qPrintable(gained[i]));
    }

    void otherProgramsChange_winOverOurRawTexts_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("priority set")
            << QStringList{"a", "Urgent", "", "", "", ""} << QByteArray("\r\nEND:VTODO")
            << QByteArray("\r\nPRIORITY:1\r\nEND:VTODO")
            << QStringList{"a", "Highest", "", "", "", ""};
        QTest::newRow("due set") << QStringList{"a", "", "", "next week", "", ""}
                                 << QByteArray("\r\nEND:VTODO")
                                 << QByteArray("\r\nDUE;VALUE=DATE:20260101\r\nEND:VTODO")
                                 << QStringList{"a", "", "", "1/1/2026", "", ""};
        QTest::newRow("due moved")
            << QStringList{"a", "", "", "01/02/2026", "", ""} << QByteArray("20260102")
            << QByteArray("20260103") << QStringList{"a", "", "", "1/3/2026", "", ""};
        QTest::newRow("completed")
            << QStringList{"a", "", "", "", "", "half"} << QByteArray("NEEDS-ACTION")
            << QByteArray("COMPLETED") << QStringList{"a", "", "", "", "", "Done"};
        QTest::newRow("summary edited")
            << QStringList{"  a  ", "", "", "", "", ""} << QByteArray("SUMMARY:  a  ")
            << QByteArray("SUMMARY:b") << QStringList{"b", "", "", "", "", ""};
        QTest::newRow("type edited")
            << QStringList{"a", "", "x,y", "", "", ""} << QByteArray("CATEGORIES:x,y")
            << QByteArray("CATEGORIES:z") << QStringList{"a", "", "z", "", "", ""};
    }
    void otherProgramsChange_winOverOurRawTexts()
    {
        QFETCH(QStringList, texts);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QStringList, expected);
        CalendarTask task;
        task.fields = fieldsOf(texts);
        QByteArray vtodo = VTodoMapping::write(task);
        QVERIFY2(vtodo.contains(from), vtodo.constData());
        vtodo.replace(from, to);
        QCOMPARE(textsOf(VTodoMapping::read(vtodo).fields), expected);
    }

    void dueWithTimeOfDay_showsLocalDate_data()
    {
        QTest::addColumn<QByteArray>("due");
        QTest::addColumn<QString>("date");
        // The test runs in New York: 5 hours behind UTC in March.
        QTest::newRow("date") << QByteArray("DUE;VALUE=DATE:20260305") << "3/5/2026";
        QTest::newRow("UTC") << QByteArray("DUE:20260305T033000Z") << "3/4/2026";
        QTest::newRow("zone") << QByteArray("DUE;TZID=Europe/Berlin:20260305T003000") << "3/4/2026";
        QTest::newRow("zone with a prefix")
            << QByteArray("DUE;TZID=/mozilla.org/20050126_1/Europe/Berlin:20260305T003000")
            << "3/4/2026";
        QTest::newRow("Windows zone")
            << QByteArray("DUE;TZID=W. Europe Standard Time:20260305T003000") << "3/4/2026";
        QTest::newRow("unknown zone, as floating")
            << QByteArray("DUE;TZID=Nowhere:20260305T003000") << "3/5/2026";
        QTest::newRow("floating") << QByteArray("DUE:20260305T003000") << "3/5/2026";
    }
    void dueWithTimeOfDay_showsLocalDate()
    {
        QFETCH(QByteArray, due);
        QFETCH(QString, date);
        QCOMPARE(VTodoMapping::read(vtodoWith(due + "\n")).fields[3], date);
    }

    void calendarOfOtherPrograms_readsTasksAndCountsTheRest()
    {
        // Two calendars one after the other, as concatenated per-task files are; a zone the
        // file defines, after the task that uses it; a UID twice, which the caller sorts out.
        const QByteArray bytes =
            calendarWith("BEGIN:VTODO\nUID:a\nSUMMARY:first\n"
                         "DUE;TZID=Kiribati own:20260305T003000\nEND:VTODO\n"
                         "BEGIN:VEVENT\nUID:e\nDTSTART:20260101T100000Z\nEND:VEVENT\n"
                         "BEGIN:VTIMEZONE\nTZID:Kiribati own\nBEGIN:STANDARD\n"
                         "DTSTART:19700101T000000\nTZOFFSETFROM:+1400\nTZOFFSETTO:+1400\n"
                         "END:STANDARD\nEND:VTIMEZONE\n") +
            calendarWith("BEGIN:VJOURNAL\nUID:j\nEND:VJOURNAL\n"
                         "BEGIN:VTODO\nUID:a\nSUMMARY:again\nDESCRIPTION:\nEND:VTODO\n");
        const CalendarFile file = IcsFile::parse(bytes, QStringLiteral("mixed.ics"));
        QVERIFY(!file.writtenByKestrune);
        QVERIFY(file.categories.isEmpty());
        QCOMPARE(file.skippedComponents, 2);
        QCOMPARE(file.tasks.size(), 2);
        QCOMPARE(file.tasks[0].uid, file.tasks[1].uid);
        QCOMPARE(file.tasks[0].fields[0], QStringLiteral("first"));
        QCOMPARE(file.tasks[0].fields[3], QStringLiteral("3/4/2026")); // +14:00, not floating
        QCOMPARE(file.tasks[1].fields[0], QStringLiteral("again"));
        QVERIFY(file.tasks[1].vtodo.startsWith("BEGIN:VTODO\nUID:a\nSUMMARY:again"));
        // An empty value is no error, and libical's note of it never goes out again.
        QCOMPARE(file.tasks[1].fields[4], QString());
        QVERIFY(!VTodoMapping::write(file.tasks[1], file.tasks[1].vtodo).contains("X-LIC"));
    }

    void writtenFile_readsBackWithItsCategoryTree()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tasks.ics"));
        const QList<CalendarCategory> tree = {
            {{QStringLiteral("Home")}, QStringLiteral("1")},
            {{QStringLiteral("Home"), QStringLiteral("Garden, shed/left")}, QStringLiteral("2")},
            {{QStringLiteral("Empty ünïcode  ")}, QStringLiteral("key with blanks")},
        };
        QList<CalendarTask> tasks(3);
        for (int i = 0; i < tasks.size(); ++i) {
            tasks[i].uid = QStringLiteral("uid-%1").arg(i);
            tasks[i].fields = fieldsOf({QStringLiteral("Task %1").arg(i), "Low", "Work", "3/4/2026",
                                        "n", i == 1 ? "Done" : ""});
            tasks[i].categoryPath = tree[i % 2].path;
            tasks[i].categoryKey = tree[i % 2].key;
            tasks[i].sortOrder = i;
        }
        tasks[2].deleted = true;
        // The last goes out over the VTODO another program wrote, alarm and all.
        tasks[2].uid = kForeignUid;
        tasks[2].vtodo = foreignVTodo();
        {
            IcsFile::Writer writer(path, tree);
            for (const CalendarTask& task : tasks)
                writer.add(task, task.vtodo);
            QVERIFY(!QFile::exists(path)); // not before finish()
            writer.finish();
        }
        const CalendarFile file = IcsFile::read(path);
        QVERIFY(file.writtenByKestrune);
        QCOMPARE(file.categories.size(), tree.size());
        for (int i = 0; i < tree.size(); ++i) {
            QCOMPARE(file.categories[i].path, tree[i].path);
            QCOMPARE(file.categories[i].key, tree[i].key);
        }
        QCOMPARE(file.tasks.size(), tasks.size());
        for (int i = 0; i < tasks.size(); ++i) {
            QCOMPARE(textsOf(file.tasks[i].fields), textsOf(tasks[i].fields));
            QCOMPARE(file.tasks[i].categoryPath, tasks[i].categoryPath);
            QCOMPARE(file.tasks[i].categoryKey, tasks[i].categoryKey);
            QCOMPARE(file.tasks[i].sortOrder, tasks[i].sortOrder);
            QCOMPARE(file.tasks[i].deleted, tasks[i].deleted);
        }
        QVERIFY(file.tasks[2].carriesMore);
        QVERIFY(file.tasks[2].vtodo.contains("BEGIN:VALARM\r\nACTION:DISPLAY"));
        QVERIFY(file.tasks[2].vtodo.contains("RRULE:FREQ=WEEKLY;COUNT=4;BYDAY=TH"));
        const QByteArray bytes = fileBytes(path);
        QVERIFY(bytes.startsWith("BEGIN:VCALENDAR\r\nPRODID:-//Kestrune//Kestrune//EN"));
        // A task of Kestrune's own comes without its VTODO text: written again from what was
        // read, it says what the file says (all but the moment it was stamped).
        QVERIFY(!file.tasks[0].carriesMore);
        QVERIFY(file.tasks[0].vtodo.isEmpty());
        const qsizetype begin = bytes.indexOf("BEGIN:VTODO");
        const qsizetype end = bytes.indexOf("END:VTODO", begin);
        const auto stamped = [](const QString& line) { return line.startsWith("DTSTAMP:"); };
        QStringList again = contentLines(VTodoMapping::write(file.tasks[0]));
        QStringList inFile = contentLines(bytes.sliced(begin, end - begin) + "END:VTODO\r\n");
        again.removeIf(stamped);
        inFile.removeIf(stamped);
        QCOMPARE(again, inFile);
    }

    void writerNotFinished_leavesTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tasks.ics"));
        writeFile(path, "old");
        {
            IcsFile::Writer writer(path, {});
            writer.add(CalendarTask{});
        }
        QCOMPARE(fileBytes(path), QByteArray("old"));
    }

    void badFile_isRefusedNamingTheLine_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("says");
        const QByteArray todo = "BEGIN:VTODO\nUID:a\nSUMMARY:x\nEND:VTODO\n";
        QTest::newRow("empty") << QByteArray() << 1 << "empty";
        QTest::newRow("only blank lines") << QByteArray("\n\r\n  \n") << 1 << "empty";
        QTest::newRow("plain text") << QByteArray("\nDear diary,\n") << 2 << "not iCalendar";
        QTest::newRow("a vCard") << QByteArray("BEGIN:VCARD\nEND:VCARD\n") << 1 << "not iCalendar";
        QTest::newRow("text after the calendar") << calendarWith(todo) + "trailing words\n"
                                                 << 9 << "after END:VCALENDAR";
        QTest::newRow("cut off in a task")
            << QByteArray("BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VTODO\nSUMMARY:x\n") << 3
            << "cut off";
        QTest::newRow("cut off in an alarm")
            << calendarWith("BEGIN:VTODO\nUID:a\nBEGIN:VALARM\nACTION:DISPLAY\nEND:VTODO\n") << 8
            << "END:VTODO where BEGIN:VALARM of line 6";
        QTest::newRow("cut off after the tasks")
            << calendarWith(todo).chopped(14) << 1 << "cut off: BEGIN:VCALENDAR";
        QTest::newRow("END without BEGIN")
            << calendarWith("END:VTODO\n") << 4 << "END:VTODO where BEGIN:VCALENDAR";
        QTest::newRow("completed not a time")
            << calendarWith("BEGIN:VTODO\nUID:a\nCOMPLETED:soon\nEND:VTODO\n") << 6 << "libical";
        QTest::newRow("due not a date, folded, in the second task")
            << calendarWith("BEGIN:VTODO\nUID:a\nEND:VTODO\nBEGIN:VTODO\nUID:b\r\nDUE:to\r\n "
                            "morrow\nEND:VTODO\n")
            << 9 << "DUE";
        QTest::newRow("line without a colon")
            << calendarWith("BEGIN:VTODO\nUID:a\nBEGIN:VALARM\nnonsense\nEND:VALARM\nEND:VTODO\n")
            << 7 << "libical";
        QTest::newRow("bad property of an event")
            << calendarWith("BEGIN:VEVENT\nDTSTART:yesterday\nEND:VEVENT\n") << 5 << "libical";
        QTest::newRow("bad property of the calendar")
            << calendarWith("CALSCALE;=x:y\n") << 4 << "libical";
        QTest::newRow("bad property of the calendar, after a task")
            << calendarWith(todo + "CALSCALE;=x:y\n") << 8 << "libical";
        // libical would print it with VALUE=DATE, which it refuses when reading back.
        QTest::newRow("date for a date-time")
            << calendarWith("BEGIN:VTODO\nUID:a\nDTSTAMP:20260101\nEND:VTODO\n") << 6
            << "date-time";
        QTest::newRow("NUL byte") << calendarWith(
                                         QByteArray("BEGIN:VTODO\nUID:a\0b\nEND:VTODO\n", 21))
                                  << 5 << "binary";
        QTest::newRow("carriage return inside a line")
            << calendarWith("BEGIN:VTODO\r\nUID:a\r\nX-APPLE-SORT-ORDER:3\r1\r\nEND:VTODO\n") << 6
            << "carriage return";
        QTest::newRow("DELs among printable bytes")
            << calendarWith("BEGIN:VTODO\nUID:a\nSTATUS:COMP\x7f\x7f\x7f\x7f\x7f\x7f\x7f\x7f"
                            "\x7f\x7fLETED\nEND:VTODO\n")
            << 6 << "control character (0x7f)";
        QTest::newRow("control character in a value")
            << calendarWith("BEGIN:VTODO\nUID:a\nX-OTHER:\b\nEND:VTODO\n") << 6
            << "control character (0x08)";
        QByteArray junk(64, '\0');
        for (int i = 0; i < junk.size(); ++i)
            junk[i] = char((i * 97 + 13) % 256);
        QTest::newRow("binary junk") << junk << 1 << "not iCalendar text";
        QTest::newRow("an image") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << 1
                                  << "not UTF-8";
        QTest::newRow("binary after text")
            << QByteArray("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:\x1a\n\0\0\0\rIHDR", 38) << 3
            << "control character (0x1a)";
        QTest::newRow("not UTF-8")
            << calendarWith("BEGIN:VTODO\nUID:a\nSUMMARY:caf\xe9\nEND:VTODO\n") << 6 << "not UTF-8";
        // Deep enough to overflow libical's recursion, had it been handed over.
        QTest::newRow("components nested 100000 deep")
            << calendarWith("BEGIN:VTODO\nUID:a\n" + QByteArray("BEGIN:X-N\n").repeated(100000) +
                            QByteArray("END:X-N\n").repeated(100000) + "END:VTODO\n")
            << 36 << "nested more than 32 deep";
        QTest::newRow("a field separator in a summary")
            << calendarWith(todo + "BEGIN:VTODO\nUID:b\nSUMMARY:AMy_Separatora12B\nEND:VTODO\n")
            << 8 << "\"AMy_Separatora12B\" holds \"My_Separatora12\"";
        QTest::newRow("a task separator in notes")
            << calendarWith("BEGIN:VTODO\nUID:b\nSUMMARY:C\nDESCRIPTION:My_Separatora08\n"
                            "END:VTODO\n")
            << 4 << "holds \"My_Separatora08\"";
    }
    void badFile_isRefusedNamingTheLine()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, line);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("bad.ics"));
        writeFile(path, bytes);
        const QString message = failureOf([&] { IcsFile::read(path); });
        QVERIFY2(message.startsWith(QStringLiteral("bad.ics, line %1: ").arg(line)),
                 qPrintable(message));
        QVERIFY2(message.contains(says), qPrintable(message));
    }

    // Tasks of a file that gives no UIDs get the same ones each time the file is read, one
    // each, and the copy kept of each carries it: a file imported twice is not doubled.
    void vtodosWithoutUid_getTheSameUidsAtEveryReading()
    {
        const QByteArray same = "BEGIN:VTODO\nSUMMARY:same\nEND:VTODO\n";
        const QByteArray bytes = calendarWith(same + same + "BEGIN:VTODO\nSUMMARY:x\nEND:VTODO\n");
        const CalendarFile first = IcsFile::parse(bytes, QStringLiteral("a.ics"));
        const CalendarFile again = IcsFile::parse(bytes, QStringLiteral("a.ics"));
        QSet<QString> uids;
        for (qsizetype i = 0; i < first.tasks.size(); ++i) {
            QCOMPARE(again.tasks[i].uid, first.tasks[i].uid);
            QCOMPARE(VTodoMapping::read(first.tasks[i].vtodo).uid, first.tasks[i].uid);
            uids.insert(first.tasks[i].uid);
        }
        QCOMPARE(uids.size(), 3);
    }

    // Other programs' due times name their zones: a file defines each once, under that name, and
    // reads back to the same dates. A zone the system does not know stays named, undefined.
    void zonesTheTasksName_areDefinedInTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("zones.ics"));
        const QList<QByteArray> kept{
            vtodoWith("SUMMARY:a\nDUE;TZID=Europe/Berlin:20260409T003000\n"),
            vtodoWith("SUMMARY:b\nDTSTART;TZID=Europe/Berlin:20260408T003000\n"
                      "DUE;TZID=\"America/New_York\":20260409T213000\n"),
            vtodoWith("SUMMARY:c\nDUE;TZID=Nowhere own:20260409T003000\n")};
        QList<CalendarTask> tasks;
        {
            IcsFile::Writer writer(path, {});
            for (const QByteArray& vtodo : kept) {
                tasks.append(VTodoMapping::read(vtodo));
                writer.add(tasks.last(), vtodo);
            }
            writer.finish();
        }
        const QByteArray text = fileBytes(path);
        QCOMPARE(text.count("BEGIN:VTIMEZONE"), 2);
        for (const char* id : {"\r\nTZID:Europe/Berlin\r\n", "\r\nTZID:America/New_York\r\n"})
            QVERIFY2(text.contains(id), id);
        const CalendarFile back = IcsFile::read(path);
        QCOMPARE(back.tasks.size(), tasks.size());
        for (qsizetype i = 0; i < tasks.size(); ++i)
            QCOMPARE(back.tasks[i].fields, tasks[i].fields);
    }

    void tooBigFile_isRefusedBeforeReading()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("huge.ics"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(IcsFile::kMaxFileBytes + 1)); // sparse: nothing is written
        file.close();
        const QString message = failureOf([&] { IcsFile::read(path); });
        QVERIFY2(message.startsWith(QStringLiteral("huge.ics, line 1: ")), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("too big")), qPrintable(message));
    }

    void todomanTasks_readWithEveryField()
    {
        const QString todoman = program({QStringLiteral("todo"), QStringLiteral("todoman")});
        if (todoman.isEmpty())
            QSKIP("todoman is not installed");
        QTemporaryDir home;
        const QString lists = home.filePath(QStringLiteral("lists"));
        QDir().mkpath(lists + QStringLiteral("/tasks"));
        // todoman 4.1 reads its configuration as Python.
        const QString config = home.filePath(QStringLiteral("config.py"));
        writeFile(config, QStringLiteral("path = \"%1/*\"\ndate_format = \"%Y-%m-%d\"\n"
                                         "time_format = \"%H:%M\"\ndefault_list = \"tasks\"\n")
                              .arg(lists)
                              .toUtf8());
        const auto run = [&](const QStringList& arguments, const QByteArray& input = {}) {
            QProcess process;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("HOME"), home.path());
            for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
                environment.insert(QString::fromLatin1(name), home.path());
            process.setProcessEnvironment(environment);
            process.start(todoman, QStringList{QStringLiteral("--config"), config} + arguments);
            process.write(input);
            process.closeWriteChannel();
            QVERIFY(process.waitForFinished(60000));
            QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        };
        run({"new", "-l", "tasks", "--priority", "high", "--due", "2026-03-04", "Buy, milk"});
        run({"new", "-l", "tasks", "-r", "--priority", "low", "--due", "2026-03-05 23:30",
             "Grüße; to all"},
            "Call Zoë");
        run({"done", "2"});
        QMap<QString, QStringList> byTask;
        for (const QFileInfo& info :
             QDir(lists + QStringLiteral("/tasks")).entryInfoList({QStringLiteral("*.ics")})) {
            const CalendarFile file = IcsFile::read(info.filePath());
            QCOMPARE(file.tasks.size(), 1);
            QVERIFY(!file.tasks[0].uid.isEmpty());
            byTask.insert(file.tasks[0].fields[0], textsOf(file.tasks[0].fields));
        }
        QCOMPARE(byTask.size(), 2);
        // todoman has no categories and writes "low" as 9; its times are UTC, shown as the local
        // date they were given in.
        QCOMPARE(byTask.value(QStringLiteral("Buy, milk")),
                 QStringList({"Buy, milk", "High", "", "3/4/2026", "", ""}));
        QCOMPARE(byTask.value(QStringLiteral("Grüße; to all")),
                 QStringList({"Grüße; to all", "Lowest", "", "3/5/2026", "Call Zoë", "Done"}));
    }

    void pythonIcalendar_readsOurFileFieldByField()
    {
        QString python;
        for (const QString& candidate :
             {QStringLiteral("/usr/bin/python3"), program({QStringLiteral("python3")})}) {
            if (!candidate.isEmpty() &&
                QProcess::execute(
                    candidate, {QStringLiteral("-c"), QStringLiteral("import icalendar")}) == 0) {
                python = candidate;
                break;
            }
        }
        if (python.isEmpty())
            QSKIP("Python's icalendar module is not installed");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.ics"));
        const QList<Fields> written = {
            fieldsOf({"Buy milk; eggs", "Highest", "Work, home", "3/4/2026",
                      "two\r\nlines, ünïcode", ""}),
            fieldsOf({"Done one", "Lowest", "", "12/31/2026", "", "Done"}),
        };
        {
            IcsFile::Writer writer(path, {{{QStringLiteral("Home")}, QStringLiteral("1")}});
            for (int i = 0; i < written.size(); ++i) {
                CalendarTask task;
                task.uid = QStringLiteral("uid-%1").arg(i);
                task.fields = written[i];
                writer.add(task);
            }
            writer.finish();
        }
        const char* script = R"(
import icalendar, json, sys
calendar = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read())
out = []
for todo in calendar.walk('VTODO'):
    categories = todo.get('CATEGORIES')
    due = todo.get('DUE')
    out.append({
        'uid': str(todo.get('UID')), 'summary': str(todo.get('SUMMARY', '')),
        'description': str(todo.get('DESCRIPTION', '')),
        'priority': int(todo.get('PRIORITY', 0)),
        'categories': [str(c) for c in categories.cats] if categories else [],
        'due': due.dt.isoformat() if due else '', 'status': str(todo.get('STATUS', '')),
    })
print(json.dumps(out))
)";
        QProcess process;
        process.start(python, {QStringLiteral("-c"), QString::fromUtf8(script), path});
        QVERIFY(process.waitForFinished(60000));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        const QJsonArray todos = QJsonDocument::fromJson(process.readAllStandardOutput()).array();
        QCOMPARE(todos.size(), 2);
        const auto field = [&](int i, const char* name) {
            return todos[i].toObject().value(QLatin1String(name));
        };
        QCOMPARE(field(0, "uid").toString(), QStringLiteral("uid-0"));
        QCOMPARE(field(0, "summary").toString(), QStringLiteral("Buy milk; eggs"));
        // iCalendar has no carriage returns in text: the line break is a line feed there.
        QCOMPARE(field(0, "description").toString(), QStringLiteral("two\nlines, ünïcode"));
        QCOMPARE(field(0, "priority").toInt(), 1);
        // Commas split categories in every reader; the whole type travels in our own property.
        QCOMPARE(field(0, "categories").toArray(), QJsonArray({"Work", " home"}));
        QCOMPARE(field(0, "due").toString(), QStringLiteral("2026-03-04"));
        QCOMPARE(field(0, "status").toString(), QStringLiteral("NEEDS-ACTION"));
        QCOMPARE(field(1, "uid").toString(), QStringLiteral("uid-1"));
        QCOMPARE(field(1, "priority").toInt(), 9);
        QCOMPARE(field(1, "categories").toArray(), QJsonArray());
        QCOMPARE(field(1, "due").toString(), QStringLiteral("2026-12-31"));
        QCOMPARE(field(1, "status").toString(), QStringLiteral("COMPLETED"));
    }
};

KESTRUNE_TEST_MAIN(TestIcal)
#include "test_ical.moc"
