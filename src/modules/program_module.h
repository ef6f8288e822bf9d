#pragma once

#include <QString>

// The program's own modules, which carry what most runs never use (the network, the secret
// store) so that those libraries are not loaded, and relocated, before the window opens. They
// lie beside the program file, where the build puts them and the package installs them.
namespace ProgramModule {

struct Entry
{
    void* address = nullptr; // null when the module or its entry cannot be had
    QString problem;         // then: why, in the loader's words
};

// Opens `file` from the program's folder (once: the loader keeps it open) and looks up `symbol`.
Entry find(const char* file, const char* symbol);

} // namespace ProgramModule
