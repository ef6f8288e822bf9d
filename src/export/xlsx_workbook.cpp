#include "xlsx_workbook.h"

#include "failure.h"

#include <QDir>
#include <QFileInfo>
#include <QStringEncoder>
#include <algorithm>
#include <dlfcn.h>
#include <xlsxwriter.h>

namespace XlsxWorkbook {

namespace {

using namespace ExportLayout;

// Calibri 11's digit is 7 pixels wide: column widths count in digits.
constexpr double kDigitPixels = 7;
// Autofit leaves a little room beside the text so that it does not touch the grid.
constexpr double kPaddingPixels = 7;

// Advance widths of Calibri 11 at 96 dots per inch. The program has no Calibri to measure
// with, and the workbook is shown with it (or a metric twin), so the widths are tabled.
struct AsciiWidths
{
    double pixels[0x80] = {}; // control characters take no room
    AsciiWidths()
    {
        static constexpr struct
        {
            const char* chars;
            double pixels;
        } groups[] = {
            {" '", 3.1},
            {"ijlI,.:;`", 4.1},
            {"frtJ!()-[]{}", 5.2},
            {"cszL\"/\\", 6.2},
            {"0123456789agkvxyEFSTYZ#$*+<=>?^_|~", 7.25},
            {"bdehnopquBCKPRX", 8.3},
            {"ADGHUV", 9.3},
            {"NOQ&", 10.4},
            {"w%", 11.4},
            {"mM", 12.4},
            {"W@", 13.5},
        };
        for (const auto& group : groups)
            for (const char* p = group.chars; *p; ++p)
                pixels[size_t(*p)] = group.pixels;
    }
};

double calibriPixels(char16_t c)
{
    if (c < 0x80) {
        static const AsciiWidths ascii;
        return ascii.pixels[c];
    }
    // Wide East Asian scripts take about two digits.
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFF00 && c <= 0xFF60);
    return wide ? 14.5 : 8;
}

double linePixels(QStringView line, bool bold)
{
    double pixels = 0;
    for (QChar c : line)
        if (!c.isLowSurrogate())
            pixels += calibriPixels(c.unicode());
    return bold ? pixels * 1.07 : pixels;
}

// A cell shows its text on one line per line break; autofit goes by the longest.
double widestLinePixels(QStringView text, bool bold)
{
    double widest = 0;
    for (qsizetype from = 0;;) {
        const qsizetype end = text.indexOf(u'\n', from);
        widest = std::max(
            widest, linePixels(text.sliced(from, (end < 0 ? text.size() : end) - from), bold));
        if (end < 0)
            return widest;
        from = end + 1;
    }
}

double widthForPixels(double pixels)
{
    return std::min(kMaxColumnDigits, (pixels + kPaddingPixels) / kDigitPixels);
}

// The workbook library is loaded at the first export, not at every start: it brings the
// crypto library with it, whose thousands of relocations the loader would otherwise resolve
// before the window can open.
#define KESTRUNE_LXW_FUNCTIONS(X)                                                                  \
    X(workbook_new_opt)                                                                            \
    X(workbook_add_worksheet)                                                                      \
    X(workbook_add_format)                                                                         \
    X(workbook_close)                                                                              \
    X(lxw_workbook_free)                                                                           \
    X(format_set_bold)                                                                             \
    X(format_set_font_size)                                                                        \
    X(format_set_font_color)                                                                       \
    X(worksheet_set_column)                                                                        \
    X(worksheet_write_string)                                                                      \
    X(worksheet_fit_to_pages)                                                                      \
    X(lxw_strerror)

constexpr const char* kLibrary = "libxlsxwriter.so." KESTRUNE_XLSXWRITER_SOVERSION;

struct Library
{
#define KESTRUNE_LXW_MEMBER(name) decltype(&::name) name = nullptr;
    KESTRUNE_LXW_FUNCTIONS(KESTRUNE_LXW_MEMBER)
#undef KESTRUNE_LXW_MEMBER
    QString problem;

    Library()
    {
        void* handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            problem = QString::fromLocal8Bit(dlerror());
            return;
        }
#define KESTRUNE_LXW_RESOLVE(name)                                                                 \
    name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                              \
    if (!name && problem.isEmpty())                                                                \
        problem = QStringLiteral("%1 has no %2").arg(QLatin1String(kLibrary), QLatin1String(#name));
        KESTRUNE_LXW_FUNCTIONS(KESTRUNE_LXW_RESOLVE)
#undef KESTRUNE_LXW_RESOLVE
    }
};

const Library& lxw()
{
    static const Library library;
    if (!library.problem.isEmpty())
        throw Failure(
            QStringLiteral("The workbook library could not be loaded: %1.").arg(library.problem));
    return library;
}

QString describe(lxw_error error)
{
    switch (error) {
    case LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED:
        return QStringLiteral("holds more than the 32767 characters a workbook cell can take");
    case LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE:
        return QStringLiteral("lies beyond the last row or column a worksheet can have");
    default:
        return QString::fromUtf8(lxw().lxw_strerror(error));
    }
}

void check(lxw_error error, const QString& what)
{
    if (error != LXW_NO_ERROR)
        throw Failure(what + QStringLiteral(": ") + describe(error) + u'.');
}

// The same with the text of the failure made only when there is one: a workbook has some
// 200 000 cells.
template <class What> void check(lxw_error error, const What& what)
{
    if (error != LXW_NO_ERROR)
        check(error, what());
}

// A cell's text as UTF-8 in a buffer that every cell reuses.
class Utf8Buffer
{
public:
    const char* operator()(const QString& text)
    {
        // Lone surrogates are left to toUtf8(), whose replacement for them the files keep.
        for (QChar c : text)
            if (c.isSurrogate()) {
                m_fallback = text.toUtf8();
                return m_fallback.constData();
            }
        m_bytes.resize(size_t(text.size()) * 3 + 1);
        char* end = m_encoder.appendToBuffer(m_bytes.data(), text);
        *end = 0;
        return m_bytes.data();
    }

private:
    QStringEncoder m_encoder{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    std::vector<char> m_bytes;
    QByteArray m_fallback;
};

// Frees the workbook when a failure leaves it unclosed.
struct WorkbookGuard
{
    lxw_workbook* workbook;
    ~WorkbookGuard()
    {
        if (workbook)
            lxw().lxw_workbook_free(workbook);
    }
};

} // namespace

double fittedWidth(const QStringList& texts, bool bold)
{
    double widest = 0;
    for (const QString& text : texts)
        widest = std::max(widest, widestLinePixels(text, bold));
    return widest > 0 ? widthForPixels(widest) : 0;
}

void write(const ExportTable& table, const QString& path, const ExportProgress& progress)
{
    const Library& api = lxw();
    const QByteArray fileName = QFile::encodeName(path);
    QByteArray tmpdir = QFile::encodeName(QFileInfo(path).absolutePath());
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tmpdir.data();
    options.use_zip64 = LXW_TRUE;

    WorkbookGuard guard{api.workbook_new_opt(fileName.constData(), &options)};
    if (!guard.workbook)
        throw Failure(QStringLiteral("Could not start a workbook in %1.")
                          .arg(QDir::toNativeSeparators(path)));
    lxw_worksheet* sheet = api.workbook_add_worksheet(guard.workbook, nullptr);
    if (!sheet)
        throw Failure(QStringLiteral("Could not add a worksheet to the workbook."));

    lxw_format* headerFormat = api.workbook_add_format(guard.workbook);
    api.format_set_bold(headerFormat);
    api.format_set_font_size(headerFormat, kFontSize);
    lxw_format* cellFormat = api.workbook_add_format(guard.workbook);
    api.format_set_font_size(cellFormat, kFontSize);
    // A due date today or later keeps the cell format's automatic colour.
    lxw_format* overdueFormat = api.workbook_add_format(guard.workbook);
    api.format_set_font_size(overdueFormat, kFontSize);
    api.format_set_font_color(overdueFormat, 0xFF0000);

    // Rows stream out in order, so the columns are sized before the first row is written.
    const int columns = table.columnCount();
    if (columns > LXW_COL_MAX)
        throw Failure(QStringLiteral("A task has %1 fields; a worksheet holds at most %2 columns.")
                          .arg(columns - 1)
                          .arg(LXW_COL_MAX));
    std::vector<double> widest(size_t(columns), 0.0);
    for (qsizetype c = 0; c < table.header.size(); ++c)
        widest[size_t(c)] = widestLinePixels(table.header[c], true);
    for (const ExportTable::Row& row : table.rows)
        for (qsizetype c = 0; c < row.cells.size(); ++c)
            widest[size_t(c)] = std::max(widest[size_t(c)], widestLinePixels(row.cells[c], false));
    for (int c = 0; c < columns; ++c)
        if (widest[size_t(c)] > 0)
            check(api.worksheet_set_column(sheet, lxw_col_t(c), lxw_col_t(c),
                                           widthForPixels(widest[size_t(c)]), nullptr),
                  QStringLiteral("Column %1 could not be sized").arg(c + 1));

    for (qsizetype c = 0; c < table.header.size(); ++c)
        check(api.worksheet_write_string(sheet, 0, lxw_col_t(c),
                                         table.header[c].toUtf8().constData(), headerFormat),
              QStringLiteral("The heading \"%1\"").arg(table.header[c]));

    const qsizetype total = qsizetype(table.rows.size());
    Utf8Buffer utf8;
    for (qsizetype r = 0; r < total; ++r) {
        const ExportTable::Row& row = table.rows[size_t(r)];
        if (r + 1 >= LXW_ROW_MAX)
            throw Failure(QStringLiteral("There are %1 tasks; a worksheet holds at most %2.")
                              .arg(total)
                              .arg(LXW_ROW_MAX - 1));
        for (qsizetype c = 0; c < row.cells.size(); ++c) {
            lxw_format* format =
                c == ExportTable::kDueDateColumn && row.dueColour == DueDates::Colour::Overdue
                    ? overdueFormat
                    : cellFormat;
            check(api.worksheet_write_string(sheet, lxw_row_t(r + 1), lxw_col_t(c),
                                             utf8(row.cells[c]), format),
                  [&] {
                      return QStringLiteral("Column %1 of the task \"%2\" in \"%3\"")
                          .arg(c + 1)
                          .arg(row.cells.value(1).left(40), row.cells[0]);
                  });
        }
        if (progress && (r + 1) % kProgressStep == 0)
            progress(r + 1, total);
    }

    api.worksheet_fit_to_pages(sheet, 1, 1);

    lxw_workbook* workbook = std::exchange(guard.workbook, nullptr);
    check(api.workbook_close(workbook),
          QStringLiteral("The workbook %1 could not be saved").arg(QDir::toNativeSeparators(path)));
    if (progress)
        progress(total, total);
}

} // namespace XlsxWorkbook
