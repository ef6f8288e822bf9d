#pragma once

#include <QStringList>

class SettingsStore;

// The user's list of task types, kept under "Task Types".
namespace TaskTypes {

QStringList load(const SettingsStore& store);
void save(SettingsStore& store, const QStringList& types);

} // namespace TaskTypes
