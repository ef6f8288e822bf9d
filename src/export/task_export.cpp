#include "task_export.h"

#include "calendar_file.h"
#include "category_tree_codec.h"
#include "export_files.h"
#include "failure.h"
#include "pdf_table.h"
#include "settings_store.h"
#include "task_uids.h"
#include "xlsx_workbook.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
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

namespace {

// The categories of the stored tree as the window builds it: an entry without a known parent,
// or with a key already used, is not in the tree.
QList<CalendarCategory> storedCategories(const SettingsStore& store)
{
    using namespace CategoryTreeCodec;
    const QString value = store.read(kKey, kDefaultText);
    QList<CalendarCategory> categories;
    if (value == kDefaultText) {
        for (int i = 0; i < kDefaultNames.size(); ++i)
            categories.append({{kDefaultNames[i]}, rootKey(i + 1)});
        return categories;
    }
    QHash<QString, QStringList> paths;
    for (const QStringList& fields : splitEntries(value)) {
        if (fields.size() < 2)
            throw Failure(QStringLiteral("The stored category \"%1\" has no key.").arg(fields[0]));
        const QString& key = fields[1];
        const QString parent = fields.value(2);
        if (paths.contains(key) || (!parent.isEmpty() && !paths.contains(parent)))
            continue;
        QStringList path = parent.isEmpty() ? QStringList() : paths.value(parent);
        path.append(fields[0]);
        paths.insert(key, path);
        categories.append({path, key});
    }
    return categories;
}

} // namespace

void toCalendar(SettingsStore& store, const QString& path, const ExportProgress& progress)
{
    const QList<CalendarCategory> categories = storedCategories(store);
    // Read whole before writing, so the progress knows its total.
    struct List
    {
        const CalendarCategory* category;
        bool deleted;
        QString value; // the entries' fields point into it
        QList<TaskListCodec::Entry> entries;
        QList<QUuid> uids;
    };
    std::vector<List> lists;
    qsizetype total = 0;
    for (const CalendarCategory& category : categories) {
        for (const bool deleted : {false, true}) {
            const QString key = deleted ? TaskListCodec::deletedKey(category.key) : category.key;
            List& list = lists.emplace_back(List{&category, deleted, store.read(key, {}), {}, {}});
            list.entries = TaskListCodec::decodeEntries(list.value);
            // Only a list another program wrote holds more than a list shows; the window
            // shows, and so exports, the first ones.
            if (list.entries.size() > TaskListCodec::kMaxTasks)
                list.entries.resize(TaskListCodec::kMaxTasks);
            QList<quint64> digests;
            digests.reserve(list.entries.size());
            for (const TaskListCodec::Entry& entry : std::as_const(list.entries))
                digests.append(TaskUids::digest(entry));
            list.uids = TaskUids::ofStoredList(store, key, digests);
            total += list.entries.size();
        }
    }
    const QHash<QString, QByteArray> kept = store.readKeptVTodos();

    IcsFile::Writer writer(path, categories);
    qsizetype done = 0;
    for (const List& list : lists) {
        for (qsizetype i = 0; i < list.entries.size(); ++i) {
            CalendarTask task;
            task.uid = list.uids[i].toString(QUuid::WithoutBraces);
            task.fields = list.entries[i].fields;
            task.sortOrder = i;
            task.categoryPath = list.category->path;
            task.categoryKey = list.category->key;
            task.deleted = list.deleted;
            // A task from another program goes out under the UID that program gave it.
            writer.add(task, kept.isEmpty() ? QByteArray() : kept.value(task.uid));
            if (progress && ++done % ExportLayout::kProgressStep == 0)
                progress(done, total);
        }
    }
    writer.finish();
    if (progress)
        progress(total, total);
}

} // namespace TaskExport
