#include "export_table.h"

#include "category_tree_codec.h"
#include "settings_store.h"
#include "task_list_codec.h"

#include <algorithm>

int ExportTable::columnCount() const
{
    qsizetype widest = header.size();
    for (const Row& row : rows)
        widest = std::max(widest, row.cells.size());
    return int(widest);
}

ExportTable ExportTable::fromStore(const SettingsStore& store)
{
    return fromStoredValues([&store](const QString& key, const QString& defaultValue) {
        return store.read(key, defaultValue);
    });
}

ExportTable ExportTable::fromStoredValues(const StoredValue& read)
{
    ExportTable table;
    table.header = QStringLiteral("Categories;Task;Priority;Type;Due Date;Notes;Done").split(u';');

    const auto categories = CategoryTreeCodec::categoriesForExport(
        read(CategoryTreeCodec::kKey, CategoryTreeCodec::kDefaultText));
    DueDates::ListColours colourFor;
    for (const auto& category : categories) {
        const QList<QStringList> tasks = TaskListCodec::decode(read(category.key, {}));
        table.rows.reserve(table.rows.size() + size_t(tasks.size()));
        for (const QStringList& fields : tasks) {
            Row row;
            row.cells.reserve(fields.size() + 1);
            row.cells.append(category.text);
            row.cells.append(fields);
            if (fields.size() > 3)
                row.dueColour = colourFor(fields[3]);
            table.rows.push_back(std::move(row));
        }
    }
    return table;
}
