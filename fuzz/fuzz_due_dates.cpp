// A stored due date as it is coloured, in the locales whose date forms differ the most.
#include "due_dates.h"
#include "fuzz_input.h"

namespace {

const char* const kLocales[] = {"en_US", "de_DE", "en_GB", "ja_JP", "ko_KR", "fi_FI", "ar_EG"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the locale; switching is costly, so only on a change.
    static int current = -1;
    const int pick = data[0] % int(std::size(kLocales));
    if (pick != current) {
        DueDates::setLocale(QLocale(QString::fromLatin1(kLocales[pick])));
        current = pick;
    }
    const QString text = storedText(data + 1, size - 1);
    const auto date = DueDates::parse(text);
    if (date) {
        FUZZ_CHECK(date->isValid());
        // A date the program writes reads back as the same date.
        FUZZ_CHECK(DueDates::parse(DueDates::format(*date)) == date);
    }
    const DueDates::Colour colour = DueDates::colourFor(text);
    FUZZ_CHECK((colour == DueDates::Colour::Untouched) == !date);
    return 0;
}
