// Both export routes for the largest store worth planning for: 32767 tasks over 20 categories.
// Peak memory is measured in a child process per route, so one route's peak does not hide the
// other's.
#include "category_tree_codec.h"
#include "due_dates.h"
#include "pdf_table.h"
#include "settings_store.h"
#include "task_export.h"
#include "task_list_codec.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

constexpr int kCategories = 20;
constexpr int kTasks = 32767;

const char* g_program = nullptr;

// A store shaped like a busy user's: every category a share of the tasks, a third of them
// with due dates (some overdue), some with notes.
struct BenchStore
{
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;

    BenchStore()
    {
        qputenv("TMPDIR", QFile::encodeName(dir.path()));
        store = std::make_unique<SettingsStore>(dir.path() + QStringLiteral("/store.db"));
        const QStringList priorities = {"Highest", "High", "Medium", "Low", "Lowest"};
        const QDate today = Clock::today();
        QList<CategoryTreeCodec::Node> nodes;
        std::vector<std::pair<QString, QString>> values;
        int task = 0;
        for (int c = 0; c < kCategories; ++c) {
            const QString key = c % 4 == 3 ? CategoryTreeCodec::subKey(2, c + 1)
                                           : CategoryTreeCodec::rootKey(c + 1);
            const QString parent = c % 4 == 3 ? CategoryTreeCodec::rootKey(c) : QString();
            nodes.append({QStringLiteral("Category %1").arg(c + 1), key, parent});
            QString list;
            const int count = kTasks / kCategories + (c < kTasks % kCategories ? 1 : 0);
            for (int i = 0; i < count; ++i, ++task) {
                const QString due =
                    task % 3 == 0 ? DueDates::format(today.addDays(task % 60 - 30)) : QString();
                const QString notes =
                    task % 5 == 0 ? QStringLiteral("Ask about item %1 before Friday").arg(task)
                                  : QString();
                TaskListCodec::appendEntry(
                    list, {QStringLiteral("Task number %1 of the export benchmark").arg(task),
                           priorities[task % 5], QStringLiteral("General"), due, notes,
                           task % 7 == 0 ? QStringLiteral("Done") : QString()});
            }
            values.emplace_back(key, list);
        }
        values.emplace_back(CategoryTreeCodec::kKey, CategoryTreeCodec::encode(nodes));
        store->writeAll(values);
    }
};

QString runRoute(const std::string& route, const SettingsStore& store)
{
    if (route == "xlsx")
        return TaskExport::toWorkbook(store);
    if (route == "pdf")
        return TaskExport::toPdf(store, QPageSize(QPageSize::A4));
    return {};
}

struct Peaks
{
    double process = -1;    // the child's whole life: filling the store and the export, in MB
    double exportOnly = -1; // the high-water mark from the start of the export on, in MB
};

// Runs the route once in a child that first fills its own store.
Peaks childPeaks(const std::string& route)
{
    QTemporaryDir dir;
    const std::string flag = "--peak=" + route;
    const QByteArray report = QFile::encodeName(dir.filePath(QStringLiteral("peak")));
    char* args[] = {const_cast<char*>(g_program), const_cast<char*>(flag.c_str()),
                    const_cast<char*>(report.constData()), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, g_program, nullptr, nullptr, args, environ) != 0)
        return {};
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    QFile file(dir.filePath(QStringLiteral("peak")));
    const double exportKb = file.open(QIODevice::ReadOnly) ? file.readAll().toDouble() : -1024;
    return {double(usage.ru_maxrss) / 1024.0, exportKb / 1024.0};
}

// Linux resets the high-water mark of the resident set when "5" is written to clear_refs.
void resetPeak()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (file.open(QIODevice::WriteOnly))
        file.write("5");
}

QByteArray peakKb()
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return "-1";
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0);
    return "-1";
}

void exportRoute(benchmark::State& state, const std::string& route)
{
    BenchStore bench;
    qsizetype bytes = 0;
    for (auto _ : state) {
        const QString path = runRoute(route, *bench.store);
        state.PauseTiming();
        bytes = QFile(path).size();
        QFile::remove(path);
        state.ResumeTiming();
    }
    state.counters["tasks"] = kTasks;
    state.counters["file_MB"] = double(bytes) / (1024.0 * 1024.0);
    const Peaks peaks = childPeaks(route);
    state.counters["peak_process_MB"] = peaks.process;
    state.counters["peak_export_MB"] = peaks.exportOnly;
}

void BM_ExportWorkbook(benchmark::State& state)
{
    exportRoute(state, "xlsx");
}

void BM_ExportPdf(benchmark::State& state)
{
    exportRoute(state, "pdf");
}

BENCHMARK(BM_ExportWorkbook)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExportPdf)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    g_program = argv[0];
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc == 3 && std::strncmp(argv[1], "--peak=", 7) == 0) {
        BenchStore bench;
        resetPeak();
        runRoute(argv[1] + 7, *bench.store); // a failure ends the child with an uncaught Failure
        QFile report(QFile::decodeName(argv[2]));
        return report.open(QIODevice::WriteOnly) && report.write(peakKb()) > 0 ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
