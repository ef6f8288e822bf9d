// The tray where the panel shows StatusNotifierItems and balloons are desktop notifications:
// the real protocols, on an X display and a session bus of the test's own (private_session.sh),
// with the test panel sni_panel.py playing the desktop. Run without the panel, it shows that a
// desktop with no tray at all keeps the ordinary minimise.
#include "bus_call.h"
#include "csystray.h"
#include "form1_session.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

namespace {

const QString kPanel = QStringLiteral("org.kestrune.TestPanel");

// The test panel, asked over the bus while the program's own events go on being served: the
// panel reads the program's item while answering.
class Panel
{
public:
    struct Notification
    {
        uint id = 0;
        QString app, summary, body;
        int timeoutMs = 0;
    };

    ~Panel() { QDBusConnection::disconnectFromBus(m_bus.name()); }

    bool present() const { return m_bus.interface()->isServiceRegistered(kPanel); }
    QStringList items() { return call(QStringLiteral("Items")).value(0).toStringList(); }
    int registrations() { return call(QStringLiteral("Registrations")).value(0).toInt(); }
    QString toolTipTitle(const QString& item)
    {
        return call(QStringLiteral("ToolTipTitle"), {item}).value(0).toString();
    }
    QString status(const QString& item)
    {
        return call(QStringLiteral("StringProperty"), {item, QStringLiteral("Status")})
            .value(0)
            .toString();
    }
    // The item's largest picture; SNI sends ARGB32 in network byte order.
    QImage icon(const QString& item)
    {
        const QVariantList out = call(QStringLiteral("LargestIcon"), {item});
        const int w = out.value(0).toInt(), h = out.value(1).toInt();
        const QByteArray data = out.value(2).toByteArray();
        QImage image(w, h, QImage::Format_ARGB32);
        if (data.size() != w * h * 4)
            return {};
        const auto* p = reinterpret_cast<const uchar*>(data.constData());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x, p += 4)
                image.setPixel(x, y, qRgba(p[1], p[2], p[3], p[0]));
        return image;
    }
    QList<Notification> notifications()
    {
        QList<Notification> list;
        const QDBusArgument arg =
            call(QStringLiteral("Notifications")).value(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            Notification n;
            arg.beginStructure();
            arg >> n.id >> n.app >> n.summary >> n.body >> n.timeoutMs;
            arg.endStructure();
            list.append(n);
        }
        arg.endArray();
        return list;
    }
    void activate(const QString& item) { call(QStringLiteral("Activate"), {item}); }
    void contextMenu(const QString& item) { call(QStringLiteral("ContextMenu"), {item}); }
    // As the server does when the time is up, and when the user clicks the notification; sent
    // without waiting, from inside the program's wait for its balloon.
    void expireAll() { each(QStringLiteral("Expire")); }
    void clickAll() { each(QStringLiteral("Click")); }
    // A panel drops an item when it is unregistered; Qt may instead keep it, marked passive.
    bool itemGone()
    {
        const QStringList live = items();
        return live.isEmpty() || status(live.first()) == QStringLiteral("Passive");
    }

private:
    QVariantList call(const QString& method, const QVariantList& arguments = {})
    {
        QDBusMessage m =
            QDBusMessage::createMethodCall(kPanel, QStringLiteral("/TestPanel"), kPanel, method);
        m.setArguments(arguments);
        const QDBusMessage reply = callServingEvents(m_bus, m, 10000);
        if (reply.type() == QDBusMessage::ErrorMessage)
            qWarning("test panel: %s: %s", qPrintable(method), qPrintable(reply.errorMessage()));
        return reply.arguments();
    }
    void each(const QString& method)
    {
        for (const Notification& n : notifications()) {
            QDBusMessage m = QDBusMessage::createMethodCall(kPanel, QStringLiteral("/TestPanel"),
                                                            kPanel, method);
            m.setArguments({n.id});
            m_bus.asyncCall(m);
        }
    }

    // A connection of its own, as the panel is another program.
    QDBusConnection m_bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                          QStringLiteral("test-panel-driver"));
};

void minimise(Form1& window)
{
    window.setWindowState(window.windowState() | Qt::WindowMinimized);
}

} // namespace

class TestSniTray : public QObject
{
    Q_OBJECT

    Panel m_panel;

    // Minimises with the panel doing `during` a moment into the wait for the balloon; returns
    // how long the minimise took.
    qint64 minimiseWhile(Form1& w, void (Panel::*during)())
    {
        QTimer::singleShot(300, &w, [this, during] { (m_panel.*during)(); });
        QElapsedTimer clock;
        clock.start();
        minimise(w);
        return clock.elapsed();
    }

private slots:
    void init() { Form1::hiddenInTray = false; }

    void minimise_oneItemAndOneNotification_activateBringsItBack_restoredStateStored()
    {
        if (!m_panel.present())
            QSKIP("needs the test panel on the session bus");
        Form1Session s;
        Form1& w = s.startShown();
        QVERIFY(w.cSysTray1->trayAvailable());
        QVERIFY(m_panel.items().isEmpty());

        // The server closing the notification ends the five-second wait at once.
        const qint64 waited = minimiseWhile(w, &Panel::expireAll);
        QVERIFY2(waited < 4000, qPrintable(QString::number(waited)));
        QVERIFY(!w.isVisible());
        QVERIFY(Form1::hiddenInTray);
        QTRY_COMPARE(m_panel.items().size(), 1);
        const QString item = m_panel.items().first();
        QCOMPARE(m_panel.toolTipTitle(item), QStringLiteral("Tolvendra Software"));
        const QImage shown = m_panel.icon(item);
        QVERIFY(!shown.isNull());
        const QImage ours = QIcon(QStringLiteral(":/kestrune/kestrune.svg"))
                                .pixmap(shown.size())
                                .toImage()
                                .convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(shown, ours);

        const QList<Panel::Notification> sent = m_panel.notifications();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].summary, QStringLiteral("Tolvendra Software"));
        QCOMPARE(sent[0].body, QStringLiteral("has been minimized to the system tray.\nClick on "
                                              "the blue 'K' icon (K for Kestrune) to bring the "
                                              "software back."));
        QCOMPARE(sent[0].timeoutMs, 5000);
        QCOMPARE(sent[0].app, QStringLiteral("Kestrune"));

        m_panel.activate(item);
        QTRY_VERIFY(w.isVisible());
        QCOMPARE(w.windowState() & ~Qt::WindowActive, Qt::WindowNoState);
        QVERIFY(!Form1::hiddenInTray);
        QTRY_VERIFY(m_panel.itemGone());
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("0"));

        // The second minimise of the run: the item again, no notification and no wait.
        QElapsedTimer clock;
        clock.start();
        minimise(w);
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(!w.isVisible());
        QTRY_COMPARE(m_panel.registrations(), 2);
        QTRY_COMPARE(m_panel.items().size(), 1);
        QCOMPARE(m_panel.notifications().size(), 1);
        m_panel.contextMenu(m_panel.items().first());
        QTRY_VERIFY(w.isVisible());
        QTRY_VERIFY(m_panel.itemGone());
        QVERIFY(s.prompts.errorBoxes().isEmpty());
    }

    void maximised_contextMenuBringsItBackMaximised_clickedNotificationEndsTheWait()
    {
        if (!m_panel.present())
            QSKIP("needs the test panel on the session bus");
        Form1Session s;
        Form1& w = s.startShown();
        w.showMaximized();
        QTRY_COMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("2"));
        const int before = m_panel.notifications().size();

        const qint64 waited = minimiseWhile(w, &Panel::clickAll);
        QVERIFY2(waited < 4000, qPrintable(QString::number(waited)));
        QVERIFY(!w.isVisible());
        QCOMPARE(m_panel.notifications().size(), before + 1);
        QTRY_COMPARE(m_panel.items().size(), 1);

        m_panel.contextMenu(m_panel.items().first());
        QTRY_VERIFY(w.isVisible());
        QVERIFY(w.windowState() & Qt::WindowMaximized);
        QVERIFY(!(w.windowState() & Qt::WindowMinimized));
        QTRY_VERIFY(m_panel.itemGone());
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("2"));
        QVERIFY(s.prompts.errorBoxes().isEmpty());
    }

    void noWatcherAndNoXEmbedTray_minimiseStaysAnOrdinaryMinimise()
    {
        if (m_panel.present())
            QSKIP("needs a session without a tray");
        Form1Session s;
        Form1& w = s.startShown();
        QVERIFY(!w.cSysTray1->trayAvailable());
        minimise(w);
        QVERIFY(w.isVisible());
        QVERIFY(w.windowState() & Qt::WindowMinimized);
        QVERIFY(!Form1::hiddenInTray);
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("<absent>"));
    }
};

int main(int argc, char** argv)
{
    // Qt shows a StatusNotifierItem only on a real display, so this test is not offscreen.
    qputenv("QT_QPA_PLATFORM", "xcb");
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrune")); // as the program names itself
    QStandardPaths::setTestModeEnabled(true);
    TestSniTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_sni_tray.moc"
