// A stored task list as a category is shown: entries, each split into its fields.
#include "fuzz_input.h"
#include "task_list_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString value = storedText(data, size);
    const QList<QStringList> tasks = TaskListCodec::decode(value);

    // Split from the stored bytes when they allow it, the entries are those of the text.
    auto fromBytes = TaskListCodec::decodeShownEntriesFromUtf8(
        QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (fromBytes) {
        const QList<TaskListCodec::Entry> entries = TaskListCodec::decodeEntries(value);
        FUZZ_CHECK(fromBytes->size() == entries.size());
        for (qsizetype i = 0; i < entries.size(); ++i) {
            FUZZ_CHECK((*fromBytes)[i].fieldCount == entries[i].fieldCount);
            FUZZ_CHECK((*fromBytes)[i].fields == entries[i].fields);
        }
        // The fields share one block of text: the last one left still changes as its own.
        if (!entries.isEmpty()) {
            QString kept = fromBytes->constLast().fields[0];
            fromBytes.reset();
            kept.prepend(u'<');
            kept.append(QStringLiteral(">>"));
            FUZZ_CHECK(kept == u'<' + entries.constLast().fields[0] + QStringLiteral(">>"));
        }
    }

    FUZZ_CHECK(tasks.size() <= value.count(TaskListCodec::kTaskSeparator) + 1);
    qsizetype text = 0;
    bool sixFieldsEach = true;
    for (const QStringList& fields : tasks) {
        FUZZ_CHECK(!fields.isEmpty());
        for (const QString& field : fields) {
            FUZZ_CHECK(!TaskListCodec::containsSeparator(field));
            text += field.size();
        }
        sixFieldsEach = sixFieldsEach && fields.size() == TaskListCodec::kFieldCount;
    }
    // Nothing is invented: the fields hold no more text than the value.
    FUZZ_CHECK(text <= value.size());

    // Tasks of six fields are what the program writes: saving them again keeps every field.
    if (sixFieldsEach) {
        QString again;
        for (const QStringList& fields : tasks) {
            TaskListCodec::Fields six;
            std::copy(fields.begin(), fields.end(), six.begin());
            TaskListCodec::appendEntry(again, six);
        }
        const QList<QStringList> back = TaskListCodec::decode(again);
        // An entry whose six fields are all empty is still a task when saved again.
        FUZZ_CHECK(back == tasks);
    }
    return 0;
}
