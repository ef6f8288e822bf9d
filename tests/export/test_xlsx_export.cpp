#include "export_fixture.h"
#include "failure.h"
#include "readback.h"
#include "task_export.h"
#include "test_main.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QStringList kHeader = {"Categories", "Task", "Priority", "Type", "Due Date", "Notes", "Done"};

XlsxSheet exportSheet(ExportFixture& fixture)
{
    return readXlsx(TaskExport::toWorkbook(fixture.store()));
}

// Column 1 and the task text of every row below the header.
QStringList categoryAndTask(const XlsxSheet& sheet)
{
    QStringList rows;
    for (int r = 1; r < sheet.rows.size(); ++r)
        rows.append(sheet.rowTexts(r).mid(0, 2).join(u'|'));
    return rows;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::System | QDir::Hidden);
}

} // namespace

class XlsxExportTest : public QObject
{
    Q_OBJECT

private slots:
    void headerAndCells_boldHeaderSize11AndEveryValueText()
    {
        ExportFixture fixture;
        fixture.setTree(QStringLiteral("Work;1_Root_1;^"));
        fixture.setTasks(QStringLiteral("1_Root_1"),
                         {{"42", "High", "Idea", "5/20/2024", "1.5", "Done"}});
        const XlsxSheet sheet = exportSheet(fixture);

        QCOMPARE(sheet.rows.size(), 2);
        QCOMPARE(sheet.rowTexts(0), kHeader);
        QCOMPARE(sheet.rowTexts(1),
                 QStringList({"Work", "42", "High", "Idea", "5/20/2024", "1.5", "Done"}));
        for (const auto& cell : sheet.rows[0]) {
            QVERIFY(cell.font.bold);
            QCOMPARE(cell.font.size, 11.0);
        }
        for (const auto& cell : sheet.rows[1]) {
            QVERIFY2(cell.type == u"inlineStr" || cell.type == u"s" || cell.type == u"str",
                     qPrintable(cell.text + QStringLiteral(" is stored as ") + cell.type));
            QVERIFY(!cell.font.bold);
            QCOMPARE(cell.font.size, 11.0);
        }
    }

    // Cells are encoded through a shared buffer; what reaches the sheet is still what the
    // text's own UTF-8 form says, lone surrogates included.
    void cellTexts_beyondAscii_reachTheSheetAsTheirUtf8()
    {
        const QStringList texts = {
            QStringLiteral("Caf\u00e9 \u2615"),  QStringLiteral("\u65e5\u672c"),
            QStringLiteral("\U0001F600 smile"),  QString(QChar(0xD800)) + QStringLiteral("x"),
            QStringLiteral("y") + QChar(0xDC00), QStringLiteral("plain")};
        ExportFixture fixture;
        fixture.setTree(QStringLiteral("Work;1_Root_1;^"));
        fixture.setTasks(QStringLiteral("1_Root_1"), {texts});
        const XlsxSheet sheet = exportSheet(fixture);
        QStringList expected{QStringLiteral("Work")};
        for (const QString& text : texts)
            expected.append(QString::fromUtf8(text.toUtf8()));
        QCOMPARE(sheet.rowTexts(1), expected);
    }

    void storedTree_readAsTheExportReadsIt_data()
    {
        QTest::addColumn<bool>("treeStored");
        QTest::addColumn<QString>("tree");
        QTest::addColumn<QStringList>("expected");

        const QStringList defaults = {"Work|Deliver Parts", "Home|Call Nessaly",
                                      "Other|Collaborate with Dorrin"};
        QTest::newRow("absent") << false << QString() << defaults;
        QTest::newRow("default text typed by hand") << true << "Work;Home;Other" << defaults;
        QTest::newRow("empty") << true << "" << QStringList();
        QTest::newRow("trailing caret") << true << "Work;1_Root_1;^Home;1_Root_2;^"
                                        << QStringList({"Work|Deliver Parts", "Home|Call Nessaly"});
        QTest::newRow("no trailing caret, doubled caret")
            << true << "Other;1_Root_3;^^Work;1_Root_1;"
            << QStringList({"Other|Collaborate with Dorrin", "Work|Deliver Parts"});
    }

    void storedTree_readAsTheExportReadsIt()
    {
        QFETCH(bool, treeStored);
        QFETCH(QString, tree);
        QFETCH(QStringList, expected);
        ExportFixture fixture;
        if (treeStored)
            fixture.setTree(tree);
        fixture.setTasks(QStringLiteral("1_Root_1"), {ExportFixture::task("Deliver Parts")});
        fixture.setTasks(QStringLiteral("1_Root_2"), {ExportFixture::task("Call Nessaly")});
        fixture.setTasks(QStringLiteral("1_Root_3"),
                         {ExportFixture::task("Collaborate with Dorrin")});

        const XlsxSheet sheet = exportSheet(fixture);
        QCOMPARE(sheet.rowTexts(0), kHeader);
        QCOMPARE(categoryAndTask(sheet), expected);
    }

    void rows_followStoredTreeOrderAcrossSubcategories_withoutDeletedTasks()
    {
        ExportFixture fixture;
        // Stored order, not key order: Home's key is the highest but it comes first.
        fixture.setTree(QStringLiteral("Home;1_Root_7;^Work;1_Root_1;^Reports;2_Sublist_4;1_Root_1^"
                                       "Empty;1_Root_5;^Later;3_Sublist_6;2_Sublist_4^"));
        fixture.setTasks(QStringLiteral("1_Root_7"), {ExportFixture::task("H1")});
        fixture.setTasks(
            QStringLiteral("1_Root_1"),
            {ExportFixture::task("W1"), ExportFixture::task("W2"), ExportFixture::task("W3")});
        fixture.setTasks(QStringLiteral("2_Sublist_4"), {ExportFixture::task("R1")});
        fixture.setTasks(QStringLiteral("3_Sublist_6"), {ExportFixture::task("L1")});
        fixture.setTasks(QStringLiteral("1_Root_1Del"), {ExportFixture::task("gone")});
        fixture.setTasks(QStringLiteral("2_Sublist_4Del"), {ExportFixture::task("gone too")});

        QCOMPARE(
            categoryAndTask(exportSheet(fixture)),
            QStringList({"Home|H1", "Work|W1", "Work|W2", "Work|W3", "Reports|R1", "Later|L1"}));
    }

    void dueDates_overdueRedOtherwiseAutomaticColour_data()
    {
        QTest::addColumn<QString>("due");
        QTest::addColumn<QString>("rgb");
        QTest::newRow("yesterday") << "5/14/2024"
                                   << "FFFF0000";
        QTest::newRow("long ago, ISO form") << "2023-12-01"
                                            << "FFFF0000";
        QTest::newRow("today") << "5/15/2024"
                               << "";
        QTest::newRow("tomorrow") << "5/16/2024"
                                  << "";
        QTest::newRow("not a date") << "next week"
                                    << "";
        QTest::newRow("impossible date") << "2/30/2024"
                                         << "";
        QTest::newRow("empty") << ""
                               << "";
    }

    void dueDates_overdueRedOtherwiseAutomaticColour()
    {
        QFETCH(QString, due);
        QFETCH(QString, rgb);
        ExportFixture fixture;
        fixture.setTree(QStringLiteral("Work;1_Root_1;^"));
        // The same text in the notes shows that only the due-date column is coloured.
        fixture.setTasks(QStringLiteral("1_Root_1"), {ExportFixture::task("T", due, due)});
        const XlsxSheet sheet = exportSheet(fixture);

        QCOMPARE(sheet.rows[1][4].text, due);
        QCOMPARE(sheet.rows[1][4].font.rgb, rgb);
        QCOMPARE(sheet.rows[1][4].font.size, 11.0);
        QCOMPARE(sheet.rows[1][5].font.rgb, QString());
    }

    void pageSetup_fitsOnePageTallAndWide()
    {
        ExportFixture fixture;
        const XlsxSheet sheet = exportSheet(fixture);
        QVERIFY(sheet.fitToPage);
        QCOMPARE(sheet.fitToHeight, 1);
        QCOMPARE(sheet.fitToWidth, 1);
    }

    void columns_fittedToTheirLongestLine()
    {
        ExportFixture fixture;
        fixture.setTree(QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^"));
        const QString longLine = QStringLiteral("Ring the supplier about the late delivery");
        fixture.setTasks(QStringLiteral("1_Root_1"),
                         {ExportFixture::task("Short", {}, QStringLiteral("a\n") + longLine)});
        fixture.setTasks(QStringLiteral("1_Root_2"),
                         {ExportFixture::task(longLine, {}, {}, {}, QString(2000, u'x'))});
        const XlsxSheet sheet = exportSheet(fixture);

        // Two lines are as wide as the longer one, not as both together.
        QCOMPARE(sheet.columnWidths.value(5), sheet.columnWidths.value(1));
        QVERIFY(sheet.columnWidths.value(1) > longLine.size() * 0.8);
        QVERIFY(sheet.columnWidths.value(1) < longLine.size() * 1.3);
        // A column of empty due dates is as wide as its bold heading.
        QVERIFY(sheet.columnWidths.value(4) > 8 && sheet.columnWidths.value(4) < 12);
        // The format stops at 255 characters (the file adds the cell's 5 pixels of padding).
        QCOMPARE(int(sheet.columnWidths.value(6)), 255);
    }

    void taskWithFewerOrMoreFields_fillsAsManyColumns()
    {
        ExportFixture fixture;
        fixture.setTree(QStringLiteral("Work;1_Root_1;^"));
        fixture.store().write(QStringLiteral("1_Root_1"),
                              QStringLiteral("OnlyMy_Separatora12HighMy_Separatora08"
                                             "AMy_Separatora12BMy_Separatora12CMy_Separatora12"
                                             "5/1/2024My_Separatora12EMy_Separatora12F"
                                             "My_Separatora12GMy_Separatora08"));
        const XlsxSheet sheet = exportSheet(fixture);
        QCOMPARE(sheet.rowTexts(1), QStringList({"Work", "Only", "High"}));
        QCOMPARE(sheet.rowTexts(2),
                 QStringList({"Work", "A", "B", "C", "5/1/2024", "E", "F", "G"}));
        QCOMPARE(sheet.rows[2][4].font.rgb, QStringLiteral("FFFF0000"));
    }

    void failures_reportedAndNoFileLeftBehind_data()
    {
        QTest::addColumn<QString>("tree");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QString>("message");
        QTest::newRow("entry without key") << "Work;1_Root_1;^Broken^"
                                           << ""
                                           << "has no key";
        QTest::newRow("text too long for a cell")
            << "Work;1_Root_1;^" << QString(40000, u'n') << "32767";
    }

    void failures_reportedAndNoFileLeftBehind()
    {
        QFETCH(QString, tree);
        QFETCH(QString, notes);
        QFETCH(QString, message);
        ExportFixture fixture;
        fixture.setTree(tree);
        fixture.setTasks(QStringLiteral("1_Root_1"), {ExportFixture::task("T", {}, notes)});
        try {
            TaskExport::toWorkbook(fixture.store());
            QFAIL("the export should have failed");
        } catch (const Failure& failure) {
            QVERIFY2(failure.description().contains(message), qPrintable(failure.description()));
        }
        const QString folder =
            fixture.tempPath() + QStringLiteral("/Kestrune-") + QString::number(::geteuid());
        QCOMPARE(filesIn(folder), QStringList());
    }

    void workbooks_newUniqueFilesInAPrivateFolder()
    {
        ExportFixture fixture;
        const QString first = TaskExport::toWorkbook(fixture.store());
        const QString second = TaskExport::toWorkbook(fixture.store());
        QVERIFY(first != second);
        QVERIFY(first.endsWith(QStringLiteral(".xlsx")));
        const QString folder = QFileInfo(first).absolutePath();
        QCOMPARE(QFileInfo(second).absolutePath(), folder);
        QCOMPARE(QFileInfo(folder).absolutePath(), QDir(fixture.tempPath()).absolutePath());
        struct stat info;
        QCOMPARE(::lstat(QFile::encodeName(folder).constData(), &info), 0);
        QVERIFY(S_ISDIR(info.st_mode));
        QCOMPARE(info.st_mode & 0777, mode_t(0700));
        QCOMPARE(readXlsx(first).rowTexts(0), kHeader);
    }

    void folderPlantedUnderTheUsualName_isNotUsed()
    {
        ExportFixture fixture;
        QTemporaryDir elsewhere;
        const QString usual =
            fixture.tempPath() + QStringLiteral("/Kestrune-") + QString::number(::geteuid());
        QVERIFY(QFile::link(elsewhere.path(), usual));

        const QString path = TaskExport::toWorkbook(fixture.store());
        QVERIFY(!path.startsWith(usual + u'/'));
        QVERIFY(path.startsWith(fixture.tempPath() + QStringLiteral("/Kestrune-")));
        QCOMPARE(filesIn(elsewhere.path()), QStringList());
        QCOMPARE(readXlsx(path).rowTexts(0), kHeader);
    }
};

KESTRUNE_TEST_MAIN(XlsxExportTest)
#include "test_xlsx_export.moc"
