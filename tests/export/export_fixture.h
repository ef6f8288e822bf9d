#pragma once

#include "settings_store.h"

#include <QDate>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A store and a temporary folder of the test's own, with tasks written in the stored format.
// Dates are read as in the United States and today is 15 May 2024.
class ExportFixture
{
public:
    ExportFixture();
    ~ExportFixture();

    static inline const QDate kToday = QDate(2024, 5, 15);

    SettingsStore& store() { return *m_store; }
    // The temporary folder the exports see (TMPDIR).
    QString tempPath() const;

    void setTree(const QString& value);
    void setTasks(const QString& key, const QList<QStringList>& tasks);

    // A task record as the editor writes it.
    static QStringList task(const QString& text, const QString& due = {}, const QString& notes = {},
                            const QString& priority = QStringLiteral("Medium"),
                            const QString& done = {});

private:
    QTemporaryDir m_dir;
    QByteArray m_oldTmpdir;
    std::unique_ptr<SettingsStore> m_store;
};
