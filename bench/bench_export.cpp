// Both export routes for the largest store worth planning for: 32767 tasks over 20 categories,
// each beside its floor: the writer library alone putting the same cells (libxlsxwriter) or the
// same strings at the same places (QPdfWriter) into a file, run by turns with the export in the
// same process. Peak memory is measured in a child process per route, so one route's peak does
// not hide the other's.
#include "bench_medians.h"
#include "busy_store.h"
#include "category_tree_codec.h"
#include "due_dates.h"
#include "pdf_table.h"
#include "peak_memory.h"
#include "settings_store.h"
#include "task_export.h"
#include "task_list_codec.h"
#include "xlsx_workbook.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <xlsxwriter.h>

extern char** environ;

namespace {

using BusyStore::kTasks;
constexpr int kRounds = 5;

const char* g_program = nullptr;

struct BenchStore
{
    QTemporaryDir dir;
    std::unique_ptr<SettingsStore> store;

    BenchStore()
    {
        qputenv("TMPDIR", QFile::encodeName(dir.path()));
        store = std::make_unique<SettingsStore>(dir.path() + QStringLiteral("/store.db"));
        BusyStore::fill(*store, false);
    }
};

QString runRoute(const std::string& route, const SettingsStore& store)
{
    if (route == "xlsx")
        return TaskExport::toWorkbook(store);
    if (route == "pdf")
        return TaskExport::toPdf(store, QPageSize(QPageSize::A4));
    return {};
}

// Runs the route once in a child that first fills its own store.
PeakMemory::Peaks childPeaks(const std::string& route)
{
    return PeakMemory::ofChild(g_program, {QString::fromStdString("--peak=" + route)});
}

// The workbook as a bare libxlsxwriter program writes it: the cells' bytes, widths and formats
// are ready before the clock starts.
class XlsxFloor
{
public:
    explicit XlsxFloor(const ExportTable& table)
    {
        const int columns = table.columnCount();
        std::vector<QStringList> texts(static_cast<size_t>(columns));
        for (qsizetype c = 0; c < table.header.size(); ++c)
            m_header.push_back(table.header[c].toStdString());
        for (const ExportTable::Row& row : table.rows) {
            std::vector<std::string> cells;
            for (qsizetype c = 0; c < row.cells.size(); ++c) {
                cells.push_back(row.cells[c].toStdString());
                texts[size_t(c)].append(row.cells[c]);
            }
            m_rows.push_back(std::move(cells));
            m_overdue.push_back(row.dueColour == DueDates::Colour::Overdue);
        }
        for (int c = 0; c < columns; ++c)
            m_widths.push_back(std::max(XlsxWorkbook::fittedWidth({table.header.value(c)}, true),
                                        XlsxWorkbook::fittedWidth(texts[size_t(c)], false)));
    }

    void write(const QString& path) const
    {
        const QByteArray file = QFile::encodeName(path);
        QByteArray tmpdir = QFile::encodeName(QFileInfo(path).absolutePath());
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = tmpdir.data();
        options.use_zip64 = LXW_TRUE;
        lxw_workbook* workbook = workbook_new_opt(file.constData(), &options);
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
        lxw_format* bold = workbook_add_format(workbook);
        format_set_bold(bold);
        format_set_font_size(bold, 11);
        lxw_format* plain = workbook_add_format(workbook);
        format_set_font_size(plain, 11);
        lxw_format* red = workbook_add_format(workbook);
        format_set_font_size(red, 11);
        format_set_font_color(red, 0xFF0000);
        for (size_t c = 0; c < m_widths.size(); ++c)
            worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c), m_widths[c], nullptr);
        for (size_t c = 0; c < m_header.size(); ++c)
            worksheet_write_string(sheet, 0, lxw_col_t(c), m_header[c].c_str(), bold);
        for (size_t r = 0; r < m_rows.size(); ++r)
            for (size_t c = 0; c < m_rows[r].size(); ++c)
                worksheet_write_string(
                    sheet, lxw_row_t(r + 1), lxw_col_t(c), m_rows[r][c].c_str(),
                    c == size_t(ExportTable::kDueDateColumn) && m_overdue[r] ? red : plain);
        worksheet_fit_to_pages(sheet, 1, 1);
        if (workbook_close(workbook) != LXW_NO_ERROR)
            std::abort();
    }

private:
    std::vector<std::string> m_header;
    std::vector<std::vector<std::string>> m_rows;
    std::vector<bool> m_overdue;
    std::vector<double> m_widths;
};

// The same pages as a bare QPdfWriter program draws them: every string at its place, the
// header's fill and the grid, with the places worked out before the clock starts. The store's
// texts are all one line and no column reaches the width cap, so the places are simply a grid.
class PdfFloor
{
public:
    explicit PdfFloor(const ExportTable& table) : m_table(table)
    {
        QBuffer scratch;
        scratch.open(QIODevice::WriteOnly);
        QPdfWriter writer(&scratch);
        setUp(writer);
        const QFont body = font(false);
        const QFont bold = font(true);
        const QFontMetricsF bodyMetrics(body, &writer);
        const QFontMetricsF boldMetrics(bold, &writer);
        const double point = writer.resolution() / 72.0;
        m_pad = {4 * point, 1.5 * point};
        m_columns.assign(size_t(table.columnCount()), 0);
        for (qsizetype c = 0; c < table.header.size(); ++c)
            m_columns[size_t(c)] = boldMetrics.horizontalAdvance(table.header[c]);
        for (const ExportTable::Row& row : table.rows)
            for (qsizetype c = 0; c < row.cells.size(); ++c)
                m_columns[size_t(c)] =
                    std::max(m_columns[size_t(c)], bodyMetrics.horizontalAdvance(row.cells[c]));
        double width = 0;
        for (double& column : m_columns)
            width += column += 2 * m_pad.x();
        m_headerHeight = boldMetrics.height() + 2 * m_pad.y();
        m_rowHeight = bodyMetrics.height() + 2 * m_pad.y();
        m_ascent[0] = boldMetrics.ascent();
        m_ascent[1] = bodyMetrics.ascent();
        const QRectF page = writer.pageLayout().paintRectPixels(writer.resolution());
        const double height = m_headerHeight + m_rowHeight * double(table.rows.size());
        m_scale = std::max(0.10, std::min({1.0, page.width() / width, page.height() / height}));
        m_width = width;
        m_rowsPerPage = std::max(
            qsizetype(1), qsizetype((page.height() / m_scale - m_headerHeight) / m_rowHeight));
        if (width * m_scale > page.width() * (1 + 1e-9))
            std::abort(); // the floor draws one band of columns only
    }

    void write(QIODevice& out) const
    {
        QPdfWriter writer(&out);
        setUp(writer);
        QPainter painter(&writer);
        const QFont fonts[2] = {font(true), font(false)};
        QPen grid(QColor(160, 160, 160));
        grid.setCosmetic(true);
        grid.setWidthF(0.5 * writer.resolution() / 72.0);
        const QPen text(Qt::black);
        const QPen red(QColor(255, 0, 0));
        const qsizetype total = qsizetype(m_table.rows.size());
        for (qsizetype first = 0; first < total; first += m_rowsPerPage) {
            if (first > 0)
                writer.newPage();
            const qsizetype end = std::min(total, first + m_rowsPerPage);
            const double bandHeight = m_headerHeight + m_rowHeight * double(end - first);
            painter.save();
            painter.scale(m_scale, m_scale);
            painter.fillRect(QRectF(0, 0, m_width, m_headerHeight), QColor(235, 235, 235));
            double y = 0;
            for (qsizetype r = first - 1; r < end; ++r) {
                const bool header = r < first;
                const QStringList& cells = header ? m_table.header : m_table.rows[size_t(r)].cells;
                painter.setFont(fonts[header ? 0 : 1]);
                double x = 0;
                for (qsizetype c = 0; c < cells.size(); ++c) {
                    const bool overdue =
                        !header && c == ExportTable::kDueDateColumn &&
                        m_table.rows[size_t(r)].dueColour == DueDates::Colour::Overdue;
                    painter.setPen(overdue ? red : text);
                    if (!cells[c].isEmpty())
                        painter.drawText(
                            QPointF(x + m_pad.x(), y + m_pad.y() + m_ascent[header ? 0 : 1]),
                            cells[c]);
                    x += m_columns[size_t(c)];
                }
                painter.setPen(grid);
                painter.drawLine(QLineF(0, y, m_width, y));
                y += header ? m_headerHeight : m_rowHeight;
            }
            painter.drawLine(QLineF(0, bandHeight, m_width, bandHeight));
            double x = 0;
            for (size_t c = 0; c <= m_columns.size(); ++c) {
                painter.drawLine(QLineF(x, 0, x, bandHeight));
                if (c < m_columns.size())
                    x += m_columns[c];
            }
            painter.restore();
        }
    }

private:
    static void setUp(QPdfWriter& writer)
    {
        writer.setCreator(QStringLiteral("Kestrune"));
        writer.setTitle(QStringLiteral("Tasks"));
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(50.4, 54, 50.4, 54), QPageLayout::Point));
    }

    static QFont font(bool bold)
    {
        QFont font(QStringLiteral("Sans Serif"));
        font.setStyleHint(QFont::SansSerif);
        font.setStyleStrategy(QFont::PreferNoShaping);
        font.setPointSizeF(11);
        font.setBold(bold);
        return font;
    }

    const ExportTable& m_table;
    std::vector<double> m_columns;
    QPointF m_pad;
    double m_headerHeight = 0;
    double m_rowHeight = 0;
    double m_ascent[2] = {0, 0};
    double m_scale = 1;
    double m_width = 0;
    qsizetype m_rowsPerPage = 1;
};

// Export and floor by turns, kRounds times; the reported time is the export's median.
void exportRoute(benchmark::State& state, const std::string& route)
{
    BenchStore bench;
    const ExportTable table = ExportTable::fromStore(*bench.store);
    const XlsxFloor xlsxFloor(table);
    const PdfFloor pdfFloor(table);
    const QString floorFile = bench.dir.filePath(QStringLiteral("floor"));
    std::vector<double> ours;
    std::vector<double> floors;
    qsizetype bytes = 0;
    qsizetype floorBytes = 0;
    for (auto _ : state) {
        QString path;
        ours.push_back(millisecondsOf([&] { path = runRoute(route, *bench.store); }));
        floors.push_back(millisecondsOf([&] {
            if (route == "xlsx") {
                xlsxFloor.write(floorFile);
            } else {
                QFile out(floorFile);
                if (!out.open(QIODevice::WriteOnly))
                    std::abort();
                pdfFloor.write(out);
            }
        }));
        state.SetIterationTime(ours.back() / 1000);
        bytes = QFile(path).size();
        floorBytes = QFile(floorFile).size();
        QFile::remove(path);
        QFile::remove(floorFile);
    }
    state.counters["tasks"] = kTasks;
    state.counters["median_ms"] = median(ours);
    state.counters["floor_ms"] = median(floors);
    state.counters["ratio_to_floor"] = median(ours) / median(floors);
    state.counters["file_MB"] = double(bytes) / (1024.0 * 1024.0);
    state.counters["floor_file_MB"] = double(floorBytes) / (1024.0 * 1024.0);
    const PeakMemory::Peaks peaks = childPeaks(route);
    state.counters["peak_process_MB"] = peaks.process;
    state.counters["peak_export_MB"] = peaks.measured;
}

void BM_ExportWorkbook(benchmark::State& state)
{
    exportRoute(state, "xlsx");
}

void BM_ExportPdf(benchmark::State& state)
{
    exportRoute(state, "pdf");
}

BENCHMARK(BM_ExportWorkbook)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();
BENCHMARK(BM_ExportPdf)->Unit(benchmark::kMillisecond)->Iterations(kRounds)->UseManualTime();

} // namespace

int main(int argc, char** argv)
{
    g_program = argv[0];
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc == 3 && std::strncmp(argv[1], "--peak=", 7) == 0) {
        BenchStore bench;
        PeakMemory::reset();
        runRoute(argv[1] + 7, *bench.store); // a failure ends the child with an uncaught Failure
        QFile report(QFile::decodeName(argv[2]));
        return report.open(QIODevice::WriteOnly) && report.write(PeakMemory::kilobytes()) > 0 ? 0
                                                                                              : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
