#include "pdf_table.h"

#include "failure.h"

#include <QFontMetricsF>
#include <QHash>
#include <QLocale>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cstdint>
#include <langinfo.h>

namespace PdfTable {

namespace {

using namespace ExportLayout;

constexpr double kMinScale = 0.10;
const QColor kOverdue(255, 0, 0);
const QColor kGrid(160, 160, 160);
const QColor kHeaderFill(235, 235, 235);

// Everything in device units of the PDF writer at scale 1.
struct Layout
{
    std::vector<double> columnWidths;
    std::vector<double> rowHeights; // [0] is the header
    double padX = 0;
    double padY = 0;
    double maxColumnWidth = 0;
    double scale = 1;
};

struct Fonts
{
    QFont body;
    QFont bold;
    QFontMetricsF bodyMetrics;
    QFontMetricsF boldMetrics;

    explicit Fonts(QPaintDevice* device)
        : body(QStringLiteral("Sans Serif")), bodyMetrics(QFont(), device),
          boldMetrics(QFont(), device)
    {
        body.setStyleHint(QFont::SansSerif);
        // Ligatures would turn "fi" into one glyph that text search and copying in a PDF
        // reader no longer find; scripts that need shaping still get it.
        body.setStyleStrategy(QFont::PreferNoShaping);
        body.setPointSizeF(kFontSize);
        bold = body;
        bold.setBold(true);
        bodyMetrics = QFontMetricsF(body, device);
        boldMetrics = QFontMetricsF(bold, device);
    }
};

bool isMultiLine(const QString& text)
{
    return text.contains(u'\n');
}

// The text as it is drawn: line ends as Qt lays them out, no stray carriage returns.
QString drawable(const QString& text)
{
    if (!text.contains(u'\r'))
        return text;
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(u'\r', u'\n');
    return out;
}

double widestLine(const QFontMetricsF& metrics, const QString& text)
{
    if (!isMultiLine(text))
        return metrics.horizontalAdvance(text);
    double widest = 0;
    for (QStringView line : QStringView(text).split(u'\n'))
        widest = std::max(widest, metrics.horizontalAdvance(line.toString()));
    return widest;
}

double textHeight(const QFontMetricsF& metrics, const QString& text, double width)
{
    if (!isMultiLine(text) && metrics.horizontalAdvance(text) <= width)
        return metrics.height();
    return metrics.boundingRect(QRectF(0, 0, width, 1e9), Qt::AlignLeft | Qt::TextWordWrap, text)
        .height();
}

Layout measure(const ExportTable& table, const Fonts& fonts, const QSizeF& page, double point)
{
    Layout layout;
    layout.padX = 4 * point;
    layout.padY = 1.5 * point;
    layout.maxColumnWidth =
        kMaxColumnDigits * fonts.bodyMetrics.horizontalAdvance(u'0') + 2 * layout.padX;

    const int columns = table.columnCount();
    layout.columnWidths.assign(size_t(columns), 0);
    for (qsizetype c = 0; c < table.header.size(); ++c)
        layout.columnWidths[size_t(c)] = widestLine(fonts.boldMetrics, table.header[c]);
    // Categories, priorities, types and dates repeat from row to row: each distinct text is
    // laid out once.
    QHash<QString, double> measured;
    for (const ExportTable::Row& row : table.rows)
        for (qsizetype c = 0; c < row.cells.size(); ++c) {
            const QString& text = row.cells[c];
            auto known = measured.constFind(text);
            if (known == measured.constEnd())
                known = measured.insert(text, widestLine(fonts.bodyMetrics, drawable(text)));
            double& width = layout.columnWidths[size_t(c)];
            width = std::max(width, *known);
        }
    for (double& width : layout.columnWidths)
        width = std::min(width + 2 * layout.padX, layout.maxColumnWidth);

    auto rowHeight = [&](const QStringList& cells, const QFontMetricsF& metrics) {
        double height = metrics.height();
        for (qsizetype c = 0; c < cells.size(); ++c) {
            const QString text = drawable(cells[c]);
            const double inner = layout.columnWidths[size_t(c)] - 2 * layout.padX;
            if (isMultiLine(text) || layout.columnWidths[size_t(c)] >= layout.maxColumnWidth)
                height = std::max(height, textHeight(metrics, text, inner));
        }
        return height + 2 * layout.padY;
    };
    layout.rowHeights.reserve(table.rows.size() + 1);
    layout.rowHeights.push_back(rowHeight(table.header, fonts.boldMetrics));
    for (const ExportTable::Row& row : table.rows)
        layout.rowHeights.push_back(rowHeight(row.cells, fonts.bodyMetrics));

    double totalWidth = 0;
    for (double width : layout.columnWidths)
        totalWidth += width;
    double totalHeight = 0;
    double tallestRow = 0;
    for (size_t r = 0; r < layout.rowHeights.size(); ++r) {
        totalHeight += layout.rowHeights[r];
        if (r > 0)
            tallestRow = std::max(tallestRow, layout.rowHeights[r]);
    }
    const double widestColumn =
        layout.columnWidths.empty()
            ? 0
            : *std::max_element(layout.columnWidths.begin(), layout.columnWidths.end());

    // Fitting only ever shrinks, and stops at 10 % like a spreadsheet's print scaling. A single
    // column or row too big for a page even then is shrunk further rather than cut.
    double scale = std::min({1.0, page.width() / totalWidth, page.height() / totalHeight});
    scale = std::max(scale, kMinScale);
    scale = std::min(scale, page.width() / widestColumn);
    scale = std::min(scale, page.height() / (layout.rowHeights[0] + tallestRow));
    layout.scale = scale;
    return layout;
}

// Consecutive runs of items whose sizes add up to no more than `room`.
template <class Sizes>
std::vector<std::pair<size_t, size_t>> bands(const Sizes& sizes, size_t first, double room)
{
    std::vector<std::pair<size_t, size_t>> result;
    size_t begin = first;
    double used = 0;
    for (size_t i = first; i < sizes.size(); ++i) {
        // A small tolerance keeps rounding from pushing the last row onto a page of its own.
        if (i > begin && used + sizes[i] > room * (1 + 1e-9)) {
            result.emplace_back(begin, i);
            begin = i;
            used = 0;
        }
        used += sizes[i];
    }
    if (begin < sizes.size() || result.empty())
        result.emplace_back(begin, sizes.size());
    return result;
}

void drawCell(QPainter& painter, const Layout& layout, const QRectF& cell, const QString& cellText,
              const QFontMetricsF& metrics)
{
    if (cellText.isEmpty())
        return;
    const QString text = drawable(cellText);
    const QRectF inner = cell.adjusted(layout.padX, layout.padY, -layout.padX, -layout.padY);
    // A column below the cap was sized to its widest line, so a single line always fits it.
    const bool fits =
        cell.width() < layout.maxColumnWidth || metrics.horizontalAdvance(text) <= inner.width();
    if (!isMultiLine(text) && fits)
        painter.drawText(QPointF(inner.left(), inner.top() + metrics.ascent()), text);
    else
        painter.drawText(inner, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
}

} // namespace

void write(const ExportTable& table, QIODevice& out, const QPageSize& pageSize,
           const ExportProgress& progress)
{
    QPdfWriter writer(&out);
    writer.setCreator(QStringLiteral("Kestrune"));
    writer.setTitle(QStringLiteral("Tasks"));
    // A spreadsheet's default print margins: 0.7 inch at the sides, 0.75 inch top and bottom.
    writer.setPageLayout(QPageLayout(pageSize, QPageLayout::Portrait, QMarginsF(50.4, 54, 50.4, 54),
                                     QPageLayout::Point));

    QPainter painter;
    if (!painter.begin(&writer))
        throw Failure(QStringLiteral("The PDF file could not be started."));

    const Fonts fonts(&writer);
    // The painter's origin is the top left corner inside the margins.
    const QRectF page = writer.pageLayout().paintRectPixels(writer.resolution());
    const Layout layout = measure(table, fonts, page.size(), writer.resolution() / 72.0);

    std::vector<double> dataHeights(layout.rowHeights.begin(), layout.rowHeights.end());
    const double headerHeight = layout.rowHeights[0];
    const auto columnBands = bands(layout.columnWidths, 0, page.width() / layout.scale);
    const auto rowBands = bands(dataHeights, 1, page.height() / layout.scale - headerHeight);

    QPen gridPen(kGrid);
    gridPen.setCosmetic(true);
    gridPen.setWidthF(0.5 * writer.resolution() / 72.0);
    const QPen textPen(Qt::black);
    const QPen overduePen(kOverdue);

    const qsizetype total = qsizetype(table.rows.size() * columnBands.size());
    qsizetype drawn = 0;
    bool firstPage = true;
    for (const auto& [firstColumn, endColumn] : columnBands) {
        for (const auto& [firstRow, endRow] : rowBands) {
            if (!firstPage && !writer.newPage())
                throw Failure(QStringLiteral("A new page could not be added to the PDF file."));
            firstPage = false;

            painter.save();
            painter.scale(layout.scale, layout.scale);

            double bandWidth = 0;
            for (size_t c = firstColumn; c < endColumn; ++c)
                bandWidth += layout.columnWidths[c];
            double bandHeight = headerHeight;
            for (size_t r = firstRow; r < endRow; ++r)
                bandHeight += dataHeights[r];

            painter.fillRect(QRectF(0, 0, bandWidth, headerHeight), kHeaderFill);

            // The header, then the rows of this band.
            double y = 0;
            for (size_t r = firstRow - 1; r < endRow; ++r) {
                const bool header = r + 1 == firstRow;
                const QStringList& cells = header ? table.header : table.rows[r - 1].cells;
                const QFontMetricsF& metrics = header ? fonts.boldMetrics : fonts.bodyMetrics;
                painter.setFont(header ? fonts.bold : fonts.body);
                const double height = header ? headerHeight : dataHeights[r];
                double x = 0;
                for (size_t c = firstColumn; c < endColumn; ++c) {
                    if (c < size_t(cells.size())) {
                        const bool overdue =
                            !header && c == size_t(ExportTable::kDueDateColumn) &&
                            table.rows[r - 1].dueColour == DueDates::Colour::Overdue;
                        painter.setPen(overdue ? overduePen : textPen);
                        drawCell(painter, layout, QRectF(x, y, layout.columnWidths[c], height),
                                 cells[qsizetype(c)], metrics);
                    }
                    x += layout.columnWidths[c];
                }
                painter.setPen(gridPen);
                painter.drawLine(QLineF(0, y, bandWidth, y));
                y += height;
                if (!header && progress && ++drawn % kProgressStep == 0)
                    progress(std::min(drawn, total), total);
            }
            painter.setPen(gridPen);
            painter.drawLine(QLineF(0, bandHeight, bandWidth, bandHeight));
            double x = 0;
            for (size_t c = firstColumn; c <= endColumn; ++c) {
                painter.drawLine(QLineF(x, 0, x, bandHeight));
                if (c < endColumn)
                    x += layout.columnWidths[c];
            }
            painter.restore();
        }
    }
    if (!painter.end())
        throw Failure(QStringLiteral("The PDF file could not be finished."));
    if (progress)
        progress(total, total);
}

QPageSize localePageSize()
{
#ifdef _NL_PAPER_HEIGHT
    // glibc knows the paper of the user's LC_PAPER; Letter is 279 mm tall.
    const auto height = int(reinterpret_cast<std::intptr_t>(nl_langinfo(_NL_PAPER_HEIGHT)));
    if (height > 0)
        return QPageSize(height == 279 ? QPageSize::Letter : QPageSize::A4);
#endif
    switch (QLocale::system().territory()) {
    case QLocale::UnitedStates:
    case QLocale::Canada:
    case QLocale::Mexico:
    case QLocale::Chile:
    case QLocale::Colombia:
    case QLocale::Philippines:
    case QLocale::Venezuela:
    case QLocale::PuertoRico:
        return QPageSize(QPageSize::Letter);
    default:
        return QPageSize(QPageSize::A4);
    }
}

} // namespace PdfTable
