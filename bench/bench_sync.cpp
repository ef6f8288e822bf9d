// Sync against a local Radicale, with a busy store of 20 categories and 32767 tasks:
// - the first upload, against a bare uploader that makes the same calendars and sends the same
//   PUTs over as many connections, run right before it on the same server;
// - the longest stall of the window's event loop while the program uploads;
// - a sync with nothing to do;
// - how soon one task ticked off reaches the server after the saving command returns;
// and, without a server, one category holding as many tasks as a list can: the longest turn of
// the event loop while a sync reads its lists, and while a second home applies all of it.
// `bench_sync one-list` measures that alone.
#include "bench_app.h"
#include "busy_store.h"
#include "calendar_file.h"
#include "category_tree.h"
#include "category_tree_codec.h"
#include "dav_client.h"
#include "due_dates.h"
#include "form1.h"
#include "radicale_server.h"
#include "settings_store.h"
#include "sync_controller.h"
#include "sync_digests.h"
#include "sync_link.h"
#include "sync_run.h"
#include "sync_slices.h"
#include "task_directory.h"
#include "task_list_codec.h"
#include "task_list_view.h"
#include "task_uids.h"
#include "toggle_done.h"

#include "bench_medians.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <thread>

namespace {

constexpr double kNothingToDoTargetMs = 100;
constexpr double kEditTargetMs = 1000;
constexpr double kUploadTargetRatio = 1.5;
constexpr double kStallTargetMs = 50;

// Waits for `signal` of `sender` while the event loop runs; false after `timeoutMs`.
template <class Sender, class Signal> bool waitFor(Sender* sender, Signal signal, int timeoutMs)
{
    QEventLoop loop;
    bool fired = false;
    QObject::connect(sender, signal, &loop, [&] {
        fired = true;
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return fired;
}

// The program's requests, sent the plainest way Qt allows: the same number of connections, no
// parsing of what comes back beyond the status.
class BareUploader
{
public:
    BareUploader(const QUrl& server, const QString& user, const QString& password, int connections)
        : m_server(server), m_connections(connections),
          m_auth("Basic " + (user + u':' + password).toUtf8().toBase64())
    {
    }

    struct Request
    {
        QByteArray verb;
        QString path;
        QByteArray body;
        QByteArray depth; // for PROPFIND
    };

    // Sends every request, `connections` at a time; the number that failed.
    int send(std::deque<Request> requests)
    {
        int inFlight = 0, failed = 0;
        QEventLoop loop;
        std::function<void()> next = [&] {
            while (inFlight < m_connections && !requests.empty()) {
                Request r = std::move(requests.front());
                requests.pop_front();
                QUrl url = m_server;
                url.setPath(r.path);
                QNetworkRequest request(url);
                request.setRawHeader("Authorization", m_auth);
                request.setHeader(QNetworkRequest::ContentTypeHeader,
                                  r.verb == "PUT" ? "text/calendar; charset=utf-8"
                                                  : "application/xml; charset=utf-8");
                if (r.verb == "PUT")
                    request.setRawHeader("If-None-Match", "*");
                if (!r.depth.isEmpty())
                    request.setRawHeader("Depth", r.depth);
                QNetworkReply* reply = m_network.sendCustomRequest(request, r.verb, r.body);
                ++inFlight;
                QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply] {
                    const int status =
                        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                    if (status < 200 || status > 299)
                        ++failed;
                    reply->deleteLater();
                    --inFlight;
                    next();
                    if (inFlight == 0 && requests.empty())
                        loop.quit();
                });
            }
        };
        next();
        if (inFlight > 0)
            loop.exec();
        return failed;
    }

private:
    QUrl m_server;
    int m_connections;
    QByteArray m_auth;
    QNetworkAccessManager m_network;
};

// What the program sends on its first sync of the store, as the bare uploader sends it: one
// calendar per category, then one resource per active task.
std::pair<std::deque<BareUploader::Request>, std::deque<BareUploader::Request>>
firstUploadOf(SettingsStore& store, Form1& window, const QString& user)
{
    std::deque<BareUploader::Request> calendars, tasks;
    QStringList keys;
    for (QTreeWidgetItem* node : window.tvFolders->nodesInOrder())
        keys.append(CategoryTree::keyOf(node));
    const TaskDirectory directory(store, window, keys);
    for (int c = 0; c < keys.size(); ++c) {
        const QString collection = QStringLiteral("/%1/bare-%2/").arg(user).arg(c);
        calendars.push_back(
            {"MKCALENDAR",
             collection,
             QStringLiteral(
                 "<?xml version=\"1.0\" encoding=\"utf-8\"?><C:mkcalendar xmlns:D=\"DAV:\" "
                 "xmlns:C=\"urn:ietf:params:xml:ns:caldav\" xmlns:K=\"urn:x-kestrune:caldav\">"
                 "<D:set><D:prop><D:displayname>Category %1</D:displayname>"
                 "<C:supported-calendar-component-set><C:comp name=\"VTODO\"/>"
                 "</C:supported-calendar-component-set><K:category>%2\n\n%1</K:category>"
                 "</D:prop></D:set></C:mkcalendar>")
                 .arg(c)
                 .arg(keys[c])
                 .toUtf8(),
             {}});
        qint64 order = 0;
        for (const TaskRow& row : directory.rows(keys[c], false)) {
            CalendarTask task;
            task.uid = row.uid.toString(QUuid::WithoutBraces);
            task.fields = row.fields;
            task.sortOrder = ++order;
            tasks.push_back({"PUT",
                             collection + task.uid + QStringLiteral(".ics"),
                             SyncRun::resourceBody(VTodoMapping::write(task)),
                             {}});
        }
    }
    return {std::move(calendars), std::move(tasks)};
}

// The longest time the GUI thread's event loop went without turning, while it runs.
class StallMeter
{
public:
    StallMeter()
    {
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.setInterval(kTickMs);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            const double now = double(m_clock.nsecsElapsed()) / 1e6;
            m_longest = std::max(m_longest, now - m_last - kTickMs);
            m_last = now;
        });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_tick.start();
    }
    double stop()
    {
        m_tick.stop();
        return m_longest;
    }

private:
    static constexpr int kTickMs = 2;
    QTimer m_tick;
    QElapsedTimer m_clock;
    double m_last = 0;
    double m_longest = 0;
};

// The same measure for a thread that does nothing but wait 2 ms at a time, beside the window's:
// what it sees is the machine's own (another program on the cores, a virtual machine's host
// taking the core away), which no program on it can avoid.
class MachineStallMeter
{
public:
    MachineStallMeter()
        : m_thread([this] {
              auto last = std::chrono::steady_clock::now();
              while (!m_stop) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
                  const auto now = std::chrono::steady_clock::now();
                  const double late =
                      std::chrono::duration<double, std::milli>(now - last).count() - kTickMs;
                  m_longest = std::max(m_longest.load(), late);
                  last = now;
              }
          })
    {
    }
    ~MachineStallMeter() { stop(); }
    double stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_longest;
    }

private:
    static constexpr int kTickMs = 2;
    std::atomic<bool> m_stop{false};
    std::atomic<double> m_longest{0};
    std::thread m_thread;
};

// A store of two categories, "Inbox" and "Full", with `fullTasks` active tasks in "Full", and
// the main window on it with "Full" on screen or not.
struct OneFullList
{
    OneFullList(const BenchApp& bench, const QString& name, int fullTasks, bool shown)
        : store(bench.homePath(name))
    {
        QString value;
        for (int i = 0; i < fullTasks; ++i)
            TaskListCodec::appendEntry(value, fieldsOf(i));
        store.writeAll({{CategoryTreeCodec::kKey,
                         CategoryTreeCodec::encode({{QStringLiteral("Inbox"), inbox, {}},
                                                    {QStringLiteral("Full"), full, {}}})},
                        {full, value}});
        window = std::make_unique<Form1>(store);
        // As every list the program has saved once: with its UIDs stored.
        TaskDirectory(store, *window, {inbox, full}).save();
        if (shown) {
            QTreeWidgetItem* node = window->tvFolders->nodeByKey(full);
            window->tvFolders->selectNode(node);
            window->tvFolders_NodeClick(node);
        }
    }
    static TaskListCodec::Fields fieldsOf(int i)
    {
        return {QStringLiteral("Task number %1 of one full list").arg(i),
                QStringLiteral("Medium"),
                QStringLiteral("General"),
                i % 3 ? QString() : DueDates::format(Clock::today().addDays(i % 60 - 30)),
                i % 5 ? QString() : QStringLiteral("Ask about item %1 before Friday").arg(i),
                QString()};
    }
    // What a sync brings of a server's calendar of `tasks` tasks, all new here, for "Full".
    SyncBatch incoming(int tasks) const
    {
        SyncBatch batch;
        const QString href = QStringLiteral("/alice/full/");
        QList<QUuid> order;
        for (int i = 0; i < tasks; ++i) {
            CalendarTask task;
            const QUuid uid = QUuid::createUuid();
            task.uid = uid.toString(QUuid::WithoutBraces);
            task.fields = fieldsOf(i);
            task.sortOrder = i + 1;
            batch.tasks.append({uid, full, false, task.fields, false, std::nullopt, false});
            SettingsStore::SyncTask row;
            row.uid = task.uid;
            row.categoryKey = full;
            row.href = href + task.uid + QStringLiteral(".ics");
            row.etag = QByteArray::number(i);
            row.vtodo = VTodoMapping::write(task);
            row.digest = TaskUids::digest(task.fields);
            row.sortOrder = i + 1;
            row.onServer = true;
            batch.state.syncTasks.push_back(std::move(row));
            order.append(uid);
        }
        batch.activeOrder.insert(full, order);
        batch.state.syncCalendars.push_back({full, href, full, QStringLiteral("token"), {}, 0});
        batch.settledCategories.append(full);
        return batch;
    }

    const QString inbox = CategoryTreeCodec::rootKey(1);
    const QString full = CategoryTreeCodec::rootKey(2);
    SettingsStore store;
    std::unique_ptr<Form1> window;
};

// The longest turn of the event loop while a sync reads one full list, and while what a second
// home receives of it is applied, with the category on screen and not; beside each, the same
// work done in one turn, as a floor measured in the same run.
void oneFullList(const BenchApp& bench)
{
    std::printf("one category of %d tasks, longest turn of the event loop (target %.0f ms):\n",
                TaskListCodec::kMaxTasks, kStallTargetMs);
    const auto report = [](const char* what, const char* where, double oneTurn, double longest,
                           double all) {
        std::printf("  %s, %s: %6.1f ms, in all %6.0f ms; all of it in one turn %6.1f ms\n", what,
                    where, longest, all, oneTurn);
    };
    for (const bool shown : {false, true}) {
        const char* where = shown ? "on screen" : "not shown";
        {
            OneFullList home(bench, QStringLiteral("read-%1.db").arg(shown),
                             TaskListCodec::kMaxTasks, shown);
            SyncTasksHost& host = *home.window->findChild<SyncLink*>();
            const double oneTurn = millisecondsOf([&] {
                SyncDigests::ofStoredLists(home.store, home.full);
                host.syncLists(home.full);
            });
            SyncController& sync = *home.window->syncController();
            // Nothing listens there: the sync ends as soon as it has read the lists.
            sync.setAccount(
                {QStringLiteral("http://127.0.0.1:9/"), QStringLiteral("nobody"), false});
            sync.setPassword(QStringLiteral("none"));
            StallMeter stalls;
            stalls.start();
            const double all = millisecondsOf([&] {
                sync.syncNow();
                waitFor(&sync, &SyncController::finished, 60000);
            });
            report("reading for a sync", where, oneTurn, stalls.stop(), all);
        }
        // A slice a turn, as the sync applies them: the longest turn is the longest slice.
        const auto apply = [&](qsizetype tasksPerSlice, double& longest) {
            OneFullList home(bench, QStringLiteral("apply-%1-%2.db").arg(shown).arg(tasksPerSlice),
                             0, shown);
            SyncTasksHost& host = *home.window->findChild<SyncLink*>();
            SyncSlices slices(home.incoming(TaskListCodec::kMaxTasks), tasksPerSlice);
            QHash<QString, QString> made;
            double all = 0;
            longest = 0;
            while (!slices.atEnd()) {
                SyncBatch slice = slices.next(made);
                const double ms = millisecondsOf([&] { made.insert(host.applySyncBatch(slice)); });
                slices.applied(slice);
                longest = std::max(longest, ms);
                all += ms;
            }
            return all;
        };
        double oneTurn = 0, longest = 0;
        apply(TaskListCodec::kMaxTasks, oneTurn);
        const double all = apply(SyncSlices::kTasksPerSlice, longest);
        report("applying what a second home receives", where, oneTurn, longest, all);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const BenchApp bench(argc, argv);
    oneFullList(bench);
    if (argc > 1 && std::strcmp(argv[1], "one-list") == 0)
        return 0;

    RadicaleServer server({{QStringLiteral("alice"), QStringLiteral("secret")},
                           {QStringLiteral("bare"), QStringLiteral("secret")}});
    if (!server.isRunning()) {
        std::fprintf(stderr, "Radicale did not start: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    // A smaller store may be named for a quick look; the targets hold for the full one.
    const int tasks =
        argc > 1 ? std::max(BusyStore::kCategories, std::atoi(argv[1])) : BusyStore::kTasks;
    SettingsStore store(bench.homePath(QStringLiteral("Kestrune.db")));
    BusyStore::fill(store, false, tasks);
    Form1 window(store);
    SyncController& sync = *window.syncController();
    const Dav::Limits limits;

    // The same requests by the bare uploader first, into an account of its own.
    auto [calendars, puts] = firstUploadOf(store, window, QStringLiteral("bare"));
    const size_t putCount = puts.size();
    BareUploader bare(server.url(), QStringLiteral("bare"), QStringLiteral("secret"),
                      limits.connections);
    int bareFailed = 0;
    const double bareMs = millisecondsOf([&] {
        bareFailed = bare.send(std::move(calendars));
        bareFailed += bare.send(std::move(puts));
    });

    StallMeter stalls;
    sync.setAccount({server.url().toString(), server.user(), false});
    sync.setPassword(server.password());
    while (sync.isRunning())
        waitFor(&sync, &SyncController::finished, 600000);
    stalls.start();
    MachineStallMeter machineStalls;
    bool uploaded = false;
    // Long enough to measure a ratio past the target however slowly the server takes PUTs: its
    // time for each grows with the collection, and with the disk under it.
    const int uploadCapMs = int(std::max(1800000.0, 2 * bareMs));
    const double uploadMs = millisecondsOf([&] {
        sync.syncNow();
        uploaded = waitFor(&sync, &SyncController::finished, uploadCapMs);
    });
    const double stallMs = stalls.stop();
    const double machineStallMs = machineStalls.stop();
    std::printf("first upload, %zu tasks in %d categories, %d connections:\n", putCount,
                BusyStore::kCategories, limits.connections);
    std::printf("  bare uploader     %9.0f ms  (%d failed)\n", bareMs, bareFailed);
    std::printf("  Kestrune          %9.0f ms  %s: %s\n", uploadMs, uploaded ? "" : "(unfinished)",
                qPrintable(sync.statusText()));
    std::printf("first upload / bare uploader  %.2fx  (target %.1fx)\n", uploadMs / bareMs,
                kUploadTargetRatio);
    std::printf("longest event-loop stall during the upload  %.1f ms  (target %.0f ms); a thread "
                "that only waits, meanwhile  %.1f ms\n",
                stallMs, kStallTargetMs, machineStallMs);
    if (!uploaded)
        return 1; // what follows would measure the upload still under way

    std::vector<double> idle;
    for (int i = 0; i < 9; ++i)
        idle.push_back(millisecondsOf([&] {
            sync.syncNow();
            waitFor(&sync, &SyncController::finished, 60000);
        }));
    // What the server alone takes to say every calendar's state, by its tag: the one request
    // such a sync cannot do without.
    std::vector<double> listing;
    for (int i = 0; i < 9; ++i)
        listing.push_back(millisecondsOf([&] {
            BareUploader(server.url(), server.user(), server.password(), 1)
                .send({{"PROPFIND", QStringLiteral("/%1/").arg(server.user()),
                        "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:propfind xmlns:D=\"DAV:\" "
                        "xmlns:CS=\"http://calendarserver.org/ns/\"><D:prop>"
                        "<CS:getctag/></D:prop></D:propfind>",
                        "1"}});
        }));
    std::printf("sync with nothing to do  %.1f ms median of %zu  (target %.0f ms); the server's "
                "listing of its calendars alone  %.1f ms\n",
                median(idle), idle.size(), kNothingToDoTargetMs, median(listing));

    // A saving command: a task ticked off on screen, then the sync it sets off.
    std::vector<double> edits;
    for (int i = 0; i < 5; ++i) {
        toggleDone(*window.ListView1->tasks(), i);
        QElapsedTimer sinceSave;
        window.saveTaskLists();
        sinceSave.start();
        waitFor(&sync, &SyncController::finished, 60000);
        edits.push_back(double(sinceSave.nsecsElapsed()) / 1e6);
    }
    std::printf("one edited task on the server after its save  %.0f ms median, worst %.0f ms  "
                "(target %.0f ms)\n",
                median(edits), *std::max_element(edits.begin(), edits.end()), kEditTargetMs);
    std::printf("  status: %s\n", qPrintable(sync.statusText()));
    return 0;
}
