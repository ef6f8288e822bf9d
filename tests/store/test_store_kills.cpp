// Kills a program in the middle of saving, hundreds of times, and checks after each kill that
// the store opens, is sound, and holds exactly one complete save of both lists.
#include "saved_lists.h"
#include "settings_store.h"
#include "test_main.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <csignal>
#include <sqlite3.h>

namespace {

// A few hundred kills, but never much more than a minute; both can be changed for a long run.
int setting(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

QString integrityCheck(const QString& path)
{
    sqlite3* db = nullptr;
    QString result = QStringLiteral("cannot open");
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr);
        QStringList lines;
        while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
            lines.append(
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))));
        sqlite3_finalize(stmt);
        result = lines.join(u'\n');
    }
    sqlite3_close(db);
    return result;
}

// The last save the helper reported as returned, or `none` when it reported none.
qint64 lastReportedSave(const QByteArray& output, qint64 none)
{
    qint64 last = none;
    for (const QByteArray& line : output.split('\n')) {
        bool ok = false;
        const qint64 save = line.toLongLong(&ok);
        if (ok)
            last = save;
    }
    return last;
}

} // namespace

class TestStoreKills : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void killedWhileSaving_storeAlwaysHoldsOneCompleteSaveOfBothLists()
    {
        const int kills = setting("KESTRUNE_KILLS", 300);
        const int seconds = setting("KESTRUNE_KILL_SECONDS", 60);
        const quint32 seed = quint32(setting("KESTRUNE_KILL_SEED", 7031));
        QRandomGenerator random(seed);
        const QString path = m_dir.path() + QStringLiteral("/Kestrune/Kestrune.db");
        const QString absent = QString(QChar(0xDC00));

        QElapsedTimer clock;
        clock.start();
        // The save the store must hold at least: every save the helper reported has returned
        // from writeAll, so it is on the disk whatever happened after.
        qint64 durable = -1;
        int survived = 0, killedBeforeOpen = 0;
        qint64 savesReturned = 0;
        while (survived < kills && clock.elapsed() < seconds * 1000) {
            QProcess helper;
            helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            helper.start(QStringLiteral(STORE_WRITER_HELPER), {path, QString::number(durable + 1)});
            QVERIFY2(helper.waitForStarted(), qPrintable(helper.errorString()));

            // One kill in ten comes at any moment after the start, the open included; the
            // others at a random moment once the saves are under way.
            const bool early = random.bounded(10) == 0;
            if (!early) {
                QByteArray seen;
                while (!seen.contains("open\n") && helper.state() == QProcess::Running)
                    if (helper.waitForReadyRead(10'000))
                        seen = helper.peek(1 << 20);
                QVERIFY2(seen.contains("open\n"), "the helper did not open the store");
            }
            QThread::usleep(random.bounded(early ? 30'000u : 250'000u));
            QVERIFY2(helper.state() == QProcess::Running,
                     "the helper ended by itself: its saves failed");
            ::kill(pid_t(helper.processId()), SIGKILL);
            QVERIFY(helper.waitForFinished(10'000));
            QCOMPARE(helper.exitStatus(), QProcess::CrashExit);

            const QByteArray output = helper.readAllStandardOutput();
            killedBeforeOpen += !output.contains("open\n");
            const qint64 reported = lastReportedSave(output, durable);
            savesReturned += reported - durable;

            // The check runs after every kill, on the real store as the program opens it.
            auto store = std::make_unique<SettingsStore>(path);
            QVERIFY2(store->movedAsidePath().isEmpty(), "the store was found damaged");
            QCOMPARE(integrityCheck(path), QStringLiteral("ok"));
            const QString active = store->read(SavedLists::kActiveKey, absent);
            const QString deleted = store->read(SavedLists::kDeletedKey, absent);
            store.reset();

            if (active == absent && deleted == absent && reported < 0) {
                ++survived; // killed before its first save returned: nothing there yet is right
                continue;
            }
            const auto activeSave = SavedLists::saveOf(active);
            const auto deletedSave = SavedLists::saveOf(deleted);
            QVERIFY2(activeSave && deletedSave,
                     qPrintable(QStringLiteral("after kill %1 a list is empty or unreadable: %2 "
                                               "and %3 characters")
                                    .arg(survived + 1)
                                    .arg(active.size())
                                    .arg(deleted.size())));
            QCOMPARE(*activeSave, *deletedSave); // both lists of one save, never mixed
            // A reported save is never lost; the one after it may have committed unreported.
            QVERIFY2(*activeSave == reported || *activeSave == reported + 1,
                     qPrintable(QStringLiteral("after kill %1 the store holds save %2, the "
                                               "helper reported %3")
                                    .arg(survived + 1)
                                    .arg(*activeSave)
                                    .arg(reported)));
            QVERIFY2(active == SavedLists::value(SavedLists::kActiveKey, *activeSave),
                     "the active list is torn");
            QVERIFY2(deleted == SavedLists::value(SavedLists::kDeletedKey, *deletedSave),
                     "the deleted list is torn");
            durable = *activeSave;
            ++survived;
        }
        qInfo("seed %u: %d kills survived in %.1f s (%d before the store was open), %lld saves "
              "returned",
              seed, survived, clock.elapsed() / 1000.0, killedBeforeOpen, savesReturned);
        QVERIFY2(survived >= qMin(kills, 50), "too few kills to prove anything");
        QCOMPARE(QDir(m_dir.path() + QStringLiteral("/Kestrune"))
                     .entryList({QStringLiteral("*.damaged-*")}, QDir::Files),
                 QStringList());
    }
};

KESTRUNE_TEST_MAIN(TestStoreKills)
#include "test_store_kills.moc"
