// "Tree Nodes" as the start-up reads it: the entries, then each key's level and number.
#include "category_tree_codec.h"
#include "failure.h"
#include "fuzz_input.h"
#include "numbers.h"

namespace {

void readKey(const QString& key)
{
    // As start-up raises the next category number: the third piece, first as any whole
    // number for the comparison, then as the 16-bit counter.
    const QStringList pieces = key.split(u'_');
    if (pieces.size() >= 3) {
        try {
            const int wide = Numbers::toInt32(pieces[2], QStringLiteral("a category number"));
            const int narrow = Numbers::toInt16(pieces[2], QStringLiteral("a category number"));
            FUZZ_CHECK(wide == narrow);
            FUZZ_CHECK(narrow >= -32768 && narrow <= 32767);
        } catch (const Failure& failure) {
            FUZZ_CHECK(!failure.description().isEmpty());
        }
    }
    // As a subcategory command reads its parent's key.
    for (const auto& read : {CategoryTreeCodec::depthOf, CategoryTreeCodec::numberOf}) {
        try {
            const int n = read(key);
            FUZZ_CHECK(n >= -32768 && n <= 32767);
        } catch (const Failure& failure) {
            FUZZ_CHECK(!failure.description().isEmpty());
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString value = storedText(data, size);
    const QList<QStringList> entries = CategoryTreeCodec::splitEntries(value);

    QList<CategoryTreeCodec::Node> whole;
    for (const QStringList& fields : entries) {
        FUZZ_CHECK(!fields.isEmpty());
        for (const QString& field : fields)
            FUZZ_CHECK(!field.contains(u'^') && !field.contains(u';'));
        readKey(fields.value(1));
        if (fields.size() == 3)
            whole.append({fields[0], fields[1], fields[2]});
    }
    // Entries of three fields are what the program writes: they must come back unchanged.
    if (whole.size() == entries.size()) {
        const QList<QStringList> again =
            CategoryTreeCodec::splitEntries(CategoryTreeCodec::encode(whole));
        FUZZ_CHECK(again == entries);
    }

    // The export reads the same text with the same default.
    try {
        const auto categories = CategoryTreeCodec::categoriesForExport(value);
        if (value != CategoryTreeCodec::kDefaultText)
            FUZZ_CHECK(categories.size() == entries.size());
    } catch (const Failure& failure) {
        FUZZ_CHECK(!failure.description().isEmpty());
    }
    return 0;
}
