#include "store_start.h"

#include "failure.h"
#include "first_list_prefetch.h"
#include "prompts.h"
#include "settings_store.h"

#include <functional>
#include <sys/resource.h>
#include <unistd.h>

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

constexpr int kOpeningNice = 10;

} // namespace

StoreOpening::StoreOpening(const QString& path)
    : m_store(std::async(std::launch::async, [path] {
          // Qt's start waits on the X server as much as it computes, and the server needs a core
          // too: at a lower priority the opening, and the read-ahead started from here, give way
          // to both and are still done before the window needs them. Threads inherit it.
          setpriority(PRIO_PROCESS, id_t(gettid()), kOpeningNice);
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
