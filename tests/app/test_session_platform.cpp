// Which windowing platform the program asks Qt for, from the session it is started in.
#include "session_platform.h"
#include "test_main.h"

class TestSessionPlatform : public QObject
{
    Q_OBJECT

    static void set(const char* name, const QString& value)
    {
        if (value == QStringLiteral("-"))
            qunsetenv(name);
        else
            qputenv(name, value.toUtf8());
    }

private slots:
    void waylandSessionWithXDisplay_runsOnX_unlessTheUserChose_data()
    {
        QTest::addColumn<QString>("chosen"); // QT_QPA_PLATFORM, "-" for unset
        QTest::addColumn<QString>("wayland");
        QTest::addColumn<QString>("sessionType");
        QTest::addColumn<QString>("display");
        QTest::addColumn<bool>("platformArgument");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray x = "xcb;wayland", qt;
        QTest::newRow("wayland with xwayland") << "-"
                                               << "wayland-0"
                                               << "-"
                                               << ":1" << false << x;
        QTest::newRow("session type only") << "-"
                                           << "-"
                                           << "wayland"
                                           << ":1" << false << x;
        QTest::newRow("empty choice is none") << ""
                                              << "wayland-0"
                                              << "-"
                                              << ":1" << false << x;
        QTest::newRow("user chose wayland") << "wayland"
                                            << "wayland-0"
                                            << "-"
                                            << ":1" << false << qt;
        QTest::newRow("user chose -platform") << "-"
                                              << "wayland-0"
                                              << "-"
                                              << ":1" << true << qt;
        QTest::newRow("no x display") << "-"
                                      << "wayland-0"
                                      << "wayland"
                                      << "" << false << qt;
        QTest::newRow("x11 session") << "-"
                                     << "-"
                                     << "x11"
                                     << ":0" << false << qt;
    }
    void waylandSessionWithXDisplay_runsOnX_unlessTheUserChose()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, wayland);
        QFETCH(QString, sessionType);
        QFETCH(QString, display);
        QFETCH(bool, platformArgument);
        QFETCH(QByteArray, expected);
        const QByteArray saved = qgetenv("QT_QPA_PLATFORM");
        set("QT_QPA_PLATFORM", chosen);
        set("WAYLAND_DISPLAY", wayland);
        set("XDG_SESSION_TYPE", sessionType);
        set("DISPLAY", display);
        const char* argv[] = {"kestrune", platformArgument ? "-platform" : "-style",
                              platformArgument ? "wayland" : "Fusion"};
        const QByteArray platform = sessionPlatform(3, argv);
        qputenv("QT_QPA_PLATFORM", saved);
        QCOMPARE(platform, expected);
    }
};

KESTRUNE_TEST_MAIN(TestSessionPlatform)
#include "test_session_platform.moc"
