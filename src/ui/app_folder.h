#pragma once

#include <QString>

// The folder of the program file, where the optional pointer and skin files are looked up.
namespace AppFolder {

QString path();
// Tests point the program at a folder of their own.
void setPath(const QString& folder);
// Whether a file can be asked for its last-modified time; never reports an error.
bool fileExists(const QString& path);

} // namespace AppFolder
