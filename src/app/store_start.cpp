#include "store_start.h"

#include "failure.h"
#include "prompts.h"
#include "settings_store.h"

std::unique_ptr<SettingsStore> openStoreForStart(const QString& path)
{
    std::unique_ptr<SettingsStore> store;
    try {
        store = std::make_unique<SettingsStore>(path);
    } catch (const Failure& failure) {
        Prompts::current().message(nullptr,
                                   failure.description() +
                                       QStringLiteral("\r\n\r\nKestrune cannot start without its "
                                                      "store. Nothing has been changed."),
                                   applicationTitle(), Prompts::Icon::Critical);
        return nullptr;
    }
    if (!store->movedAsidePath().isEmpty())
        Prompts::current().message(
            nullptr,
            QStringLiteral("The store %1 was damaged. It has been kept unchanged as %2, and "
                           "Kestrune starts with an empty store.")
                .arg(store->path(), store->movedAsidePath()),
            applicationTitle(), Prompts::Icon::Exclamation);
    return store;
}
