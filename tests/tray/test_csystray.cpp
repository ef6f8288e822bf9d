#include "csystray.h"
#include "failure.h"
#include "qt_tray_backend.h"
#include "recording_tray_backend.h"
#include "test_main.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTimer>

using Command = TrayBackend::Command;

namespace {

QIcon blueIcon()
{
    QPixmap picture(16, 16);
    picture.fill(Qt::blue);
    return QIcon(picture);
}

// Keeps its record where the test can still read it after the control, its owner, is gone.
struct OutlivedBackend : RecordingTrayBackend
{
    explicit OutlivedBackend(QList<Call>& log) : log(log) {}
    void send(Command command, const TrayRecord& record) override { log.append({command, record}); }
    QList<Call>& log;
};

struct Tray
{
    Tray()
    {
        auto recording = std::make_unique<RecordingTrayBackend>();
        backend = recording.get();
        control = std::make_unique<cSysTray>(nullptr, std::move(recording));
        control->setTrayIcon(blueIcon());
    }
    RecordingTrayBackend* backend;
    std::unique_ptr<cSysTray> control;
};

// Runs `ShowBalloon` and reports how long it took, in milliseconds.
qint64 timedBalloon(cSysTray& tray, int seconds, bool once)
{
    QElapsedTimer clock;
    clock.start();
    tray.ShowBalloon(QStringLiteral("text"), QStringLiteral("title"), seconds, once);
    return clock.elapsed();
}

} // namespace

class TestCSysTray : public QObject
{
    Q_OBJECT

private slots:
    void inTray_addsOnce_removesOnce()
    {
        Tray t;
        t.control->setInTray(false); // never shown: nothing to do
        QVERIFY(t.backend->calls.isEmpty());

        t.control->setTrayTip(QStringLiteral("Tolvendra Software"));
        t.control->setInTray(true);
        t.control->setInTray(true);
        QCOMPARE(t.backend->count(Command::Add), 1);
        const TrayRecord& added = t.backend->calls.first().record;
        QCOMPARE(added.flags,
                 TrayRecord::CallbackValid | TrayRecord::IconValid | TrayRecord::TipValid);
        QCOMPARE(added.callbackMessage, 1125);
        QCOMPARE(added.id, 0);
        QVERIFY(t.control->iconAdded());

        t.control->setInTray(false);
        t.control->setInTray(false);
        QCOMPARE(t.backend->count(Command::Delete), 1);
        QVERIFY(!t.control->iconAdded());
        QVERIFY(!t.backend->iconShown());
    }

    void destruction_takesTheIconAway()
    {
        QList<RecordingTrayBackend::Call> log;
        auto control = std::make_unique<cSysTray>(nullptr, std::make_unique<OutlivedBackend>(log));
        control->setInTray(true);
        control.reset();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log.last().command, Command::Delete);
    }

    void trayTip_updatesWhileShown_isOnlyKeptWhileNot()
    {
        Tray t;
        t.control->setTrayTip(QStringLiteral("first"));
        QVERIFY(t.backend->calls.isEmpty());
        t.control->setInTray(true);
        QCOMPARE(t.backend->shownTip(), QStringLiteral("first"));

        t.control->setTrayTip(QStringLiteral("second"));
        const TrayRecord& modify = t.backend->calls.last().record;
        QCOMPARE(t.backend->calls.last().command, Command::Modify);
        QCOMPARE(modify.flags, int(TrayRecord::TipValid));
        QCOMPARE(t.backend->shownTip(), QStringLiteral("second"));

        t.control->setInTray(false);
        t.control->setTrayTip(QStringLiteral("third"));
        QCOMPARE(t.backend->calls.last().command, Command::Delete);
        t.control->setInTray(true);
        QCOMPARE(t.backend->shownTip(), QStringLiteral("third"));
    }

    void emptyTip_addsAnIconWithoutTooltip()
    {
        Tray t;
        t.control->setInTray(true);
        QVERIFY(!(t.backend->calls.first().record.flags & TrayRecord::TipValid));
        QCOMPARE(t.backend->shownTip(), QString());
    }

    void longTexts_areCutToTheirFields()
    {
        Tray t;
        const QString tip(200, u'a');
        t.control->setTrayTip(tip);
        t.control->setInTray(true);
        QCOMPARE(t.backend->shownTip(), tip.left(127));
        QCOMPARE(t.control->TrayTip(), tip); // the property keeps what was written

        // A cut never splits a character outside the basic plane.
        const QString emoji = QString(126, u'b') + QString::fromUtf8("\xF0\x9F\x90\xA6") + u'c';
        t.control->setTrayTip(emoji);
        QCOMPARE(t.backend->shownTip(), QString(126, u'b'));

        t.control->ShowBalloon(QString(300, u't'), QString(100, u'h'), 0, false);
        const TrayRecord balloon = t.backend->balloons().first();
        QCOMPARE(balloon.balloonText.size(), 255);
        QCOMPARE(balloon.balloonTitle.size(), 63);
    }

    void trayIcon_nullIsIgnored_changeWhileShownIsSent()
    {
        Tray t;
        const QIcon before = t.control->TrayIcon();
        t.control->setTrayIcon(QIcon());
        QCOMPARE(t.control->TrayIcon().cacheKey(), before.cacheKey());
        t.control->setInTray(true);
        QPixmap red(16, 16);
        red.fill(Qt::red);
        const QIcon other(red);
        t.control->setTrayIcon(other);
        QCOMPARE(t.backend->calls.last().record.flags, int(TrayRecord::IconValid));
        QCOMPARE(t.control->TrayIcon().cacheKey(), other.cacheKey());
    }

    void showOnce_twice_showsOneBalloon()
    {
        Tray t;
        t.control->setInTray(true);
        QTimer::singleShot(50, t.backend, [&] { t.backend->deliver(TrayMessage::BalloonClicked); });
        timedBalloon(*t.control, 5, true);
        QCOMPARE(timedBalloon(*t.control, 5, true) < 100, true);
        QCOMPARE(t.backend->balloons().size(), 1);
        QCOMPARE(t.backend->balloons().first().balloonTimeoutMs, 5000);
        QCOMPARE(t.control->showOnceCount(), 1);
        // Without ShowOnce the count stays and a balloon is shown each time.
        timedBalloon(*t.control, 0, false);
        QCOMPARE(t.backend->balloons().size(), 2);
        QCOMPARE(t.control->showOnceCount(), 1);
    }

    void showTimerZero_returnsAtOnce_andTakesTheBalloonDown()
    {
        Tray t;
        t.control->setInTray(true);
        QVERIFY(timedBalloon(*t.control, 0, true) < 100);
        QCOMPARE(t.backend->balloons().first().balloonTimeoutMs, 0);
        const TrayRecord last = t.backend->calls.last().record;
        QCOMPARE(last.flags, int(TrayRecord::BalloonValid));
        QVERIFY(last.balloonTitle.isEmpty() && last.balloonText.isEmpty());
    }

    void balloonClick_endsTheWaitEarly_eventsServedMeanwhile()
    {
        Tray t;
        t.control->setInTray(true);
        bool served = false;
        QTimer::singleShot(20, t.backend, [&] { served = true; });
        QTimer::singleShot(100, t.backend,
                           [&] { t.backend->deliver(TrayMessage::BalloonClicked); });
        const qint64 took = timedBalloon(*t.control, 5, true);
        QVERIFY(served);
        QVERIFY2(took < 2000, qPrintable(QString::number(took)));
        QVERIFY(!t.control->balloonShowing());
        // Closed by the user: nothing left to take down.
        QCOMPARE(t.backend->calls.last().record.balloonText, QStringLiteral("text"));
    }

    void balloonLeftAlone_waitsItsTime_thenIsTakenDown()
    {
        Tray t;
        t.control->setInTray(true);
        const qint64 took = timedBalloon(*t.control, 1, false);
        QVERIFY2(took >= 990 && took < 3000, qPrintable(QString::number(took)));
        QVERIFY(t.backend->calls.last().record.balloonText.isEmpty());
    }

    void showTimerOverflow_failsBeforeShowing()
    {
        Tray t;
        t.control->setInTray(true);
        QVERIFY_THROWS_EXCEPTION(
            Failure,
            t.control->ShowBalloon(QStringLiteral("t"), QStringLiteral("h"), 2147484, false));
        QVERIFY(t.backend->balloons().isEmpty());
        QCOMPARE(t.control->showOnceCount(), 0);
    }

    void mouseMessages_becomeEvents_middleButtonNothing()
    {
        Tray t;
        QSignalSpy up(t.control.get(), &cSysTray::MouseUp);
        QSignalSpy down(t.control.get(), &cSysTray::MouseDown);
        QSignalSpy dbl(t.control.get(), &cSysTray::MouseDblClick);
        QSignalSpy move(t.control.get(), &cSysTray::MouseMove);

        t.backend->deliver(TrayMessage::RightUp); // no icon yet: nobody listens
        QCOMPARE(up.size(), 0);

        t.control->setInTray(true);
        for (int message : {512, 513, 514, 515, 516, 517, 518, 519, 520, 521, 1026})
            t.backend->deliver(message);
        QCOMPARE(move.size(), 1);
        QCOMPARE(down.size(), 2);
        QCOMPARE(down.at(1), (QVariantList{0, 2}));
        QCOMPARE(up.size(), 2);
        QCOMPARE(up.at(0), (QVariantList{0, 1}));
        QCOMPARE(up.at(1), (QVariantList{0, 2}));
        QCOMPARE(dbl.size(), 2);

        t.control->setInTray(false);
        t.backend->deliver(TrayMessage::LeftUp);
        QCOMPARE(up.size(), 2);
    }

    void qtBackend_translatesClicksIntoTheMessageTable()
    {
        QtTrayBackend backend;
        QList<int> messages;
        connect(&backend, &TrayBackend::notification, this,
                [&](int message, int) { messages.append(message); });
        QSystemTrayIcon* icon = backend.trayIcon();
        emit icon->activated(QSystemTrayIcon::Trigger);
        emit icon->activated(QSystemTrayIcon::Context);
        emit icon->activated(QSystemTrayIcon::DoubleClick);
        emit icon->activated(QSystemTrayIcon::MiddleClick);
        emit icon->messageClicked();
        QVERIFY(messages.isEmpty()); // delivered after the tray icon's own handler returns
        QTRY_COMPARE(messages, (QList<int>{513, 514, 516, 517, 515, 1029}));
    }
};

KESTRUNE_TEST_MAIN(TestCSysTray)
#include "test_csystray.moc"
