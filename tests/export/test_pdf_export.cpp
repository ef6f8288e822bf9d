#include "export_files.h"
#include "export_fixture.h"
#include "failure.h"
#include "readback.h"
#include "task_export.h"
#include "test_main.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

namespace {

const QString kHeaderLine = QStringLiteral("Categories Task Priority Type Due Date Notes Done");

QString exportPdf(ExportFixture& fixture, const QPageSize& size = QPageSize(QPageSize::A4),
                  const ExportProgress& progress = {})
{
    return TaskExport::toPdf(fixture.store(), size, progress);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

int redPixels(const QImage& image, const QRectF& points, double dpi)
{
    const QRect area = QRectF(points.topLeft() * dpi / 72, points.size() * dpi / 72)
                           .toAlignedRect()
                           .intersected(image.rect());
    int red = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c.red() > 200 && c.green() < 90 && c.blue() < 90;
        }
    return red;
}

const PdfText::Word* findWord(const PdfText& text, const QString& word)
{
    for (const auto& line : text.lines)
        for (const auto& w : line.words)
            if (w.text == word)
                return &w;
    return nullptr;
}

QStringList leftovers(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("ExportTasks*")}, QDir::Files | QDir::System);
}

} // namespace

class PdfExportTest : public QObject
{
    Q_OBJECT

private slots:
    void rows_oneLinePerTaskInStoredOrder_onOnePage()
    {
        ExportFixture fixture;
        fixture.setTree(QStringLiteral("Work;1_Root_1;^Reports;2_Sublist_2;1_Root_1^"));
        fixture.setTasks(QStringLiteral("1_Root_1"),
                         {ExportFixture::task("Deliver Parts"),
                          ExportFixture::task("Call Nessaly", {}, {}, "High", "Done")});
        fixture.setTasks(QStringLiteral("2_Sublist_2"),
                         {ExportFixture::task("Collaborate with Dorrin", "5/20/2024", "Bring")});
        fixture.setTasks(QStringLiteral("1_Root_1Del"), {ExportFixture::task("Deleted one")});

        const QString path = exportPdf(fixture);
        QCOMPARE(path, QDir::tempPath() + QStringLiteral("/ExportTasks.pdf"));
        const PdfText text = readPdf(path);
        QCOMPARE(text.pageSizes.size(), 1);
        QCOMPARE(text.lineTexts(),
                 QStringList({kHeaderLine, "Work Deliver Parts Medium General",
                              "Work Call Nessaly High General Done",
                              "Reports Collaborate with Dorrin Medium General 5/20/2024 Bring"}));
    }

    void header_bold_body_regular_atFullSize()
    {
        ExportFixture fixture;
        fixture.setTree(QStringLiteral("Work;1_Root_1;^"));
        fixture.setTasks(QStringLiteral("1_Root_1"), {ExportFixture::task("Deliver Parts")});
        const PdfText text = readPdf(exportPdf(fixture));
        QVERIFY2(std::any_of(text.fontNames.begin(), text.fontNames.end(),
                             [](const QString& n) { return n.contains(u"Bold"); }),
                 qPrintable(text.fontNames.join(u',')));
        QVERIFY(std::any_of(text.fontNames.begin(), text.fontNames.end(),
                            [](const QString& n) { return !n.contains(u"Bold"); }));
        // A table this small is not scaled: size 11 text is about 11 points high.
        const auto* word = findWord(text, QStringLiteral("Deliver"));
        QVERIFY(word);
        QVERIFY2(word->box.height() > 9 && word->box.height() < 16,
                 qPrintable(QString::number(word->box.height())));
    }

    void dueDates_overdueRed_othersNot()
    {
        ExportFixture fixture;
        fixture.setTree(QStringLiteral("Work;1_Root_1;^"));
        fixture.setTasks(QStringLiteral("1_Root_1"),
                         {ExportFixture::task("Late", "5/14/2024", "5/13/2024"),
                          ExportFixture::task("Due", "5/15/2024"),
                          ExportFixture::task("Soon", "5/16/2024"),
                          ExportFixture::task("Vague", "someday")});
        const QString path = exportPdf(fixture);
        const PdfText text = readPdf(path);
        constexpr double dpi = 144;
        const QImage page = renderPdfPage(path, 0, dpi);
        QVERIFY(!page.isNull());

        auto red = [&](const QString& word) {
            const auto* w = findWord(text, word);
            return w ? redPixels(page, w->box, dpi) : -1;
        };
        QVERIFY2(red("5/14/2024") > 20, "an overdue date is red");
        QCOMPARE(red("5/13/2024"), 0); // the same kind of text in the notes is not
        QCOMPARE(red("5/15/2024"), 0);
        QCOMPARE(red("5/16/2024"), 0);
        QCOMPARE(red("someday"), 0);
        QCOMPARE(red("Late"), 0);
    }

    void pageSize_asGiven_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QSizeF>("points");
        QTest::newRow("A4") << int(QPageSize::A4) << QSizeF(595.3, 841.9);
        QTest::newRow("Letter") << int(QPageSize::Letter) << QSizeF(612, 792);
    }

    void pageSize_asGiven()
    {
        QFETCH(int, id);
        QFETCH(QSizeF, points);
        ExportFixture fixture;
        const PdfText text = readPdf(exportPdf(fixture, QPageSize(QPageSize::PageSizeId(id))));
        QCOMPARE(text.pageSizes.size(), 1);
        QVERIFY(qAbs(text.pageSizes[0].width() - points.width()) < 1);
        QVERIFY(qAbs(text.pageSizes[0].height() - points.height()) < 1);
        QCOMPARE(text.lineTexts(), QStringList({kHeaderLine}));
    }

    void longTextsAndLineBreaks_neverClipped()
    {
        ExportFixture fixture;
        fixture.setTree(QStringLiteral("Work;1_Root_1;^"));
        QStringList longWords;
        for (int i = 0; i < 120; ++i)
            longWords.append(QStringLiteral("word%1").arg(i));
        fixture.setTasks(QStringLiteral("1_Root_1"),
                         {ExportFixture::task("Lines", {}, "first\r\nsecond line\nthird", "Low"),
                          ExportFixture::task("Long", "5/1/2024", longWords.join(u' '), "High")});
        const PdfText text = readPdf(exportPdf(fixture));

        QStringList words;
        for (const auto& line : text.lines) {
            for (qsizetype i = 0; i < line.words.size(); ++i) {
                words.append(line.words[i].text);
                const QRectF& box = line.words[i].box;
                QVERIFY(box.left() >= 0 && box.right() <= text.pageSizes[line.page].width());
                QVERIFY(box.top() >= 0 && box.bottom() <= text.pageSizes[line.page].height());
                if (i > 0)
                    QVERIFY2(line.words[i - 1].box.right() <= box.left() + 0.5,
                             qPrintable(line.words[i - 1].text + u'/' + line.words[i].text));
            }
        }
        for (const QString& w : longWords + QStringList({"first", "second", "third"}))
            QVERIFY2(words.contains(w), qPrintable(w + u' ' + text.lineTexts().join(u'|')));
        QCOMPARE(text.pageSizes.size(), 1);
    }

    void manyRows_shrinkToOnePage_butNotBelowTenPercent()
    {
        ExportFixture fixture;
        fixture.setTree(QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^"));
        auto tasks = [](const QString& prefix, int count) {
            QList<QStringList> list;
            for (int i = 0; i < count; ++i)
                list.append(ExportFixture::task(prefix + QString::number(i)));
            return list;
        };
        // About 16 points a row: 300 rows fit one page at about 15 %.
        fixture.setTasks(QStringLiteral("1_Root_1"), tasks(QStringLiteral("W"), 300));
        PdfText text = readPdf(exportPdf(fixture));
        QCOMPARE(text.pageSizes.size(), 1);
        QCOMPARE(text.lines.size(), 301);
        const double fittedHeight = findWord(text, QStringLiteral("W299"))->box.height();
        QVERIFY2(fittedHeight < 3 && fittedHeight > 1.1, qPrintable(QString::number(fittedHeight)));

        // 3000 rows would need 1.5 %: they stay at 10 % and run over several pages, each with
        // the header, every row once and in order.
        fixture.setTasks(QStringLiteral("1_Root_2"), tasks(QStringLiteral("H"), 2700));
        text = readPdf(exportPdf(fixture));
        QVERIFY2(text.pageSizes.size() >= 5 && text.pageSizes.size() <= 8,
                 qPrintable(QString::number(text.pageSizes.size())));
        QStringList expected;
        int page = -1;
        for (const auto& line : text.lines)
            if (line.page != page) {
                page = line.page;
                QCOMPARE(line.text(), kHeaderLine);
            }
        QStringList rows;
        for (const auto& line : text.lines)
            if (line.text() != kHeaderLine)
                rows.append(line.words.value(1).text);
        for (int i = 0; i < 300; ++i)
            expected.append(QStringLiteral("W%1").arg(i));
        for (int i = 0; i < 2700; ++i)
            expected.append(QStringLiteral("H%1").arg(i));
        QCOMPARE(rows, expected);
        const double minimumHeight = findWord(text, QStringLiteral("H2699"))->box.height();
        QVERIFY2(minimumHeight > 0.9 && minimumHeight < fittedHeight,
                 qPrintable(QString::number(minimumHeight)));
    }

    void olderPdf_deletedBeforeTheNewOneIsWritten()
    {
        ExportFixture fixture;
        const QString path = ExportFiles::pdfPath();
        QVERIFY(writeFile(path, "older export"));
        QFile::setPermissions(path, QFile::ReadOwner);
        bool seenWhileWriting = true;
        exportPdf(fixture, QPageSize(QPageSize::A4),
                  [&](qsizetype, qsizetype) { seenWhileWriting = QFileInfo::exists(path); });
        QVERIFY(!seenWhileWriting);
        QVERIFY(contents(path).startsWith("%PDF"));
        QCOMPARE(leftovers(fixture.tempPath()), QStringList({"ExportTasks.pdf"}));
    }

    void plantedLink_replacedNotFollowed()
    {
        ExportFixture fixture;
        QTemporaryDir elsewhere;
        const QString victim = elsewhere.filePath(QStringLiteral("victim"));
        QVERIFY(writeFile(victim, "keep me"));
        const QString path = ExportFiles::pdfPath();
        QVERIFY(QFile::link(victim, path));

        exportPdf(fixture);
        QCOMPARE(contents(victim), QByteArray("keep me"));
        QVERIFY(!QFileInfo(path).isSymLink());
        QVERIFY(contents(path).startsWith("%PDF"));

        // When the older file cannot be deleted, the rename still replaces the link itself.
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::link(victim, path));
        const QString fresh = QDir::tempPath() + QStringLiteral("/fresh.pdf");
        QVERIFY(writeFile(fresh, "%PDF-new"));
        ExportFiles::moveInPlace(fresh, path);
        QCOMPARE(contents(victim), QByteArray("keep me"));
        QVERIFY(!QFileInfo(path).isSymLink());
        QCOMPARE(contents(path), QByteArray("%PDF-new"));
    }

    void deleteQuietly_missingFileOrFolderIsNoFailure()
    {
        ExportFixture fixture;
        ExportFiles::deleteQuietly(fixture.tempPath() + QStringLiteral("/missing.pdf"));
        QVERIFY(QDir(fixture.tempPath()).mkdir(QStringLiteral("ExportTasks.pdf")));
        ExportFiles::deleteQuietly(ExportFiles::pdfPath());
        QVERIFY(QFileInfo(ExportFiles::pdfPath()).isDir());
        // A folder in the way is no file to replace: a clear failure, no stray file.
        try {
            exportPdf(fixture);
            QFAIL("a folder named ExportTasks.pdf cannot be replaced");
        } catch (const Failure& failure) {
            QVERIFY2(failure.description().contains(u"ExportTasks.pdf"),
                     qPrintable(failure.description()));
        }
        QCOMPARE(leftovers(fixture.tempPath()), QStringList());
    }

    void badStoredTree_failsAndKeepsTheOlderPdf()
    {
        ExportFixture fixture;
        fixture.setTree(QStringLiteral("Work;1_Root_1;^Broken^"));
        QVERIFY(writeFile(ExportFiles::pdfPath(), "older export"));
        QVERIFY_THROWS_EXCEPTION(Failure, exportPdf(fixture));
        QCOMPARE(contents(ExportFiles::pdfPath()), QByteArray("older export"));
        QCOMPARE(leftovers(fixture.tempPath()), QStringList({"ExportTasks.pdf"}));
    }
};

KESTRUNE_TEST_MAIN(PdfExportTest)
#include "test_pdf_export.moc"
