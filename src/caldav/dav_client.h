#pragma once

#include "failure.h" // src/store: class Failure(QString description)

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <atomic>
#include <memory>
#include <optional>

namespace Dav {

// Where and as whom. The password is never written to any log, message or exception text.
struct Account
{
    QUrl address; // server root, a principal or a calendar home
    QString user;
    QString password;
    bool plainHttpAgreed = false; // http:// to a non-loopback host only when true
};

struct Limits
{
    int connections = 6;                // requests in flight at once in the *Many calls
    int requestTimeoutMs = 30000;       // no byte for this long ends a request
    qint64 maxResponseBytes = 64 << 20; // a longer body ends the request (TooLarge)
    qint64 maxResourceBytes = 1 << 20;  // one VTODO resource larger than this is refused
    int multigetChunk = 200;            // hrefs per calendar-multiget REPORT
    int overallTimeoutMs = 300000;      // a whole request, however slowly its bytes trickle in
};

// Why a request or a whole step failed; description() is a sentence a person understands
// ("The server refused the user name or password.", "The server did not answer within 30 s.").
class DavFailure : public Failure
{
public:
    enum class Kind
    {
        Unauthorized,
        Forbidden,
        NotFound,
        Precondition,
        Server,
        BadResponse,
        Timeout,
        Network,
        TooLarge,
        Insecure,
        Cancelled
    };
    DavFailure(Kind kind, int httpStatus, const QString& description)
        : Failure(description), m_kind(kind), m_status(httpStatus)
    {
    }
    Kind kind() const { return m_kind; }
    int httpStatus() const { return m_status; }

private:
    Kind m_kind;
    int m_status;
};

// Kestrune's own dead property on each calendar it makes: where the category sits in the tree.
// Namespace "urn:x-kestrune:caldav", element "category"; its text is "key\nparentKey\norder"
// (parentKey empty at the top level, order a decimal index among its siblings). Other clients
// ignore it; a calendar without it is another program's.
struct Placement
{
    QString key;
    QString parentKey;
    int order = 0;
    bool operator==(const Placement&) const = default;
};

struct Collection
{
    QString href; // absolute path on the server, ending in '/'; percent-decoded, as every href here
    QString displayName;
    bool holdsTodos = false;           // supported-calendar-component-set has VTODO (or is absent)
    bool offersSyncCollection = false; // its supported-report-set names sync-collection
    // getctag (CalendarServer ns), empty when absent. A listing of the calendars asks for this
    // tag alone: a server may take long to work out a sync-token for each of them (Radicale
    // takes as long again for each), and a sync-collection report brings the token it needs.
    QString ctag;
    std::optional<Placement> placement;
};

struct Resource
{
    QString href;    // absolute path
    QByteArray etag; // as the server sent it, quotes included
    QByteArray body; // calendar-data, only from multiget
};

// One request of a batch and how it ended.
struct Put
{
    QString href;
    QByteArray body;    // a whole VCALENDAR with one VTODO
    QByteArray ifMatch; // empty: If-None-Match: * (a new resource)
};
struct Delete
{
    QString href;
    QByteArray ifMatch; // empty: unconditional
};
struct Outcome
{
    int httpStatus = 0;                // 0 when the request never got an answer
    QByteArray etag;                   // of a successful PUT, when the server sent one
    std::optional<DavFailure> failure; // set when it did not succeed (412 -> Precondition)
};

struct SyncReport
{
    QString newToken;
    QList<Resource> changed; // href + etag, no body
    QStringList removed;     // hrefs
};

// A blocking client for one account, used from one worker thread (it runs its own event loop
// for each call; never from the GUI thread). Every call throws DavFailure on a failure of the
// whole step; the *Many calls report per item instead and throw only when the connection or
// the account fails. Credentials are sent only to the account's own scheme+host+port: a
// redirect there is followed (at most 5 times), a redirect elsewhere is refused (Insecure,
// naming the other address; discovery first tries its other ways in). Responses are size- and
// time-limited. Its network objects belong to the thread of the first call: destroy the client
// on that thread, or once that thread has finished.
class Session;

class Client
{
public:
    Client(Account account, Limits limits = {});
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // /.well-known/caldav, current-user-principal, calendar-home-set; the home's absolute URL.
    QUrl findCalendarHome();
    // PROPFIND Depth 1 on the home: every calendar collection in it.
    // Without `withTags`, no calendar's tag is asked for (see Collection::ctag).
    QList<Collection> listCalendars(const QUrl& home, bool withTags = true);
    // MKCALENDAR (VTODO only) with the display name and placement; then a PROPFIND for its token.
    Collection makeCalendar(const QString& href, const QString& displayName,
                            const Placement& placement);
    // PROPPATCH display name and placement.
    void updateCalendar(const QString& href, const QString& displayName,
                        const Placement& placement);
    // A calendar that is gone already (404, 410) counts as deleted.
    void deleteCollection(const QString& href);

    // REPORT sync-collection; std::nullopt when the token is no longer valid (start over with
    // an empty token). An empty `token` lists everything.
    std::optional<SyncReport> syncCollection(const QString& href, const QString& token);
    // PROPFIND Depth 1 getetag: every resource of the collection, for servers without
    // sync-collection.
    QList<Resource> listResources(const QString& href);
    // calendar-multiget in chunks of Limits::multigetChunk; resources the server says are
    // missing are left out. A body larger than maxResourceBytes is left out and counted in
    // `refused` when given.
    QList<Resource> multiget(const QString& collectionHref, const QStringList& hrefs,
                             int* refused = nullptr);

    // Up to Limits::connections requests in flight; outcomes in the order of the input. A
    // DELETE of a task that is gone already (404, 410) succeeds; a PUT body larger than
    // maxResourceBytes is not sent (TooLarge). They throw for 401, a server that cannot be
    // reached or does not answer in time, and cancel().
    QList<Outcome> putMany(const QList<Put>& puts);
    QList<Outcome> deleteMany(const QList<Delete>& deletes);

    // From any thread: ends the call under way (it throws DavFailure Cancelled) and any later one.
    void cancel();

private:
    // Made at the first call, on its thread; throws DavFailure when the network module cannot
    // be loaded.
    Session& session();

    struct State;
    std::unique_ptr<State> m_state;
};

// "localhost" or an address of this computer's loopback, IPv4 or IPv6.
bool isLoopbackHost(const QString& host);

} // namespace Dav
