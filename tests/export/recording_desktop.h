#pragma once

#include "export_desktop.h"

#include <QStringList>

// Answers the desktop checks as the test says and records what would have been opened.
class RecordingDesktop : public ExportDesktop
{
public:
    RecordingDesktop() { ExportDesktop::install(this); }
    ~RecordingDesktop() override { ExportDesktop::install(nullptr); }

    bool spreadsheetProgramRegistered() override
    {
        ++checks;
        return registered;
    }
    bool spreadsheetRunning() override
    {
        ++checks;
        return running;
    }
    bool open(const QString& path) override
    {
        opened.append(path);
        return openSucceeds;
    }

    bool registered = true;
    bool running = false;
    bool openSucceeds = true;
    int checks = 0;
    QStringList opened;
};
