#pragma once

#include <QString>

// Where the exports put their files, and how they get there without trusting the shared
// temporary folder.
namespace ExportFiles {

// A folder of the user's own inside the temporary folder (mode 0700, owned by the user, not a
// link), made when missing. When the usual name is taken by something else, a fresh folder
// with a random name is made instead. Throws Failure when neither can be made.
QString privateFolder();

// A new, empty file with a name no other export has used, in `folder`. Throws Failure.
QString reserveUniqueFile(const QString& folder, const QString& nameTemplate);

// "ExportTasks.pdf" in the temporary folder.
QString pdfPath();

// Removes whatever file or link is at `path`; a missing file or a failure is not an error.
void deleteQuietly(const QString& path);

// Renames `freshFile` over `path`. A rename replaces a link planted at `path` instead of
// writing through it, and the finished file appears all at once. Throws Failure.
void moveInPlace(const QString& freshFile, const QString& path);

} // namespace ExportFiles
