#include "task_types.h"

#include "settings_store.h"
#include "task_list_codec.h"

namespace TaskTypes {

QStringList load(const SettingsStore& store)
{
    return TaskTypesCodec::decode(store.read(TaskTypesCodec::kKey, TaskTypesCodec::kDefaultText));
}

void save(SettingsStore& store, const QStringList& types)
{
    store.write(TaskTypesCodec::kKey, TaskTypesCodec::encode(types));
}

} // namespace TaskTypes
