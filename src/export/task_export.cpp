#include "task_export.h"

#include "export_files.h"
#include "failure.h"
#include "pdf_table.h"
#include "xlsx_workbook.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>

namespace TaskExport {

QString toWorkbook(const SettingsStore& store, const ExportProgress& progress)
{
    const ExportTable table = ExportTable::fromStore(store);
    const QString path = ExportFiles::reserveUniqueFile(ExportFiles::privateFolder(),
                                                        QStringLiteral("ExportTasks-XXXXXX.xlsx"));
    try {
        XlsxWorkbook::write(table, path, progress);
    } catch (...) {
        QFile::remove(path);
        throw;
    }
    return path;
}

QString toPdf(const SettingsStore& store, const QPageSize& pageSize, const ExportProgress& progress)
{
    const ExportTable table = ExportTable::fromStore(store);
    const QString path = ExportFiles::pdfPath();
    ExportFiles::deleteQuietly(path);

    // Written beside the final name and renamed over it when complete.
    QTemporaryFile fresh(QDir::tempPath() + QStringLiteral("/ExportTasks-XXXXXX.pdf"));
    if (!fresh.open())
        throw Failure(QStringLiteral("No file for the PDF could be made in %1: %2.")
                          .arg(QDir::toNativeSeparators(QDir::tempPath()), fresh.errorString()));
    PdfTable::write(table, fresh, pageSize, progress);
    if (!fresh.flush() || fresh.error() != QFileDevice::NoError)
        throw Failure(QStringLiteral("The PDF could not be written: %1.").arg(fresh.errorString()));
    fresh.close();
    ExportFiles::moveInPlace(fresh.fileName(), path);
    fresh.setAutoRemove(false);
    return path;
}

} // namespace TaskExport
