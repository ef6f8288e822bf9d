// Runs one sync of the store at argv[1] with the account argv[2..4] and waits for its end; the
// test kills it at some point on the way. With argv[5] and argv[6], what the sync brings is
// applied argv[5] tasks a slice, and the helper dies as if killed right after the argv[6]th
// slice is stored, or with 0 right after the categories it made are.
#include "form1.h"
#include "settings_store.h"
#include "sync_controller.h"

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <cstdlib>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 5)
        return 2;
    SettingsStore store(QString::fromLocal8Bit(argv[1]));
    Form1 window(store);
    SyncController& sync = *window.syncController();
    sync.setAccount({QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), false});
    sync.setPassword(QString::fromLocal8Bit(argv[4]));
    int slices = 0;
    if (argc >= 7) {
        sync.setTasksPerSlice(std::atoi(argv[5]));
        const int dieAfter = std::atoi(argv[6]);
        store.setCommitListener([&slices, dieAfter](const SettingsStore::Changes& changes) {
            const bool tree = std::any_of(changes.values.begin(), changes.values.end(),
                                          [](const auto& v) { return v.first == u"Tree Nodes"; });
            if (dieAfter == 0 ? tree : !changes.syncTasks.empty() && ++slices == dieAfter)
                std::_Exit(9);
        });
    }
    QObject::connect(&sync, &SyncController::finished, &app, [] {
        fputs("finished\n", stdout);
        fflush(stdout);
    });
    QTimer::singleShot(0, &sync, &SyncController::syncNow);
    return app.exec();
}
