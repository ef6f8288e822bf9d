#pragma once

#include <QApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// Every test program runs offscreen, in its own locale-neutral setting and with a store folder
// of its own, never on the user's real store.
#define KESTRUNE_TEST_MAIN(TestClass)                                                              \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        qputenv("QT_QPA_PLATFORM", "offscreen");                                                   \
        QTemporaryDir home;                                                                        \
        qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());                \
        qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());                                          \
        QApplication app(argc, argv);                                                              \
        QStandardPaths::setTestModeEnabled(true);                                                  \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
