// Start-up of the main window and the actions that switch what it shows.
#include "app_folder.h"
#include "file_size_limit.h"
#include "form1_session.h"
#include "program_icon.h"
#include "prompts.h"
#include "test_files.h"
#include "test_main.h"

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtEndian>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

namespace {

const QString kTwoCategories = QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^");

// Size and modification time of the store's files: a write changes them.
QStringList storeFiles()
{
    QStringList state;
    for (const char* suffix : {"", "-wal"}) {
        const QFileInfo info(SettingsStore::defaultPath() + QLatin1String(suffix));
        state.append(
            QStringLiteral("%1 %2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch()));
    }
    return state;
}

// A 32x32 Windows cursor of our own drawing, hotspot (5, 3): a block at x 4..19, y 8..29 whose
// top row is white and the rest dark; transparent around it. `bits` is 32 (colour with alpha)
// or 1 (the classic black-and-white cursor with a palette and an XOR mask); the colour one has a
// half-transparent corner. `asIcon` writes the same image as an icon file instead.
QByteArray drawnCursor(int bits, bool asIcon = false)
{
    QByteArray image;
    const auto put16 = [&image](quint16 v) { image.append(char(v & 0xff)).append(char(v >> 8)); };
    const auto put32 = [&](quint32 v) { put16(quint16(v & 0xffff)), put16(quint16(v >> 16)); };
    // BITMAPINFOHEADER: the height counts the colour image and the AND mask.
    put32(40), put32(32), put32(64), put16(1), put16(quint16(bits)), put32(0), put32(0), put32(0),
        put32(0), put32(0), put32(0);
    const auto inside = [](int x, int y) { return x >= 4 && x < 20 && y >= 8 && y < 30; };
    const auto white = [](int, int y) { return y == 8; };
    if (bits == 1)
        image.append(QByteArray("\0\0\0\0\xff\xff\xff\0", 8)); // palette: black, white
    for (int y = 31; y >= 0; --y) {                            // rows bottom-up
        quint32 row = 0;
        for (int x = 0; x < 32; ++x) {
            if (bits == 32)
                image.append(!inside(x, y)        ? QByteArray(4, '\0')
                             : white(x, y)        ? QByteArray("\xff\xff\xff\xff", 4)
                             : x == 19 && y == 29 ? QByteArray("\x20\x40\x80\x80", 4)
                                                  : QByteArray("\x20\x40\x80\xff", 4));
            else if (inside(x, y) && white(x, y))
                row |= 0x80000000u >> x;
        }
        if (bits == 1)
            put32(qToBigEndian(row));
    }
    for (int y = 31; y >= 0; --y) { // AND mask: 1 where transparent
        quint32 row = 0;
        for (int x = 0; x < 32; ++x)
            if (!inside(x, y))
                row |= 0x80000000u >> x;
        put32(qToBigEndian(row));
    }
    QByteArray file;
    const auto f16 = [&file](quint16 v) { file.append(char(v & 0xff)).append(char(v >> 8)); };
    f16(0), f16(asIcon ? 1 : 2), f16(1); // ICONDIR: cursor or icon, one image
    file.append(char(32)).append(char(32)).append(char(bits == 1 ? 2 : 0)).append(char(0));
    if (asIcon)
        f16(1), f16(quint16(bits)); // planes, bits per pixel
    else
        f16(5), f16(3);                                  // hotspot
    f16(quint16(image.size())), f16(0), f16(22), f16(0); // size, offset
    return file + image;
}

} // namespace

class TestForm1Startup : public QObject
{
    Q_OBJECT

    QTemporaryDir m_appFolder;

private slots:
    // The window icon is the SVG drawn ahead at the sizes a desktop asks for.
    void windowIcon_isTheTrayIconDrawnAtEachSize()
    {
        const QIcon window = ProgramIcon::forWindows();
        const QIcon tray = ProgramIcon::forTray();
        const QList<QSize> sizes = window.availableSizes();
        QCOMPARE(sizes, (QList<QSize>{{16, 16}, {32, 32}, {64, 64}, {128, 128}}));
        for (const QSize& size : sizes) {
            const QImage drawn =
                window.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(drawn.size(), size);
            QCOMPARE(drawn, tray.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32));
        }
    }

    void init()
    {
        QDir(m_appFolder.path()).removeRecursively();
        QDir().mkpath(m_appFolder.path());
        AppFolder::setPath(m_appFolder.path());
    }

    void emptyStore_opensOnWorkWithTheActiveTabAndWritesNothing()
    {
        Form1Session s;
        const QStringList before = storeFiles();
        Form1& f = s.startShown();
        QTest::qWait(50);
        QCOMPARE(f.windowTitle(), QStringLiteral("Tolvendra Software"));
        QCOMPARE(s.nodeTexts(), (QStringList{"Work", "Home", "Other"}));
        QCOMPARE(f.tvFolders->selectedNode()->text(0), QStringLiteral("Work"));
        QCOMPARE(f.Label1->text(), QStringLiteral("Tasks for [Work]"));
        QCOMPARE(f.TabControl1->currentIndex(), 0);
        QVERIFY(f.ListView1->isVisible());
        QVERIFY(!f.ListView2->isVisible());
        QCOMPARE(f.PushButton9->text(), QStringLiteral("Delete Selected Task"));
        QCOMPARE(f.PushButton7->text(), QStringLiteral("Delete All Tasks"));
        QCOMPARE(f.ListView1->tasks()->rowCount(), 0);
        QCOMPARE(f.ListView2->tasks()->rowCount(), 0);
        QCOMPARE(f.windowState() & (Qt::WindowMaximized | Qt::WindowMinimized), Qt::WindowNoState);
        QVERIFY(!f.isLoading());
        QCOMPARE(f.Text1->toPlainText(), QString());
        for (QLabel* heading : {f.Label1, f.Label3})
            QCOMPARE(heading->palette().color(QPalette::Window), QColor(255, 255, 192));
        QCOMPARE(s.prompts.shown.size(), 0);
        QCOMPARE(storeFiles(), before);
    }

    void controls_carryTheirNamesForAssistiveTechnology()
    {
        Form1Session s;
        Form1& f = s.start();
        QCOMPARE(f.tvFolders->accessibleName(), QStringLiteral("Categories"));
        QCOMPARE(f.ListView1->accessibleName(), QStringLiteral("Active Tasks"));
        QCOMPARE(f.ListView2->accessibleName(), QStringLiteral("Deleted Tasks"));
        QCOMPARE(f.Text1->accessibleName(), QStringLiteral("Temporary Scratch Pad:"));
        for (const char* name : {"tvFolders", "ListView1", "ListView2", "TabControl1", "Text1",
                                 "Label1", "Label2", "Label3", "PushButton7", "PushButton9"})
            QVERIFY2(f.findChild<QWidget*>(QLatin1String(name)), name);
    }

    void firstStoredCategoryHome_isShownUnderTheWorkCaption()
    {
        Form1Session s;
        s.preset(QStringLiteral("Tree Nodes"), QStringLiteral("Home;1_Root_2;^Work;1_Root_1;^"));
        s.preset(QStringLiteral("1_Root_2"),
                 storedTasks({{"Paint", "Low", "Personal", "", "", ""}}));
        s.preset(QStringLiteral("1_Root_1"), storedTasks({{"Report", "Low", "Work", "", "", ""}}));
        Form1& f = s.start();
        QCOMPARE(f.Label1->text(), QStringLiteral("Tasks for [Work]"));
        QCOMPARE(f.tvFolders->selectedNode()->text(0), QStringLiteral("Home"));
        QCOMPARE(Form1Session::column(f.ListView1, 0), QStringList{"Paint"});
    }

    void storedTab_deletedTasks_isSelectedWithRestoreCaptions()
    {
        Form1Session s;
        s.preset(QStringLiteral("TabSel"), QStringLiteral("1"));
        Form1& f = s.startShown();
        QCOMPARE(f.TabControl1->currentIndex(), 1);
        QCOMPARE(f.listOfSelectedTab(), f.ListView2);
        QVERIFY(f.ListView2->isVisible());
        QVERIFY(!f.ListView1->isVisible());
        QCOMPARE(f.PushButton9->text(), QStringLiteral("Restore Selected Task"));
        QCOMPARE(f.PushButton7->text(), QStringLiteral("Restore All Tasks"));
        QCOMPARE(s.prompts.shown.size(), 0);
    }

    void storedTabThatIsNotANumber_reportsLine188AndKeepsTheActiveTab()
    {
        Form1Session s;
        s.preset(QStringLiteral("TabSel"), QStringLiteral("abc"));
        Form1& f = s.start();
        QCOMPARE(s.prompts.errorBoxes(),
                 QStringList{Form1Session::errorText(
                     QStringLiteral("Type mismatch: \"abc\" is not a number (the selected tab)."),
                     QStringLiteral("Form_Load"), 188)});
        QCOMPARE(s.prompts.shown.value(0).title, QStringLiteral("Application Error"));
        QCOMPARE(s.prompts.shown.value(0).icon, Prompts::Icon::Exclamation);
        QCOMPARE(f.TabControl1->currentIndex(), 0);
        QCOMPARE(f.PushButton9->text(), QStringLiteral("Delete Selected Task"));
        QCOMPARE(s.stored(QStringLiteral("TabSel")), QStringLiteral("abc"));
        QVERIFY(!f.isLoading());
    }

    void storedTabOutOfRange_reportsLine188()
    {
        Form1Session s;
        s.preset(QStringLiteral("TabSel"), QStringLiteral("2"));
        Form1& f = s.start();
        QCOMPARE(s.errorLines(), QStringList{"Form_Load 188"});
        QCOMPARE(f.TabControl1->currentIndex(), 0);
    }

    void clickingATab_storesItAtOnceAndSwitchesTheCaptions()
    {
        Form1Session s;
        Form1& f = s.startShown();
        s.clickTab(1);
        QCOMPARE(s.stored(QStringLiteral("TabSel")), QStringLiteral("1"));
        QCOMPARE(f.PushButton9->text(), QStringLiteral("Restore Selected Task"));
        QCOMPARE(f.PushButton7->text(), QStringLiteral("Restore All Tasks"));
        QCOMPARE(f.listOfSelectedTab(), f.ListView2);
        s.clickTab(0);
        QCOMPARE(s.stored(QStringLiteral("TabSel")), QStringLiteral("0"));
        QCOMPARE(f.PushButton9->text(), QStringLiteral("Delete Selected Task"));
        QCOMPARE(f.PushButton7->text(), QStringLiteral("Delete All Tasks"));

        // The next start opens on the tab last selected.
        s.clickTab(1);
        s.closeAndReopen();
        QCOMPARE(s.window->TabControl1->currentIndex(), 1);
    }

    void tabStoreFailure_showsTheErrorBoxAndTheCaptionsStillChange()
    {
        Form1Session s;
        Form1& f = s.startShown();
        {
            FileSizeLimit full(0);
            s.clickTab(1);
        }
        QCOMPARE(s.prompts.errorBoxes().size(), 1);
        QVERIFY2(s.prompts.errorBoxes().value(0).startsWith(
                     QStringLiteral("Cannot save \"TabSel\" in the store")),
                 qPrintable(s.prompts.errorBoxes().value(0)));
        QCOMPARE(f.PushButton9->text(), QStringLiteral("Restore Selected Task"));
        QCOMPARE(s.stored(QStringLiteral("TabSel")), QStringLiteral("<absent>"));
    }

    void closeWhileTheStoreCannotBeWritten_reportsEachFailedWrite()
    {
        Form1Session s;
        s.start();
        {
            FileSizeLimit full(0);
            s.close();
        }
        QCOMPARE(s.errorLines(), (QStringList{"Form_QueryUnload 108", "Form_QueryUnload 118",
                                              "updateCategory 110"}));
        QVERIFY2(s.prompts.errorBoxes().value(2).startsWith(
                     QStringLiteral("Cannot save \"Tree Nodes\" in the store ") +
                     SettingsStore::defaultPath()),
                 qPrintable(s.prompts.errorBoxes().value(2)));
        QVERIFY2(s.prompts.errorBoxes().value(2).contains(QStringLiteral("size limit")) ||
                     s.prompts.errorBoxes().value(2).contains(
                         QString::fromLocal8Bit(std::strerror(EFBIG))),
                 qPrintable(s.prompts.errorBoxes().value(2)));
        // Nothing is reported as saved that was not.
        QCOMPARE(s.stored(QStringLiteral("Tree Nodes")), QStringLiteral("<absent>"));
        QCOMPARE(s.stored(QStringLiteral("List1Cols")), QStringLiteral("<absent>"));
    }

    void storedWindowStateMaximised_opensMaximisedWithoutStoringIt()
    {
        Form1Session s;
        s.preset(QStringLiteral("WindowState"), QStringLiteral("2"));
        const QStringList before = storeFiles();
        Form1& f = s.start();
        QVERIFY(f.windowState() & Qt::WindowMaximized);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QTest::qWait(300);
        QVERIFY(f.windowState() & Qt::WindowMaximized);
        QCOMPARE(storeFiles(), before);
        QCOMPARE(s.prompts.shown.size(), 0);
    }

    void storedWindowStateThatIsNotANumber_reportsLine202()
    {
        Form1Session s;
        s.preset(QStringLiteral("WindowState"), QStringLiteral("max"));
        Form1& f = s.start();
        QCOMPARE(s.errorLines(), QStringList{"Form_Load 202"});
        QCOMPARE(f.windowState() & Qt::WindowMaximized, Qt::WindowNoState);
        QVERIFY(!f.isLoading());
    }

    void pointerFile_missingGivesNoMessage_ownCursorIsLoadedWithItsHotspot()
    {
        {
            Form1Session s;
            QVERIFY(!s.start().handPointer().has_value());
            QCOMPARE(s.prompts.shown.size(), 0);
        }
    }

    void pointerFile_ofOurOwnDrawing_isLoadedWithItsHotspotAndPixels_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<QRgb>("body");
        QTest::newRow("colour with alpha") << 32 << qRgba(0x80, 0x40, 0x20, 0xff);
        QTest::newRow("black and white") << 1 << qRgba(0, 0, 0, 0xff);
    }
    void pointerFile_ofOurOwnDrawing_isLoadedWithItsHotspotAndPixels()
    {
        QFETCH(int, bits);
        QFETCH(QRgb, body);
        writeFile(m_appFolder.path() + QStringLiteral("/HAND-M.CUR"), drawnCursor(bits));
        Form1Session s;
        Form1& f = s.start();
        QCOMPARE(s.prompts.shown.size(), 0);
        QVERIFY(f.handPointer().has_value());
        QCOMPARE(f.handPointer()->hotSpot(), QPoint(5, 3));
        const QImage image =
            f.handPointer()->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(32, 32));
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(31, 31)), 0);
        QCOMPARE(image.pixel(10, 8), qRgba(0xff, 0xff, 0xff, 0xff));
        QCOMPARE(image.pixel(10, 20), body);
        // Pixel for pixel what Qt's icon reader makes of the same image.
        QImage reference;
        QVERIFY(reference.loadFromData(drawnCursor(bits, true), "ICO"));
        QCOMPARE(image,
                 QPixmap::fromImage(reference).toImage().convertToFormat(QImage::Format_ARGB32));
    }

    void pointerFileThatIsNoCursor_reportsLine106AndKeepsTheDefault()
    {
        writeFile(m_appFolder.path() + QStringLiteral("/HAND-M.CUR"), "not a cursor at all");
        Form1Session s;
        Form1& f = s.start();
        QCOMPARE(s.errorLines(), QStringList{"Form_Load 106"});
        QVERIFY(!f.handPointer().has_value());
        QCOMPARE(s.nodeTexts().size(), 3);
    }

    void skinFile_onlyWhenPresent_themesTheWindow()
    {
        {
            Form1Session s;
            Form1& f = s.start();
            QCOMPARE(f.styleSheet(), QString());
            QCOMPARE(f.Label1->palette().color(QPalette::Window), QColor(255, 255, 192));
        }
        const QByteArray sheet = "QPushButton { font-weight: bold; }";
        writeFile(m_appFolder.path() + QStringLiteral("/x/o.cjs"), sheet);
        Form1Session s;
        Form1& f = s.start();
        QCOMPARE(s.prompts.shown.size(), 0);
        QVERIFY2(f.styleSheet().contains(QString::fromUtf8(sheet)), qPrintable(f.styleSheet()));
        // The headings' own colour is set after the skin, and stays.
        QCOMPARE(f.Label1->palette().color(QPalette::Window), QColor(255, 255, 192));
    }

    void rowClick_setsTheScratchPadToTheRowsNotes_nothingElseDoes()
    {
        Form1Session s;
        s.preset(QStringLiteral("Tree Nodes"), kTwoCategories);
        s.preset(QStringLiteral("1_Root_1"),
                 storedTasks({{"A", "High", "Work", "", "first\r\nnotes", ""},
                              {"B", "Low", "Work", "", "", ""}}));
        s.preset(QStringLiteral("1_Root_1Del"),
                 storedTasks({{"C", "Low", "Work", "", "deleted", ""}}));
        Form1& f = s.startShown();
        s.clickRow(f.ListView1, 0);
        QCOMPARE(f.Text1->toPlainText(),
                 QStringLiteral("first\r\nnotes").replace(u'\r', QString()));
        f.Text1->setPlainText(QStringLiteral("typed"));
        s.clickNode(QStringLiteral("Home"));
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("typed"));
        s.clickNode(QStringLiteral("Work"));
        s.clickTab(1);
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("typed"));
        s.clickRow(f.ListView2, 0);
        QCOMPARE(f.Text1->toPlainText(), QStringLiteral("deleted"));
        s.clickTab(0);
        s.clickRow(f.ListView1, 1);
        QCOMPARE(f.Text1->toPlainText(), QString());
        QCOMPARE(s.prompts.shown.size(), 0);
    }
};

KESTRUNE_TEST_MAIN(TestForm1Startup)
#include "test_form1_startup.moc"
