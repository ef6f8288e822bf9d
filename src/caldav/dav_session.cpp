#include "dav_session.h"
#include "dav_xml.h"

#include <QEventLoop>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <vector>

namespace Dav {

namespace {

using Kind = DavFailure::Kind;

constexpr int kMaxRedirects = 5;
// A truncated sync-collection answer is asked again from its token; a server that never
// stops truncating is stopped here.
constexpr int kMaxSyncRounds = 10000;

// What a failure is about: the same status reads differently for each.
enum class Subject
{
    Account,
    Calendar,
    Task
};

struct Request
{
    QByteArray method;
    QUrl url;
    QByteArray body;
    QByteArray depth; // empty: no Depth header
    QList<QPair<QByteArray, QByteArray>> headers;
};

struct Answer
{
    int status = 0;
    QByteArray body;
    QByteArray etag;
    QUrl url;                          // the address that answered, after any redirect
    std::optional<DavFailure> failure; // the request got no usable HTTP answer
};

QString secondsText(int ms)
{
    if (ms % 1000 == 0)
        return ms == 1000 ? QStringLiteral("1 second")
                          : QStringLiteral("%1 seconds").arg(ms / 1000);
    return QStringLiteral("%1 seconds").arg(QString::number(ms / 1000.0, 'g', 3));
}

QString sizeText(qint64 bytes)
{
    constexpr qint64 kMB = 1 << 20;
    constexpr qint64 kKB = 1 << 10;
    if (bytes >= kMB && bytes % kMB == 0)
        return QStringLiteral("%1 MB").arg(bytes / kMB);
    if (bytes >= kKB && bytes % kKB == 0)
        return QStringLiteral("%1 KB").arg(bytes / kKB);
    return QStringLiteral("%1 bytes").arg(bytes);
}

DavFailure statusFailure(int status, Subject subject)
{
    switch (status) {
    case 401:
        return {Kind::Unauthorized, status,
                QStringLiteral("The server refused the user name or password.")};
    case 403:
        return {Kind::Forbidden, status,
                QStringLiteral("The server does not allow this account to do that.")};
    case 404:
    case 410:
        switch (subject) {
        case Subject::Account:
            return {Kind::NotFound, status,
                    QStringLiteral("No calendars were found at this server address.")};
        case Subject::Calendar:
            return {Kind::NotFound, status,
                    QStringLiteral("The calendar was not found on the server.")};
        case Subject::Task:
            return {Kind::NotFound, status,
                    QStringLiteral("The task was not found on the server.")};
        }
        break;
    case 412:
        return {Kind::Precondition, status,
                subject == Subject::Task
                    ? QStringLiteral("The task changed on the server meanwhile.")
                    : QStringLiteral("The calendar changed on the server meanwhile.")};
    default:
        break;
    }
    if (status >= 500)
        return {Kind::Server, status, QStringLiteral("The server failed (error %1).").arg(status)};
    return {Kind::Server, status,
            QStringLiteral("The server refused the request (error %1).").arg(status)};
}

DavFailure cancelledFailure()
{
    return {Kind::Cancelled, 0, QStringLiteral("Stopped before the server had answered.")};
}

DavFailure badAnswer(int status)
{
    return {Kind::BadResponse, status, QStringLiteral("The server's answer could not be read.")};
}

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A failure that no other request to the same server would escape either.
bool endsEverything(const Answer& answer)
{
    if (answer.failure) {
        const Kind kind = answer.failure->kind();
        return kind == Kind::Insecure || kind == Kind::Network || kind == Kind::Timeout ||
               kind == Kind::Cancelled;
    }
    return answer.status == 401;
}

const QList<QPair<QByteArray, QByteArray>> kXmlBody = {
    {"Content-Type", "application/xml; charset=utf-8"}};

QString withSlash(QString path)
{
    if (!path.endsWith(u'/'))
        path += u'/';
    return path;
}

// The requests of one client, made here, in the module that links Qt Network.
class NetworkSession final : public Session
{
public:
    NetworkSession(Account account, Limits limits);
    ~NetworkSession() override;

    QUrl findCalendarHome() override;
    QList<Collection> listCalendars(const QUrl& home, bool withTags) override;
    Collection makeCalendar(const QString& href, const QString& displayName,
                            const Placement& placement) override;
    void updateCalendar(const QString& href, const QString& displayName,
                        const Placement& placement) override;
    void deleteCollection(const QString& href) override;
    std::optional<SyncReport> syncCollection(const QString& href, const QString& token) override;
    QList<Resource> listResources(const QString& href) override;
    QList<Resource> multiget(const QString& collectionHref, const QStringList& hrefs,
                             int* refused) override;
    QList<Outcome> putMany(const QList<Put>& puts) override;
    QList<Outcome> deleteMany(const QList<Delete>& deletes) override;
    void cancel() override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace

struct NetworkSession::State
{
    Account account;
    Limits limits;
    QUrl origin;
    QByteArray authorization;

    std::atomic<bool> cancelled{false};
    // cancel() comes from any thread: it queues the abort to `waker`, which lives on the
    // thread that runs the calls, as the network objects do.
    QMutex wakerMutex;
    std::unique_ptr<QObject> waker;
    std::unique_ptr<QNetworkAccessManager> manager;
    // The requests of the call under way; touched on the calling thread only.
    std::function<void()> abortRunning;

    QUrl urlOf(const QString& path) const
    {
        QUrl url = origin;
        url.setPath(path, QUrl::DecodedMode);
        return url;
    }

    bool sameOrigin(const QUrl& url) const
    {
        return url.scheme().compare(origin.scheme(), Qt::CaseInsensitive) == 0 &&
               url.host().compare(origin.host(), Qt::CaseInsensitive) == 0 &&
               url.port(defaultPort(url)) == origin.port(defaultPort(origin));
    }

    static int defaultPort(const QUrl& url)
    {
        return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80;
    }

    std::optional<DavFailure> insecurity(const QUrl& url) const
    {
        const QString scheme = url.scheme().toLower();
        if (scheme == QLatin1String("https"))
            return std::nullopt;
        if (scheme != QLatin1String("http") || url.host().isEmpty())
            return DavFailure(Kind::Insecure, 0,
                              QStringLiteral("The server address must start with https://."));
        if (isLoopbackHost(url.host()) || account.plainHttpAgreed)
            return std::nullopt;
        return DavFailure(
            Kind::Insecure, 0,
            QStringLiteral("Plain http:// would send the password to %1 unencrypted: use "
                           "https://, or agree to plain http for this server.")
                .arg(url.host()));
    }

    void prepareThread()
    {
        if (manager && manager->thread() == QThread::currentThread())
            return;
        QMutexLocker lock(&wakerMutex);
        manager = std::make_unique<QNetworkAccessManager>();
        waker = std::make_unique<QObject>();
    }

    QList<Answer> perform(const QList<Request>& requests, int parallel);
    Answer perform(const Request& request) { return perform(QList<Request>{request}, 1).first(); }
    // The answer of a request that must succeed; throws its failure otherwise.
    Answer expect(const Request& request, Subject subject)
    {
        Answer answer = perform(request);
        if (answer.failure)
            throw *answer.failure;
        if (!isSuccess(answer.status))
            throw statusFailure(answer.status, subject);
        return answer;
    }
    Multistatus multistatusOf(const Answer& answer)
    {
        try {
            return readMultistatus(answer.body, answer.url);
        } catch (const DavFailure&) {
            throw badAnswer(answer.status);
        }
    }
};

QList<Answer> NetworkSession::State::perform(const QList<Request>& requests, int parallel)
{
    prepareThread();
    if (cancelled)
        throw cancelledFailure();

    enum class Stop
    {
        None,
        TooLarge,
        Overall,
        Cancelled
    };
    struct Call
    {
        int index = 0;
        QUrl url;
        QByteArray method; // a 303 turns the request into a GET
        int redirects = 0;
        QByteArray body;
        Stop stop = Stop::None;
        QNetworkReply* reply = nullptr;
        QTimer* guard = nullptr;
    };

    QList<Answer> answers(requests.size());
    std::vector<std::unique_ptr<Call>> calls;
    QHash<QNetworkReply*, Call*> running;
    // Replies are deleted once the loop is over, never inside their own signals.
    std::vector<std::unique_ptr<QNetworkReply>> spent;
    std::optional<DavFailure> fatal;
    qsizetype next = 0;
    QEventLoop loop;

    auto stopAll = [&](Stop why) {
        const QList<Call*> now = running.values();
        for (Call* call : now) {
            if (call->stop == Stop::None)
                call->stop = why;
            call->reply->abort();
        }
    };
    abortRunning = [&] { stopAll(Stop::Cancelled); };

    std::function<void(Call*)> send;
    std::function<void()> launchMore;

    auto settle = [&](Call* call, Answer answer) {
        if (endsEverything(answer) && !fatal) {
            fatal = answer.failure ? *answer.failure : statusFailure(401, Subject::Account);
            answers[call->index] = std::move(answer);
            stopAll(Stop::Cancelled);
        } else {
            answers[call->index] = std::move(answer);
        }
        launchMore();
        if (running.isEmpty())
            loop.quit();
    };

    auto onFinished = [&](Call* call) {
        QNetworkReply* reply = call->reply;
        running.remove(reply);
        call->guard->stop();
        QObject::disconnect(reply, nullptr, &loop, nullptr);
        spent.emplace_back(reply);
        if (call->stop == Stop::None && reply->isOpen())
            call->body += reply->readAll();
        if (call->stop == Stop::None && call->body.size() > limits.maxResponseBytes)
            call->stop = Stop::TooLarge;

        Answer answer;
        const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
        switch (call->stop) {
        case Stop::TooLarge:
            answer.failure = DavFailure(Kind::TooLarge, status,
                                        QStringLiteral("The server's answer was larger than %1.")
                                            .arg(sizeText(limits.maxResponseBytes)));
            return settle(call, std::move(answer));
        case Stop::Overall:
            answer.failure =
                DavFailure(Kind::Timeout, status,
                           QStringLiteral("The server did not finish its answer within %1.")
                               .arg(secondsText(limits.overallTimeoutMs)));
            return settle(call, std::move(answer));
        case Stop::Cancelled:
            answer.failure = cancelledFailure();
            return settle(call, std::move(answer));
        case Stop::None:
            break;
        }
        if (status == 0) {
            // Only the transfer timeout aborts a request that none of the stops above did.
            if (reply->error() == QNetworkReply::OperationCanceledError)
                answer.failure = DavFailure(Kind::Timeout, 0,
                                            QStringLiteral("The server did not answer within %1.")
                                                .arg(secondsText(limits.requestTimeoutMs)));
            else
                answer.failure = DavFailure(
                    Kind::Network, 0,
                    QStringLiteral("Could not reach the server: %1.").arg(reply->errorString()));
            return settle(call, std::move(answer));
        }
        const QByteArray location = reply->rawHeader("Location");
        if (isRedirect(status) && !location.isEmpty()) {
            const QUrl target = call->url.resolved(QUrl::fromEncoded(location, QUrl::TolerantMode));
            if (!sameOrigin(target)) {
                // The password goes to the address the person entered and nowhere else; a
                // server that moved elsewhere is named, to be entered if it is trusted.
                QUrl shown = target.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery |
                                             QUrl::RemoveFragment);
                answer.failure = DavFailure(
                    Kind::Insecure, status,
                    QStringLiteral("The server sent Kestrune on to %1. The password goes only "
                                   "to the server address entered: enter that address instead "
                                   "if you trust it.")
                        .arg(shown.toDisplayString()));
                return settle(call, std::move(answer));
            }
            if (++call->redirects > kMaxRedirects) {
                answer.failure =
                    DavFailure(Kind::BadResponse, status,
                               QStringLiteral("The server sent Kestrune on from address to address "
                                              "more than %1 times.")
                                   .arg(kMaxRedirects));
                return settle(call, std::move(answer));
            }
            call->url = target;
            // "See Other" names where the outcome can be read, not where to send this again.
            if (status == 303 && call->method != "HEAD")
                call->method = "GET";
            call->body.clear();
            return send(call);
        }
        answer.status = status;
        answer.body = std::move(call->body);
        answer.etag = reply->rawHeader("ETag");
        answer.url = call->url;
        settle(call, std::move(answer));
    };

    send = [&](Call* call) {
        const Request& request = requests[call->index];
        QNetworkRequest http(call->url);
        http.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                          QNetworkRequest::ManualRedirectPolicy);
        http.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                          QNetworkRequest::AlwaysNetwork);
        http.setTransferTimeout(limits.requestTimeoutMs);
        http.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Kestrune"));
        // After a 303 the request is a plain GET: none of the first request's body, conditions
        // or depth go with it.
        const bool asked = call->method == request.method;
        if (asked) {
            for (const auto& header : request.headers)
                http.setRawHeader(header.first, header.second);
            if (!request.depth.isEmpty())
                http.setRawHeader("Depth", request.depth);
        }
        if (sameOrigin(call->url) && !authorization.isEmpty())
            http.setRawHeader("Authorization", authorization);

        QNetworkReply* reply =
            manager->sendCustomRequest(http, call->method, asked ? request.body : QByteArray());
        call->reply = reply;
        running.insert(reply, call);
        call->guard = new QTimer(reply);
        call->guard->setSingleShot(true);
        QObject::connect(call->guard, &QTimer::timeout, &loop, [call] {
            call->stop = Stop::Overall;
            call->reply->abort();
        });
        call->guard->start(limits.overallTimeoutMs);
        QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [this, call] {
            const QVariant length = call->reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toLongLong() > limits.maxResponseBytes) {
                call->stop = Stop::TooLarge;
                call->reply->abort();
            }
        });
        QObject::connect(reply, &QNetworkReply::readyRead, &loop, [this, call] {
            call->body += call->reply->readAll();
            if (call->body.size() > limits.maxResponseBytes) {
                call->stop = Stop::TooLarge;
                call->reply->abort();
            }
        });
        QObject::connect(reply, &QNetworkReply::finished, &loop,
                         [call, &onFinished] { onFinished(call); });
    };

    launchMore = [&] {
        while (!fatal && running.size() < parallel && next < requests.size()) {
            if (cancelled) {
                fatal = cancelledFailure();
                break;
            }
            auto call = std::make_unique<Call>();
            call->index = int(next++);
            call->url = requests[call->index].url;
            call->method = requests[call->index].method;
            if (auto refusal = insecurity(call->url)) {
                answers[call->index].failure = refusal;
                fatal = refusal;
                break;
            }
            send(call.get());
            calls.push_back(std::move(call));
        }
    };

    launchMore();
    if (!running.isEmpty())
        loop.exec();
    stopAll(Stop::Cancelled); // nothing is left running, whatever ended the loop
    abortRunning = nullptr;
    if (cancelled)
        throw cancelledFailure();
    if (fatal && requests.size() > 1)
        throw *fatal;
    return answers;
}

NetworkSession::NetworkSession(Account account, Limits limits) : m_state(std::make_unique<State>())
{
    // A password written into the address would travel in it: the account's own is used.
    account.address.setUserInfo(QString());
    if (account.address.path().isEmpty())
        account.address.setPath(QStringLiteral("/"));
    m_state->origin =
        account.address.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
    if (!account.user.isEmpty())
        m_state->authorization =
            "Basic " + (account.user + u':' + account.password).toUtf8().toBase64();
    m_state->account = std::move(account);
    m_state->limits = limits;
    m_state->limits.connections = std::max(1, m_state->limits.connections);
    m_state->limits.multigetChunk = std::max(1, m_state->limits.multigetChunk);
}

NetworkSession::~NetworkSession() = default;

void NetworkSession::cancel()
{
    m_state->cancelled = true;
    QMutexLocker lock(&m_state->wakerMutex);
    if (!m_state->waker)
        return;
    State* state = m_state.get();
    QMetaObject::invokeMethod(
        m_state->waker.get(),
        [state] {
            if (state->abortRunning)
                state->abortRunning();
        },
        Qt::QueuedConnection);
}

QUrl NetworkSession::findCalendarHome()
{
    State& s = *m_state;
    const QUrl address = s.account.address;
    const bool atRoot = address.path() == QLatin1String("/");
    const QUrl wellKnown = s.urlOf(QStringLiteral("/.well-known/caldav"));
    const QList<QUrl> starts =
        atRoot ? QList<QUrl>{wellKnown, address} : QList<QUrl>{address, wellKnown};

    // What a place that led nowhere said, told when no other place leads to a home either:
    // a redirect to another server, an answer that could not be read.
    std::optional<DavFailure> firstRefusal;
    // One PROPFIND Depth 0; std::nullopt where the server has nothing to say there (404, 405,
    // ...), a throw where it refuses the account or cannot be reached.
    auto ask = [&](const QUrl& url,
                   std::initializer_list<PropName> props) -> std::optional<DavResponse> {
        const Answer answer =
            s.perform(Request{"PROPFIND", url, propfindBody(props), "0", kXmlBody});
        if (answer.failure) {
            const Kind kind = answer.failure->kind();
            if (kind != Kind::BadResponse &&
                (kind != Kind::Insecure || answer.failure->httpStatus() == 0))
                throw *answer.failure;
            if (!firstRefusal)
                firstRefusal = answer.failure;
            return std::nullopt;
        }
        if (answer.status == 401 || answer.status == 403)
            throw statusFailure(answer.status, Subject::Account);
        if (answer.status != 207)
            return std::nullopt;
        try {
            const Multistatus reply = s.multistatusOf(answer);
            if (!reply.responses.isEmpty())
                return reply.responses.first();
        } catch (const DavFailure& failure) {
            if (!firstRefusal)
                firstRefusal = failure;
        }
        return std::nullopt;
    };

    std::optional<QUrl> plainCollection;
    for (const QUrl& start : starts) {
        const auto there = ask(start, {{kDavNs, u"current-user-principal"},
                                       {kCalDavNs, u"calendar-home-set"},
                                       {kDavNs, u"resourcetype"}});
        if (!there)
            continue;
        if (!there->calendarHomeSet.isEmpty())
            return s.urlOf(withSlash(there->calendarHomeSet.first()));
        if (!there->currentUserPrincipal.isEmpty()) {
            const auto principal =
                ask(s.urlOf(there->currentUserPrincipal), {{kCalDavNs, u"calendar-home-set"}});
            if (principal && !principal->calendarHomeSet.isEmpty())
                return s.urlOf(withSlash(principal->calendarHomeSet.first()));
        }
        // A home that names neither its principal nor itself: the address is taken as given.
        if (start == address && !atRoot && there->isCollection && !there->isCalendar)
            plainCollection = address;
    }
    if (plainCollection)
        return *plainCollection;
    if (firstRefusal)
        throw *firstRefusal;
    throw statusFailure(404, Subject::Account);
}

namespace {

Collection collectionOf(const DavResponse& response)
{
    Collection collection;
    collection.href = withSlash(response.href);
    collection.displayName = response.displayName.value_or(QString());
    collection.holdsTodos =
        !response.componentSetGiven || response.components.contains(QLatin1String("VTODO"));
    collection.offersSyncCollection = response.offersSyncCollection;
    collection.ctag = response.ctag;
    if (response.category)
        collection.placement = readPlacement(*response.category);
    return collection;
}

QByteArray collectionPropfind(bool withTag = true)
{
    // The tag last: the listing without it is the same one shorter.
    const PropName props[] = {
        {kDavNs, u"resourcetype"},         {kDavNs, u"displayname"},
        {kKestruneNs, u"category"},        {kCalDavNs, u"supported-calendar-component-set"},
        {kDavNs, u"supported-report-set"}, {kCalendarServerNs, u"getctag"}};
    return propfindBody(std::span(props, std::size(props) - (withTag ? 0 : 1)));
}

} // namespace

QList<Collection> NetworkSession::listCalendars(const QUrl& home, bool withTags)
{
    State& s = *m_state;
    const QString homePath = withSlash(home.path(QUrl::FullyDecoded));
    const Answer answer = s.expect(
        Request{"PROPFIND", s.urlOf(homePath), collectionPropfind(withTags), "1", kXmlBody},
        Subject::Calendar);
    QList<Collection> calendars;
    for (const DavResponse& response : s.multistatusOf(answer).responses) {
        if (!response.isCalendar || withSlash(response.href) == homePath)
            continue;
        calendars.append(collectionOf(response));
    }
    return calendars;
}

Collection NetworkSession::makeCalendar(const QString& href, const QString& displayName,
                                        const Placement& placement)
{
    State& s = *m_state;
    const QString path = withSlash(href);
    s.expect(
        Request{"MKCALENDAR", s.urlOf(path), mkcalendarBody(displayName, placement), {}, kXmlBody},
        Subject::Calendar);
    const Answer answer = s.expect(
        Request{"PROPFIND", s.urlOf(path), collectionPropfind(), "0", kXmlBody}, Subject::Calendar);
    const Multistatus reply = s.multistatusOf(answer);
    if (reply.responses.isEmpty())
        throw badAnswer(answer.status);
    Collection collection = collectionOf(reply.responses.first());
    collection.href = path;
    return collection;
}

void NetworkSession::updateCalendar(const QString& href, const QString& displayName,
                                    const Placement& placement)
{
    State& s = *m_state;
    const Answer answer = s.expect(Request{"PROPPATCH",
                                           s.urlOf(withSlash(href)),
                                           proppatchBody(displayName, placement),
                                           {},
                                           kXmlBody},
                                   Subject::Calendar);
    if (answer.status != 207)
        return;
    for (const DavResponse& response : s.multistatusOf(answer).responses)
        if (response.failedPropStatus != 0)
            throw statusFailure(response.failedPropStatus, Subject::Calendar);
}

void NetworkSession::deleteCollection(const QString& href)
{
    State& s = *m_state;
    const Answer answer = s.perform(Request{"DELETE", s.urlOf(withSlash(href)), {}, {}, {}});
    if (answer.failure)
        throw *answer.failure;
    // Gone already is what was asked for.
    if (!isSuccess(answer.status) && answer.status != 404 && answer.status != 410)
        throw statusFailure(answer.status, Subject::Calendar);
}

std::optional<SyncReport> NetworkSession::syncCollection(const QString& href, const QString& token)
{
    State& s = *m_state;
    const QString path = withSlash(href);
    // Later rounds (after a truncated answer) overrule earlier ones for the same href.
    QStringList order;
    QHash<QString, std::optional<QByteArray>> latest; // nullopt: removed
    QString current = token;
    SyncReport report;
    for (int round = 0; round < kMaxSyncRounds; ++round) {
        const Answer answer =
            s.perform(Request{"REPORT", s.urlOf(path), syncCollectionBody(current), "0", kXmlBody});
        if (answer.failure)
            throw *answer.failure;
        // RFC 6578 names 403; servers use other refusals too, always with the precondition.
        if (!current.isEmpty() && answer.status >= 400 && answer.status <= 499 &&
            namesPrecondition(answer.body, u"valid-sync-token"))
            return std::nullopt;
        if (!isSuccess(answer.status))
            throw statusFailure(answer.status, Subject::Calendar);
        const Multistatus reply = s.multistatusOf(answer);
        bool truncated = false;
        for (const DavResponse& response : reply.responses) {
            if (withSlash(response.href) == path) {
                truncated |= response.status == 507;
                continue;
            }
            // Members that are collections are no tasks.
            if (response.href.endsWith(u'/') || response.isCollection)
                continue;
            if (!latest.contains(response.href))
                order.append(response.href);
            if (response.status == 404 || response.status == 410)
                latest.insert(response.href, std::nullopt);
            else
                latest.insert(response.href, response.etag);
        }
        report.newToken = reply.syncToken;
        if (!truncated || reply.syncToken.isEmpty() || reply.syncToken == current)
            break;
        current = reply.syncToken;
    }
    for (const QString& member : order) {
        const std::optional<QByteArray>& etag = latest[member];
        if (etag)
            report.changed.append(Resource{member, *etag, {}});
        else
            report.removed.append(member);
    }
    return report;
}

QList<Resource> NetworkSession::listResources(const QString& href)
{
    State& s = *m_state;
    const QString path = withSlash(href);
    const Answer answer = s.expect(
        Request{"PROPFIND", s.urlOf(path),
                propfindBody({{kDavNs, u"resourcetype"}, {kDavNs, u"getetag"}}), "1", kXmlBody},
        Subject::Calendar);
    QList<Resource> resources;
    for (const DavResponse& response : s.multistatusOf(answer).responses) {
        if (response.isCollection || withSlash(response.href) == path ||
            response.href.endsWith(u'/'))
            continue;
        resources.append(Resource{response.href, response.etag, {}});
    }
    return resources;
}

QList<Resource> NetworkSession::multiget(const QString& collectionHref, const QStringList& hrefs,
                                         int* refused)
{
    State& s = *m_state;
    const QUrl url = s.urlOf(withSlash(collectionHref));
    QList<Request> requests;
    for (qsizetype start = 0; start < hrefs.size(); start += s.limits.multigetChunk)
        requests.append(Request{
            "REPORT", url, multigetBody(hrefs.mid(start, s.limits.multigetChunk)), "1", kXmlBody});
    if (refused)
        *refused = 0;
    QList<Resource> resources;
    for (const Answer& answer : s.perform(requests, s.limits.connections)) {
        if (answer.failure)
            throw *answer.failure;
        if (!isSuccess(answer.status))
            throw statusFailure(answer.status, Subject::Calendar);
        for (const DavResponse& response : s.multistatusOf(answer).responses) {
            if ((response.status != 0 && !isSuccess(response.status)) || !response.calendarData)
                continue;
            if (response.calendarData->size() > s.limits.maxResourceBytes) {
                if (refused)
                    ++*refused;
                continue;
            }
            resources.append(Resource{response.href, response.etag, *response.calendarData});
        }
    }
    return resources;
}

QList<Outcome> NetworkSession::putMany(const QList<Put>& puts)
{
    State& s = *m_state;
    QList<Outcome> outcomes(puts.size());
    QList<Request> requests;
    QList<qsizetype> sent; // the index in `puts` of each request
    for (qsizetype i = 0; i < puts.size(); ++i) {
        const Put& put = puts[i];
        if (put.body.size() > s.limits.maxResourceBytes) {
            outcomes[i].failure =
                DavFailure(Kind::TooLarge, 0,
                           QStringLiteral("The task is larger than %1 and was not sent.")
                               .arg(sizeText(s.limits.maxResourceBytes)));
            continue;
        }
        Request request{"PUT",
                        s.urlOf(put.href),
                        put.body,
                        {},
                        {{"Content-Type", "text/calendar; charset=utf-8"}}};
        if (put.ifMatch.isEmpty())
            request.headers.append(qMakePair(QByteArray("If-None-Match"), QByteArray("*")));
        else
            request.headers.append(qMakePair(QByteArray("If-Match"), put.ifMatch));
        requests.append(std::move(request));
        sent.append(i);
    }
    const QList<Answer> answers = s.perform(requests, s.limits.connections);
    if (requests.size() == 1 && endsEverything(answers.first()))
        throw answers.first().failure ? *answers.first().failure
                                      : statusFailure(answers.first().status, Subject::Task);
    for (qsizetype i = 0; i < answers.size(); ++i) {
        Outcome& outcome = outcomes[sent[i]];
        outcome.httpStatus = answers[i].status;
        outcome.etag = answers[i].etag;
        if (answers[i].failure)
            outcome.failure = answers[i].failure;
        else if (!isSuccess(answers[i].status))
            outcome.failure = statusFailure(answers[i].status, Subject::Task);
    }
    return outcomes;
}

QList<Outcome> NetworkSession::deleteMany(const QList<Delete>& deletes)
{
    State& s = *m_state;
    QList<Request> requests;
    for (const Delete& del : deletes) {
        Request request{"DELETE", s.urlOf(del.href), {}, {}, {}};
        if (!del.ifMatch.isEmpty())
            request.headers.append(qMakePair(QByteArray("If-Match"), del.ifMatch));
        requests.append(std::move(request));
    }
    const QList<Answer> answers = s.perform(requests, s.limits.connections);
    if (requests.size() == 1 && endsEverything(answers.first()))
        throw answers.first().failure ? *answers.first().failure
                                      : statusFailure(answers.first().status, Subject::Task);
    QList<Outcome> outcomes(deletes.size());
    for (qsizetype i = 0; i < answers.size(); ++i) {
        outcomes[i].httpStatus = answers[i].status;
        if (answers[i].failure)
            outcomes[i].failure = answers[i].failure;
        // A task gone already is what was asked for.
        else if (!isSuccess(answers[i].status) && answers[i].status != 404 &&
                 answers[i].status != 410)
            outcomes[i].failure = statusFailure(answers[i].status, Subject::Task);
    }
    return outcomes;
}

} // namespace Dav

extern "C" __attribute__((visibility("default"))) Dav::Session*
kestrune_dav_make_session(const Dav::Account& account, const Dav::Limits& limits)
{
    return new Dav::NetworkSession(account, limits);
}
