// Finding the due tasks, which the reminders do at start, at the reminder time and after every
// saving command, over the largest store worth planning for: 32767 active tasks in 20
// categories, a third of them with due dates, about half of those today or earlier. Its floor
// is reading the same lists' bytes from the store and nothing else; the target is 30 ms.
#include "bench_medians.h"
#include "busy_store.h"
#include "due_tasks.h"
#include "settings_store.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

constexpr int kRounds = 15;

struct BenchStore
{
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;
    QList<ReminderCategory> categories;

    BenchStore()
    {
        store = std::make_unique<SettingsStore>(dir.path() + QStringLiteral("/store.db"));
        for (const CategoryTreeCodec::Node& node : BusyStore::fill(*store, true))
            categories.append({node.key, node.text, std::nullopt});
        // The first look stores the tasks' UIDs, as the first start does for every store.
        findDueTasks(*store, categories, Clock::today());
    }
};

void BM_FindDueTasks(benchmark::State& state)
{
    BenchStore b;
    const QDate today = Clock::today();
    std::vector<double> ours, floors;
    qsizetype due = 0;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            ours.push_back(
                millisecondsOf([&] { due = findDueTasks(*b.store, b.categories, today).size(); }));
            floors.push_back(millisecondsOf([&] {
                qsizetype bytes = 0;
                for (const ReminderCategory& category : std::as_const(b.categories))
                    b.store->readUtf8(category.key,
                                      [&bytes](QByteArrayView utf8) { bytes += utf8.size(); });
                benchmark::DoNotOptimize(bytes);
            }));
        }
    }
    state.counters["median_ms"] = median(ours);
    state.counters["max_ms"] = *std::max_element(ours.begin(), ours.end());
    state.counters["floor_ms"] = median(floors);
    state.counters["target_ms"] = 30;
    state.counters["due_tasks"] = double(due);
    state.counters["tasks"] = BusyStore::kTasks;
}

BENCHMARK(BM_FindDueTasks)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
