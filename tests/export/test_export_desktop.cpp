#include "export_desktop.h"
#include "test_main.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

// The real desktop's answer to "is a program registered for xlsx", on application folders of
// the test's own.
class ExportDesktopTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString applications() const { return m_dir.path() + QStringLiteral("/share/applications"); }

private slots:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(applications());
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_dir.path() + QStringLiteral("/share")));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_dir.path() + QStringLiteral("/etc")));
    }

    void registeredProgram_foundByItsMimeType_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QByteArray>("mimeapps");
        QTest::addColumn<bool>("registered");
        const QByteArray calc = "[Desktop Entry]\nType=Application\nName=Calc\nExec=calc %U\n"
                                "MimeType=text/csv;application/vnd.openxmlformats-"
                                "officedocument.spreadsheetml.sheet;\n";
        QTest::newRow("nothing installed") << QByteArray() << QByteArray() << false;
        QTest::newRow("a spreadsheet program") << calc << QByteArray() << true;
        QTest::newRow("only other types")
            << QByteArray("[Desktop Entry]\nName=Zip\nMimeType=application/zip;\n") << QByteArray()
            << false;
        QTest::newRow("hidden entry") << calc + "Hidden=true\n" << QByteArray() << false;
        QTest::newRow("association removed by hand")
            << calc
            << QByteArray("[Removed Associations]\napplication/vnd.openxmlformats-"
                          "officedocument.spreadsheetml.sheet=office-calc.desktop;\n")
            << false;
    }

    void registeredProgram_foundByItsMimeType()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QByteArray, mimeapps);
        QFETCH(bool, registered);
        if (!entry.isEmpty())
            QVERIFY(writeFile(applications() + QStringLiteral("/office/calc.desktop"), entry));
        if (!mimeapps.isEmpty())
            QVERIFY(writeFile(applications() + QStringLiteral("/mimeapps.list"), mimeapps));
        QCOMPARE(SystemExportDesktop().spreadsheetProgramRegistered(), registered);
    }

    void associationAdded_countsOnlyForAnInstalledEntry()
    {
        const QByteArray list = "[Added Associations]\napplication/vnd.openxmlformats-"
                                "officedocument.spreadsheetml.sheet=sheets.desktop;\n";
        QVERIFY(writeFile(applications() + QStringLiteral("/mimeapps.list"), list));
        QVERIFY(!SystemExportDesktop().spreadsheetProgramRegistered());
        QVERIFY(writeFile(applications() + QStringLiteral("/sheets.desktop"),
                          "[Desktop Entry]\nName=Sheets\nExec=sheets\n"));
        QVERIFY(SystemExportDesktop().spreadsheetProgramRegistered());
    }
};

KESTRUNE_TEST_MAIN(ExportDesktopTest)
#include "test_export_desktop.moc"
