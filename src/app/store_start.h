#pragma once

#include <QString>
#include <future>
#include <memory>

class SettingsStore;

// The store opened on a second thread while Qt starts up on the first: opening it checks the
// whole file, and Qt's start leaves the second core idle. Once it is open, the list the window
// shows first is read ahead (FirstListPrefetch). The lock of SingleInstance must be held first.
class StoreOpening
{
public:
    explicit StoreOpening(const QString& path);
    ~StoreOpening();
    StoreOpening(const StoreOpening&) = delete;
    StoreOpening& operator=(const StoreOpening&) = delete;

    // Waits for the store; throws the Failure that opening it met.
    std::unique_ptr<SettingsStore> take();

private:
    std::future<std::unique_ptr<SettingsStore>> m_store;
};

// Opens the store for a start of the program and tells the user what happened to it: a damaged
// file was kept aside, or the store cannot be used at all. Returns null when the program must
// not start; nothing has been changed then.
std::unique_ptr<SettingsStore> openStoreForStart(const QString& path);
std::unique_ptr<SettingsStore> openStoreForStart(StoreOpening& opening);
