#include "store_start.h"

#include "failure.h"
#include "first_list_prefetch.h"
#include "prompts.h"
#include "settings_store.h"

#include <functional>

namespace {

std::unique_ptr<SettingsStore>
openTellingTheUser(const std::function<std::unique_ptr<SettingsStore>()>& open)
{
    std::unique_ptr<SettingsStore> store;
    try {
        store = open();
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

} // namespace

StoreOpening::StoreOpening(const QString& path)
    : m_store(std::async(std::launch::async, [path] {
          auto store = std::make_unique<SettingsStore>(path);
          // Started before the store is handed over, so the window finds it under way.
          FirstListPrefetch::start(*store);
          return store;
      }))
{
}

StoreOpening::~StoreOpening()
{
    // A store never taken is closed here, once nothing reads it any more.
    if (m_store.valid()) {
        try {
            const std::unique_ptr<SettingsStore> unused = m_store.get();
            FirstListPrefetch::discard();
        } catch (...) {
        }
    }
}

std::unique_ptr<SettingsStore> StoreOpening::take()
{
    return m_store.get();
}

std::unique_ptr<SettingsStore> openStoreForStart(const QString& path)
{
    return openTellingTheUser([&] { return std::make_unique<SettingsStore>(path); });
}

std::unique_ptr<SettingsStore> openStoreForStart(StoreOpening& opening)
{
    return openTellingTheUser([&] { return opening.take(); });
}
