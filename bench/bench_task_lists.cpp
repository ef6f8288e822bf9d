// Showing and saving one category's task lists: listTask reads and splits the stored text and
// fills the list view; saveTaskLists encodes both lists and writes them with their UIDs in one
// durable transaction. 1k, 8k and the largest list, 32767 tasks, to show that the cost grows
// linearly: the summary compares the cost per task of the largest list with that of 1k tasks.
// A durable save waits for the disk, whose speed on a shared machine changes tenfold from one
// minute to the next; so each save runs by turns with a floor that waits for the same disk, and
// the summary gives the save's median as a ratio to the floor's. Saves are spaced as a person's
// saving commands are, far enough apart for the store to copy its log back in between (it waits
// for a pause in the saving to do so): each save meets the store as the next command would.
#include "bench_app.h"
#include "bench_medians.h"
#include "category_tree.h"
#include "due_dates.h"
#include "form1.h"
#include "prompts.h"
#include "settings_store.h"
#include "task_list_codec.h"
#include "task_list_model.h"
#include "task_list_view.h"
#include "toggle_done.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kSaveRounds = 31;
// Longer than the store waits after a save before it copies the log back, with time to copy it.
constexpr int kBetweenSavesMs = 500;
constexpr double kSaveTarget = 2.0;
const QString kWorkKey = QStringLiteral("1_Root_1");

[[noreturn]] void die(const char* what)
{
    std::fprintf(stderr, "bench_task_lists: %s\n", what);
    std::abort();
}

// One task of about 100 bytes of text: a third with a due date, some overdue, some with notes.
TaskListCodec::Fields task(int i)
{
    static const char* const priorities[] = {"Highest", "High", "Medium", "Low", "Lowest"};
    const QString due =
        i % 3 == 0 ? DueDates::format(Clock::today().addDays(i % 60 - 30)) : QString();
    const QString notes = i % 4 == 0 ? QStringLiteral("Ask Nessaly about part %1 first").arg(i)
                                     : QStringLiteral("Call before noon");
    return {
        QStringLiteral("Task %1: deliver the parts to the north depot").arg(i, 5, 10, QChar(u'0')),
        QString::fromLatin1(priorities[i % 5]),
        QStringLiteral("General"),
        due,
        notes,
        i % 7 == 0 ? QStringLiteral("Done") : QString()};
}

// A store with the category Work holding `count` active tasks and a few deleted ones, and the
// main window shown on it.
struct Fixture
{
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<Form1> window;
    qint64 storedBytes = 0;

    explicit Fixture(int count)
    {
        store = std::make_unique<SettingsStore>(dir.path() + QStringLiteral("/Kestrune.db"));
        QString active;
        for (int i = 0; i < count; ++i)
            TaskListCodec::appendEntry(active, task(i));
        QString deleted;
        for (int i = 0; i < 10; ++i)
            TaskListCodec::appendEntry(deleted, task(count + i));
        storedBytes = active.toUtf8().size();
        store->write(QStringLiteral("Tree Nodes"),
                     QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^"));
        store->writeAll({{kWorkKey, active}, {TaskListCodec::deletedKey(kWorkKey), deleted}});
        window = std::make_unique<Form1>(*store);
        window->show();
        QCoreApplication::processEvents();
        if (window->ListView1->tasks()->rowCount() != count) {
            std::fprintf(stderr, "the window shows %d of %d tasks\n",
                         window->ListView1->tasks()->rowCount(), count);
            std::abort();
        }
    }
};

void setCounters(benchmark::State& state, const Fixture& f)
{
    state.SetComplexityN(state.range(0));
    state.counters["tasks"] = double(state.range(0));
    state.counters["bytes_per_task"] = double(f.storedBytes) / double(state.range(0));
}

// listTask and the repaint of the visible rows, as after a click on the category.
void BM_ShowCategory(benchmark::State& state)
{
    Fixture f(int(state.range(0)));
    for (auto _ : state) {
        f.window->listTask();
        f.window->ListView1->viewport()->repaint();
    }
    setCounters(state, f);
}

// What saving Work stores, as the store holds it: both lists' UTF-8 text and their UIDs.
QByteArray storedBytes(const SettingsStore& store)
{
    QByteArray bytes;
    for (const QString& key : {kWorkKey, TaskListCodec::deletedKey(kWorkKey)}) {
        store.readUtf8(key, [&bytes](QByteArrayView utf8) { bytes += utf8; });
        bytes += store.readListUids(key);
    }
    return bytes;
}

// The least any durable save of these bytes costs: one write of them into a file beside the
// store, then fdatasync. The file is overwritten in place, not made afresh each round: once the
// store's database and write-ahead log have grown to size SQLite rewrites them in place too,
// and a new file would add block allocation and a journal commit that only slow the floor and
// flatter the ratio.
class DurableWrite
{
public:
    DurableWrite(const QString& path, QByteArray bytes)
        : m_bytes(std::move(bytes)),
          m_fd(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600))
    {
        if (m_fd < 0)
            die("cannot create the floor's file");
        run(); // lays out the file's blocks
    }
    ~DurableWrite() { ::close(m_fd); }
    DurableWrite(const DurableWrite&) = delete;
    DurableWrite& operator=(const DurableWrite&) = delete;

    void run() const
    {
        if (::pwrite(m_fd, m_bytes.constData(), size_t(m_bytes.size()), 0) != m_bytes.size() ||
            ::fdatasync(m_fd) != 0)
            die("cannot write the floor's file");
    }
    qsizetype size() const { return m_bytes.size(); }

private:
    QByteArray m_bytes;
    int m_fd;
};

struct SaveFigures
{
    double saveMs = 0, floorMs = 0, storedMB = 0;
} g_largestSave;

// saveTaskLists: both lists encoded and written with their UIDs, synchronously to the disk.
void BM_SaveTaskLists(benchmark::State& state)
{
    Fixture f(int(state.range(0)));
    TaskListModel& tasks = *f.window->ListView1->tasks();
    // The first save also stores the UIDs the window gave its tasks; from then on every save
    // stores as many bytes, give or take a "Done".
    f.window->saveTaskLists();
    const DurableWrite floor(f.dir.filePath(QStringLiteral("floor")), storedBytes(*f.store));
    std::vector<double> saves, floors;
    for (auto _ : state) {
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < kBetweenSavesMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        toggleDone(tasks, tasks.rowCount() / 2);
        const auto save = [&] {
            saves.push_back(millisecondsOf([&] { f.window->saveTaskLists(); }));
        };
        const auto bare = [&] { floors.push_back(millisecondsOf([&] { floor.run(); })); };
        // Each goes first by turns, so that neither always finds the disk just flushed.
        if (saves.size() % 2 == 0) {
            save();
            bare();
        } else {
            bare();
            save();
        }
        state.SetIterationTime(saves.back() / 1000);
    }
    const SaveFigures figures{median(saves), median(floors), double(floor.size()) / (1 << 20)};
    if (state.range(0) == TaskListCodec::kMaxTasks)
        g_largestSave = figures;
    setCounters(state, f);
    state.counters["stored_MB"] = figures.storedMB;
    state.counters["median_ms"] = figures.saveMs;
    state.counters["floor_ms"] = figures.floorMs;
    state.counters["ratio_to_floor"] = figures.saveMs / figures.floorMs;
}

} // namespace

// Five repetitions of showing, reported as medians; the summary puts the sizes side by side.
BENCHMARK(BM_ShowCategory)
    ->Arg(1024)
    ->Arg(8192)
    ->Arg(TaskListCodec::kMaxTasks)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_SaveTaskLists)
    ->Arg(1024)
    ->Arg(8192)
    ->Arg(TaskListCodec::kMaxTasks)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(kSaveRounds)
    ->UseManualTime();

// Keeps the medians as they are reported, for the summary.
class MedianReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name + "/" + run.run_name.args] =
                    run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> medians; // in milliseconds
};

// Only what was run, as a filter may leave either out. `make bench` reads the save's ratio.
void printSummary(const std::map<std::string, double>& ms)
{
    const auto at = [&](const char* name, int tasks) {
        const auto found = ms.find(std::string(name) + "/" + std::to_string(tasks));
        return found == ms.end() ? 0.0 : found->second;
    };
    const int most = TaskListCodec::kMaxTasks;
    if (const double show = at("BM_ShowCategory", most); show > 0) {
        const double perTaskRatio =
            (show / most) / std::max(1e-9, at("BM_ShowCategory", 1024) / 1024);
        std::printf("\nlistTask and paint, %d tasks      %7.2f ms median\n", most, show);
        std::printf("  cost per task at %d vs at 1024  %7.2fx\n", most, perTaskRatio);
    }
    if (const SaveFigures& s = g_largestSave; s.saveMs > 0) {
        const double ratio = s.saveMs / s.floorMs;
        std::printf("\nsaveTaskLists, %d tasks           %7.2f ms median of %d\n", most, s.saveMs,
                    kSaveRounds);
        std::printf("  floor: %.2f MB written, fdatasync  %7.2f ms median, by turns\n", s.storedMB,
                    s.floorMs);
        std::printf("saveTaskLists / floor  %.2fx (target <= %.0fx: %s)\n", ratio, kSaveTarget,
                    ratio <= kSaveTarget ? "met" : "MISSED");
    }
    std::fflush(stdout);
}

int main(int argc, char** argv)
{
    const BenchApp bench(argc, argv);
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter.medians);
    benchmark::Shutdown();
    return 0;
}
