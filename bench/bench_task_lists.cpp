// Showing and saving one category's task lists: listTask reads and splits the stored text and
// fills the list view; saveTaskLists encodes both lists and writes them in one durable
// transaction. 1k, 8k and the largest list, 32767 tasks, to show that the cost grows linearly:
// the summary compares the cost per task of the largest list with that of 1k tasks.
#include "category_tree.h"
#include "due_dates.h"
#include "form1.h"
#include "prompts.h"
#include "settings_store.h"
#include "task_list_codec.h"
#include "task_list_view.h"

#include <QApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

namespace {

// A benchmark must not stop at a modal box: any prompt is a fault in the measured code.
class NoPrompts : public Prompts
{
public:
    void message(QWidget*, const QString& text, const QString&, Icon) override { fail(text); }
    bool askYesNo(QWidget*, const QString& text, const QString&) override { fail(text); }
    QString input(QWidget*, const QString& prompt, const QString&, const QString&) override
    {
        fail(prompt);
    }
    int exec(QDialog&) override { fail(QStringLiteral("a dialog")); }
    QString fileName(QWidget*, FileMode, const QString& title, const QString&,
                     const QString&) override
    {
        fail(title);
    }

private:
    [[noreturn]] static void fail(const QString& text)
    {
        std::fprintf(stderr, "unexpected prompt: %s\n", qPrintable(text));
        std::abort();
    }
};

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
        store->writeAll(
            {{QStringLiteral("1_Root_1"), active}, {QStringLiteral("1_Root_1Del"), deleted}});
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

// saveTaskLists: both lists encoded and written, synchronously to the disk.
void BM_SaveTaskLists(benchmark::State& state)
{
    Fixture f(int(state.range(0)));
    for (auto _ : state)
        f.window->saveTaskLists();
    setCounters(state, f);
}

} // namespace

// Five repetitions of each, reported as medians; the summary puts the sizes side by side.
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
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

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

void printSummary(const std::map<std::string, double>& ms)
{
    const auto at = [&](const char* name, int tasks) {
        const auto found = ms.find(std::string(name) + "/" + std::to_string(tasks));
        return found == ms.end() ? 0.0 : found->second;
    };
    const int most = TaskListCodec::kMaxTasks;
    const double show = at("BM_ShowCategory", most);
    const double perTaskRatio = (show / most) / std::max(1e-9, at("BM_ShowCategory", 1024) / 1024);
    std::printf("\nlistTask and paint, %d tasks      %7.2f ms median\n", most, show);
    std::printf("  cost per task at %d vs at 1024  %7.2fx\n", most, perTaskRatio);
    std::printf("saveTaskLists, %d tasks           %7.2f ms median\n", most,
                at("BM_SaveTaskLists", most));
    std::fflush(stdout);
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    NoPrompts prompts;
    Prompts::install(&prompts);
    DueDates::setLocale(QLocale(QStringLiteral("en_US")));
    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printSummary(reporter.medians);
    benchmark::Shutdown();
    Prompts::install(nullptr);
    return 0;
}
