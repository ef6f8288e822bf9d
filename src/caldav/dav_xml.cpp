#include "dav_xml.h"

#include <QUrl>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace Dav {

namespace {

constexpr int kMaxHrefsPerProperty = 64;
constexpr int kMaxComponents = 64;

[[noreturn]] void refuse()
{
    throw DavFailure(DavFailure::Kind::BadResponse, 0,
                     QStringLiteral("The server's answer could not be read."));
}

// QXmlStreamReader walked one element at a time, refusing what a multistatus never needs:
// a document type (and so any entity of the server's own), unresolved entities, nesting
// deeper than kMaxXmlDepth, and anything that is not well-formed.
class GuardedReader
{
public:
    GuardedReader(QByteArrayView xml, QUrl base)
        : m_reader(QByteArray::fromRawData(xml.data(), xml.size())), m_base(std::move(base))
    {
        m_reader.setNamespaceProcessing(true);
    }

    // Moves to the next child element of the current one: false once the current one ends.
    bool nextChild()
    {
        for (;;) {
            switch (m_reader.readNext()) {
            case QXmlStreamReader::StartElement:
                if (++m_depth > kMaxXmlDepth)
                    refuse();
                return true;
            case QXmlStreamReader::EndElement:
                --m_depth;
                return false;
            case QXmlStreamReader::EndDocument:
                return false;
            case QXmlStreamReader::DTD:
            case QXmlStreamReader::EntityReference:
            case QXmlStreamReader::Invalid:
                refuse();
            default:
                break;
            }
        }
    }

    void skip()
    {
        while (nextChild())
            skip();
    }

    // The text of the current element; text inside child elements is not part of it.
    QString text()
    {
        QString out;
        for (;;) {
            switch (m_reader.readNext()) {
            case QXmlStreamReader::Characters:
                out += m_reader.text();
                break;
            case QXmlStreamReader::StartElement:
                if (++m_depth > kMaxXmlDepth)
                    refuse();
                skip();
                break;
            case QXmlStreamReader::EndElement:
                --m_depth;
                return out;
            case QXmlStreamReader::DTD:
            case QXmlStreamReader::EntityReference:
            case QXmlStreamReader::Invalid:
            case QXmlStreamReader::EndDocument:
                refuse();
            default:
                break;
            }
        }
    }

    // The current element's text as an href, resolved against the address that was asked: a
    // server may answer with a path relative to it.
    QString href() { return decodedPath(text().trimmed(), m_base); }

    bool is(QStringView ns, QStringView name) const
    {
        return m_reader.namespaceUri() == ns && m_reader.name() == name;
    }
    QStringView attribute(QLatin1StringView name) const
    {
        return m_reader.attributes().value(name);
    }

    // Reads past the root element: only comments and white space may follow it.
    void finish()
    {
        while (!m_reader.atEnd()) {
            const auto token = m_reader.readNext();
            if (token == QXmlStreamReader::StartElement || token == QXmlStreamReader::DTD ||
                token == QXmlStreamReader::EntityReference)
                refuse();
        }
        if (m_reader.hasError())
            refuse();
    }

private:
    QXmlStreamReader m_reader;
    QUrl m_base;
    int m_depth = 0;
};

int statusCode(const QString& line)
{
    // "HTTP/1.1 404 Not Found"
    const QStringList parts = line.simplified().split(u' ');
    bool ok = false;
    const int code = parts.value(1).toInt(&ok);
    if (!ok || code < 100 || code > 599)
        refuse();
    return code;
}

QString hrefIn(GuardedReader& reader)
{
    QString href;
    while (reader.nextChild()) {
        if (reader.is(kDavNs, u"href") && href.isEmpty())
            href = reader.href();
        else
            reader.skip();
    }
    return href;
}

QStringList hrefsIn(GuardedReader& reader)
{
    QStringList hrefs;
    while (reader.nextChild()) {
        if (reader.is(kDavNs, u"href")) {
            if (hrefs.size() >= kMaxHrefsPerProperty)
                refuse();
            hrefs.append(reader.href());
        } else {
            reader.skip();
        }
    }
    return hrefs;
}

void readProp(GuardedReader& reader, DavResponse& props)
{
    while (reader.nextChild()) {
        if (reader.is(kDavNs, u"resourcetype")) {
            while (reader.nextChild()) {
                if (reader.is(kDavNs, u"collection"))
                    props.isCollection = true;
                else if (reader.is(kCalDavNs, u"calendar"))
                    props.isCalendar = true;
                reader.skip();
            }
        } else if (reader.is(kDavNs, u"displayname")) {
            props.displayName = reader.text();
        } else if (reader.is(kDavNs, u"getetag")) {
            props.etag = reader.text().trimmed().toUtf8();
        } else if (reader.is(kCalDavNs, u"calendar-data")) {
            props.calendarData = reader.text().toUtf8();
        } else if (reader.is(kKestruneNs, u"category")) {
            props.category = reader.text();
        } else if (reader.is(kCalDavNs, u"supported-calendar-component-set")) {
            props.componentSetGiven = true;
            while (reader.nextChild()) {
                if (reader.is(kCalDavNs, u"comp")) {
                    if (props.components.size() >= kMaxComponents)
                        refuse();
                    props.components.append(
                        reader.attribute(QLatin1StringView("name")).toString().toUpper());
                }
                reader.skip();
            }
        } else if (reader.is(kDavNs, u"supported-report-set")) {
            // supported-report / report / the report's own element
            while (reader.nextChild()) {
                while (reader.nextChild()) {
                    while (reader.nextChild()) {
                        props.offersSyncCollection |= reader.is(kDavNs, u"sync-collection");
                        reader.skip();
                    }
                }
            }
        } else if (reader.is(kDavNs, u"sync-token")) {
            props.syncToken = reader.text().trimmed();
        } else if (reader.is(kCalendarServerNs, u"getctag")) {
            props.ctag = reader.text().trimmed();
        } else if (reader.is(kDavNs, u"current-user-principal")) {
            props.currentUserPrincipal = hrefIn(reader);
        } else if (reader.is(kCalDavNs, u"calendar-home-set")) {
            props.calendarHomeSet = hrefsIn(reader);
        } else {
            reader.skip();
        }
    }
}

// Only what a propstat with a 2xx status says is taken: the others list what is missing.
void readPropstat(GuardedReader& reader, DavResponse& response)
{
    DavResponse props;
    int status = 0;
    while (reader.nextChild()) {
        if (reader.is(kDavNs, u"prop"))
            readProp(reader, props);
        else if (reader.is(kDavNs, u"status"))
            status = statusCode(reader.text());
        else
            reader.skip();
    }
    if (status < 200 || status > 299) {
        if (response.failedPropStatus == 0)
            response.failedPropStatus = status;
        return;
    }
    response.isCollection |= props.isCollection;
    response.isCalendar |= props.isCalendar;
    if (props.displayName)
        response.displayName = props.displayName;
    if (!props.etag.isEmpty())
        response.etag = props.etag;
    if (props.calendarData)
        response.calendarData = props.calendarData;
    if (props.category)
        response.category = props.category;
    if (props.componentSetGiven) {
        response.componentSetGiven = true;
        response.components = props.components;
    }
    if (!props.syncToken.isEmpty())
        response.syncToken = props.syncToken;
    if (!props.ctag.isEmpty())
        response.ctag = props.ctag;
    response.offersSyncCollection |= props.offersSyncCollection;
    if (!props.currentUserPrincipal.isEmpty())
        response.currentUserPrincipal = props.currentUserPrincipal;
    if (!props.calendarHomeSet.isEmpty())
        response.calendarHomeSet = props.calendarHomeSet;
}

DavResponse readResponse(GuardedReader& reader)
{
    DavResponse response;
    while (reader.nextChild()) {
        if (reader.is(kDavNs, u"href") && response.href.isEmpty())
            response.href = reader.href();
        else if (reader.is(kDavNs, u"status"))
            response.status = statusCode(reader.text());
        else if (reader.is(kDavNs, u"propstat"))
            readPropstat(reader, response);
        else
            reader.skip();
    }
    if (response.href.isEmpty())
        refuse();
    return response;
}

class BodyWriter
{
public:
    BodyWriter() : m_writer(&m_out)
    {
        m_writer.writeStartDocument();
        m_writer.writeNamespace(kDavNs.toString(), QStringLiteral("D"));
        m_writer.writeNamespace(kCalDavNs.toString(), QStringLiteral("C"));
    }
    QXmlStreamWriter* operator->() { return &m_writer; }
    QByteArray finish()
    {
        m_writer.writeEndDocument();
        return m_out;
    }

private:
    QByteArray m_out;
    QXmlStreamWriter m_writer;
};

void writeCalendarProps(BodyWriter& writer, const QString& displayName, const Placement& placement)
{
    writer->writeTextElement(kDavNs.toString(), QStringLiteral("displayname"), displayName);
    writer->writeTextElement(kKestruneNs.toString(), QStringLiteral("category"),
                             placementText(placement));
}

} // namespace

Multistatus readMultistatus(QByteArrayView xml, const QUrl& base)
{
    GuardedReader reader(xml, base);
    if (!reader.nextChild() || !reader.is(kDavNs, u"multistatus"))
        refuse();
    Multistatus result;
    while (reader.nextChild()) {
        if (reader.is(kDavNs, u"response")) {
            if (result.responses.size() >= kMaxResponses)
                refuse();
            result.responses.append(readResponse(reader));
        } else if (reader.is(kDavNs, u"sync-token")) {
            result.syncToken = reader.text().trimmed();
        } else {
            reader.skip();
        }
    }
    reader.finish();
    return result;
}

bool namesPrecondition(QByteArrayView xml, QStringView name)
{
    try {
        GuardedReader reader(xml, {});
        if (!reader.nextChild() || !reader.is(kDavNs, u"error"))
            return false;
        bool named = false;
        while (reader.nextChild()) {
            named |= reader.is(kDavNs, name);
            reader.skip();
        }
        return named;
    } catch (const DavFailure&) {
        return false;
    }
}

QString placementText(const Placement& placement)
{
    return placement.key + u'\n' + placement.parentKey + u'\n' + QString::number(placement.order);
}

std::optional<Placement> readPlacement(const QString& text)
{
    QStringList lines = text.split(u'\n');
    for (QString& line : lines)
        if (line.endsWith(u'\r'))
            line.chop(1);
    if (lines.size() != 3 || lines[0].isEmpty())
        return std::nullopt;
    bool ok = false;
    const int order = lines[2].trimmed().toInt(&ok);
    if (!ok || order < 0)
        return std::nullopt;
    return Placement{lines[0], lines[1], order};
}

QByteArray propfindBody(std::span<const PropName> props)
{
    BodyWriter writer;
    writer->writeNamespace(kCalendarServerNs.toString(), QStringLiteral("CS"));
    writer->writeNamespace(kKestruneNs.toString(), QStringLiteral("K"));
    writer->writeStartElement(kDavNs.toString(), QStringLiteral("propfind"));
    writer->writeStartElement(kDavNs.toString(), QStringLiteral("prop"));
    for (const PropName& prop : props)
        writer->writeEmptyElement(prop.ns.toString(), prop.name.toString());
    writer->writeEndElement();
    writer->writeEndElement();
    return writer.finish();
}

QByteArray mkcalendarBody(const QString& displayName, const Placement& placement)
{
    BodyWriter writer;
    writer->writeNamespace(kKestruneNs.toString(), QStringLiteral("K"));
    writer->writeStartElement(kCalDavNs.toString(), QStringLiteral("mkcalendar"));
    writer->writeStartElement(kDavNs.toString(), QStringLiteral("set"));
    writer->writeStartElement(kDavNs.toString(), QStringLiteral("prop"));
    writeCalendarProps(writer, displayName, placement);
    writer->writeStartElement(kCalDavNs.toString(),
                              QStringLiteral("supported-calendar-component-set"));
    writer->writeEmptyElement(kCalDavNs.toString(), QStringLiteral("comp"));
    writer->writeAttribute(QStringLiteral("name"), QStringLiteral("VTODO"));
    writer->writeEndElement();
    writer->writeEndElement();
    writer->writeEndElement();
    writer->writeEndElement();
    return writer.finish();
}

QByteArray proppatchBody(const QString& displayName, const Placement& placement)
{
    BodyWriter writer;
    writer->writeNamespace(kKestruneNs.toString(), QStringLiteral("K"));
    writer->writeStartElement(kDavNs.toString(), QStringLiteral("propertyupdate"));
    writer->writeStartElement(kDavNs.toString(), QStringLiteral("set"));
    writer->writeStartElement(kDavNs.toString(), QStringLiteral("prop"));
    writeCalendarProps(writer, displayName, placement);
    writer->writeEndElement();
    writer->writeEndElement();
    writer->writeEndElement();
    return writer.finish();
}

QByteArray syncCollectionBody(const QString& token)
{
    BodyWriter writer;
    writer->writeStartElement(kDavNs.toString(), QStringLiteral("sync-collection"));
    writer->writeTextElement(kDavNs.toString(), QStringLiteral("sync-token"), token);
    writer->writeTextElement(kDavNs.toString(), QStringLiteral("sync-level"), QStringLiteral("1"));
    writer->writeStartElement(kDavNs.toString(), QStringLiteral("prop"));
    writer->writeEmptyElement(kDavNs.toString(), QStringLiteral("getetag"));
    writer->writeEndElement();
    writer->writeEndElement();
    return writer.finish();
}

QByteArray multigetBody(const QStringList& hrefs)
{
    BodyWriter writer;
    writer->writeStartElement(kCalDavNs.toString(), QStringLiteral("calendar-multiget"));
    writer->writeStartElement(kDavNs.toString(), QStringLiteral("prop"));
    writer->writeEmptyElement(kDavNs.toString(), QStringLiteral("getetag"));
    writer->writeEmptyElement(kCalDavNs.toString(), QStringLiteral("calendar-data"));
    writer->writeEndElement();
    for (const QString& href : hrefs)
        writer->writeTextElement(kDavNs.toString(), QStringLiteral("href"),
                                 QString::fromLatin1(encodedPath(href)));
    writer->writeEndElement();
    return writer.finish();
}

QString decodedPath(const QString& href, const QUrl& base)
{
    const QUrl url = QUrl::fromEncoded(href.toUtf8(), QUrl::TolerantMode);
    return (base.isEmpty() ? url : base.resolved(url)).path(QUrl::FullyDecoded);
}

QByteArray encodedPath(const QString& path)
{
    QUrl url;
    url.setPath(path, QUrl::DecodedMode);
    return url.toEncoded();
}

} // namespace Dav
