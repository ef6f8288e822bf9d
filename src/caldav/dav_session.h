#pragma once

#include "dav_client.h"

namespace Dav {

// What a Client asks of the network: made in a module of its own, which links Qt Network and is
// loaded at a client's first call. Qt Network brings the Kerberos and proxy libraries with it,
// whose relocations the loader would otherwise resolve before the window can open, for a sync
// that many never set up. The calls mean what the Client's of the same names say.
class Session
{
public:
    virtual ~Session() = default;

    virtual QUrl findCalendarHome() = 0;
    virtual QList<Collection> listCalendars(const QUrl& home, bool withTags) = 0;
    virtual Collection makeCalendar(const QString& href, const QString& displayName,
                                    const Placement& placement) = 0;
    virtual void updateCalendar(const QString& href, const QString& displayName,
                                const Placement& placement) = 0;
    virtual void deleteCollection(const QString& href) = 0;
    virtual std::optional<SyncReport> syncCollection(const QString& href, const QString& token) = 0;
    virtual QList<Resource> listResources(const QString& href) = 0;
    virtual QList<Resource> multiget(const QString& collectionHref, const QStringList& hrefs,
                                     int* refused) = 0;
    virtual QList<Outcome> putMany(const QList<Put>& puts) = 0;
    virtual QList<Outcome> deleteMany(const QList<Delete>& deletes) = 0;
    // From any thread, as Client::cancel().
    virtual void cancel() = 0;
};

// The module's file, found in the program's folder, and its one entry point, which hands its caller
// a new session to own.
constexpr const char* kNetworkModule = "libkestrune_dav_network.so";
constexpr const char* kMakeSession = "kestrune_dav_make_session";
using MakeSession = Session* (*)(const Account& account, const Limits& limits);

} // namespace Dav
