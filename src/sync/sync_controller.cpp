#include "sync_controller.h"

#include "dav_client.h"
#include "failure.h"
#include "settings_store.h"
#include "sync_digests.h"
#include "sync_run.h"
#include "sync_slices.h"
#include "sync_tasks_host.h"

#include <QLocale>
#include <QPointer>
#include <QSet>
#include <QThread>
#include <algorithm>
#include <atomic>

namespace {

// A burst of saving commands makes one sync: it starts once they pause for a moment, and never
// later than kGatherMaxMs after the first of them, so an edit reaches the server within a second
// or two even while commands keep coming.
constexpr int kGatherMs = 300;
constexpr qint64 kGatherMaxMs = 2000;
constexpr int kIntervalMs = 5 * 60 * 1000;

const QString kAddress = QStringLiteral("address");
const QString kUser = QStringLiteral("user");
const QString kPlainHttp = QStringLiteral("plainHttp");
const QString kHome = QStringLiteral("home");
const QString kTree = QStringLiteral("tree");
const QString kDelete = QStringLiteral("delete:");
const QString kIgnore = QStringLiteral("ignore:");
const QString kLocalOnly = QStringLiteral("localOnly:");
const QString kRemoteKey = QStringLiteral("remoteKey:");

void append(SettingsStore::Changes& to, const SettingsStore::Changes& more)
{
    to.syncForgetAll = to.syncForgetAll || more.syncForgetAll;
    to.syncAccount.insert(to.syncAccount.end(), more.syncAccount.begin(), more.syncAccount.end());
    to.syncCalendars.insert(to.syncCalendars.end(), more.syncCalendars.begin(),
                            more.syncCalendars.end());
    to.syncCalendarsGone.insert(to.syncCalendarsGone.end(), more.syncCalendarsGone.begin(),
                                more.syncCalendarsGone.end());
    to.syncTasks.insert(to.syncTasks.end(), more.syncTasks.begin(), more.syncTasks.end());
    to.syncTasksGone.insert(to.syncTasksGone.end(), more.syncTasksGone.begin(),
                            more.syncTasksGone.end());
}

QString counted(int n, const char* one, const char* many)
{
    return n == 1 ? QStringLiteral("1 %1").arg(QLatin1StringView(one))
                  : QStringLiteral("%1 %2").arg(n).arg(QLatin1StringView(many));
}

} // namespace

struct SyncController::Run
{
    std::unique_ptr<Dav::Client> client;
    SyncInput input;
    std::optional<SyncOutcome> outcome;
    QString failure;
    std::atomic<bool> abandoned{false};
    QThread* thread = nullptr;
    // On the GUI thread, once the worker is done.
    QString when;
    QHash<QString, QString> made;
    // Categories whose lists are still to be read before the worker starts.
    QStringList unread;
    // The lists of a category not on screen as a thread of their own read them, with their
    // digest; none when the GUI thread reads them.
    std::optional<SyncLists> read;
    quint64 readDigest = 0;
    SettingsStore::Changes readUids; // given to tasks stored without them
    QString readFailure;
    // What the sync brought, applied a slice a turn.
    std::optional<SyncSlices> slices;
    // The digest of a category's lists right after a slice of it was applied.
    QHash<QString, quint64> applied;
    bool asked = false; // some question was asked
    int movedToDeleted = 0;
    std::vector<SettingsStore::SyncTask> rest;
    std::size_t stored = 0;
    // Then the categories taken as settled, a digest a turn.
    bool settling = false;
    QStringList toSettle;
    QHash<QString, quint64> settledDigests;
};

SyncController::SyncController(SettingsStore& store, SyncTasksHost& host, QObject* parent)
    : QObject(parent), m_store(store), m_host(host), m_tasksPerSlice(SyncSlices::kTasksPerSlice)
{
    m_soon.setSingleShot(true);
    connect(&m_soon, &QTimer::timeout, this,
            [this] { request(std::exchange(m_soonChangedOnly, false)); });
    m_interval.setInterval(kIntervalMs);
    connect(&m_interval, &QTimer::timeout, this, &SyncController::syncNow);
    m_interval.start();
}

SyncController::~SyncController()
{
    stop(1000);
}

SyncController::Account SyncController::account() const
{
    const QHash<QString, QString> stored = m_store.readSyncAccount();
    return {stored.value(kAddress), stored.value(kUser), stored.value(kPlainHttp) == u"1"};
}

void SyncController::setAccount(const Account& account)
{
    const Account before = this->account();
    if (before == account)
        return;
    SettingsStore::Changes changes;
    if (before.address != account.address || before.user != account.user) {
        // Another account: nothing synced with the one before means anything there.
        changes.syncForgetAll = true;
        const QHash<QString, QString> stored = m_store.readSyncAccount();
        for (auto entry = stored.cbegin(); entry != stored.cend(); ++entry)
            changes.syncAccount.emplace_back(entry.key(), QString());
    }
    changes.syncAccount.emplace_back(kAddress, account.address);
    changes.syncAccount.emplace_back(kUser, account.user);
    changes.syncAccount.emplace_back(kPlainHttp,
                                     account.plainHttpAgreed ? QStringLiteral("1") : QString());
    m_store.apply(changes);
}

void SyncController::setPassword(const QString& password)
{
    m_password = password;
}

bool SyncController::hasPassword() const
{
    return !m_password.isEmpty();
}

bool SyncController::isSetUp() const
{
    const Account stored = account();
    return !stored.address.isEmpty() && !stored.user.isEmpty();
}

void SyncController::syncNow()
{
    m_soon.stop();
    if (!isRunning())
        m_carried.reset(); // a sync of its own, not the one due after the last
    request(false);
}

void SyncController::request(bool changedOnly)
{
    if (!isSetUp())
        return;
    if (!hasPassword()) {
        emit passwordNeeded();
        return;
    }
    if (isRunning()) {
        m_again = true;
        return;
    }
    start(changedOnly);
}

void SyncController::syncSoon()
{
    m_soonChangedOnly = false;
    if (!isSetUp())
        return;
    if (!m_soon.isActive())
        m_gathering.start();
    m_soon.start(int(std::clamp<qint64>(kGatherMaxMs - m_gathering.elapsed(), 0, kGatherMs)));
}

void SyncController::syncAfterSaving()
{
    const bool gathering = m_soon.isActive();
    const bool changedOnly = !gathering || m_soonChangedOnly;
    syncSoon();
    m_soonChangedOnly = changedOnly;
}

bool SyncController::isRunning() const
{
    return m_run != nullptr;
}

QString SyncController::statusText() const
{
    return m_status;
}

void SyncController::setInterval(int ms)
{
    m_interval.start(ms);
}

void SyncController::setLimits(const Dav::Limits& limits)
{
    m_limits = limits;
}

void SyncController::setTasksPerSlice(qsizetype tasks)
{
    m_tasksPerSlice = tasks;
}

void SyncController::setStatus(const QString& text)
{
    m_status = text;
    emit statusChanged(text);
}

bool SyncController::isLinked(const QString& categoryKey) const
{
    for (const SettingsStore::SyncCalendar& c : m_store.readSyncCalendars())
        if (c.categoryKey == categoryKey)
            return true;
    return false;
}

void SyncController::categoryRemoved(const QString& categoryKey, bool deleteThere)
{
    SettingsStore::Changes changes;
    for (const SettingsStore::SyncCalendar& c : m_store.readSyncCalendars()) {
        if (c.categoryKey != categoryKey)
            continue;
        changes.syncCalendarsGone.push_back(categoryKey);
        changes.syncAccount.emplace_back((deleteThere ? kDelete : kIgnore) + c.href,
                                         QStringLiteral("1"));
        // Should the category come back, its calendar carries the key it did, so that the
        // homes still linked to the one before find it.
        changes.syncAccount.emplace_back(kRemoteKey + categoryKey, c.remoteKey);
    }
    // Its tasks go up again when the category comes back.
    for (const SettingsStore::SyncTask& row : m_store.readSyncTasks(categoryKey))
        changes.syncTasksGone.push_back(row.uid);
    m_store.apply(changes);
    if (deleteThere)
        syncSoon();
}

void SyncController::shownCategorySettled()
{
    if (m_waiting) {
        m_waiting = false;
        syncSoon();
    }
}

void SyncController::start(bool changedOnly)
{
    auto run = std::make_shared<Run>();
    SyncInput& input = run->input;
    input.changedOnly = changedOnly;
    try {
        const QHash<QString, QString> stored = m_store.readSyncAccount();
        input.home = stored.value(kHome);
        for (auto entry = stored.cbegin(); entry != stored.cend(); ++entry) {
            if (entry.value().isEmpty())
                continue;
            if (entry.key().startsWith(kDelete))
                input.calendarsToDelete.append(entry.key().mid(kDelete.size()));
            else if (entry.key().startsWith(kIgnore))
                input.calendarsIgnored.append(entry.key().mid(kIgnore.size()));
            else if (entry.key().startsWith(kLocalOnly))
                input.localOnly.insert(entry.key().mid(kLocalOnly.size()));
            else if (entry.key().startsWith(kRemoteKey))
                input.remoteKeys.insert(entry.key().mid(kRemoteKey.size()), entry.value());
        }
        input.calendars = m_store.readSyncCalendars();
        input.tree = m_host.syncCategories();
        input.treeChanged = stored.value(kTree) != QString::number(SyncDigests::ofTree(input.tree));
        const QString shown = m_host.syncShownCategory();
        const bool shownUnsaved = !shown.isEmpty() && m_host.shownListsUnsaved();
        for (const SyncCategory& c : std::as_const(input.tree)) {
            if (input.localOnly.contains(c.key))
                continue;
            if (shownUnsaved && c.key == shown) {
                // Its working copy holds what no saving command stored: it waits.
                input.leftOut.insert(c.key);
                m_waiting = true;
                continue;
            }
            run->unread.append(c.key); // until its digest says it is as synced
        }
    } catch (const Failure& failure) {
        m_carried.reset();
        setStatus(QStringLiteral("Sync could not start: %1").arg(failure.description()));
        return;
    }
    const Account stored = account();
    Dav::Account davAccount{QUrl(stored.address), stored.user, m_password, stored.plainHttpAgreed};
    run->client = std::make_unique<Dav::Client>(davAccount, m_limits);
    m_run = run;
    setStatus(QStringLiteral("Syncing\u2026"));
    digestLists(run);
}

// Which categories changed since they were last synced, by the digests of their stored lists,
// taken on a thread: with every list of a big store read, they would hold the window.
void SyncController::digestLists(const std::shared_ptr<Run>& run)
{
    const SettingsStore& store = m_store;
    onThread(
        run,
        [run, &store] {
            for (const QString& key : std::as_const(run->unread)) {
                if (run->abandoned)
                    return;
                run->input.localDigests.insert(key, SyncDigests::ofStoredLists(store, key));
            }
        },
        &Run::readFailure, QStringLiteral("The lists could not be read."),
        [run](SyncController& self) { self.listsDigested(run); });
}

void SyncController::listsDigested(const std::shared_ptr<Run>& run)
{
    if (m_run != run)
        return;
    if (!run->readFailure.isEmpty()) {
        done(run,
             QStringLiteral("Sync could not start: %1").arg(std::exchange(run->readFailure, {})));
        return;
    }
    SyncInput& input = run->input;
    QHash<QString, quint64> synced;
    for (const SettingsStore::SyncCalendar& c : std::as_const(input.calendars))
        synced.insert(c.categoryKey, c.localDigest);
    run->unread.removeIf([&](const QString& key) {
        const auto was = synced.constFind(key);
        return was != synced.cend() && *was == input.localDigests.value(key);
    });
    readLists(run);
}

// One category's lists at a time, each with its digest taken again with it, so the two agree
// whatever was saved in between. A category not on screen is read from the store by a thread
// of its own, so that a full list never holds the window; the one on screen is read from
// screen, a cheap copy.
void SyncController::readLists(const std::shared_ptr<Run>& run)
{
    if (m_run != run)
        return; // stopped meanwhile
    SyncInput& input = run->input;
    if (!run->unread.isEmpty()) {
        const QString key = run->unread.first();
        if (key == m_host.syncShownCategory()) {
            run->unread.removeFirst();
            if (m_host.shownListsUnsaved()) {
                // Changed on screen since the sync began, and not saved: it waits, as at the
                // start.
                input.localDigests.remove(key);
                input.leftOut.insert(key);
                m_waiting = true;
            } else {
                try {
                    input.localDigests.insert(key, SyncDigests::ofStoredLists(m_store, key));
                    input.lists.insert(key, m_host.syncLists(key));
                } catch (const Failure& failure) {
                    done(run,
                         QStringLiteral("Sync could not start: %1").arg(failure.description()));
                    return;
                }
            }
            nextTurn([this, run] { readLists(run); });
            return;
        }
        const SettingsStore& store = m_store;
        const SyncTasksHost& host = m_host;
        onThread(
            run,
            [run, key, &store, &host] {
                // A save between the two digests would leave lists that go with neither: they
                // are read again, and after a few tries left to the GUI thread.
                for (int attempt = 0; attempt < 3 && !run->read && !run->abandoned; ++attempt) {
                    const quint64 before = SyncDigests::ofStoredLists(store, key);
                    SyncLists lists = host.readStoredLists(key, run->readUids);
                    if (SyncDigests::ofStoredLists(store, key) == before) {
                        run->read = std::move(lists);
                        run->readDigest = before;
                    }
                }
            },
            &Run::readFailure, QStringLiteral("The lists could not be read."),
            [run, key](SyncController& self) { self.listsRead(run, key); });
        return;
    }
    // The tree changed while its lists were read: a category read may have gone. This sync
    // starts over from the tree as it is now.
    if (SyncDigests::ofTree(m_host.syncCategories()) != SyncDigests::ofTree(input.tree)) {
        m_run.reset();
        start(input.changedOnly);
        return;
    }
    SettingsStore& store = m_store;
    onThread(
        run, [run, &store] { run->outcome = SyncRun::run(*run->client, run->input, store); },
        &Run::failure, QStringLiteral("The sync ended unexpectedly."),
        [run](SyncController& self) { self.finish(run); });
}

// A timer, not a queued call: the event loop runs its timers only once no queued call is left,
// so slices queued one after another would hold back every timer of the window (a cursor's
// blink, a tooltip, a reminder) until the last of them.
void SyncController::nextTurn(std::function<void()> step)
{
    QTimer::singleShot(1, this, std::move(step));
}

// `work` on a thread of the run's own; `then` on the GUI thread once it is done and joined, unless
// the run was abandoned meanwhile. What `work` throws is said in `failed`.
void SyncController::onThread(const std::shared_ptr<Run>& run, std::function<void()> work,
                              QString Run::*failed, const QString& unexpected,
                              std::function<void(SyncController&)> then)
{
    QPointer<SyncController> self(this);
    run->thread = QThread::create(
        [run, work = std::move(work), failed, unexpected, then = std::move(then), self] {
            try {
                work();
            } catch (const Failure& failure) {
                (*run).*failed = failure.description();
            } catch (const std::exception&) {
                (*run).*failed = unexpected;
            }
            if (run->abandoned)
                return;
            QMetaObject::invokeMethod(
                self.data(),
                [run, then, self] {
                    if (!self || run->abandoned)
                        return;
                    run->thread->wait();
                    run->thread = nullptr; // deleted once its end is handled
                    then(*self);
                },
                Qt::QueuedConnection);
        });
    connect(run->thread, &QThread::finished, run->thread, &QObject::deleteLater);
    run->thread->start();
}

void SyncController::listsRead(const std::shared_ptr<Run>& run, const QString& key)
{
    if (m_run != run)
        return;
    SyncInput& input = run->input;
    try {
        if (!run->readFailure.isEmpty())
            throw Failure(std::exchange(run->readFailure, {}));
        const SettingsStore::Changes uids = std::exchange(run->readUids, {});
        std::optional<SyncLists> read = std::exchange(run->read, std::nullopt);
        quint64 digest = run->readDigest;
        if (read && !uids.listUids.empty()) {
            // The UIDs given to tasks stored without them are stored with the lists as read,
            // else the lists are read again here.
            if (SyncDigests::ofStoredLists(m_store, key) == digest) {
                m_store.apply(uids);
                digest = SyncDigests::ofStoredLists(m_store, key);
            } else {
                read.reset();
            }
        }
        if (read) {
            input.localDigests.insert(key, digest);
            input.lists.insert(key, std::move(*read));
        } else {
            // Saved again and again while it was read: read here, in one turn, the digest after
            // any UIDs the reading stores.
            input.lists.insert(key, m_host.syncLists(key));
            input.localDigests.insert(key, SyncDigests::ofStoredLists(m_store, key));
        }
    } catch (const Failure& failure) {
        done(run, QStringLiteral("Sync could not start: %1").arg(failure.description()));
        return;
    }
    run->unread.removeFirst();
    readLists(run);
}

void SyncController::finish(const std::shared_ptr<Run>& run)
{
    run->when = QLocale().toString(QTime::currentTime(), QLocale::ShortFormat);
    if (!run->outcome) {
        done(run, QStringLiteral("The last sync, at %1, failed: %2").arg(run->when, run->failure));
        return;
    }
    SyncOutcome& outcome = *run->outcome;
    SyncBatch& batch = outcome.batch;
    try {
        // The questions first: nothing of their categories changes before the answer.
        for (const SyncBatch::Question& question : std::as_const(batch.questions)) {
            if (m_host.askSync(question.text)) {
                append(batch.state, question.ifYes);
                continue;
            }
            append(batch.state, question.ifNo);
            if (!question.noMessage.isEmpty())
                outcome.problems.append(question.noMessage);
            batch.settledCategories.removeAll(question.categoryKey);
            batch.tasks.removeIf([&](const SyncBatch::TaskChange& change) {
                return change.categoryKey == question.categoryKey && change.deletedThere;
            });
            batch.activeOrder.remove(question.categoryKey);
        }
        if (!outcome.home.isEmpty() && outcome.home != run->input.home)
            batch.state.syncAccount.emplace_back(kHome, outcome.home);
        // The rows of tasks that were only uploaded are stored after the batch, in slices, so
        // that a big upload never holds the window for long. Until the last slice is stored the
        // lists are not taken as settled: a sync cut off before then compares them anew.
        QSet<QString> changing;
        for (const SyncBatch::TaskChange& change : std::as_const(batch.tasks))
            changing.insert(change.uid.toString(QUuid::WithoutBraces));
        auto& rows = batch.state.syncTasks;
        const auto rest = std::stable_partition(
            rows.begin(), rows.end(), [&](const auto& row) { return changing.contains(row.uid); });
        run->rest.assign(std::make_move_iterator(rest), std::make_move_iterator(rows.end()));
        rows.erase(rest, rows.end());
        run->asked = !batch.questions.isEmpty();
        run->movedToDeleted =
            int(std::count_if(batch.tasks.cbegin(), batch.tasks.cend(),
                              [](const auto& change) { return change.deletedThere; }));
        run->slices.emplace(std::move(batch), m_tasksPerSlice);
    } catch (const Failure& failure) {
        done(run, QStringLiteral("The last sync, at %1, could not store what it brought: %2")
                      .arg(run->when, failure.description()));
        return;
    }
    applySlice(run);
}

// What the sync brought, a slice a turn of the event loop: a second home receiving a full
// calendar keeps answering meanwhile.
void SyncController::applySlice(const std::shared_ptr<Run>& run)
{
    if (run->abandoned)
        return;
    SyncSlices& slices = *run->slices;
    try {
        SyncBatch slice = slices.next(run->made);
        // A category saved here since a slice of it was applied holds more than the server: it
        // is not taken as settled, and the next sync compares it anew.
        for (const QString& key : QStringList(slice.settledCategories)) {
            const auto was = run->applied.constFind(key);
            if (was != run->applied.cend() && *was != SyncDigests::ofStoredLists(m_store, key))
                SyncRun::unsettleCategory(slice, key);
        }
        run->made.insert(m_host.applySyncBatch(slice));
        slices.applied(slice);
        for (const QString& key : std::as_const(slice.settledCategories))
            run->applied.insert(key, SyncDigests::ofStoredLists(m_store, key));
    } catch (const Failure& failure) {
        done(run, QStringLiteral("The last sync, at %1, could not store what it brought: %2")
                      .arg(run->when, failure.description()));
        return;
    }
    if (!slices.atEnd()) {
        nextTurn([this, run] { applySlice(run); });
        return;
    }
    if (slices.anyHeld())
        m_waiting = true;
    for (SettingsStore::SyncTask& row : run->rest)
        row.categoryKey = run->made.value(row.categoryKey, row.categoryKey);
    nextTurn([this, run] { storeSlice(run); });
}

void SyncController::storeSlice(const std::shared_ptr<Run>& run)
{
    if (run->abandoned)
        return;
    constexpr std::size_t kSliceRows = 2000;
    SyncOutcome& outcome = *run->outcome;
    try {
        if (run->stored < run->rest.size()) {
            SettingsStore::Changes slice;
            const std::size_t take = std::min(kSliceRows, run->rest.size() - run->stored);
            slice.syncTasks.assign(run->rest.begin() + qsizetype(run->stored),
                                   run->rest.begin() + qsizetype(run->stored + take));
            run->stored += take;
            m_store.apply(slice);
            nextTurn([this, run] { storeSlice(run); });
            return;
        }
        // The lists as stored now are what was synced: while they stay so, the next sync leaves
        // them alone. Each category's digest in a turn of its own, as a big store's lists
        // together would hold the window.
        if (!run->settling) {
            run->settling = true;
            run->toSettle = run->slices->settled(run->made);
        }
        if (!run->toSettle.isEmpty()) {
            const QString key = run->toSettle.takeFirst();
            // Unless it was saved here since the sync read it or applied the last of it.
            const quint64 now = SyncDigests::ofStoredLists(m_store, key);
            if (now == run->applied.value(key, run->input.localDigests.value(key, now)))
                run->settledDigests.insert(key, now);
            nextTurn([this, run] { storeSlice(run); });
            return;
        }
        // Read now, not before the digests: a category unlinked meanwhile stays so.
        SettingsStore::Changes slice;
        for (SettingsStore::SyncCalendar& c : m_store.readSyncCalendars()) {
            const auto digest = run->settledDigests.constFind(c.categoryKey);
            if (digest == run->settledDigests.cend())
                continue;
            c.localDigest = *digest;
            slice.syncCalendars.push_back(std::move(c));
        }
        // The categories the server brought count as synced where they are: the next sync puts
        // them in the order the server gives, as it does every category not moved here.
        if (!run->asked)
            slice.syncAccount.emplace_back(
                kTree, QString::number(SyncDigests::ofTree(m_host.syncCategories())));
        m_store.apply(slice);
    } catch (const Failure& failure) {
        done(run, QStringLiteral("The last sync, at %1, could not store what it brought: %2")
                      .arg(run->when, failure.description()));
        return;
    }
    Tally tally = std::exchange(m_carried, std::nullopt).value_or(Tally());
    tally.uploaded += outcome.uploaded;
    tally.downloaded += outcome.downloaded;
    tally.removedThere += outcome.removedThere;
    tally.movedToDeleted += run->movedToDeleted;
    tally.conflicts += outcome.conflicts;
    tally.problems += outcome.problems;
    tally.problems.removeDuplicates();
    if (outcome.retrySoon || run->asked || !run->made.isEmpty())
        m_again = true;
    if (m_again)
        m_carried = tally;
    done(run, QStringLiteral("Last synced at %1").arg(run->when) + statusOf(tally));
}

QString SyncController::statusOf(const Tally& tally)
{
    QStringList did;
    if (tally.uploaded)
        did.append(counted(tally.uploaded, "task sent", "tasks sent"));
    if (tally.downloaded)
        did.append(counted(tally.downloaded, "task received", "tasks received"));
    if (tally.removedThere)
        did.append(counted(tally.removedThere, "task deleted on the server",
                           "tasks deleted on the server"));
    if (tally.movedToDeleted)
        did.append(counted(tally.movedToDeleted,
                           "task deleted on another device moved to Deleted Tasks",
                           "tasks deleted on another device moved to Deleted Tasks"));
    QString text = did.isEmpty()
                       ? QStringLiteral(": nothing to do.")
                       : QStringLiteral(": ") + did.join(QStringLiteral(", ")) + QLatin1Char('.');
    if (tally.conflicts)
        text += QStringLiteral(" %1 changed on both sides: the server's version is in the list, "
                               "this one's in Deleted Tasks.")
                    .arg(counted(tally.conflicts, "task was", "tasks were"));
    if (!tally.problems.isEmpty())
        text += QLatin1Char(' ') + tally.problems.join(QLatin1Char(' '));
    return text;
}

void SyncController::done(const std::shared_ptr<Run>& run, const QString& status)
{
    if (m_run == run)
        m_run.reset();
    setStatus(status);
    emit finished();
    if (std::exchange(m_again, false))
        syncSoon();
    else
        m_carried.reset();
}

void SyncController::stop(int waitMs)
{
    m_soon.stop();
    m_interval.stop();
    m_carried.reset();
    if (!m_run)
        return;
    std::shared_ptr<Run> run = std::exchange(m_run, nullptr);
    run->abandoned = true;
    run->client->cancel();
    // A worker that does not end in time is left to end on its own: what was not sent goes
    // next time.
    if (run->thread)
        run->thread->wait(waitMs);
}
