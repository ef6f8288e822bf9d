#include "form1_session.h"
#include "single_instance.h"
#include "test_main.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

class TestSingleInstance : public QObject
{
    Q_OBJECT

    static QProcessEnvironment environmentWith(const QString& dataHome)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        return env;
    }
    static QString program()
    {
        return QCoreApplication::applicationDirPath() + QStringLiteral("/kestrune");
    }

private slots:
    void secondStartOnTheSameStore_asksTheFirstToComeForward()
    {
        QTemporaryDir dir;
        const QString store = dir.filePath(QStringLiteral("Kestrune.db"));
        SingleInstance first(store);
        QVERIFY(first.isPrimary());
        QSignalSpy asked(&first, &SingleInstance::secondStart);

        // A second start that calls before the first listens is heard once it does.
        SingleInstance second(store);
        QVERIFY(!second.isPrimary());
        QVERIFY(second.notifyPrimary());
        first.acceptSecondStarts();
        QTRY_COMPARE(asked.size(), 1);

        // Another store is another program.
        SingleInstance elsewhere(dir.filePath(QStringLiteral("other.db")));
        QVERIFY(elsewhere.isPrimary());
    }

    void bringForward_restoresAMinimisedWindow()
    {
        Form1Session s;
        Form1& w = s.startShown();
        w.setWindowState(Qt::WindowMinimized);
        w.bringForward();
        QVERIFY(!(w.windowState() & Qt::WindowMinimized));
        QVERIFY(w.isVisible());
    }

    void realProgram_secondStartEnds_andADeadFirstLeavesNoLockBehind()
    {
        QTemporaryDir home;
        QProcess first;
        first.setProcessEnvironment(environmentWith(home.path()));
        first.start(program(), {});
        QVERIFY(first.waitForStarted());
        const QString lock = home.filePath(QStringLiteral("Kestrune/Kestrune.db.lock"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(lock), 10000);

        QProcess second;
        second.setProcessEnvironment(environmentWith(home.path()));
        second.start(program(), {});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        // A first program that was killed holds no lock: the next start is the program.
        first.kill();
        QVERIFY(first.waitForFinished(5000));
        QProcess third;
        third.setProcessEnvironment(environmentWith(home.path()));
        third.start(program(), {});
        QVERIFY(third.waitForStarted());
        QVERIFY(!third.waitForFinished(2000));
        third.kill();
        third.waitForFinished(5000);
    }
};

KESTRUNE_TEST_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
