// Start-up to a mapped main window on a real X server (an Xvfb this program starts and stops),
// against a bare Qt window with the same controls, by turns: the bare window, the program on
// an empty store, the program on a store whose first category holds 32767 tasks. Each run
// starts a fresh process; the time runs from the spawn to the X server's MapNotify of the
// process's first top-level window. The program's peak resident memory is read when it ends,
// a while after its window with the big list has been shown.
#include "bench_medians.h"
#include "category_tree_codec.h"
#include "settings_store.h"
#include "task_list_codec.h"
#include "task_uids.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

extern char** environ;

namespace {

constexpr int kRounds = 21;
constexpr int kMapTimeoutMs = 20000;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_startup: %s\n", what);
    std::exit(1);
}

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv)
{
    std::vector<std::string> env = extraEnv;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const std::string& extra : extraEnv)
            replaced = replaced || extra.compare(0, name.size() + 1, name + "=") == 0;
        if (!replaced)
            env.push_back(entry);
    }
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0].c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0)
        fail("cannot start a process");
    return pid;
}

// What a process has used so far: CPU time of all its threads, and page faults. On machines
// where a fault of fresh memory is dear, the faults to the map cost more than the CPU time says.
struct Usage
{
    double cpuMs = 0;
    double faults = 0;
};

Usage usageOf(pid_t pid)
{
    Usage usage;
    const QString proc = QStringLiteral("/proc/%1").arg(pid);
    QDirIterator threads(proc + QStringLiteral("/task"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (threads.hasNext()) {
        QFile schedstat(threads.next() + QStringLiteral("/schedstat"));
        if (schedstat.open(QIODevice::ReadOnly))
            usage.cpuMs += schedstat.readAll().split(' ').value(0).toDouble() / 1e6;
    }
    QFile stat(proc + QStringLiteral("/stat"));
    if (stat.open(QIODevice::ReadOnly)) {
        // The command name may hold spaces; the fields are counted after its closing bracket.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        usage.faults = fields.value(7).toDouble() + fields.value(9).toDouble();
    }
    return usage;
}

// An Xvfb of our own on the first free display, and a connection that sees every map.
class Server
{
public:
    Server()
    {
        int fds[2];
        if (pipe(fds) != 0)
            fail("no pipe");
        m_pid = spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                       "1280x1024x24", "-nolisten", "tcp"},
                      {});
        close(fds[1]);
        std::string number;
        pollfd wait{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&wait, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty())
            fail("Xvfb did not start");
        m_display = ":" + number;
        m_connection = xcb_connect(m_display.c_str(), nullptr);
        if (xcb_connection_has_error(m_connection))
            fail("cannot connect to Xvfb");
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_connection);
    }

    ~Server()
    {
        xcb_disconnect(m_connection);
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }

    const std::string& display() const { return m_display; }
    pid_t pid() const { return m_pid; }

    // Waits for the next top-level window to be mapped; false at the time limit.
    bool waitForMap(int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        const int fd = xcb_get_file_descriptor(m_connection);
        while (timer.elapsed() < timeoutMs) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
                const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
                free(event);
                if (mapped)
                    return true;
            }
            pollfd wait{fd, POLLIN, 0};
            poll(&wait, 1, 50);
        }
        return false;
    }

    // Drops what is left from the run before.
    void drain()
    {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection))
            free(event);
    }

private:
    pid_t m_pid = 0;
    std::string m_display;
    xcb_connection_t* m_connection = nullptr;
};

// The cost of one page fault of fresh memory here: the first touch of 10 MB, best of five.
double firstTouchMicrosecondsPerPage()
{
    constexpr size_t kBytes = 10 << 20;
    const long page = sysconf(_SC_PAGESIZE);
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        void* memory =
            mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED)
            fail("no memory");
        volatile char* bytes = static_cast<char*>(memory);
        best = std::min(best, millisecondsOf([&] {
                            for (size_t at = 0; at < kBytes; at += size_t(page))
                                bytes[at] = 1;
                        }));
        munmap(memory, kBytes);
    }
    return best * 1e3 / double(kBytes / size_t(page));
}

// A store whose first category holds 32767 tasks, written once and copied for every run.
QString bigStore(const QString& folder)
{
    const QString path = folder + QStringLiteral("/Kestrune.db");
    SettingsStore store(path);
    QString active;
    static const char* const priorities[] = {"Highest", "High", "Medium", "Low", "Lowest"};
    for (int i = 0; i < TaskListCodec::kMaxTasks; ++i)
        TaskListCodec::appendEntry(
            active,
            {QStringLiteral("Task %1: deliver the parts to the north depot")
                 .arg(i, 5, 10, QChar(u'0')),
             QString::fromLatin1(priorities[i % 5]), QStringLiteral("General"),
             i % 3 == 0 ? QStringLiteral("%1/%2/2026").arg(i % 12 + 1).arg(i % 28 + 1) : QString(),
             i % 4 == 0 ? QStringLiteral("Ask about part %1 first").arg(i) : QString(),
             i % 7 == 0 ? QStringLiteral("Done") : QString()});
    store.writeAll({{CategoryTreeCodec::kKey, QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^")},
                    {QStringLiteral("1_Root_1"), active}});
    // With its tasks' UIDs, as every store is after its first start: giving 32767 tasks their
    // UIDs happens once, not at every start.
    QList<quint64> digests;
    for (const TaskListCodec::Entry& entry : TaskListCodec::decodeEntries(active))
        digests.append(TaskUids::digest(entry));
    TaskUids::ofStoredList(store, QStringLiteral("1_Root_1"), digests,
                           TaskUids::listDigest(active.toUtf8()));
    return path;
}

struct Run
{
    double ms = 0;
    double peakMb = 0;
    Usage toMap;            // the program's, from the spawn to the map
    double serverCpuMs = 0; // the X server's, over the same time
};

// One start: spawn, wait for the map, let the window settle, end the process.
Run startOnce(Server& server, const std::string& program, const QString& storeTemplate)
{
    QTemporaryDir home;
    const QString folder = home.path() + QStringLiteral("/Kestrune");
    QDir().mkpath(folder);
    if (!storeTemplate.isEmpty() &&
        !QFile::copy(storeTemplate, folder + QStringLiteral("/Kestrune.db")))
        fail("cannot copy the store");
    server.drain();
    const Usage serverBefore = usageOf(server.pid());
    QElapsedTimer timer;
    timer.start();
    const pid_t pid = spawn({program}, {"DISPLAY=" + server.display(), "QT_QPA_PLATFORM=xcb",
                                        "XDG_DATA_HOME=" + home.path().toStdString(),
                                        "XDG_RUNTIME_DIR=" + home.path().toStdString()});
    if (!server.waitForMap(kMapTimeoutMs))
        fail("no window was mapped");
    Run run;
    run.ms = double(timer.nsecsElapsed()) / 1e6;
    run.toMap = usageOf(pid);
    run.serverCpuMs = usageOf(server.pid()).cpuMs - serverBefore.cpuMs;
    QThread::msleep(300); // the first paint and anything it loads count for the memory
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.peakMb = double(usage.ru_maxrss) / 1024.0;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    const QString big = bigStore(folder.path());
    Server server;
    // Another build of the program may be named, to compare two builds in the same conditions.
    const std::string program = argc > 1 ? argv[1] : KESTRUNE_PROGRAM;
    const std::string bare = BARE_WINDOW_PROGRAM;
    // One start of each first, not counted: the libraries and fonts reach the page cache.
    startOnce(server, bare, {});
    startOnce(server, program, {});
    std::vector<Run> bareRuns, emptyRuns, bigRuns;
    for (int round = 0; round < kRounds; ++round) {
        bareRuns.push_back(startOnce(server, bare, {}));
        emptyRuns.push_back(startOnce(server, program, {}));
        bigRuns.push_back(startOnce(server, program, big));
    }
    const auto medianOf = [](const std::vector<Run>& runs, auto field) {
        std::vector<double> values;
        for (const Run& run : runs)
            values.push_back(field(run));
        return median(values);
    };
    const auto ms = [](const Run& run) { return run.ms; };
    const double floor = medianOf(bareRuns, ms);
    const double faultUs = firstTouchMicrosecondsPerPage();
    std::printf("Start-up to a mapped window under Xvfb, medians of %d interleaved runs\n",
                kRounds);
    std::printf("  %-30s %8s %7s %9s %9s %7s\n", "", "to map", "ratio", "CPU", "X server",
                "faults");
    const auto row = [&](const char* name, const std::vector<Run>& runs) {
        std::printf("  %-30s %5.1f ms %6.2fx %6.1f ms %6.1f ms %7.0f\n", name, medianOf(runs, ms),
                    medianOf(runs, ms) / floor,
                    medianOf(runs, [](const Run& r) { return r.toMap.cpuMs; }),
                    medianOf(runs, [](const Run& r) { return r.serverCpuMs; }),
                    medianOf(runs, [](const Run& r) { return r.toMap.faults; }));
    };
    row("bare Qt window, same controls", bareRuns);
    row("empty store", emptyRuns);
    row("32767-task first category", bigRuns);
    // Where a fault of fresh memory costs 12 us, as on some machines of this kind, each fault
    // to the map adds the difference to what it costs here.
    const auto projected = [&](const std::vector<Run>& runs) {
        return medianOf(runs,
                        [&](const Run& r) { return r.ms + r.toMap.faults * (12 - faultUs) / 1e3; });
    };
    std::printf("A first touch of fresh memory costs %.1f us a page here. Where it costs 12 us:\n",
                faultUs);
    std::printf("  empty store %.2fx, 32767-task first category %.2fx the bare window\n",
                projected(emptyRuns) / projected(bareRuns),
                projected(bigRuns) / projected(bareRuns));
    std::printf("Peak memory with the 32767-task category shown  %.1f MB\n",
                medianOf(bigRuns, [](const Run& r) { return r.peakMb; }));
    std::fflush(stdout);
    return 0;
}
