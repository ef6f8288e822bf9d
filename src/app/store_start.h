#pragma once

#include <QString>
#include <memory>

class SettingsStore;

// Opens the store for a start of the program and tells the user what happened to it: a damaged
// file was kept aside, or the store cannot be used at all. Returns null when the program must
// not start; nothing has been changed then.
std::unique_ptr<SettingsStore> openStoreForStart(const QString& path);
