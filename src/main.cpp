#include "autostart_entry.h"
#include "first_list_prefetch.h"
#include "form1.h"
#include "password_vault.h"
#include "program_icon.h"
#include "prompts.h"
#include "session_platform.h"
#include "settings_store.h"
#include "single_instance.h"
#include "store_start.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <memory>
#include <optional>
#include <thread>
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

    // The lock comes first: only the program holding it may open the store, which it then does
    // beside Qt's own start-up.
    const QString storePath = SettingsStore::defaultPath();
    QDir().mkpath(QFileInfo(storePath).absolutePath());
    SingleInstance instance(storePath);
    std::optional<StoreOpening> opening;
    if (instance.isPrimary())
        opening.emplace(storePath);

    QApplication app(qtArgc, args.data());
    QApplication::setApplicationName(QStringLiteral("Kestrune"));
    QApplication::setOrganizationName(QStringLiteral("Tolvendra Software"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kestrune.Kestrune"));
    QApplication::setWindowIcon(ProgramIcon::forWindows());

    // Started at login: hidden in the tray, and quiet when Kestrune runs already.
    const bool atLogin = AutostartEntry::startedFromEntry(QCoreApplication::arguments());
    if (!instance.isPrimary()) {
        if (atLogin || instance.notifyPrimary())
            return 0;
        Prompts::current().message(
            nullptr,
            QStringLiteral("Kestrune is already running with the store %1, but does not answer. "
                           "Close it, or wait until it has ended, and start Kestrune again.")
                .arg(storePath),
            applicationTitle(), Prompts::Icon::Exclamation);
        return 1;
    }
    instance.acceptSecondStarts();
    // The first question to the session bus waits for the connection: a round trip where a bus
    // runs, a bus launched (a fork of this process) where none is set. Accessibility and the
    // reminders ask before the window maps; asked here, on a thread of its own, the wait
    // overlaps the window's build instead.
    const std::jthread busConnection([] { QDBusConnection::sessionBus(); });

    const std::unique_ptr<SettingsStore> store = openStoreForStart(*opening);
    if (!store)
        return 1;
    int code = 0;
    {
        Form1 window(*store);
        FirstListPrefetch::discard();
        QObject::connect(&instance, &SingleInstance::secondStart, &window, &Form1::bringForward);
        window.startReminders();
        if (atLogin)
            window.startInTray();
        else
            window.show();
        code = app.exec();
    }
    // A password typed just before the end still reaches the desktop's password store.
    PasswordVault::finishHandedOver(1000);
    return code;
}
