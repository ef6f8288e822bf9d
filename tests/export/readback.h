#pragma once

#include <QHash>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QStringList>
#include <memory>

namespace Poppler {
class Document;
}

// What a spreadsheet program would see in the first sheet of an xlsx file.
struct XlsxSheet
{
    struct Font
    {
        bool bold = false;
        double size = 0;
        QString rgb; // "FFFF0000"; empty for the automatic or theme colour
    };
    struct Cell
    {
        QString text;
        QString type; // the cell's t attribute: "inlineStr", "s", "str", "n", ...
        Font font;
    };

    QList<QList<Cell>> rows;         // from row 1; a missing cell is an empty Cell
    QHash<int, double> columnWidths; // by 0-based column
    bool fitToPage = false;
    int fitToWidth = 1; // the format's defaults when the attributes are absent
    int fitToHeight = 1;

    QStringList rowTexts(int row) const;
};

// Throws std::runtime_error when the file is not a readable workbook.
XlsxSheet readXlsx(const QString& path);

// The text of a PDF as lines: words on one baseline, left to right, joined by one blank.
struct PdfText
{
    struct Word
    {
        QString text;
        QRectF box; // points, origin top left
    };
    struct Line
    {
        int page = 0;
        QList<Word> words;
        QString text() const;
    };
    QList<Line> lines;
    QList<QSizeF> pageSizes; // points
    QStringList fontNames;

    QStringList lineTexts() const;
};

PdfText readPdf(const QString& path);
// Page `page` rendered at `dpi`.
QImage renderPdfPage(const QString& path, int page, double dpi);
