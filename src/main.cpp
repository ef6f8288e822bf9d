#include "first_list_prefetch.h"
#include "form1.h"
#include "prompts.h"
#include "session_platform.h"
#include "settings_store.h"
#include "single_instance.h"
#include "store_start.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <memory>
#include <vector>

int main(int argc, char* argv[])
{
    // Handed to Qt as its -platform argument rather than through the environment, so the
    // programs the export opens still choose their own platform.
    QByteArray platform = sessionPlatform(argc, argv);
    std::vector<char*> args(argv, argv + argc);
    QByteArray platformOption("-platform");
    if (!platform.isEmpty())
        args.insert(args.begin() + 1, {platformOption.data(), platform.data()});
    args.push_back(nullptr);
    int qtArgc = int(args.size()) - 1;
    QApplication app(qtArgc, args.data());
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QStringLiteral("Kestrune"));
    QApplication::setOrganizationName(QStringLiteral("Tolvendra Software"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kestrune.Kestrune"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/kestrune/kestrune.svg")));

    const QString storePath = SettingsStore::defaultPath();
    QDir().mkpath(QFileInfo(storePath).absolutePath());
    SingleInstance instance(storePath);
    if (!instance.isPrimary()) {
        if (instance.notifyPrimary())
            return 0;
        Prompts::current().message(
            nullptr,
            QStringLiteral("Kestrune is already running with the store %1, but does not answer. "
                           "Close it, or wait until it has ended, and start Kestrune again.")
                .arg(storePath),
            applicationTitle(), Prompts::Icon::Exclamation);
        return 1;
    }

    const std::unique_ptr<SettingsStore> store = openStoreForStart(storePath);
    if (!store)
        return 1;

    // The first list is read and split on a second thread while the window builds.
    FirstListPrefetch::start(*store);
    Form1 window(*store);
    FirstListPrefetch::discard();
    QObject::connect(&instance, &SingleInstance::secondStart, &window, &Form1::bringForward);
    window.show();
    return app.exec();
}
