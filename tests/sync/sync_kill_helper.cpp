// Runs one sync of the store at argv[1] with the account argv[2..4] and waits for its end; the
// test kills it at some point on the way.
#include "form1.h"
#include "settings_store.h"
#include "sync_controller.h"

#include <QApplication>
#include <QTimer>

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
    QObject::connect(&sync, &SyncController::finished, &app, [] {
        fputs("finished\n", stdout);
        fflush(stdout);
    });
    QTimer::singleShot(0, &sync, &SyncController::syncNow);
    return app.exec();
}
