#include "export_fixture.h"

#include "due_dates.h"
#include "task_list_codec.h"

#include <QDir>

ExportFixture::ExportFixture() : m_oldTmpdir(qgetenv("TMPDIR"))
{
    QDir(m_dir.path()).mkdir(QStringLiteral("tmp"));
    qputenv("TMPDIR", QFile::encodeName(tempPath()));
    m_store = std::make_unique<SettingsStore>(m_dir.path() + QStringLiteral("/store.db"));
    DueDates::setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
    Clock::setToday(kToday);
}

ExportFixture::~ExportFixture()
{
    qputenv("TMPDIR", m_oldTmpdir);
    Clock::setToday({});
}

QString ExportFixture::tempPath() const
{
    return m_dir.path() + QStringLiteral("/tmp");
}

void ExportFixture::setTree(const QString& value)
{
    m_store->write(QStringLiteral("Tree Nodes"), value);
}

void ExportFixture::setTasks(const QString& key, const QList<QStringList>& tasks)
{
    QString value;
    for (const QStringList& task : tasks)
        value += task.join(TaskListCodec::kFieldSeparator) + TaskListCodec::kTaskSeparator;
    m_store->write(key, value);
}

QStringList ExportFixture::task(const QString& text, const QString& due, const QString& notes,
                                const QString& priority, const QString& done)
{
    return {text, priority, QStringLiteral("General"), due, notes, done};
}
