// The Sync window as the main window opens it, with the desktop's secret store answering (the
// test's Secret Service) and with none on the bus: the password typed once is used by the next
// start where a store keeps it, and asked for once a run where none does.
#include "form1.h"
#include "password_vault.h"
#include "radicale_server.h"
#include "scripted_prompts.h"
#include "settings_store.h"
#include "sync_controller.h"
#include "sync_dialog.h"
#include "test_main.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestForm1SyncWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    RadicaleServer m_server;
    ScriptedPrompts m_prompts;

    static bool secretStoreAnswers()
    {
        QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
        return bus && bus->isServiceRegistered(QStringLiteral("org.freedesktop.secrets"));
    }
    QString storePath() const { return m_dir.filePath(QStringLiteral("Kestrune.db")); }
    // Types the password (and, given them, the address and user name) and presses Sync Now;
    // the window closes once the sync has said how it ended.
    void typeInSyncWindow(bool account)
    {
        m_prompts.dialogActions.push_back([this, account](QDialog& shown) {
            auto& dialog = dynamic_cast<SyncDialog&>(shown);
            if (account) {
                dialog.addressEdit->setText(m_server.url().toString());
                dialog.userEdit->setText(m_server.user());
            }
            dialog.passwordEdit->setText(m_server.password());
            QTest::mouseClick(dialog.syncButton, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(dialog.statusLabel->text().startsWith(u"Last synced"), 60000);
            QTRY_COMPARE_WITH_TIMEOUT(dialog.passwordNote->isVisible(), !secretStoreAnswers(),
                                      10000);
            dialog.reject();
        });
    }
    static bool syncs(Form1& window)
    {
        QSignalSpy finished(window.syncController(), &SyncController::finished);
        window.syncController()->syncNow();
        return finished.wait(60000) &&
               window.syncController()->statusText().startsWith(u"Last synced");
    }

private slots:
    void initTestCase() { QVERIFY2(m_server.isRunning(), qPrintable(m_server.errorString())); }

    void passwordTypedOnceServesTheNextStart()
    {
        SettingsStore store(storePath());
        {
            Form1 window(store);
            window.show();
            typeInSyncWindow(true);
            window.findChild<QAction*>(QStringLiteral("actionSync"))->trigger();
            QVERIFY(m_prompts.dialogActions.empty());
            QCOMPARE(window.syncController()->account().user, m_server.user());
        }
        m_prompts.clear();
        Form1 window(store);
        window.show();
        if (secretStoreAnswers()) {
            // The password comes from the secret store: nothing is asked.
            QTRY_VERIFY_WITH_TIMEOUT(window.syncController()->hasPassword(), 10000);
            QVERIFY(syncs(window));
        } else {
            // Asked for once, and only once, in this run.
            typeInSyncWindow(false);
            QTRY_VERIFY_WITH_TIMEOUT(m_prompts.dialogActions.empty(), 60000);
            QVERIFY(syncs(window));
            QVERIFY(syncs(window));
        }
        int dialogs = 0;
        for (const ScriptedPrompts::Shown& shown : m_prompts.shown)
            dialogs += shown.kind == ScriptedPrompts::Shown::Dialog;
        QCOMPARE(dialogs, secretStoreAnswers() ? 0 : 1);
        QCOMPARE(m_prompts.errorBoxes(), QStringList());
    }

    // Where no secret store answered when the password was typed, one that answers later in
    // the run is given it after a sync: the next start finds it there.
    void passwordReachesAStoreThatAnswersLater()
    {
        if (secretStoreAnswers())
            QSKIP("a secret store answers from the start here");
        m_prompts.clear();
        SettingsStore store(m_dir.filePath(QStringLiteral("Later.db")));
        Form1 window(store);
        window.show();
        typeInSyncWindow(true);
        window.findChild<QAction*>(QStringLiteral("actionSync"))->trigger();
        QProcess service;
        service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        service.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(SECRET_SERVICE)});
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += service.readAllStandardOutput()).contains("ready"),
                                 15000);
        QVERIFY(syncs(window));
        PasswordVault vault;
        QSignalSpy read(&vault, &PasswordVault::readFinished);
        for (QElapsedTimer waited; !waited.isValid() || waited.elapsed() < 10000;
             QTest::qWait(200)) {
            if (!waited.isValid())
                waited.start();
            vault.read(m_server.url().toString(), m_server.user());
            QVERIFY(read.wait(10000));
            if (read.last().at(2).value<PasswordVault::Outcome>() == PasswordVault::Outcome::Done)
                break;
        }
        QCOMPARE(read.last().at(3).toString(), m_server.password());
    }
};

KESTRUNE_TEST_MAIN(TestForm1SyncWindow)
#include "test_form1_sync_window.moc"
