#pragma once

// The WebDAV and CalDAV XML that goes over the wire: the request bodies Kestrune writes and
// the multistatus answers it reads. What a server sends is untrusted: the reader refuses
// document type declarations (and with them every entity of its own), nesting deeper than a
// multistatus needs and more responses than any calendar holds, and reads only the
// properties it knows.
#include "dav_client.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>
#include <span>

namespace Dav {

inline constexpr QStringView kDavNs = u"DAV:";
inline constexpr QStringView kCalDavNs = u"urn:ietf:params:xml:ns:caldav";
inline constexpr QStringView kCalendarServerNs = u"http://calendarserver.org/ns/";
inline constexpr QStringView kKestruneNs = u"urn:x-kestrune:caldav";

inline constexpr int kMaxXmlDepth = 64;
inline constexpr int kMaxResponses = 500000;

// One <response>: its href (percent-decoded absolute path), the status it carries itself
// (a removed or missing member), and the properties of its propstats that succeeded.
struct DavResponse
{
    QString href;
    int status = 0;           // 0 when the response has propstats instead
    int failedPropStatus = 0; // the first propstat status outside 2xx, 0 when none
    bool isCollection = false;
    bool isCalendar = false;
    std::optional<QString> displayName;
    QByteArray etag;
    std::optional<QByteArray> calendarData;
    std::optional<QString> category;
    bool componentSetGiven = false;
    QStringList components;
    QString syncToken;
    QString ctag;
    bool offersSyncCollection = false; // supported-report-set names it
    QString currentUserPrincipal;
    QStringList calendarHomeSet;
};

struct Multistatus
{
    QList<DavResponse> responses;
    QString syncToken; // the report's own, for sync-collection
};

// Throws DavFailure BadResponse when the bytes are no multistatus it can trust. Relative hrefs
// are resolved against `base`, the address that was asked.
Multistatus readMultistatus(QByteArrayView xml, const QUrl& base = {});
// Whether an error body (<DAV:error>) names the precondition `name` in the DAV: namespace,
// e.g. "valid-sync-token". Anything unreadable names nothing.
bool namesPrecondition(QByteArrayView xml, QStringView name);

// The placement's text as the dead property holds it, and back; std::nullopt for text that is
// not three lines with a decimal order.
QString placementText(const Placement& placement);
std::optional<Placement> readPlacement(const QString& text);

// Request bodies.
struct PropName
{
    QStringView ns;
    QStringView name;
};
QByteArray propfindBody(std::span<const PropName> props);
inline QByteArray propfindBody(std::initializer_list<PropName> props)
{
    return propfindBody(std::span(props.begin(), props.size()));
}
QByteArray mkcalendarBody(const QString& displayName, const Placement& placement);
QByteArray proppatchBody(const QString& displayName, const Placement& placement);
QByteArray syncCollectionBody(const QString& token);
// `hrefs` percent-decoded absolute paths, as the client keeps them.
QByteArray multigetBody(const QStringList& hrefs);

// An href as a server writes it (absolute URL, absolute path or a path relative to `base`,
// percent-encoded) as the decoded absolute path Kestrune keeps, and back.
QString decodedPath(const QString& href, const QUrl& base = {});
QByteArray encodedPath(const QString& path);

} // namespace Dav
