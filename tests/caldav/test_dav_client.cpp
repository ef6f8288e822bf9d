// The CalDAV client against a real Radicale, and against a server that misbehaves on purpose.
#include "dav_client.h"
#include "misbehaving_server.h"
#include "radicale_server.h"
#include "test_main.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <functional>

using namespace Dav;
using Kind = DavFailure::Kind;

Q_DECLARE_METATYPE(MisbehavingServer::Answer)

namespace {

const QString kPassword = QStringLiteral("pa55-Word!");

QByteArray vtodo(const QString& uid, const QString& summary)
{
    return QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Kestrune tests//EN\r\n"
                          "BEGIN:VTODO\r\nUID:%1\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:%2\r\n"
                          "END:VTODO\r\nEND:VCALENDAR\r\n")
        .arg(uid, summary)
        .toUtf8();
}

// Runs `call` and hands back the DavFailure it throws; fails the test when it throws none.
std::optional<DavFailure> failureOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const DavFailure& failure) {
        return failure;
    }
    return std::nullopt;
}

} // namespace

class TestDavClient : public QObject
{
    Q_OBJECT

    std::unique_ptr<RadicaleServer> m_radicale;
    std::unique_ptr<Client> m_client;
    QString m_home;

    Account account(const QUrl& address) const
    {
        return Account{address, QStringLiteral("alice"), kPassword, false};
    }

    // A new calendar for one test, so that the tests share the server and not their data.
    QString freshCalendar(const QString& name)
    {
        const QString href = m_home + name + u'/';
        m_client->makeCalendar(href, name, Placement{name, {}, 0});
        return href;
    }

    static void checkPlain(const DavFailure& failure)
    {
        const QString text = failure.description();
        QVERIFY2(text.endsWith(u'.'), qPrintable(text));
        QVERIFY2(!text.contains(kPassword), qPrintable(text));
        QVERIFY(!text.contains(QString::fromLatin1(("alice:" + kPassword).toUtf8().toBase64())));
        QVERIFY(!QString::fromStdString(failure.what()).contains(kPassword));
    }

private slots:
    void initTestCase()
    {
        m_radicale = std::make_unique<RadicaleServer>(
            QList<RadicaleServer::User>{{QStringLiteral("alice"), kPassword}});
        QVERIFY2(m_radicale->isRunning(), qPrintable(m_radicale->errorString()));
        m_client = std::make_unique<Client>(account(m_radicale->url()));
        m_home = m_client->findCalendarHome().path();
        QCOMPARE(m_home, QStringLiteral("/alice/"));
    }

    void findCalendarHome_fromRootPrincipalOrHome_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("root") << "";
        QTest::newRow("well-known") << "/.well-known/caldav";
        QTest::newRow("principal and home") << "/alice/";
        QTest::newRow("home without slash") << "/alice";
    }

    void findCalendarHome_fromRootPrincipalOrHome()
    {
        QFETCH(QString, path);
        Client client(account(m_radicale->url().resolved(QUrl(path))));
        QCOMPARE(client.findCalendarHome(), m_radicale->url().resolved(QUrl("/alice/")));
    }

    // Principal and home apart, hrefs as absolute URLs, calendars of other programs, and a
    // well-known address that points to another server: the way on from the root is taken.
    void findCalendarHome_andCalendarsLaidOutAsOtherServersDo()
    {
        MisbehavingServer elsewhere(MisbehavingServer::status(500));
        MisbehavingServer server(MisbehavingServer::status(404));
        const QByteArray origin = server.url().toEncoded().chopped(1);
        const QByteArray ok = "<d:status>HTTP/1.1 200 OK</d:status>";
        auto multistatus = [&](const QByteArray& responses) {
            return MisbehavingServer::multistatus(
                "<d:multistatus xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\" "
                "xmlns:k=\"urn:x-kestrune:caldav\">" +
                responses + "</d:multistatus>");
        };
        auto calendar = [&](const QByteArray& href, const QByteArray& props) {
            return "<d:response><d:href>" + href +
                   "</d:href><d:propstat><d:prop><d:resourcetype><d:collection/><c:calendar/>"
                   "</d:resourcetype>" +
                   props + "</d:prop>" + ok + "</d:propstat></d:response>";
        };
        server.setAnswer("/.well-known/caldav", MisbehavingServer::redirect(elsewhere.url()));
        server.setAnswer("/", multistatus("<d:response><d:href>/</d:href><d:propstat><d:prop>"
                                          "<d:current-user-principal><d:href>/p/alice/</d:href>"
                                          "</d:current-user-principal></d:prop>" +
                                          ok + "</d:propstat></d:response>"));
        server.setAnswer("/p/alice/", multistatus("<d:response><d:href>/p/alice/</d:href>"
                                                  "<d:propstat><d:prop><c:calendar-home-set>"
                                                  "<d:href>" +
                                                  origin +
                                                  "/cal/al%C3%AFce</d:href>"
                                                  "</c:calendar-home-set></d:prop>" +
                                                  ok + "</d:propstat></d:response>"));
        const QByteArray vtodos = "<c:supported-calendar-component-set><c:comp name=\"VEVENT\"/>"
                                  "<c:comp name=\"VTODO\"/></c:supported-calendar-component-set>";
        server.setAnswer(
            "/cal/al%C3%AFce/",
            multistatus("<d:response><d:href>/cal/al%C3%AFce/</d:href><d:propstat><d:prop>"
                        "<d:resourcetype><d:collection/></d:resourcetype></d:prop>" +
                        ok + "</d:propstat></d:response>" +
                        calendar(origin + "/cal/al%C3%AFce/tasks/",
                                 "<d:displayname>Tasks</d:displayname>" + vtodos) +
                        calendar("/cal/al%C3%AFce/events/",
                                 "<c:supported-calendar-component-set><c:comp name=\"VEVENT\"/>"
                                 "</c:supported-calendar-component-set>") +
                        calendar("/cal/al%C3%AFce/ours", "<k:category>k1\n\n0</k:category>") +
                        "<d:response><d:href>/cal/al%C3%AFce/inbox/</d:href><d:propstat><d:prop>"
                        "<d:resourcetype><d:collection/></d:resourcetype></d:prop>" +
                        ok + "</d:propstat></d:response>"));

        Client client(account(server.url()));
        const QUrl home = client.findCalendarHome();
        QCOMPARE(home.path(), QStringLiteral("/cal/al\u00efce/"));
        const QList<Collection> calendars = client.listCalendars(home);
        QCOMPARE(calendars.size(), 3);
        QCOMPARE(calendars[0].href, QStringLiteral("/cal/al\u00efce/tasks/"));
        QCOMPARE(calendars[0].displayName, QStringLiteral("Tasks"));
        QVERIFY(calendars[0].holdsTodos && !calendars[0].placement);
        QVERIFY(!calendars[1].holdsTodos);
        QCOMPARE(calendars[2].href, QStringLiteral("/cal/al\u00efce/ours/"));
        QVERIFY(calendars[2].holdsTodos); // no component set: anything goes
        QCOMPARE(calendars[2].placement, std::optional(Placement{"k1", "", 0}));
        QVERIFY(elsewhere.requests().isEmpty());
    }

    void makeCalendar_nameAndPlacementReadBackAndUpdated()
    {
        const Collection made =
            m_client->makeCalendar(m_home + QStringLiteral("made/"), QStringLiteral("Home & Work"),
                                   Placement{"k2", "k1", 4});
        QCOMPARE(made.href, m_home + QStringLiteral("made/"));
        QVERIFY(made.holdsTodos);
        QVERIFY(made.offersSyncCollection);
        m_client->updateCalendar(made.href, QStringLiteral("Garden"), Placement{"k2", "", 1});
        const QList<Collection> calendars = m_client->listCalendars(m_client->findCalendarHome());
        const auto found = std::find_if(calendars.begin(), calendars.end(),
                                        [&](const Collection& c) { return c.href == made.href; });
        QVERIFY(found != calendars.end());
        QCOMPARE(found->displayName, QStringLiteral("Garden"));
        QCOMPARE(found->placement, std::optional(Placement{"k2", "", 1}));
        QVERIFY(!found->ctag.isEmpty());
        // The home itself and the principal are no calendars.
        for (const Collection& calendar : calendars)
            QVERIFY(calendar.href != m_home);

        m_client->deleteCollection(made.href);
        m_client->deleteCollection(made.href); // gone already is no failure
        const auto gone = failureOf([&] { m_client->listResources(made.href); });
        QVERIFY(gone && gone->kind() == Kind::NotFound);
    }

    void putMany_conditionalUploads()
    {
        const QString calendar = freshCalendar(QStringLiteral("puts"));
        const QString a = calendar + QStringLiteral("a@x.ics");
        const QString b = calendar + QStringLiteral("b c.ics");
        const QList<Outcome> first =
            m_client->putMany({{a, vtodo("a@x", "A"), {}}, {b, vtodo("b c", "B"), {}}});
        QCOMPARE(first.size(), 2);
        for (const Outcome& outcome : first) {
            QVERIFY(!outcome.failure);
            QVERIFY(outcome.etag.startsWith('"'));
        }
        // New twice: If-None-Match stops the second; an old ETag stops an edit.
        const QList<Outcome> second =
            m_client->putMany({{a, vtodo("a@x", "A again"), {}},
                               {b, vtodo("b c", "B edited"), first[1].etag},
                               {b, vtodo("b c", "B stale"), first[1].etag}});
        QCOMPARE(second[0].httpStatus, 412);
        QCOMPARE(second[0].failure->kind(), Kind::Precondition);
        QCOMPARE(second[0].failure->description(),
                 QStringLiteral("The task changed on the server meanwhile."));
        // The two edits of b race; exactly one of them wins.
        QCOMPARE(int(!second[1].failure) + int(!second[2].failure), 1);

        const QList<Resource> listed = m_client->listResources(calendar);
        QCOMPARE(listed.size(), 2);
        const QList<Resource> bodies = m_client->multiget(calendar, {b});
        QCOMPARE(bodies.size(), 1);
        QCOMPARE(bodies[0].href, b);
        QVERIFY(bodies[0].body.contains("SUMMARY:B edited") ||
                bodies[0].body.contains("SUMMARY:B stale"));
        QCOMPARE(bodies[0].etag, second[1].failure ? second[2].etag : second[1].etag);
    }

    void putMany_oversizedTaskIsRefusedAloneAndNotSent()
    {
        const QString calendar = freshCalendar(QStringLiteral("big"));
        Client client(account(m_radicale->url()), Limits{.maxResourceBytes = 4096});
        const QList<Outcome> outcomes =
            client.putMany({{calendar + "big.ics", vtodo("big", QString(5000, u'x')), {}},
                            {calendar + "small.ics", vtodo("small", "S"), {}}});
        QCOMPARE(outcomes[0].failure->kind(), Kind::TooLarge);
        QCOMPARE(outcomes[0].failure->description(),
                 QStringLiteral("The task is larger than 4 KB and was not sent."));
        QVERIFY(!outcomes[1].failure);
        QCOMPARE(m_client->listResources(calendar).size(), 1);
    }

    void syncCollection_reportsChangesSinceItsToken()
    {
        const QString calendar = freshCalendar(QStringLiteral("sync"));
        const auto empty = m_client->syncCollection(calendar, {});
        QVERIFY(empty && empty->changed.isEmpty() && !empty->newToken.isEmpty());
        const QList<Outcome> put = m_client->putMany({{calendar + "1.ics", vtodo("1", "one"), {}},
                                                      {calendar + "2.ics", vtodo("2", "two"), {}}});
        const auto added = m_client->syncCollection(calendar, empty->newToken);
        QVERIFY(added);
        QCOMPARE(added->changed.size(), 2);
        QVERIFY(added->removed.isEmpty());

        m_client->deleteMany({{calendar + "1.ics", put[0].etag}});
        m_client->putMany({{calendar + "2.ics", vtodo("2", "two!"), put[1].etag}});
        const auto later = m_client->syncCollection(calendar, added->newToken);
        QVERIFY(later);
        QCOMPARE(later->removed, QStringList{calendar + "1.ics"});
        QCOMPARE(later->changed.size(), 1);
        QCOMPARE(later->changed[0].href, calendar + "2.ics");
        QVERIFY(later->changed[0].etag != put[1].etag);

        const auto nothing = m_client->syncCollection(calendar, later->newToken);
        QVERIFY(nothing && nothing->changed.isEmpty() && nothing->removed.isEmpty());
        QVERIFY(!m_client->syncCollection(calendar, QStringLiteral("http://radicale.org/ns/sync/"
                                                                   "no-such-token")));
    }

    void multiget_inChunksLeavesOutMissingAndOversized()
    {
        const QString calendar = freshCalendar(QStringLiteral("chunks"));
        QList<Put> puts;
        QStringList hrefs;
        for (int i = 0; i < 7; ++i) {
            const QString uid = QStringLiteral("t%1").arg(i);
            puts.append(
                {calendar + uid + ".ics", vtodo(uid, i == 3 ? QString(3000, u'y') : uid), {}});
            hrefs.append(puts.last().href);
        }
        m_client->putMany(puts);
        hrefs.insert(2, calendar + "missing.ics");
        Client client(account(m_radicale->url()),
                      Limits{.connections = 2, .maxResourceBytes = 2048, .multigetChunk = 3});
        int refused = -1;
        const QList<Resource> got = client.multiget(calendar, hrefs, &refused);
        QCOMPARE(refused, 1);
        QStringList gotHrefs;
        for (const Resource& resource : got) {
            gotHrefs.append(resource.href);
            QVERIFY(resource.body.startsWith("BEGIN:VCALENDAR"));
            QVERIFY(!resource.etag.isEmpty());
        }
        gotHrefs.sort();
        QStringList expected = hrefs;
        expected.removeAll(calendar + "missing.ics");
        expected.removeAll(calendar + "t3.ics");
        QCOMPARE(gotHrefs, expected);
    }

    void deleteMany_conditionalAndGoneAlready()
    {
        const QString calendar = freshCalendar(QStringLiteral("deletes"));
        const QList<Outcome> put = m_client->putMany(
            {{calendar + "a.ics", vtodo("a", "A"), {}}, {calendar + "b.ics", vtodo("b", "B"), {}}});
        const QList<Outcome> deleted =
            m_client->deleteMany({{calendar + "a.ics", put[0].etag},
                                  {calendar + "b.ics", QByteArray("\"stale\"")},
                                  {calendar + "never.ics", {}}});
        QVERIFY(!deleted[0].failure);
        QCOMPARE(deleted[1].failure->kind(), Kind::Precondition);
        QVERIFY(!deleted[2].failure);
        QCOMPARE(m_client->listResources(calendar).size(), 1);
    }

    void wrongPassword_isUnauthorizedWithoutThePassword()
    {
        Client client(
            Account{m_radicale->url(), QStringLiteral("alice"), QStringLiteral("guess"), false});
        const auto failure = failureOf([&] { client.findCalendarHome(); });
        QVERIFY(failure);
        QCOMPARE(failure->kind(), Kind::Unauthorized);
        QCOMPARE(failure->httpStatus(), 401);
        checkPlain(*failure);
    }

    void serverGone_isNetworkFailure()
    {
        m_radicale->stop();
        const auto failure = failureOf([&] { m_client->listCalendars(QUrl(m_home)); });
        QVERIFY(m_radicale->start());
        QVERIFY(failure);
        QCOMPARE(failure->kind(), Kind::Network);
        QVERIFY2(failure->description().startsWith("Could not reach the server: "),
                 qPrintable(failure->description()));
        checkPlain(*failure);
        QVERIFY(!m_client->listCalendars(QUrl(m_home)).isEmpty());
    }

    void misbehavingServer_givesKindAndPlainText_data()
    {
        QTest::addColumn<MisbehavingServer::Answer>("answer");
        QTest::addColumn<bool>("upload");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("text");
        using M = MisbehavingServer;
        QTest::newRow("401") << M::status(401) << false << int(Kind::Unauthorized)
                             << "The server refused the user name or password.";
        QTest::newRow("403") << M::status(403) << false << int(Kind::Forbidden)
                             << "The server does not allow this account to do that.";
        QTest::newRow("404") << M::status(404) << false << int(Kind::NotFound)
                             << "The calendar was not found on the server.";
        QTest::newRow("412") << M::status(412) << true << int(Kind::Precondition)
                             << "The task changed on the server meanwhile.";
        QTest::newRow("500") << M::status(500) << false << int(Kind::Server)
                             << "The server failed (error 500).";
        QTest::newRow("500 on upload")
            << M::status(500) << true << int(Kind::Server) << "The server failed (error 500).";
        QTest::newRow("garbage") << M::garbage() << false << int(Kind::BadResponse)
                                 << "The server's answer could not be read.";
        QTest::newRow("silence") << M::silence() << false << int(Kind::Timeout)
                                 << "The server did not answer within 1 second.";
        QTest::newRow("silence on upload") << M::silence() << true << int(Kind::Timeout)
                                           << "The server did not answer within 1 second.";
        QTest::newRow("endless body") << M::endlessBody() << false << int(Kind::Timeout)
                                      << "The server did not finish its answer within 2.5 seconds.";
        QTest::newRow("too long announced")
            << M::announcing(qint64(65) << 20) << false << int(Kind::TooLarge)
            << "The server's answer was larger than 64 MB.";
        QTest::newRow("hang-up") << M::hangUp() << false << int(Kind::Network)
                                 << "Could not reach the server: ";
    }

    void misbehavingServer_givesKindAndPlainText()
    {
        QFETCH(MisbehavingServer::Answer, answer);
        QFETCH(bool, upload);
        QFETCH(int, kind);
        QFETCH(QString, text);
        MisbehavingServer server(answer);
        Client client(account(server.url()),
                      Limits{.requestTimeoutMs = 1000, .overallTimeoutMs = 2500});
        QElapsedTimer took;
        took.start();
        const auto failure = failureOf([&] {
            if (!upload) {
                client.listCalendars(server.url().resolved(QUrl("/alice/")));
                return;
            }
            // A single upload reports per task, unless the server cannot be worked with.
            const QList<Outcome> outcomes =
                client.putMany({{"/alice/c/t.ics", vtodo("t", "T"), "\"1\""}});
            if (outcomes[0].failure)
                throw *outcomes[0].failure;
        });
        QVERIFY(failure);
        QCOMPARE(int(failure->kind()), kind);
        QVERIFY2(failure->description().startsWith(text), qPrintable(failure->description()));
        checkPlain(*failure);
        QVERIFY(took.elapsed() < 10000);
        // The password went along, to this server only.
        QVERIFY(server.requests().value(0).contains("Authorization: Basic "));
    }

    void endlessBody_endsAtTheSizeLimit()
    {
        MisbehavingServer server(MisbehavingServer::endlessBody());
        Client client(account(server.url()), Limits{.maxResponseBytes = 16 << 10});
        const auto failure = failureOf([&] { client.listResources("/alice/c/"); });
        QVERIFY(failure);
        QCOMPARE(failure->kind(), Kind::TooLarge);
        QCOMPARE(failure->description(),
                 QStringLiteral("The server's answer was larger than 16 KB."));
    }

    void redirectToAnotherServer_isRefusedWithoutCredentials()
    {
        MisbehavingServer elsewhere(
            MisbehavingServer::multistatus("<multistatus xmlns=\"DAV:\"/>"));
        MisbehavingServer here(
            MisbehavingServer::redirect(elsewhere.url().resolved(QUrl("/dav/"))));
        Client client(account(here.url()));
        const auto failure = failureOf([&] { client.findCalendarHome(); });
        QVERIFY(failure);
        QCOMPARE(failure->kind(), Kind::Insecure);
        QVERIFY2(
            failure->description().contains(elsewhere.url().resolved(QUrl("/dav/")).toString()),
            qPrintable(failure->description()));
        checkPlain(*failure);
        QVERIFY(here.requests().value(0).contains("Authorization: "));
        // Not followed at all: the other server would only ask for a password of its own.
        QVERIFY(elsewhere.requests().isEmpty());
    }

    void redirectOnTheSameServer_followedWithCredentialsFiveTimes()
    {
        MisbehavingServer server;
        server.setAnswer(MisbehavingServer::redirect(server.url().resolved(QUrl("/moved/"))));
        Client client(account(server.url()));
        const auto failure = failureOf([&] { client.listResources("/alice/c/"); });
        QVERIFY(failure);
        QCOMPARE(failure->kind(), Kind::BadResponse);
        checkPlain(*failure);
        const QList<QByteArray> requests = server.requests();
        QCOMPARE(requests.size(), 6);
        QVERIFY(requests.last().startsWith("PROPFIND /moved/ "));
        for (const QByteArray& request : requests)
            QVERIFY(request.contains("Authorization: Basic "));
    }

    // "See Other" is read with a GET, without the first request's body or depth, and the hrefs
    // of its answer are relative to where it was read.
    void seeOther_readWithAGetAndRelativeHrefsResolved()
    {
        MisbehavingServer server(MisbehavingServer::multistatus(
            "<multistatus xmlns=\"DAV:\"><response><href>a%20b.ics</href><propstat><prop>"
            "<getetag>\"e1\"</getetag></prop><status>HTTP/1.1 200 OK</status></propstat>"
            "</response></multistatus>"));
        server.setAnswer("/alice/c/", MisbehavingServer::redirect(
                                          server.url().resolved(QUrl("/moved/c/")), 303));
        Client client(account(server.url()));
        const QList<Resource> listed = client.listResources("/alice/c/");
        QCOMPARE(listed.size(), 1);
        QCOMPARE(listed[0].href, QStringLiteral("/moved/c/a b.ics"));
        const QList<QByteArray> requests = server.requests();
        QCOMPARE(requests.size(), 2);
        QVERIFY(requests[1].startsWith("GET /moved/c/ "));
        QVERIFY(!requests[1].contains("Depth:") && !requests[1].contains("Content-Type:"));
        QVERIFY(requests[1].contains("Authorization: Basic "));
    }

    // The desktop's proxy is used as every other program on it uses it (here from the
    // environment, as a terminal session sets it).
    void proxyFromTheEnvironment_carriesTheRequests()
    {
        MisbehavingServer proxy(MisbehavingServer::multistatus(
            "<multistatus xmlns=\"DAV:\"><response><href>/alice/c/a.ics</href><propstat><prop>"
            "<getetag>\"e1\"</getetag></prop><status>HTTP/1.1 200 OK</status></propstat>"
            "</response></multistatus>"));
        const QByteArray before = qgetenv("http_proxy");
        qputenv("http_proxy", proxy.url().toEncoded());
        const auto restore = qScopeGuard([&] {
            if (before.isNull())
                qunsetenv("http_proxy");
            else
                qputenv("http_proxy", before);
        });
        Client client(
            Account{QUrl("http://dav.example/"), QStringLiteral("alice"), kPassword, true});
        QCOMPARE(client.listResources("/alice/c/").value(0).href, QStringLiteral("/alice/c/a.ics"));
        QVERIFY2(proxy.requests().value(0).startsWith("PROPFIND http://dav.example/alice/c/ "),
                 proxy.requests().value(0).constData());
    }

    void plainHttp_onlyToThisComputerUnlessAgreed_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("agreed");
        QTest::addColumn<bool>("refused");
        QTest::newRow("other host") << "http://192.0.2.7/" << false << true;
        QTest::newRow("other host, agreed") << "http://192.0.2.7/" << true << false;
        QTest::newRow("other host by name") << "http://dav.example/" << false << true;
        QTest::newRow("localhost") << "http://localhost:9/" << false << false;
        QTest::newRow("127.0.0.0/8") << "http://127.3.4.5:9/" << false << false;
        QTest::newRow("::1") << "http://[::1]:9/" << false << false;
        QTest::newRow("IPv4 loopback as IPv6") << "http://[::ffff:127.0.0.1]:9/" << false << false;
        QTest::newRow("other IPv4 host as IPv6") << "http://[::ffff:192.0.2.7]/" << false << true;
        QTest::newRow("no web address") << "ftp://127.0.0.1/" << true << true;
    }

    void plainHttp_onlyToThisComputerUnlessAgreed()
    {
        QFETCH(QString, address);
        QFETCH(bool, agreed);
        QFETCH(bool, refused);
        Client client(Account{QUrl(address), QStringLiteral("alice"), kPassword, agreed},
                      Limits{.requestTimeoutMs = 300, .overallTimeoutMs = 300});
        const auto failure = failureOf([&] { client.findCalendarHome(); });
        QVERIFY(failure); // nothing answers there
        QCOMPARE(failure->kind() == Kind::Insecure, refused);
        checkPlain(*failure);
    }

    void putMany_keepsTheChosenNumberInFlight()
    {
        MisbehavingServer server(MisbehavingServer::silence());
        Client client(account(server.url()), Limits{.connections = 3, .requestTimeoutMs = 500});
        QList<Put> puts;
        for (int i = 0; i < 10; ++i)
            puts.append({QStringLiteral("/alice/c/%1.ics").arg(i), vtodo("x", "X"), {}});
        const auto failure = failureOf([&] { client.putMany(puts); });
        QVERIFY(failure);
        QCOMPARE(failure->kind(), Kind::Timeout);
        // A server that answers nothing stops the batch once the first requests time out.
        QCOMPARE(server.requests().size(), 3);
    }

    void cancel_fromAnotherThreadEndsTheCallAndLaterOnes()
    {
        MisbehavingServer server(MisbehavingServer::silence());
        Client client(account(server.url()));
        std::optional<DavFailure> failure;
        std::optional<DavFailure> later;
        std::unique_ptr<QThread> worker(QThread::create([&] {
            failure = failureOf([&] { client.listCalendars(server.url()); });
            later = failureOf([&] { client.listResources("/alice/c/"); });
        }));
        QElapsedTimer took;
        took.start();
        worker->start();
        QTRY_COMPARE(server.requests().size(), 1);
        client.cancel();
        QVERIFY(worker->wait(5000));
        QVERIFY(took.elapsed() < 5000);
        QVERIFY(failure && later);
        QCOMPARE(failure->kind(), Kind::Cancelled);
        QCOMPARE(later->kind(), Kind::Cancelled);
        QCOMPARE(server.requests().size(), 1);
    }
};

KESTRUNE_TEST_MAIN(TestDavClient)
#include "test_dav_client.moc"
