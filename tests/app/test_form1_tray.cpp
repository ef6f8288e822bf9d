// Minimise to the tray, the way back, and closing, with a recording notification area.
#include "csystray.h"
#include "form1_session.h"
#include "recording_tray_backend.h"
#include "test_main.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

using Command = TrayBackend::Command;

class TestForm1Tray : public QObject
{
    Q_OBJECT

    RecordingTrayBackend* m_tray = nullptr;

    // Minimises the window as the window system does; `clickBalloon` closes a balloon that
    // comes up, so the test need not sit out its five seconds.
    void minimise(Form1& window, bool clickBalloon = true)
    {
        if (clickBalloon)
            QTimer::singleShot(50, m_tray,
                               [this] { m_tray->deliver(TrayMessage::BalloonClicked); });
        window.setWindowState(window.windowState() | Qt::WindowMinimized);
    }
    void release(int message) { m_tray->deliver(message); }

private slots:
    void initTestCase()
    {
        TrayBackend::setFactory([this] {
            auto backend = std::make_unique<RecordingTrayBackend>();
            m_tray = backend.get();
            return backend;
        });
    }

    void init() { Form1::hiddenInTray = false; }

    void minimise_hidesWithIcon_balloonOnlyTheFirstTime_releaseBringsItBack()
    {
        Form1Session s;
        Form1& w = s.startShown();
        QVERIFY(!m_tray->iconShown());

        minimise(w);
        QVERIFY(!w.isVisible());
        QVERIFY(Form1::hiddenInTray);
        QVERIFY(m_tray->iconShown());
        QCOMPARE(m_tray->shownTip(), QStringLiteral("Tolvendra Software"));
        QCOMPARE(m_tray->balloons().size(), 1);
        const TrayRecord balloon = m_tray->balloons().first();
        QCOMPARE(balloon.balloonTitle, QStringLiteral("Tolvendra Software"));
        QCOMPARE(balloon.balloonText,
                 QStringLiteral("has been minimized to the system tray.\r\nClick on the blue "
                                "'K' icon (K for Kestrune) to bring the software back."));
        QCOMPARE(balloon.balloonTimeoutMs, 5000);
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("<absent>"));

        // Press, move and double-click leave it hidden; the release brings it back.
        release(TrayMessage::LeftDown);
        release(TrayMessage::MouseMove);
        release(TrayMessage::LeftDoubleClick);
        QVERIFY(!w.isVisible());
        release(TrayMessage::LeftUp);
        QVERIFY(w.isVisible());
        QCOMPARE(w.windowState() & ~Qt::WindowActive, Qt::WindowNoState);
        QVERIFY(!Form1::hiddenInTray);
        QVERIFY(!m_tray->iconShown());
        QCOMPARE(m_tray->count(Command::Delete), 1);
        // The way back stores the restored state, though it is the one start-up gave.
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("0"));

        // The second minimise of the run hides again, without a balloon and without waiting.
        QElapsedTimer clock;
        clock.start();
        minimise(w, false);
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(!w.isVisible());
        QVERIFY(m_tray->iconShown());
        QCOMPARE(m_tray->balloons().size(), 1);
        release(TrayMessage::RightUp);
        QVERIFY(w.isVisible());
        QVERIFY(!m_tray->iconShown());
    }

    void maximisedThenMinimised_comesBackMaximised_normalComesBackNormal()
    {
        Form1Session s;
        Form1& w = s.startShown();
        w.showMaximized();
        QTRY_COMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("2"));
        const QRect maximised = w.frameGeometry();

        minimise(w);
        QVERIFY(!w.isVisible());
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("2"));
        release(TrayMessage::RightUp);
        QVERIFY(w.isVisible());
        QVERIFY(w.windowState() & Qt::WindowMaximized);
        QVERIFY(!(w.windowState() & Qt::WindowMinimized));
        QTRY_COMPARE(w.frameGeometry(), maximised);
        QVERIFY(!m_tray->iconShown());

        w.showNormal();
        QTRY_COMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("0"));
        minimise(w);
        release(TrayMessage::LeftUp);
        QCOMPARE(w.windowState() & ~Qt::WindowActive, Qt::WindowNoState);
        QTRY_COMPARE(w.clientArea->size(), QSize(808, 394));
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("0"));
        QVERIFY(s.prompts.errorBoxes().isEmpty());
    }

    void noNotificationArea_minimisedWindowStaysInTheTaskbar()
    {
        Form1Session s;
        Form1& w = s.startShown();
        m_tray->available = false;
        minimise(w, false);
        QVERIFY(w.isVisible());
        QVERIFY(w.windowState() & Qt::WindowMinimized);
        QVERIFY(!Form1::hiddenInTray);
        QVERIFY(m_tray->calls.isEmpty());
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("<absent>"));
        w.showNormal();
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("<absent>"));
    }

    void storedStateNotANumber_reportedAtLine108_iconStillBringsTheWindowBack()
    {
        Form1Session s;
        Form1& w = s.startShown();
        s.preset(QStringLiteral("WindowState"), QStringLiteral("wide"));
        minimise(w);
        QCOMPARE(s.errorLines(), QStringList{QStringLiteral("Form_Resize 108")});
        QVERIFY(!w.isVisible());
        QVERIFY(m_tray->iconShown());
        QVERIFY(Form1::hiddenInTray);

        release(TrayMessage::LeftUp);
        QVERIFY(w.isVisible());
        QVERIFY(!(w.windowState() & Qt::WindowMinimized));
        QVERIFY(!m_tray->iconShown());
        QVERIFY(!Form1::hiddenInTray);
    }

    void modalWindowOpen_releaseStillShowsTheWindow_andTheModalOne()
    {
        Form1Session s;
        Form1& w = s.startShown();
        QDialog editor(&w);
        editor.setModal(true);
        editor.show();
        minimise(w);
        QVERIFY(!w.isVisible());
        editor.showMinimized();

        release(TrayMessage::LeftUp);
        QVERIFY(w.isVisible());
        QVERIFY(!m_tray->iconShown());
        QVERIFY(!Form1::hiddenInTray);
        QVERIFY(editor.isVisible());
        QVERIFY(!(editor.windowState() & Qt::WindowMinimized));
    }

    void closeWhileHidden_storesWidthsAndTree_removesIcon_endsTheProgram()
    {
        Form1Session s;
        Form1& w = s.startShown();
        w.ListView1->setColumnTwips(0, 2880);
        w.ListView1->setColumnTwips(1, 1440);
        w.ListView1->setColumnTwips(2, 1200);
        minimise(w);
        QVERIFY(m_tray->iconShown());
        const int endsBefore = Form1Session::programEnds();

        w.close(); // the recording backend goes with the window, so it is read before that
        QVERIFY(!m_tray->iconShown());
        QCOMPARE(Form1Session::programEnds(), endsBefore + 1);
        const QString sep = QStringLiteral("My_Separatora12");
        QCOMPARE(s.stored(QStringLiteral("List1Cols")),
                 QStringLiteral("2880") + sep + QStringLiteral("1440") + sep +
                     QStringLiteral("1200") + sep + QStringLiteral("1200") + sep +
                     QStringLiteral("1") + sep + QStringLiteral("1") + sep);
        QCOMPARE(s.stored(QStringLiteral("List2Cols")),
                 QStringLiteral("2200") + sep + QStringLiteral("1200") + sep +
                     QStringLiteral("1200") + sep + QStringLiteral("1200") + sep +
                     QStringLiteral("1") + sep + QStringLiteral("1") + sep);
        QCOMPARE(s.stored(QStringLiteral("Tree Nodes")),
                 QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^Other;1_Root_3;^"));
    }
};

KESTRUNE_TEST_MAIN(TestForm1Tray)
#include "test_form1_tray.moc"
