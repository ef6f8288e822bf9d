#include "dav_client.h"

#include "dav_session.h"
#include "program_module.h"

#include <QMutex>
#include <QMutexLocker>

namespace Dav {

namespace {

// Loaded once, at the first client's first call.
MakeSession loadNetworkModule()
{
    static const ProgramModule::Entry module = ProgramModule::find(kNetworkModule, kMakeSession);
    if (!module.address)
        throw DavFailure(DavFailure::Kind::Network, 0,
                         QStringLiteral("Kestrune's network module could not be loaded: %1.")
                             .arg(module.problem));
    return reinterpret_cast<MakeSession>(module.address);
}

} // namespace

struct Client::State
{
    Account account;
    Limits limits;
    // cancel() comes from any thread, also while the first call makes the session.
    QMutex mutex;
    bool cancelled = false;
    std::unique_ptr<Session> session;
};

Client::Client(Account account, Limits limits) : m_state(std::make_unique<State>())
{
    m_state->account = std::move(account);
    m_state->limits = limits;
}

Client::~Client() = default;

Session& Client::session()
{
    QMutexLocker lock(&m_state->mutex);
    if (!m_state->session) {
        m_state->session.reset(loadNetworkModule()(m_state->account, m_state->limits));
        if (m_state->cancelled)
            m_state->session->cancel();
    }
    return *m_state->session;
}

void Client::cancel()
{
    QMutexLocker lock(&m_state->mutex);
    m_state->cancelled = true;
    if (m_state->session)
        m_state->session->cancel();
}

QUrl Client::findCalendarHome()
{
    return session().findCalendarHome();
}

QList<Collection> Client::listCalendars(const QUrl& home, bool withTags)
{
    return session().listCalendars(home, withTags);
}

Collection Client::makeCalendar(const QString& href, const QString& displayName,
                                const Placement& placement)
{
    return session().makeCalendar(href, displayName, placement);
}

void Client::updateCalendar(const QString& href, const QString& displayName,
                            const Placement& placement)
{
    session().updateCalendar(href, displayName, placement);
}

void Client::deleteCollection(const QString& href)
{
    session().deleteCollection(href);
}

std::optional<SyncReport> Client::syncCollection(const QString& href, const QString& token)
{
    return session().syncCollection(href, token);
}

QList<Resource> Client::listResources(const QString& href)
{
    return session().listResources(href);
}

QList<Resource> Client::multiget(const QString& collectionHref, const QStringList& hrefs,
                                 int* refused)
{
    return session().multiget(collectionHref, hrefs, refused);
}

QList<Outcome> Client::putMany(const QList<Put>& puts)
{
    return session().putMany(puts);
}

QList<Outcome> Client::deleteMany(const QList<Delete>& deletes)
{
    return session().deleteMany(deletes);
}

} // namespace Dav
