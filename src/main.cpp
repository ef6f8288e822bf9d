#include "form1.h"
#include "prompts.h"
#include "settings_store.h"
#include "single_instance.h"
#include "store_start.h"

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

    Form1 window(*store);
    QObject::connect(&instance, &SingleInstance::secondStart, &window, &Form1::bringForward);
    window.show();
    return app.exec();
}
