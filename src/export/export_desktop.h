#pragma once

#include <QString>

// What the export asks of the desktop: whether a spreadsheet program could show a workbook,
// whether one already runs, and opening a finished file with the user's default program.
// Tests install a recording desktop so that nothing is launched.
class ExportDesktop
{
public:
    virtual ~ExportDesktop() = default;

    // A desktop program is registered for xlsx workbooks.
    virtual bool spreadsheetProgramRegistered() = 0;
    // A spreadsheet program of this user is running already.
    virtual bool spreadsheetRunning() = 0;
    // Opens the file with the desktop's default program for its type; false when none could.
    virtual bool open(const QString& path) = 0;

    // The desktop in use; the real one unless a test installed its own.
    static ExportDesktop& current();
    static void install(ExportDesktop* desktop);
};

// The freedesktop.org desktop: MIME associations from the applications folders, processes from
// /proc, and Qt's desktop services to open files.
class SystemExportDesktop : public ExportDesktop
{
public:
    static inline const QString kXlsxMimeType =
        QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");

    bool spreadsheetProgramRegistered() override;
    bool spreadsheetRunning() override;
    bool open(const QString& path) override;
};
