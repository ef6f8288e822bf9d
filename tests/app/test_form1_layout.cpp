// The layout pass against both layout tables, in twips, on screens of known sizes.
#include "csystray.h"
#include "form1_session.h"
#include "recording_tray_backend.h"
#include "twips.h"

#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>

using Twips::Edge;

namespace {

// Offscreen screens: one exactly the window's design outer size (12210 x 6285 twips) with the
// menu bar's height (%1) added, one full-HD, and one too low for the tall buttons.
const char* kScreens = R"({"screens": [
  {"name": "design", "x": 0, "y": 0, "width": 814, "height": %1, "logicalDpi": 96, "dpr": 1},
  {"name": "large", "x": 1000, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "dpr": 1},
  {"name": "low", "x": 3000, "y": 0, "width": 900, "height": 80, "logicalDpi": 96, "dpr": 1}
]})";

struct Place
{
    QWidget* widget;
    float left, top, width, height;
};

// The controls' places are relative to the client area, below the menu bar; so is the outer
// size the maximised layout scales by.
int barHeight(const Form1& f)
{
    return f.menuBar1->height();
}

// Every control at the normal layout; the scratch pad where `scratchTop` says.
QList<Place> normalPlaces(const Form1& f, float label2Top, float text1Top)
{
    return {
        {f.Label3, 120, 120, 3960, 285},         {f.tvFolders, 120, 510, 3960, 3750},
        {f.PushButton2, 120, 4370, 3960, 405},   {f.PushButton3, 120, 4880, 3960, 405},
        {f.PushButton4, 120, 5390, 3960, 405},   {f.Label1, 4200, 120, 6840, 285},
        {f.TabControl1, 4200, 460, 6840, 3790},  {f.ListView1, 120, 470, 6600, 3165},
        {f.ListView2, 120, 470, 6600, 3165},     {f.PushButton8, 4200, 4370, 3840, 405},
        {f.PushButton1, 4200, 4880, 3840, 405},  {f.PushButton9, 4200, 5390, 3840, 405},
        {f.PushButton11, 8160, 4370, 3840, 405}, {f.PushButton10, 8160, 4880, 3840, 405},
        {f.PushButton7, 8160, 5390, 3840, 405},  {f.PushButton5, 11145, 120, 855, 2010},
        {f.PushButton6, 11145, 2230, 855, 2010}, {f.Label2, 120, label2Top, 2070, 225},
        {f.Text1, 2040, text1Top, 2280, 495},
    };
}

// Every control at the maximised layout for an outer size in twips, products in single
// precision as the pass sets them.
QList<Place> maximisedPlaces(const Form1& f, double outerWidth, double outerHeight)
{
    const double fx = outerWidth / 12210;
    const double fy = outerHeight / 6285;
    const auto x = [fx](double v) { return float(v * fx); };
    const auto y = [fy](double v) { return float(v * fy); };
    const float tallHeight = float(2010 * fy - 460);
    const float moveDownTop = float(460.0 + double(y(3750)) - double(tallHeight));
    const float scratchTop = float(outerHeight + 1000);
    return {
        {f.Label3, 120, 120, x(3960), 285},
        {f.tvFolders, 120, 510, x(3960), y(3750)},
        {f.PushButton2, 120, y(4370), x(3960), y(405)},
        {f.PushButton3, 120, y(4880), x(3960), y(405)},
        {f.PushButton4, 120, y(5390), x(3960), y(405)},
        {f.Label1, x(4200), 120, x(6840), 285},
        {f.TabControl1, x(4200), 460, x(6840), y(3750)},
        {f.ListView1, 120, 470, x(6600), y(3165)},
        {f.ListView2, 120, 470, x(6600), y(3165)},
        {f.PushButton8, x(4200), y(4370), x(3840), y(405)},
        {f.PushButton1, x(4200), y(4880), x(3840), y(405)},
        {f.PushButton9, x(4200), y(5390), x(3840), y(405)},
        {f.PushButton11, x(8160), y(4370), x(3840), y(405)},
        {f.PushButton10, x(8160), y(4880), x(3840), y(405)},
        {f.PushButton7, x(8160), y(5390), x(3840), y(405)},
        {f.PushButton5, x(11145), 120, x(855), tallHeight},
        {f.PushButton6, x(11145), moveDownTop, x(855), tallHeight},
        {f.Label2, 120, scratchTop, 2070, 225},
        {f.Text1, 2040, scratchTop, 2280, 495},
    };
}

void comparePlaces(const QList<Place>& expected)
{
    for (const Place& p : expected) {
        const QString name = p.widget->objectName();
        const float actual[4] = {Twips::get(p.widget, Edge::Left), Twips::get(p.widget, Edge::Top),
                                 Twips::get(p.widget, Edge::Width),
                                 Twips::get(p.widget, Edge::Height)};
        const float wanted[4] = {p.left, p.top, p.width, p.height};
        static const char* edges[4] = {"Left", "Top", "Width", "Height"};
        for (int i = 0; i < 4; ++i)
            QVERIFY2(actual[i] == wanted[i], qPrintable(QStringLiteral("%1.%2 is %3, not %4")
                                                            .arg(name, QLatin1String(edges[i]))
                                                            .arg(double(actual[i]))
                                                            .arg(double(wanted[i]))));
    }
}

QScreen* screenNamed(const char* name)
{
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->name() == QLatin1String(name))
            return screen;
    return nullptr;
}

} // namespace

class TestForm1Layout : public QObject
{
    Q_OBJECT

    RecordingTrayBackend* m_tray = nullptr;

    // Puts the normal window on a screen and maximises it there.
    static void maximiseOn(Form1& window, const char* screenName)
    {
        window.showNormal();
        QScreen* screen = screenNamed(screenName);
        QVERIFY(screen);
        window.setScreen(screen);
        window.move(screen->geometry().topLeft() + QPoint(4, 4));
        window.showMaximized();
        QTRY_COMPARE(window.frameGeometry(), screen->availableGeometry());
    }

private slots:
    void initTestCase()
    {
        TrayBackend::setFactory([this] {
            auto backend = std::make_unique<RecordingTrayBackend>();
            m_tray = backend.get();
            return backend;
        });
    }

    void normalStart_everyControlAtItsDesignPlace()
    {
        Form1Session s;
        Form1& w = s.startShown();
        QCOMPARE(w.windowState(), Qt::WindowNoState);
        QCOMPARE(w.clientArea->size(), QSize(808, 394)); // the 12120 x 5910 twips client area
        comparePlaces(normalPlaces(w, 6360, 6300));
        QVERIFY(s.prompts.errorBoxes().isEmpty());
        // Start-up stores nothing.
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("<absent>"));
    }

    void menuBar_aboveTheClientArea_controlsPlacedBelowIt_data()
    {
        QTest::addColumn<bool>("maximised");
        QTest::newRow("normal") << false;
        QTest::newRow("maximised") << true;
    }
    void menuBar_aboveTheClientArea_controlsPlacedBelowIt()
    {
        QFETCH(bool, maximised);
        Form1Session s;
        Form1& w = s.startShown();
        if (maximised)
            maximiseOn(w, "large");
        const int bar = barHeight(w);
        QVERIFY(bar > 0);
        QCOMPARE(w.menuBar1->geometry(), QRect(0, 0, w.width(), bar));
        QCOMPARE(w.clientArea->geometry(), QRect(0, bar, w.width(), w.height() - bar));
        QCOMPARE(w.menuBar1->actions(), QList<QAction*>{w.mnuTasks->menuAction()});
        if (!maximised)
            QCOMPARE(w.size(), QSize(808, 394 + bar));
        const QSize outer = w.frameGeometry().size() - QSize(0, bar);
        const QList<Place> places =
            maximised ? maximisedPlaces(w, outer.width() * 15, outer.height() * 15)
                      : normalPlaces(w, 6360, 6300);
        comparePlaces(places);
        for (const Place& p : places) {
            QVERIFY(w.clientArea->isAncestorOf(p.widget));
            // The lists are placed in the tab control.
            if (p.widget->parentWidget() == w.clientArea)
                QCOMPARE(p.widget->mapTo(&w, QPoint()),
                         QPoint(Twips::toPixels(p.left), bar + Twips::toPixels(p.top)));
        }
    }

    void maximisedAtDesignSize_differsOnlyWhereTheTablesDo()
    {
        Form1Session s;
        Form1& w = s.startShown();
        maximiseOn(w, "design");
        QCOMPARE(w.frameGeometry().size() - QSize(0, barHeight(w)), QSize(814, 419));
        comparePlaces(maximisedPlaces(w, 12210, 6285));
        // The documented differences from the normal layout, spelled out.
        QCOMPARE(Twips::get(w.TabControl1, Edge::Height), 3750.f);
        QCOMPARE(Twips::get(w.PushButton5, Edge::Height), 1550.f);
        QCOMPARE(Twips::get(w.PushButton6, Edge::Height), 1550.f);
        QCOMPARE(Twips::get(w.PushButton6, Edge::Top), 2660.f);
        QCOMPARE(Twips::get(w.Label2, Edge::Top), 7285.f);
        QCOMPARE(Twips::get(w.Text1, Edge::Top), 7285.f);
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("2"));
    }

    void maximisedOnLargeScreen_scalesByTheOuterSize()
    {
        Form1Session s;
        Form1& w = s.startShown();
        maximiseOn(w, "large");
        comparePlaces(maximisedPlaces(w, 1920 * 15, (1080 - barHeight(w)) * 15));
        // "Move Down" ends where the tab control ends.
        QCOMPARE(Twips::get(w.PushButton6, Edge::Top) + Twips::get(w.PushButton6, Edge::Height),
                 Twips::get(w.TabControl1, Edge::Top) + Twips::get(w.TabControl1, Edge::Height));
        QVERIFY(s.prompts.errorBoxes().isEmpty());
    }

    void restoreFromMaximised_normalValuesBack_scratchPadStaysBelow()
    {
        Form1Session s;
        Form1& w = s.startShown();
        maximiseOn(w, "large");
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("2"));
        w.showNormal();
        QTRY_COMPARE(w.clientArea->size(), QSize(808, 394));
        const float scratchTop = float((1080 - barHeight(w)) * 15 + 1000);
        comparePlaces(normalPlaces(w, scratchTop, scratchTop));
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("0"));
    }

    void startUpMaximised_opensMaximised_writesNothingUntilTheStateChanges()
    {
        Form1Session s;
        // Read as 2; a rewrite by the start-up would show as "2".
        s.preset(QStringLiteral("WindowState"), QStringLiteral("2.0"));
        Form1& w = s.startShown();
        QVERIFY(w.windowState() & Qt::WindowMaximized);
        QTRY_COMPARE(w.frameGeometry(), w.screen()->availableGeometry());
        const QSize outer = w.frameGeometry().size() - QSize(0, barHeight(w));
        comparePlaces(maximisedPlaces(w, outer.width() * 15, outer.height() * 15));
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("2.0"));
        QVERIFY(s.prompts.errorBoxes().isEmpty());

        w.showNormal();
        QTRY_COMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("0"));
        w.showMaximized();
        QTRY_COMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("2"));
    }

    void screenTooLow_failingStepsReported_restStillPlaced()
    {
        Form1Session s;
        Form1& w = s.startShown();
        maximiseOn(w, "low");
        // 2010 * fy - 460 is below zero: both tall buttons fail, once per pass.
        const QStringList lines = s.errorLines();
        QVERIFY(!lines.isEmpty());
        QCOMPARE(
            QSet<QString>(lines.begin(), lines.end()),
            (QSet<QString>{QStringLiteral("Form_Resize 328"), QStringLiteral("Form_Resize 330")}));
        QVERIFY(s.prompts.errorBoxes().first().startsWith(
            QStringLiteral("Invalid property value: PushButton5 cannot be ")));
        // Everything after the failing steps was still set.
        QCOMPARE(Twips::get(w.PushButton6, Edge::Left), float(11145.0 * 900 * 15 / 12210));
        QCOMPARE(Twips::get(w.Text1, Edge::Top), float((80 - barHeight(w)) * 15 + 1000));
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("2"));
    }

    void draggedToAnotherSize_normalWindowReturnsToItsDesignSize()
    {
        Form1Session s;
        Form1& w = s.startShown();
        w.resize(1000, 600);
        QTRY_COMPARE(w.clientArea->size(), QSize(808, 394));
        comparePlaces(normalPlaces(w, 6360, 6300));
        QCOMPARE(s.stored(QStringLiteral("WindowState")), QStringLiteral("<absent>"));
    }
};

// The menu bar's height on this platform, from an application of its own: the screens must be
// known before the test's application starts.
int probeMenuBarHeight(int& argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication probe(argc, argv);
    QMenuBar bar;
    bar.setNativeMenuBar(false);
    bar.addMenu(QStringLiteral("&Tasks"));
    return bar.sizeHint().height();
}

// Like KESTRUNE_TEST_MAIN, with screens of known sizes.
int main(int argc, char** argv)
{
    QTemporaryDir home;
    const QByteArray config =
        QString::fromLatin1(kScreens).arg(419 + probeMenuBarHeight(argc, argv)).toUtf8();
    QFile screens(home.filePath(QStringLiteral("screens.json")));
    if (!screens.open(QIODevice::WriteOnly) || screens.write(config) < 0)
        return 2;
    screens.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    TestForm1Layout test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_form1_layout.moc"
