#pragma once

#include "due_dates.h"
#include "no_prompts.h"

#include <QApplication>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

// What a benchmark of the windows sets up before anything else: Qt's offscreen platform, data
// and runtime folders of its own (set before the application reads them), the application, no
// modal prompt, and one locale for due dates, so that runs on any machine compare.
class BenchApp
{
    struct Folders
    {
        Folders()
        {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));
        }
        QTemporaryDir home;
    };

public:
    BenchApp(int& argc, char** argv) : app(argc, argv)
    {
        Prompts::install(&m_prompts);
        DueDates::setLocale(QLocale(QStringLiteral("en_US")));
    }
    ~BenchApp() { Prompts::install(nullptr); }

    QString homePath(const QString& name) const { return m_folders.home.filePath(name); }

private:
    Folders m_folders;
    NoPrompts m_prompts;

public:
    QApplication app;
};
