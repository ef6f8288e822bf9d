// Finding as the user types, over the largest store worth planning for: the export benchmark's
// 32767 active tasks over 20 categories plus as many deleted ones. Opening the find window
// (one read of the store and the index), one search per keystroke on the index alone, and one
// keystroke in the window itself, results list and count included.
#include "busy_store.h"
#include "category_tree_codec.h"
#include "due_dates.h"
#include "find_dialog.h"
#include "find_host.h"
#include "settings_store.h"
#include "task_list_codec.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

using BusyStore::kTasks;
// What a user types, one keystroke after another.
const QString kTyped = QStringLiteral("before friday");
QtMessageHandler g_standardOutput = nullptr;

// The export benchmark's store, and in every category a deleted list of the same size.
struct BenchStore
{
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;
    QList<FindCategory> categories;

    BenchStore()
    {
        store = std::make_unique<SettingsStore>(dir.path() + QStringLiteral("/store.db"));
        for (const CategoryTreeCodec::Node& node : BusyStore::fill(*store, true)) {
            const bool sub = !node.parentKey.isEmpty();
            categories.append(
                {node.key,
                 sub ? categories.last().path + TaskIndex::kPathSeparator + node.text : node.text,
                 {}});
        }
        // The first category is shown, as after start-up: its lists come from the screen.
        for (int list : {0, 1}) {
            QList<TaskRow> rows;
            const QString key = categories[0].key;
            for (const QStringList& fields : TaskListCodec::decode(
                     store->read(list ? TaskListCodec::deletedKey(key) : key, {}))) {
                TaskRow row;
                for (int f = 0; f < TaskListCodec::kFieldCount; ++f)
                    row.fields[f] = fields.value(f);
                row.applyDueDateRule();
                rows.append(row);
            }
            categories[0].onScreen[list] = rows;
        }
    }
};

BenchStore& bench()
{
    static BenchStore store;
    return store;
}

class BenchHost : public FindHost
{
public:
    QList<FindCategory> categoriesForFind() const override { return bench().categories; }
    void goToFindHit(const FindHit&) override {}
};

void reportKeystrokes(benchmark::State& state, std::vector<double> ms, qsizetype matches)
{
    std::sort(ms.begin(), ms.end());
    state.counters["keystroke_median_ms"] = ms[ms.size() / 2];
    state.counters["keystroke_max_ms"] = ms.back();
    state.counters["matches_at_end"] = double(matches);
    state.counters["tasks"] = 2 * kTasks;
}

void BM_FindOpen(benchmark::State& state)
{
    BenchStore& b = bench();
    int tasks = 0;
    for (auto _ : state) {
        const TaskIndex index(b.categories, b.store->readSection());
        tasks = index.size();
        benchmark::DoNotOptimize(tasks);
    }
    state.counters["tasks"] = tasks;
}

// Every keystroke searched afresh over every task, as after a deletion in the box: the worst
// case. Typing on narrows the earlier matches instead; the window does that.
void BM_FindKeystrokeOnIndex(benchmark::State& state)
{
    BenchStore& b = bench();
    const TaskIndex index(b.categories, b.store->readSection());
    std::vector<double> ms;
    qsizetype matches = 0;
    for (auto _ : state) {
        for (qsizetype typed = 1; typed <= kTyped.size(); ++typed) {
            QElapsedTimer clock;
            clock.start();
            matches = qsizetype(index.find({kTyped.left(typed), false, true}).size());
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
    }
    reportKeystrokes(state, ms, matches);
}

// A keystroke in the window shown: the search, the results list and the count, painted.
void BM_FindKeystrokeInWindow(benchmark::State& state)
{
    BenchStore& b = bench();
    BenchHost host;
    std::vector<double> ms;
    qsizetype matches = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FindDialog dialog(*b.store, host, {});
        dialog.show();
        QApplication::processEvents();
        state.ResumeTiming();
        for (qsizetype typed = 1; typed <= kTyped.size(); ++typed) {
            QElapsedTimer clock;
            clock.start();
            dialog.Text1->setText(kTyped.left(typed));
            QApplication::processEvents();
            dialog.repaint();
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        matches = qsizetype(dialog.matches().size());
    }
    reportKeystrokes(state, ms, matches);
}

BENCHMARK(BM_FindOpen)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FindKeystrokeOnIndex)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FindKeystrokeInWindow)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    // The offscreen platform says on every showing that it cannot pass size hints on.
    g_standardOutput = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (!text.contains(QLatin1String("propagateSizeHints")))
                g_standardOutput(type, context, text);
        });
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
