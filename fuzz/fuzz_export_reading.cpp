// The export's reading of the store: "Tree Nodes", then each category's active list.
// The input is the stored values one after another, split at NUL bytes: the tree first
// (a lone "\x01" stands for an absent key), then the lists in the order they are read.
#include "category_tree_codec.h"
#include "export_table.h"
#include "failure.h"
#include "fuzz_input.h"
#include "task_list_codec.h"

#include <QByteArray>
#include <QHash>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> values =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0');
    QHash<QString, QString> stored;
    qsizetype next = 1;
    qsizetype expectedRows = 0;
    const auto read = [&](const QString& key, const QString& defaultValue) {
        if (key == CategoryTreeCodec::kKey)
            return values[0] == "\x01" ? defaultValue : QString::fromUtf8(values[0]);
        // A key read twice (two categories with one key) gives the same value both times.
        if (auto found = stored.constFind(key); found != stored.cend()) {
            expectedRows += TaskListCodec::decode(*found).size();
            return *found;
        }
        const QString value =
            next < values.size() ? QString::fromUtf8(values[next++]) : defaultValue;
        stored.insert(key, value);
        expectedRows += TaskListCodec::decode(value).size();
        return value;
    };
    try {
        const ExportTable table = ExportTable::fromStoredValues(read);
        FUZZ_CHECK(qsizetype(table.rows.size()) == expectedRows);
        FUZZ_CHECK(table.columnCount() >= 7);
        for (const ExportTable::Row& row : table.rows)
            FUZZ_CHECK(row.cells.size() >= 2 && row.cells.size() <= table.columnCount());
    } catch (const Failure& failure) {
        FUZZ_CHECK(!failure.description().isEmpty());
    }
    return 0;
}
