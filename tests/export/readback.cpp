#include "readback.h"

#include <QFile>
#include <QXmlStreamReader>
#include <algorithm>
#include <poppler-qt6.h>
#include <stdexcept>
#include <zip.h>

namespace {

QByteArray zipEntry(zip_t* archive, const char* name, bool required)
{
    zip_stat_t stat;
    if (zip_stat(archive, name, 0, &stat) != 0) {
        if (required)
            throw std::runtime_error(std::string("missing entry ") + name);
        return {};
    }
    zip_file_t* file = zip_fopen(archive, name, 0);
    if (!file)
        throw std::runtime_error(std::string("cannot open entry ") + name);
    QByteArray data(qsizetype(stat.size), Qt::Uninitialized);
    const zip_int64_t got = zip_fread(file, data.data(), stat.size);
    zip_fclose(file);
    if (got != zip_int64_t(stat.size))
        throw std::runtime_error(std::string("short entry ") + name);
    return data;
}

// "AB12" -> column 27 (0-based), row 11 (0-based).
std::pair<int, int> cellPosition(QStringView ref)
{
    int column = 0;
    qsizetype i = 0;
    for (; i < ref.size() && ref[i].isLetter(); ++i)
        column = column * 26 + (ref[i].toUpper().unicode() - 'A' + 1);
    return {column - 1, ref.mid(i).toInt() - 1};
}

struct Styles
{
    QList<XlsxSheet::Font> fonts;
    QList<int> cellFonts; // cellXfs index -> font index
};

Styles readStyles(const QByteArray& xml)
{
    Styles styles;
    QXmlStreamReader in(xml);
    bool inFonts = false, inCellXfs = false;
    while (!in.atEnd()) {
        in.readNext();
        const auto name = in.name();
        if (in.isStartElement()) {
            if (name == u"fonts")
                inFonts = true;
            else if (name == u"cellXfs")
                inCellXfs = true;
            else if (inFonts && name == u"font")
                styles.fonts.append(XlsxSheet::Font{});
            else if (inFonts && name == u"b")
                styles.fonts.last().bold = in.attributes().value(QLatin1String("val")) != u"0";
            else if (inFonts && name == u"sz")
                styles.fonts.last().size = in.attributes().value(QLatin1String("val")).toDouble();
            else if (inFonts && name == u"color")
                styles.fonts.last().rgb = in.attributes().value(QLatin1String("rgb")).toString();
            else if (inCellXfs && name == u"xf")
                styles.cellFonts.append(in.attributes().value(QLatin1String("fontId")).toInt());
        } else if (in.isEndElement()) {
            if (name == u"fonts")
                inFonts = false;
            else if (name == u"cellXfs")
                inCellXfs = false;
        }
    }
    if (in.hasError())
        throw std::runtime_error("styles.xml: " + in.errorString().toStdString());
    return styles;
}

QStringList readSharedStrings(const QByteArray& xml)
{
    QStringList strings;
    QXmlStreamReader in(xml);
    while (!in.atEnd()) {
        in.readNext();
        if (in.isStartElement() && in.name() == u"si")
            strings.append(QString());
        else if (in.isStartElement() && in.name() == u"t")
            strings.last() += in.readElementText();
    }
    return strings;
}

} // namespace

QStringList XlsxSheet::rowTexts(int row) const
{
    QStringList texts;
    for (const Cell& cell : rows.value(row))
        texts.append(cell.text);
    return texts;
}

XlsxSheet readXlsx(const QString& path)
{
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        throw std::runtime_error("not a zip file: " + path.toStdString());
    QByteArray sheetXml, stylesXml, stringsXml;
    try {
        sheetXml = zipEntry(archive, "xl/worksheets/sheet1.xml", true);
        stylesXml = zipEntry(archive, "xl/styles.xml", true);
        stringsXml = zipEntry(archive, "xl/sharedStrings.xml", false);
    } catch (...) {
        zip_close(archive);
        throw;
    }
    zip_close(archive);

    const Styles styles = readStyles(stylesXml);
    const QStringList shared = readSharedStrings(stringsXml);
    XlsxSheet sheet;
    QXmlStreamReader in(sheetXml);
    XlsxSheet::Cell* cell = nullptr;
    while (!in.atEnd()) {
        in.readNext();
        if (!in.isStartElement())
            continue;
        const auto name = in.name();
        const auto attributes = in.attributes();
        if (name == u"pageSetUpPr") {
            sheet.fitToPage = attributes.value(QLatin1String("fitToPage")) == u"1";
        } else if (name == u"pageSetup") {
            if (attributes.hasAttribute(QLatin1String("fitToWidth")))
                sheet.fitToWidth = attributes.value(QLatin1String("fitToWidth")).toInt();
            if (attributes.hasAttribute(QLatin1String("fitToHeight")))
                sheet.fitToHeight = attributes.value(QLatin1String("fitToHeight")).toInt();
        } else if (name == u"col") {
            for (int c = attributes.value(QLatin1String("min")).toInt();
                 c <= attributes.value(QLatin1String("max")).toInt(); ++c)
                sheet.columnWidths[c - 1] = attributes.value(QLatin1String("width")).toDouble();
        } else if (name == u"c") {
            const auto [column, row] = cellPosition(attributes.value(QLatin1String("r")));
            while (sheet.rows.size() <= row)
                sheet.rows.append(QList<XlsxSheet::Cell>());
            auto& cells = sheet.rows[row];
            while (cells.size() <= column)
                cells.append(XlsxSheet::Cell{});
            cell = &cells[column];
            cell->type = attributes.value(QLatin1String("t")).toString();
            const int xf = attributes.value(QLatin1String("s")).toInt();
            cell->font = styles.fonts.value(styles.cellFonts.value(xf));
        } else if (cell && name == u"t") {
            cell->text += in.readElementText();
        } else if (cell && name == u"v") {
            const QString value = in.readElementText();
            cell->text = cell->type == u"s" ? shared.value(value.toInt()) : value;
        }
    }
    if (in.hasError())
        throw std::runtime_error("sheet1.xml: " + in.errorString().toStdString());
    return sheet;
}

QString PdfText::Line::text() const
{
    QStringList texts;
    for (const Word& word : words)
        texts.append(word.text);
    return texts.join(u' ');
}

QStringList PdfText::lineTexts() const
{
    QStringList texts;
    for (const Line& line : lines)
        texts.append(line.text());
    return texts;
}

PdfText readPdf(const QString& path)
{
    std::unique_ptr<Poppler::Document> document = Poppler::Document::load(path);
    if (!document || document->isLocked())
        throw std::runtime_error("not a readable PDF: " + path.toStdString());
    PdfText result;
    for (const Poppler::FontInfo& font : document->fonts())
        result.fontNames.append(font.name());
    for (int p = 0; p < document->numPages(); ++p) {
        std::unique_ptr<Poppler::Page> page = document->page(p);
        result.pageSizes.append(page->pageSizeF());
        QList<PdfText::Word> words;
        for (const auto& box : page->textList())
            words.append({box->text(), box->boundingBox()});
        // Words whose vertical middles lie within half a word's height share a line.
        std::sort(words.begin(), words.end(), [](const auto& a, const auto& b) {
            return a.box.center().y() < b.box.center().y();
        });
        QList<PdfText::Line> lines;
        for (const auto& word : words) {
            if (lines.isEmpty() || std::abs(lines.last().words.first().box.center().y() -
                                            word.box.center().y()) > word.box.height() / 2)
                lines.append(PdfText::Line{p, {}});
            lines.last().words.append(word);
        }
        for (auto& line : lines)
            std::sort(line.words.begin(), line.words.end(),
                      [](const auto& a, const auto& b) { return a.box.left() < b.box.left(); });
        result.lines += lines;
    }
    return result;
}

QImage renderPdfPage(const QString& path, int page, double dpi)
{
    std::unique_ptr<Poppler::Document> document = Poppler::Document::load(path);
    if (!document)
        return {};
    document->setRenderHint(Poppler::Document::Antialiasing, false);
    document->setRenderHint(Poppler::Document::TextAntialiasing, false);
    std::unique_ptr<Poppler::Page> p = document->page(page);
    return p ? p->renderToImage(dpi, dpi) : QImage();
}
