#include "failure.h"
#include "form1.h"
#include "prompts.h"
#include "settings_store.h"
#include "single_instance.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <memory>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);
    QApplication::setApplicationName(QStringLiteral("Kestrune"));
    QApplication::setOrganizationName(QStringLiteral("Tolvendra Software"));
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

    std::unique_ptr<SettingsStore> store;
    try {
        store = std::make_unique<SettingsStore>(SettingsStore::defaultPath());
    } catch (const Failure& failure) {
        Prompts::current().message(nullptr,
                                   failure.description() +
                                       QStringLiteral("\r\n\r\nKestrune cannot start without its "
                                                      "store. Nothing has been changed."),
                                   applicationTitle(), Prompts::Icon::Critical);
        return 1;
    }
    if (!store->movedAsidePath().isEmpty())
        Prompts::current().message(
            nullptr,
            QStringLiteral("The store %1 was damaged. It has been kept unchanged as %2, and "
                           "Kestrune starts with an empty store.")
                .arg(store->path(), store->movedAsidePath()),
            applicationTitle(), Prompts::Icon::Exclamation);

    Form1 window(*store);
    QObject::connect(&instance, &SingleInstance::secondStart, &window, &Form1::bringForward);
    window.show();
    return app.exec();
}
