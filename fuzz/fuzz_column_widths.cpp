// "List1Cols"/"List2Cols" as a category is shown: the pieces, each a 16-bit width.
#include "failure.h"
#include "fuzz_input.h"
#include "numbers.h"
#include "task_list_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString value = storedText(data, size);
    const QStringList pieces = ColumnWidthsCodec::split(value);
    FUZZ_CHECK(!pieces.isEmpty());

    QList<double> widths;
    for (const QString& piece : pieces) {
        FUZZ_CHECK(!piece.contains(TaskListCodec::kFieldSeparator));
        if (piece.isEmpty())
            continue;
        try {
            const int twips = Numbers::toInt16(piece, QStringLiteral("a column width"));
            FUZZ_CHECK(twips >= -32768 && twips <= 32767);
            widths.append(twips);
        } catch (const Failure& failure) {
            FUZZ_CHECK(!failure.description().isEmpty());
        }
    }
    // Widths that were read are written back in a form that reads as the same widths.
    const QStringList again = ColumnWidthsCodec::split(ColumnWidthsCodec::encode(widths));
    FUZZ_CHECK(again.size() == widths.size() + 1 && again.last().isEmpty());
    for (int i = 0; i < widths.size(); ++i)
        FUZZ_CHECK(Numbers::toInt16(again[i], QStringLiteral("a column width")) == widths[i]);
    return 0;
}
