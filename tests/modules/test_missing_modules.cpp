// Where the modules beside the program are missing, the commands that need them say so and the
// rest of the program goes on: the sync fails as a network failure would, and the password vault
// answers as it does where no secret store runs.
#include "dav_client.h"
#include "password_vault.h"
#include "test_main.h"

#include <QSignalSpy>

namespace {
// Unlike anything in a path the loader could name.
const QString kPassword = QStringLiteral("pw-Zq81vX");
} // namespace

class TestMissingModules : public QObject
{
    Q_OBJECT

private slots:
    void syncFailsWithAClearMessage()
    {
        Dav::Client client(
            {QUrl(QStringLiteral("http://127.0.0.1:1/")), QStringLiteral("anna"), kPassword, false},
            {});
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                client.findCalendarHome();
                QFAIL("a client without its network module made a request");
            } catch (const Dav::DavFailure& failure) {
                QCOMPARE(failure.kind(), Dav::DavFailure::Kind::Network);
                QVERIFY2(failure.description().startsWith(
                             QStringLiteral("Kestrune's network module could not be loaded: ")),
                         qPrintable(failure.description()));
                QVERIFY(failure.description().contains(QStringLiteral("libkestrune_dav_network")));
                QVERIFY(!failure.description().contains(kPassword));
            }
        }
    }

    void passwordVaultAnswersUnavailable()
    {
        PasswordVault vault;
        QSignalSpy reads(&vault, &PasswordVault::readFinished);
        QSignalSpy writes(&vault, &PasswordVault::writeFinished);
        vault.read(QStringLiteral("https://cloud.example/dav"), QStringLiteral("anna"));
        vault.write(QStringLiteral("https://cloud.example/dav"), QStringLiteral("anna"), kPassword);
        QTRY_COMPARE(reads.size(), 1);
        QTRY_COMPARE(writes.size(), 1);
        QCOMPARE(reads.at(0).at(2).value<PasswordVault::Outcome>(),
                 PasswordVault::Outcome::Unavailable);
        QCOMPARE(writes.at(0).at(2).value<PasswordVault::Outcome>(),
                 PasswordVault::Outcome::Unavailable);
    }
};

KESTRUNE_TEST_MAIN(TestMissingModules)
#include "test_missing_modules.moc"
