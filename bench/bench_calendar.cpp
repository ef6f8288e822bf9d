// The iCalendar file of the largest store worth planning for, 32767 tasks over 20 categories,
// out and back in. The export runs by turns with libical alone building the same VTODOs from
// texts made ready beforehand and writing them into a file. The import (the file read, then
// taken into an empty store through the main window) runs by turns with libical alone parsing
// the same VTODOs plus one transaction storing the lists and UIDs the import ends up with.
// Peak memory of the import is measured in a child process, as the parent holds both stores.
#include "bench_app.h"
#include "bench_medians.h"
#include "busy_store.h"
#include "calendar_file.h"
#include "calendar_import.h"
#include "category_tree_codec.h"
#include "due_dates.h"
#include "form1.h"
#include "peak_memory.h"
#include "prompts.h"
#include "raw_text.h"
#include "settings_store.h"
#include "task_export.h"
#include "task_list_codec.h"
#include "task_uids.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libical/ical.h>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using BusyStore::kTasks;
constexpr int kRounds = 5;
constexpr double kExportTarget = 1.25;
constexpr double kImportTarget = 1.5;

const char* g_program = nullptr;

[[noreturn]] void die(const char* what)
{
    std::fprintf(stderr, "bench_calendar: %s\n", what);
    std::abort();
}

// The busy store, and its calendar file as the first export writes it: that export also stores
// the lists' UIDs, which no later one has to.
struct BusyCalendar
{
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;
    QString file;

    BusyCalendar()
    {
        qputenv("TMPDIR", QFile::encodeName(dir.path()));
        store = std::make_unique<SettingsStore>(dir.filePath(QStringLiteral("store.db")));
        BusyStore::fill(*store, false);
        file = dir.filePath(QStringLiteral("tasks.ics"));
        TaskExport::toCalendar(*store, file);
    }
};

// The window on a store of its own, as a user starting Kestrune for the first time has it.
struct FreshWindow
{
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<Form1> window;

    FreshWindow()
    {
        store = std::make_unique<SettingsStore>(dir.filePath(QStringLiteral("Kestrune.db")));
        window = std::make_unique<Form1>(*store);
        window->show();
        QCoreApplication::processEvents();
    }

    CalendarImport::Counts import(const QString& file)
    {
        const CalendarFile calendar = IcsFile::read(file);
        return CalendarImport::run(calendar, *store, *window, *window);
    }
};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        die("cannot read the calendar file");
    return file.readAll();
}

// The stored tasks as libical is handed them: every text already UTF-8 and every number and
// date already in libical's terms.
class ExportFloor
{
public:
    explicit ExportFloor(const BusyCalendar& busy)
    {
        const QByteArray written = readAll(busy.file);
        m_head = written.left(written.indexOf("BEGIN:VTODO"));
        m_tail = written.mid(written.lastIndexOf("END:VCALENDAR"));
        using namespace CategoryTreeCodec;
        QHash<QString, QStringList> paths;
        for (const QStringList& node : splitEntries(busy.store->read(kKey, {}))) {
            const QString& key = node[1];
            const QStringList path = paths.value(node.value(2)) << node[0];
            paths.insert(key, path);
            const QByteArray encodedPath = RawText::encodePath(path);
            const QByteArray encodedKey = RawText::encode(key);
            const QList<TaskUids::Stored> uids = TaskUids::decode(busy.store->readListUids(key));
            const QList<TaskListCodec::Entry> entries =
                TaskListCodec::decodeEntries(busy.store->read(key, {}));
            if (uids.size() != entries.size())
                die("the first export stored no UIDs");
            for (qsizetype i = 0; i < entries.size(); ++i) {
                const TaskListCodec::Fields& f = entries[i].fields;
                Task task{uids[i].uid.toString(QUuid::WithoutBraces).toUtf8(),
                          f[0].toUtf8(),
                          priorityNumber(f[1]),
                          f[2].toUtf8(),
                          std::nullopt,
                          f[4].toUtf8(),
                          f[5] == QLatin1String("Done"),
                          QByteArray::number(i),
                          encodedPath,
                          encodedKey};
                if (const std::optional<QDate> due = DueDates::parse(f[3])) {
                    task.due = icaltime_null_date();
                    task.due->year = due->year();
                    task.due->month = due->month();
                    task.due->day = due->day();
                }
                m_tasks.push_back(std::move(task));
            }
        }
    }

    void write(const QString& path) const
    {
        std::FILE* out = std::fopen(QFile::encodeName(path).constData(), "wb");
        if (!out)
            die("cannot write the floor's file");
        std::fwrite(m_head.constData(), 1, size_t(m_head.size()), out);
        const icaltimetype now = icaltime_current_time_with_zone(icaltimezone_get_utc_timezone());
        for (const Task& t : m_tasks) {
            icalcomponent* c = icalcomponent_new_vtodo();
            icalcomponent_add_property(c, icalproperty_new_dtstamp(now));
            icalcomponent_set_uid(c, t.uid.constData());
            icalcomponent_add_property(c, icalproperty_new_summary(t.summary.constData()));
            if (!t.notes.isEmpty())
                icalcomponent_add_property(c, icalproperty_new_description(t.notes.constData()));
            icalcomponent_add_property(c, icalproperty_new_priority(t.priority));
            icalcomponent_add_property(c, icalproperty_new_categories(t.type.constData()));
            if (t.due)
                icalcomponent_add_property(c, icalproperty_new_due(*t.due));
            if (t.done) {
                icalcomponent_add_property(c, icalproperty_new_status(ICAL_STATUS_COMPLETED));
                icalcomponent_add_property(c, icalproperty_new_percentcomplete(100));
                icalcomponent_add_property(c, icalproperty_new_completed(now));
            } else {
                icalcomponent_add_property(c, icalproperty_new_status(ICAL_STATUS_NEEDSACTION));
            }
            addX(c, "X-APPLE-SORT-ORDER", t.sortOrder);
            addX(c, "X-KESTRUNE-CATEGORY", t.path);
            addX(c, "X-KESTRUNE-CATEGORY-KEY", t.key);
            char* text = icalcomponent_as_ical_string_r(c);
            std::fputs(text, out);
            icalmemory_free_buffer(text);
            icalcomponent_free(c);
        }
        std::fwrite(m_tail.constData(), 1, size_t(m_tail.size()), out);
        // The export's file has reached the disk before it takes the place of an older one; so
        // has the floor's, so that the ratio is the program's and not the disk's.
        if (std::fflush(out) != 0 || fdatasync(fileno(out)) != 0 || std::fclose(out) != 0)
            die("cannot write the floor's file");
    }

private:
    struct Task
    {
        QByteArray uid;
        QByteArray summary;
        int priority;
        QByteArray type;
        std::optional<icaltimetype> due;
        QByteArray notes;
        bool done;
        QByteArray sortOrder;
        QByteArray path;
        QByteArray key;
    };

    static int priorityNumber(const QString& text)
    {
        const QStringList names = {"Highest", "High", "Medium", "Low", "Lowest"};
        return 2 * int(names.indexOf(text)) + 1;
    }

    static void addX(icalcomponent* c, const char* name, const QByteArray& value)
    {
        icalproperty* p = icalproperty_new_x(value.constData());
        icalproperty_set_x_name(p, name);
        icalcomponent_add_property(c, p);
    }

    QByteArray m_head;
    QByteArray m_tail;
    std::vector<Task> m_tasks;
};

// libical parsing the file's VTODOs, each cut out beforehand and freed after, as a reader of
// one component at a time does.
class ParseFloor
{
public:
    explicit ParseFloor(const QByteArray& file)
    {
        for (qsizetype at = file.indexOf("BEGIN:VTODO"); at >= 0;
             at = file.indexOf("BEGIN:VTODO", at)) {
            const qsizetype end = file.indexOf('\n', file.indexOf("END:VTODO", at)) + 1;
            m_vtodos.push_back(file.mid(at, end - at));
            at = end;
        }
        if (m_vtodos.size() != size_t(kTasks))
            die("the file does not hold every task");
    }

    void parse() const
    {
        for (const QByteArray& vtodo : m_vtodos) {
            icalcomponent* c = icalparser_parse_string(vtodo.constData());
            if (!c)
                die("libical refuses a VTODO");
            icalcomponent_free(c);
        }
    }

private:
    std::vector<QByteArray> m_vtodos;
};

// What the import stores in the end, both lists of every category with their UIDs, in one
// transaction.
SettingsStore::Changes storedLists(const SettingsStore& store)
{
    SettingsStore::Changes changes;
    for (const QStringList& node :
         CategoryTreeCodec::splitEntries(store.read(CategoryTreeCodec::kKey, {}))) {
        for (const QString& key : {node[1], TaskListCodec::deletedKey(node[1])}) {
            changes.values.emplace_back(key, store.read(key, {}));
            changes.listUids.emplace_back(key, store.readListUids(key));
        }
    }
    return changes;
}

// Imports the file once in a child of its own.
PeakMemory::Peaks childPeaks(const QString& calendar)
{
    return PeakMemory::ofChild(g_program, {QStringLiteral("--peak"), calendar});
}

struct Summary
{
    double exportMs = 0, exportFloorMs = 0;
    double importMs = 0, parseFloorMs = 0, saveFloorMs = 0;
    PeakMemory::Peaks peaks;
} g_summary;

void BM_ExportCalendar(benchmark::State& state)
{
    BusyCalendar busy;
    const ExportFloor floor(busy);
    const QString path = busy.dir.filePath(QStringLiteral("again.ics"));
    const QString floorPath = busy.dir.filePath(QStringLiteral("floor.ics"));
    std::vector<double> ours, floors;
    for (auto _ : state) {
        ours.push_back(millisecondsOf([&] { TaskExport::toCalendar(*busy.store, path); }));
        floors.push_back(millisecondsOf([&] { floor.write(floorPath); }));
        state.SetIterationTime(ours.back() / 1000);
        state.counters["file_MB"] = double(QFile(path).size()) / (1024.0 * 1024.0);
        state.counters["floor_file_MB"] = double(QFile(floorPath).size()) / (1024.0 * 1024.0);
        QFile::remove(path);
        QFile::remove(floorPath);
    }
    g_summary.exportMs = median(ours);
    g_summary.exportFloorMs = median(floors);
    state.counters["tasks"] = kTasks;
    state.counters["median_ms"] = g_summary.exportMs;
    state.counters["floor_ms"] = g_summary.exportFloorMs;
    state.counters["ratio_to_floor"] = g_summary.exportMs / g_summary.exportFloorMs;
}

void BM_ImportCalendar(benchmark::State& state)
{
    const BusyCalendar busy;
    const ParseFloor parseFloor(readAll(busy.file));
    const SettingsStore::Changes lists = storedLists(*busy.store);
    std::vector<double> ours, parses, saves;
    for (auto _ : state) {
        {
            FreshWindow fresh;
            CalendarImport::Counts counts;
            ours.push_back(millisecondsOf([&] { counts = fresh.import(busy.file); }));
            if (counts.added != kTasks || counts.categoriesAdded != BusyStore::kCategories)
                die("the import did not add every task and category");
        }
        parses.push_back(millisecondsOf([&] { parseFloor.parse(); }));
        {
            QTemporaryDir dir;
            SettingsStore store(dir.filePath(QStringLiteral("Kestrune.db")));
            // The window has stored its first settings by the time anything is imported.
            store.write(QStringLiteral("TabSel"), QStringLiteral("0"));
            saves.push_back(millisecondsOf([&] { store.apply(lists); }));
        }
        state.SetIterationTime(ours.back() / 1000);
    }
    g_summary.importMs = median(ours);
    g_summary.parseFloorMs = median(parses);
    g_summary.saveFloorMs = median(saves);
    g_summary.peaks = childPeaks(busy.file);
    state.counters["tasks"] = kTasks;
    state.counters["median_ms"] = g_summary.importMs;
    state.counters["parse_floor_ms"] = g_summary.parseFloorMs;
    state.counters["save_floor_ms"] = g_summary.saveFloorMs;
    state.counters["ratio_to_floor"] =
        g_summary.importMs / (g_summary.parseFloorMs + g_summary.saveFloorMs);
    state.counters["peak_process_MB"] = g_summary.peaks.process;
    state.counters["peak_import_MB"] = g_summary.peaks.measured;
}

BENCHMARK(BM_ExportCalendar)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();
BENCHMARK(BM_ImportCalendar)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

void printRatio(double ratio, double target)
{
    std::printf("  ratio %.2fx, target <= %.2fx: %s\n", ratio, target,
                ratio <= target ? "met" : "MISSED");
}

// Only what was run, as a filter may leave either out.
void printSummary(const Summary& s)
{
    if (s.exportMs > 0) {
        std::printf("\niCalendar export, %d tasks  %7.1f ms median, libical floor %7.1f ms\n",
                    kTasks, s.exportMs, s.exportFloorMs);
        printRatio(s.exportMs / s.exportFloorMs, kExportTarget);
    }
    if (s.importMs > 0) {
        const double floor = s.parseFloorMs + s.saveFloorMs;
        std::printf("\niCalendar import, %d tasks  %7.1f ms median, floor %7.1f ms (libical "
                    "parse %.1f + store %.1f)\n",
                    kTasks, s.importMs, floor, s.parseFloorMs, s.saveFloorMs);
        printRatio(s.importMs / floor, kImportTarget);
        std::printf("  peak memory of the import %.1f MB (whole child process %.1f MB)\n",
                    s.peaks.measured, s.peaks.process);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    g_program = argv[0];
    const BenchApp bench(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--peak") == 0) {
        FreshWindow fresh;
        PeakMemory::reset();
        fresh.import(QFile::decodeName(argv[2])); // a failure ends the child with a Failure
        QFile report(QFile::decodeName(argv[3]));
        return report.open(QIODevice::WriteOnly) && report.write(PeakMemory::kilobytes()) > 0 ? 0
                                                                                              : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    printSummary(g_summary);
    benchmark::Shutdown();
    return 0;
}
