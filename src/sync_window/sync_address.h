#pragma once

#include <QString>
#include <QUrl>

// The server address as typed into the Sync window: whether Kestrune can sync with it, and
// whether it would send the password unencrypted to another computer.
namespace SyncAddress {

enum class Problem
{
    None,
    Empty,
    NotWeb,      // not an http or https address with a host
    Credentials, // a user name or password inside the address, where it would be stored
};
Problem problemWith(const QString& text);
// The typed text, without the blanks around it, as an address; invalid unless problemWith()
// finds none.
QUrl parse(const QString& text);
// http:// to a host that is not this computer.
bool isPlainToAnotherComputer(const QUrl& address);
// The same scheme, host and port: an agreement to plain http holds for all its paths.
bool sameServer(const QUrl& a, const QUrl& b);

} // namespace SyncAddress
