#include "sync_address.h"

#include "dav_client.h"

namespace SyncAddress {

Problem problemWith(const QString& text)
{
    if (text.trimmed().isEmpty())
        return Problem::Empty;
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
        return Problem::NotWeb;
    if (!url.userInfo().isEmpty())
        return Problem::Credentials;
    return Problem::None;
}

QUrl parse(const QString& text)
{
    return problemWith(text) == Problem::None ? QUrl(text.trimmed(), QUrl::StrictMode) : QUrl();
}

bool isPlainToAnotherComputer(const QUrl& address)
{
    if (address.scheme().compare(u"http", Qt::CaseInsensitive) != 0)
        return false;
    return !Dav::isLoopbackHost(address.host());
}

bool sameServer(const QUrl& a, const QUrl& b)
{
    const int defaultPort = a.scheme().compare(u"https", Qt::CaseInsensitive) == 0 ? 443 : 80;
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort) == b.port(defaultPort);
}

} // namespace SyncAddress
