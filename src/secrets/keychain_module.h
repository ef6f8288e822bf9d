#pragma once

#include <QString>
#include <functional>

// What PasswordVault asks of the desktop's secret store, made in a module of its own that links
// QtKeychain and is loaded from the program's folder at the vault's first call: most runs never
// ask, and the library need not be loaded, and relocated, before the window opens.
namespace KeychainModule {

enum class Kind
{
    Read,
    Write,
    Remove,
};

enum class Answer
{
    Done,
    NotFound, // the store answered that it holds no such entry
    Failed,   // no store answered, or it refused
};

struct Request
{
    Kind kind;
    QString service;
    QString key;
    QString password; // for Write
};

// Called once, on the thread that started the request, with the password a Read found.
using Done = std::function<void(Answer answer, const QString& password)>;
// Starts the request on the calling thread's event loop. The request goes on to its end when its
// caller has gone, as a write must.
using Start = void (*)(const Request& request, Done done);

constexpr const char* kFile = "libkestrune_keychain.so";
constexpr const char* kStart = "kestrune_keychain_start";

} // namespace KeychainModule
