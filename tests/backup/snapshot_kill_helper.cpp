// Saves both task lists, snapshots the store and restores the snapshot before, again and again
// until it is killed. Usage: snapshot_kill_helper <store path> <first save number>
// Prints "open" once the store is open, then a line for every step that has returned.
#include "failure.h"
#include "saved_lists.h"
#include "settings_store.h"
#include "snapshot.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <store path> <first save number>\n", argv[0]);
        return 2;
    }
    try {
        const QString path = QString::fromLocal8Bit(argv[1]);
        const QString folder = SnapshotFiles::folderOf(path);
        SettingsStore store(path);
        std::printf("open\n");
        std::fflush(stdout);
        for (qint64 save = std::atoll(argv[2]);; ++save) {
            store.writeAll(
                {{SavedLists::kActiveKey, SavedLists::value(SavedLists::kActiveKey, save)},
                 {SavedLists::kDeletedKey, SavedLists::value(SavedLists::kDeletedKey, save)}});
            std::printf("saved %lld\n", static_cast<long long>(save));
            std::fflush(stdout);
            SnapshotSource(path).writeTo(folder, SnapshotReason::Import,
                                         QDateTime::currentDateTimeUtc());
            std::printf("snapshot\n");
            std::fflush(stdout);
            const QList<SnapshotFile> files = SnapshotFiles::list(folder);
            if (files.size() >= 2) {
                store.replaceAll(SnapshotReader(files[1].path).contents());
                std::printf("restored\n");
                std::fflush(stdout);
            }
        }
    } catch (const Failure& failure) {
        std::fprintf(stderr, "%s\n", qPrintable(failure.description()));
        return 1;
    }
}
