// The multistatus reader on what servers really send and on what no server should.
#include "dav_xml.h"
#include "test_main.h"

#include <QTest>

using namespace Dav;

class TestDavXml : public QObject
{
    Q_OBJECT

private slots:
    void multistatus_readsPropertiesOfSucceededPropstatsOnly()
    {
        const QByteArray xml =
            "<?xml version='1.0' encoding='utf-8'?>\n"
            "<multistatus xmlns=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\" "
            "xmlns:K=\"urn:x-kestrune:caldav\" xmlns:CS=\"http://calendarserver.org/ns/\">"
            "<response><href>http://h.example/al%20ice/c1/</href><propstat><prop>"
            "<resourcetype><C:calendar/><collection/></resourcetype>"
            "<displayname>Home &amp; Garden</displayname><K:category>k1\n\n3</K:category>"
            "<C:supported-calendar-component-set><C:comp name=\"vtodo\"/>"
            "</C:supported-calendar-component-set><supported-report-set><supported-report>"
            "<report><C:calendar-multiget/></report></supported-report><supported-report><report>"
            "<sync-collection/></report></supported-report></supported-report-set>"
            "<CS:getctag>\"c\"</CS:getctag></prop><status>HTTP/1.1 200 OK</status></propstat>"
            "<propstat><prop><getetag/><K:category>wrong</K:category></prop>"
            "<status>HTTP/1.1 404 Not Found</status></propstat></response>"
            "<response><href>/al%20ice/c1/a.ics</href><status>HTTP/1.1 404 Not Found</status>"
            "</response>"
            "<response><href>/al%20ice/c1/b.ics</href><propstat><prop><getetag>\"e2\"</getetag>"
            "<C:calendar-data><![CDATA[BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n]]></C:calendar-data>"
            "</prop><status>HTTP/1.1 200 OK</status></propstat></response>"
            "<sync-token>tok-2</sync-token></multistatus>";
        const Multistatus reply = readMultistatus(xml);
        QCOMPARE(reply.syncToken, QStringLiteral("tok-2"));
        QCOMPARE(reply.responses.size(), 3);
        const DavResponse& calendar = reply.responses[0];
        QCOMPARE(calendar.href, QStringLiteral("/al ice/c1/"));
        QVERIFY(calendar.isCalendar && calendar.isCollection);
        QCOMPARE(calendar.displayName, QStringLiteral("Home & Garden"));
        QCOMPARE(readPlacement(calendar.category.value()), (Placement{"k1", "", 3}));
        QCOMPARE(calendar.components, QStringList{"VTODO"});
        QCOMPARE(calendar.ctag, QStringLiteral("\"c\""));
        QVERIFY(calendar.offersSyncCollection);
        QVERIFY(!reply.responses[2].offersSyncCollection);
        QCOMPARE(calendar.failedPropStatus, 404);
        QVERIFY(calendar.etag.isEmpty());
        QCOMPARE(reply.responses[1].status, 404);
        QCOMPARE(reply.responses[2].etag, QByteArray("\"e2\""));
        // XML reads every line end as LF, in CDATA too; iCalendar readers take either.
        QCOMPARE(reply.responses[2].calendarData.value(),
                 QByteArray("BEGIN:VCALENDAR\nEND:VCALENDAR\n"));
    }

    void multistatus_refusesWhatNoServerShouldSend_data()
    {
        QTest::addColumn<QByteArray>("xml");
        const QByteArray laughs =
            "<?xml version=\"1.0\"?><!DOCTYPE m [<!ENTITY a \"aaaaaaaaaa\">"
            "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
            "<multistatus xmlns=\"DAV:\"><response><href>&b;</href></response></multistatus>";
        QTest::newRow("entities of its own") << laughs;
        QTest::newRow("system entity")
            << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE m [<!ENTITY x SYSTEM "
                          "\"file:///etc/passwd\">]><multistatus xmlns=\"DAV:\"><response>"
                          "<href>&x;</href></response></multistatus>");
        QTest::newRow("nesting too deep")
            << "<multistatus xmlns=\"DAV:\"><response><href>/a</href><propstat><prop>" +
                   QByteArray("<x>").repeated(100) + QByteArray("</x>").repeated(100) +
                   "</prop></propstat></response></multistatus>";
        QTest::newRow("not a multistatus") << QByteArray("<error xmlns=\"DAV:\"/>");
        QTest::newRow("no namespace") << QByteArray("<multistatus><response/></multistatus>");
        QTest::newRow("cut off") << QByteArray(
            "<multistatus xmlns=\"DAV:\"><response><href>/a</href>");
        QTest::newRow("second root")
            << QByteArray("<multistatus xmlns=\"DAV:\"/><multistatus xmlns=\"DAV:\"/>");
        QTest::newRow("response without href")
            << QByteArray("<multistatus xmlns=\"DAV:\"><response><status>HTTP/1.1 200 OK"
                          "</status></response></multistatus>");
        QTest::newRow("status that is none")
            << QByteArray("<multistatus xmlns=\"DAV:\"><response><href>/a</href><status>"
                          "fine</status></response></multistatus>");
        QTest::newRow("empty") << QByteArray();
    }

    void multistatus_refusesWhatNoServerShouldSend()
    {
        QFETCH(QByteArray, xml);
        try {
            readMultistatus(xml);
            QFAIL("read");
        } catch (const DavFailure& failure) {
            QCOMPARE(failure.kind(), DavFailure::Kind::BadResponse);
            QCOMPARE(failure.description(),
                     QStringLiteral("The server's answer could not be read."));
        }
    }

    void href_resolvedAgainstTheAddressAsked_data()
    {
        QTest::addColumn<QString>("href");
        QTest::addColumn<QString>("path");
        QTest::newRow("absolute path") << "/al%20ice/c1/a.ics"
                                       << "/al ice/c1/a.ics";
        QTest::newRow("absolute URL") << "https://h.example/x/a.ics"
                                      << "/x/a.ics";
        QTest::newRow("relative") << "a%2Bb.ics"
                                  << "/al ice/c1/a+b.ics";
        QTest::newRow("up a level") << "../c2/"
                                    << "/al ice/c2/";
    }
    void href_resolvedAgainstTheAddressAsked()
    {
        QFETCH(QString, href);
        QFETCH(QString, path);
        QCOMPARE(decodedPath(href, QUrl("https://h.example/al%20ice/c1/")), path);
    }

    void placement_text_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<Placement>>("placement");
        QTest::newRow("top level") << "k7\n\n0" << std::optional(Placement{"k7", "", 0});
        QTest::newRow("nested") << "k7\nk2\n12" << std::optional(Placement{"k7", "k2", 12});
        QTest::newRow("crlf") << "k7\r\nk2\r\n12" << std::optional(Placement{"k7", "k2", 12});
        QTest::newRow("two lines") << "k7\n3" << std::optional<Placement>();
        QTest::newRow("order no number") << "k7\n\nx" << std::optional<Placement>();
        QTest::newRow("negative order") << "k7\n\n-1" << std::optional<Placement>();
        QTest::newRow("no key") << "\nk2\n1" << std::optional<Placement>();
    }

    void placement_text()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<Placement>, placement);
        QCOMPARE(readPlacement(text), placement);
        if (placement && !text.contains(u'\r'))
            QCOMPARE(placementText(*placement), text);
    }

    void requestBodies_namePathsEncodedAndTextEscaped()
    {
        const QByteArray multiget = multigetBody({QStringLiteral("/a b/x&y@z.ics")});
        QVERIFY(multiget.contains("<D:href>/a%20b/x&amp;y@z.ics</D:href>"));
        QCOMPARE(decodedPath(QStringLiteral("/a%20b/x&y@z.ics")), QStringLiteral("/a b/x&y@z.ics"));
        const QByteArray mkcalendar =
            mkcalendarBody(QStringLiteral("<Home>"), Placement{"k1", "k0", 2});
        QVERIFY(mkcalendar.contains("&lt;Home&gt;"));
        QVERIFY(mkcalendar.contains("<K:category>k1\nk0\n2</K:category>"));
        QVERIFY(mkcalendar.contains("<C:comp name=\"VTODO\"/>"));
    }
};

KESTRUNE_TEST_MAIN(TestDavXml)
#include "test_dav_xml.moc"
