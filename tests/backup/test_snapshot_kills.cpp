// Kills a program in the middle of snapshots and restores, hundreds of times, and checks after
// each kill that the store and every snapshot are whole: each holds one complete save of both
// lists, never a mix and never a part.
#include "saved_lists.h"
#include "settings_store.h"
#include "snapshot.h"
#include "test_main.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <csignal>

namespace {

int setting(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

// Empty when `active` and `deleted` are both lists of one save, whole; else what is wrong.
QString tornness(const QString& active, const QString& deleted)
{
    const auto activeSave = SavedLists::saveOf(active);
    const auto deletedSave = SavedLists::saveOf(deleted);
    if (!activeSave || !deletedSave)
        return QStringLiteral("a list is missing or unreadable (%1 and %2 characters)")
            .arg(active.size())
            .arg(deleted.size());
    if (*activeSave != *deletedSave)
        return QStringLiteral("lists of saves %1 and %2").arg(*activeSave).arg(*deletedSave);
    if (active != SavedLists::value(SavedLists::kActiveKey, *activeSave) ||
        deleted != SavedLists::value(SavedLists::kDeletedKey, *deletedSave))
        return QStringLiteral("a list of save %1 is cut").arg(*activeSave);
    return {};
}

} // namespace

class TestSnapshotKills : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void killedWhileSnapshottingOrRestoring_storeAndSnapshotsAreAlwaysWhole()
    {
        const int kills = setting("KESTRUNE_KILLS", 200);
        const int seconds = setting("KESTRUNE_KILL_SECONDS", 120);
        const quint32 seed = quint32(setting("KESTRUNE_KILL_SEED", 4127));
        QRandomGenerator random(seed);
        const QString path = m_dir.path() + QStringLiteral("/Kestrune/Kestrune.db");
        const QString folder = SnapshotFiles::folderOf(path);
        const QString absent = QString(QChar(0xDC00));

        QElapsedTimer clock;
        clock.start();
        int survived = 0, inSnapshot = 0, inRestore = 0, snapshotsChecked = 0;
        qint64 nextSave = 0;
        while (survived < kills && clock.elapsed() < seconds * 1000) {
            QProcess helper;
            helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            helper.start(QStringLiteral(SNAPSHOT_KILL_HELPER), {path, QString::number(nextSave)});
            QVERIFY2(helper.waitForStarted(), qPrintable(helper.errorString()));
            QByteArray seen;
            while (!seen.contains("open\n") && helper.state() == QProcess::Running)
                if (helper.waitForReadyRead(10'000))
                    seen = helper.peek(1 << 20);
            QThread::usleep(random.bounded(400'000u));
            QVERIFY2(helper.state() == QProcess::Running, "the helper ended by itself");
            ::kill(pid_t(helper.processId()), SIGKILL);
            QVERIFY(helper.waitForFinished(10'000));

            const QList<QByteArray> lines = helper.readAllStandardOutput().trimmed().split('\n');
            const QByteArray last = lines.last();
            inSnapshot += last.startsWith("saved");
            inRestore += last == "snapshot";
            for (const QByteArray& line : lines)
                if (line.startsWith("saved "))
                    nextSave = qMax(nextSave, line.mid(6).toLongLong() + 1);

            auto store = std::make_unique<SettingsStore>(path);
            QVERIFY2(store->movedAsidePath().isEmpty(), "the store was found damaged");
            const QString active = store->read(SavedLists::kActiveKey, absent);
            const QString deleted = store->read(SavedLists::kDeletedKey, absent);
            store.reset();
            if (!(active == absent && deleted == absent && nextSave == 0)) {
                const QString torn = tornness(active, deleted);
                QVERIFY2(
                    torn.isEmpty(),
                    qPrintable(
                        QStringLiteral("after kill %1 the store: %2").arg(survived + 1).arg(torn)));
            }

            const QList<SnapshotFile> files = SnapshotFiles::list(folder);
            for (const SnapshotFile& file : files) {
                SnapshotReader snapshot(file.path);
                QVERIFY2(snapshot.isSound(), qPrintable(file.path));
                const QString torn = tornness(snapshot.value(SavedLists::kActiveKey, QString()),
                                              snapshot.value(SavedLists::kDeletedKey, QString()));
                QVERIFY2(torn.isEmpty(),
                         qPrintable(QStringLiteral("after kill %1 the snapshot %2: %3")
                                        .arg(survived + 1)
                                        .arg(file.path, torn)));
                ++snapshotsChecked;
            }
            // The newest two are enough for the next round to restore from.
            for (const SnapshotFile& file : files.mid(2))
                QFile::remove(file.path);
            ++survived;
        }
        qInfo("seed %u: %d kills in %.1f s (%d while snapshotting, %d while restoring), %d "
              "snapshots checked",
              seed, survived, clock.elapsed() / 1000.0, inSnapshot, inRestore, snapshotsChecked);
        QVERIFY2(survived >= qMin(kills, 50), "too few kills to prove anything");
        QVERIFY2(inSnapshot > 0 && inRestore > 0, "no kill landed in a snapshot or a restore");
    }
};

KESTRUNE_TEST_MAIN(TestSnapshotKills)
#include "test_snapshot_kills.moc"
