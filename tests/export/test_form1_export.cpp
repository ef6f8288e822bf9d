#include "export_files.h"
#include "export_fixture.h"
#include "form1.h"
#include "readback.h"
#include "recording_desktop.h"
#include "scripted_prompts.h"
#include "test_main.h"

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QMenu>
#include <QPushButton>
#include <QTest>

namespace {

const QString kNotInstalled = QStringLiteral(
    "Excel is not installed on this computer. You need to have it installed to use this feature.");
const QString kMayBeOpen =
    QStringLiteral("Excel may be open. It is recommended that you close Excel first.\r"
                   "Use Ctrl+Alt+Del > Task Manager > EXCEL.EXE if necessary.\r\n\r\n"
                   "Would you like to proceed anyway?");

// Every file under the temporary folder, links included.
QStringList filesUnder(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::System | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

QAction* menuEntry(Form1& window, const char* name)
{
    return window.mnuExport ? window.mnuExport->findChild<QAction*>(QLatin1String(name)) : nullptr;
}

// Clicks "Export All Tasks To ..." and picks an entry of the menu it shows.
void choose(Form1& window, const char* entry)
{
    QTest::mouseClick(window.PushButton11, Qt::LeftButton);
    QAction* action = menuEntry(window, entry);
    QVERIFY(action);
    window.mnuExport->hide();
    action->trigger();
}

} // namespace

class Form1ExportTest : public QObject
{
    Q_OBJECT

private slots:
    void exportButton_popsUpMenuWithExcelAndPdf()
    {
        ExportFixture fixture;
        Form1 window(fixture.store());
        window.show();
        QVERIFY(!window.mnuExport);
        QTest::mouseClick(window.PushButton11, Qt::LeftButton);
        QVERIFY(window.mnuExport);
        QCOMPARE(window.mnuExport->objectName(), QStringLiteral("mnuExport"));
        QCOMPARE(window.mnuExport->title(), QStringLiteral("Export"));
        QVERIFY(window.mnuExport->isVisible());
        const QList<QAction*> actions = window.mnuExport->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions[0]->objectName(), QStringLiteral("subMenuExcel"));
        QCOMPARE(actions[0]->text(), QStringLiteral("Excel"));
        QCOMPARE(actions[1]->objectName(), QStringLiteral("subMenuPDF"));
        QCOMPARE(actions[1]->text(), QStringLiteral("PDF"));
        QCOMPARE(actions[2]->text(), QStringLiteral("iCalendar"));
        window.mnuExport->hide();
        // A second click shows the same menu, not another one.
        QMenu* first = window.mnuExport;
        QTest::mouseClick(window.PushButton11, Qt::LeftButton);
        QCOMPARE(window.mnuExport, first);
        QCOMPARE(window.findChildren<QMenu*>(QStringLiteral("mnuExport")).size(), 1);
        window.mnuExport->hide();
    }

    void excel_noSpreadsheetProgram_messageAndNothingElse()
    {
        ExportFixture fixture;
        RecordingDesktop desktop;
        desktop.registered = false;
        desktop.running = true;
        ScriptedPrompts prompts;
        Form1 window(fixture.store());
        choose(window, "subMenuExcel");

        QCOMPARE(prompts.shown.size(), 1);
        QCOMPARE(prompts.shown[0].kind, ScriptedPrompts::Shown::Message);
        QCOMPARE(prompts.shown[0].text, kNotInstalled);
        QCOMPARE(prompts.shown[0].title, QStringLiteral("Tolvendra"));
        QCOMPARE(prompts.shown[0].icon, Prompts::Icon::None);
        QCOMPARE(desktop.opened, QStringList());
        QCOMPARE(filesUnder(fixture.tempPath()), QStringList());
    }

    void excel_spreadsheetRunning_asksAndNoStopsEverything()
    {
        ExportFixture fixture;
        RecordingDesktop desktop;
        desktop.running = true;
        ScriptedPrompts prompts;
        prompts.yesNoAnswers = {false};
        Form1 window(fixture.store());
        choose(window, "subMenuExcel");

        QCOMPARE(prompts.shown.size(), 1);
        QCOMPARE(prompts.shown[0].kind, ScriptedPrompts::Shown::YesNo);
        QCOMPARE(prompts.shown[0].text, kMayBeOpen);
        QCOMPARE(prompts.shown[0].title, QStringLiteral("Tolvendra"));
        QCOMPARE(desktop.opened, QStringList());
        QCOMPARE(filesUnder(fixture.tempPath()), QStringList());
    }

    void excel_yesOrNotRunning_opensANewWorkbookOfTheStore_data()
    {
        QTest::addColumn<bool>("running");
        QTest::newRow("running, answered Yes") << true;
        QTest::newRow("not running, no question") << false;
    }

    void excel_yesOrNotRunning_opensANewWorkbookOfTheStore()
    {
        QFETCH(bool, running);
        ExportFixture fixture;
        fixture.setTasks(QStringLiteral("1_Root_2"), {ExportFixture::task("Call Nessaly")});
        RecordingDesktop desktop;
        desktop.running = running;
        ScriptedPrompts prompts;
        prompts.yesNoAnswers = {true};
        Form1 window(fixture.store());
        choose(window, "subMenuExcel");

        QCOMPARE(prompts.shown.size(), running ? 1 : 0);
        QCOMPARE(desktop.opened.size(), 1);
        QVERIFY(desktop.opened[0].endsWith(QStringLiteral(".xlsx")));
        const XlsxSheet sheet = readXlsx(desktop.opened[0]);
        QCOMPARE(sheet.rows.size(), 2);
        QCOMPARE(sheet.rowTexts(1).mid(0, 2), QStringList({"Home", "Call Nessaly"}));
        // The spreadsheet program is left to the user, the file with it.
        QCOMPARE(filesUnder(fixture.tempPath()), desktop.opened);
    }

    void pdf_noSpreadsheetChecks_opensExportTasksPdf()
    {
        ExportFixture fixture;
        fixture.setTasks(QStringLiteral("1_Root_1"), {ExportFixture::task("Deliver Parts")});
        RecordingDesktop desktop;
        desktop.registered = false;
        desktop.running = true;
        ScriptedPrompts prompts;
        Form1 window(fixture.store());
        choose(window, "subMenuPDF");

        QCOMPARE(prompts.shown.size(), 0);
        QCOMPARE(desktop.checks, 0);
        QCOMPARE(desktop.opened, QStringList({ExportFiles::pdfPath()}));
        QCOMPARE(readPdf(desktop.opened[0]).lineTexts().value(1),
                 QStringLiteral("Work Deliver Parts Medium General"));
    }

    void failure_applicationErrorAtLine100_nothingOpenedNothingLeft_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("location");
        QTest::newRow("Excel") << QByteArray("subMenuExcel") << "Form1.subMenuExcel_Click";
        QTest::newRow("PDF") << QByteArray("subMenuPDF") << "Form1.subMenuPDF_Click";
    }

    void failure_applicationErrorAtLine100_nothingOpenedNothingLeft()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QString, location);
        ExportFixture fixture;
        fixture.setTasks(QStringLiteral("1_Root_1"), {ExportFixture::task("T")});
        RecordingDesktop desktop;
        ScriptedPrompts prompts;
        Form1 window(fixture.store());
        // Stored after start-up, so that only the export meets the entry without a key.
        fixture.setTree(QStringLiteral("Work;1_Root_1;^Broken^"));
        choose(window, entry.constData());

        const QStringList boxes = prompts.errorBoxes();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].contains(QStringLiteral("has no key.\r\nin Pennaro2021/08/31.") +
                                   location + QStringLiteral(" at line 100\r\r")),
                 qPrintable(boxes[0]));
        QCOMPARE(desktop.opened, QStringList());
        QCOMPARE(filesUnder(fixture.tempPath()), QStringList());
        QVERIFY(!QApplication::overrideCursor());
    }

    void openerFails_tellsWhereTheFileIs()
    {
        ExportFixture fixture;
        RecordingDesktop desktop;
        desktop.openSucceeds = false;
        ScriptedPrompts prompts;
        Form1 window(fixture.store());
        choose(window, "subMenuPDF");

        QCOMPARE(prompts.messages().size(), 1);
        QVERIFY2(prompts.messages()[0].contains(ExportFiles::pdfPath()),
                 qPrintable(prompts.messages()[0]));
        QVERIFY(QFile::exists(ExportFiles::pdfPath()));
    }
};

KESTRUNE_TEST_MAIN(Form1ExportTest)
#include "test_form1_export.moc"
