// Saves a category's two task lists into the real store again and again until it is killed.
// Usage: store_writer_helper <store path> <first save number>
// Prints "open" once the store is open and then the number of every save that has returned,
// so the killer knows which saves must have reached the disk.
#include "failure.h"
#include "saved_lists.h"
#include "settings_store.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <store path> <first save number>\n", argv[0]);
        return 2;
    }
    try {
        SettingsStore store(QString::fromLocal8Bit(argv[1]));
        std::printf("open\n");
        std::fflush(stdout);
        for (qint64 save = std::atoll(argv[2]);; ++save) {
            store.writeAll(
                {{SavedLists::kActiveKey, SavedLists::value(SavedLists::kActiveKey, save)},
                 {SavedLists::kDeletedKey, SavedLists::value(SavedLists::kDeletedKey, save)}});
            std::printf("%lld\n", static_cast<long long>(save));
            std::fflush(stdout);
        }
    } catch (const Failure& failure) {
        std::fprintf(stderr, "%s\n", qPrintable(failure.description()));
        return 1;
    }
}
