// The password vault against a real session bus: once with the test's Secret Service on it
// (tests/secrets/secret_service.py), once with nothing that answers for a secret store.
#include "password_vault.h"
#include "test_main.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <algorithm>

namespace {

const QString kAddress = QStringLiteral("https://cloud.example/remote.php/dav");
const QString kSecretsName = QStringLiteral("org.freedesktop.secrets");

QStringList g_messages;

void keepMessage(QtMsgType, const QMessageLogContext&, const QString& text)
{
    g_messages.append(text);
}

struct StoredItem
{
    QString label;
    QMap<QString, QString> attributes;
    QString secret;
};

// The test's Secret Service, asked as another program would.
QVariantList askService(const QString& method, const QVariantList& arguments = {})
{
    QDBusMessage m =
        QDBusMessage::createMethodCall(kSecretsName, QStringLiteral("/org/freedesktop/secrets"),
                                       QStringLiteral("org.kestrune.TestSecrets"), method);
    m.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(m, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage)
        qFatal("test secret service: %s", qPrintable(reply.errorMessage()));
    return reply.arguments();
}

QList<StoredItem> storedItems()
{
    QList<StoredItem> items;
    const QDBusArgument arg = askService(QStringLiteral("Items")).value(0).value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        StoredItem item;
        arg.beginStructure();
        arg >> item.label >> item.attributes >> item.secret;
        arg.endStructure();
        items.append(item);
    }
    arg.endArray();
    return items;
}

} // namespace

class TestPasswordVault : public QObject
{
    Q_OBJECT

    struct Answer
    {
        PasswordVault::Outcome outcome;
        QString password;
        qint64 ms;
    };

    bool serviceOnBus() const
    {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(kSecretsName);
    }

    // One call and its answer, which must come within ten seconds and only once.
    Answer call(PasswordVault& vault, const char* signal, const std::function<void()>& start)
    {
        QSignalSpy spy(&vault, signal);
        QElapsedTimer clock;
        clock.start();
        start();
        [&] { QVERIFY(spy.wait(10000)); }();
        const qint64 ms = clock.elapsed();
        QTest::qWait(50);
        [&] { QCOMPARE(spy.size(), 1); }();
        if (spy.isEmpty())
            return {PasswordVault::Outcome::Unavailable, {}, ms};
        const QList<QVariant> args = spy.first();
        return {args.value(2).value<PasswordVault::Outcome>(), args.value(3).toString(), ms};
    }
    Answer read(PasswordVault& v, const QString& user)
    {
        return call(v, SIGNAL(readFinished(QString, QString, PasswordVault::Outcome, QString)),
                    [&] { v.read(kAddress, user); });
    }
    Answer write(PasswordVault& v, const QString& user, const QString& password)
    {
        return call(v, SIGNAL(writeFinished(QString, QString, PasswordVault::Outcome)),
                    [&] { v.write(kAddress, user, password); });
    }
    Answer remove(PasswordVault& v, const QString& user)
    {
        return call(v, SIGNAL(removeFinished(QString, QString, PasswordVault::Outcome)),
                    [&] { v.remove(kAddress, user); });
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<PasswordVault::Outcome>();
        qInstallMessageHandler(keepMessage);
    }

    void noStore_everyCallSaysUnavailableAtOnce()
    {
        if (serviceOnBus())
            QSKIP("a secret store is on this bus");
        PasswordVault vault;
        QSignalSpy changes(&vault, &PasswordVault::availabilityChanged);
        // Well within the time-out: the bus itself says nobody is there.
        for (const Answer& a : {read(vault, QStringLiteral("anna")),
                                write(vault, QStringLiteral("anna"), QStringLiteral("pw-1")),
                                remove(vault, QStringLiteral("anna"))}) {
            QCOMPARE(a.outcome, PasswordVault::Outcome::Unavailable);
            QVERIFY2(a.ms < PasswordVault::kDefaultTimeoutMs / 2,
                     qPrintable(QString::number(a.ms)));
            QVERIFY(a.password.isEmpty());
        }
        QVERIFY(!vault.isAvailable());
        QCOMPARE(changes.size(), 1);
    }

    void store_writeReadOverwriteRemove()
    {
        if (!serviceOnBus())
            QSKIP("no secret store on this bus");
        using O = PasswordVault::Outcome;
        PasswordVault vault;
        const QString anna = QStringLiteral("anna"), ben = QStringLiteral("ben");
        const QString first = QStringLiteral("pw-1 ünï €"), second = QStringLiteral("pw-2");

        QCOMPARE(read(vault, anna).outcome, O::NotFound);
        QCOMPARE(write(vault, anna, first).outcome, O::Done);
        Answer a = read(vault, anna);
        QCOMPARE(a.outcome, O::Done);
        QCOMPARE(a.password, first);

        // Another user on the same server has an entry of his own.
        QCOMPARE(write(vault, ben, QStringLiteral("pw-ben")).outcome, O::Done);
        QCOMPARE(write(vault, anna, second).outcome, O::Done);
        QCOMPARE(read(vault, anna).password, second);
        QCOMPARE(read(vault, ben).password, QStringLiteral("pw-ben"));
        const QList<StoredItem> items = storedItems();
        QCOMPARE(items.size(), 2);
        QStringList secrets;
        for (const StoredItem& item : items) {
            QCOMPARE(item.attributes.value(QStringLiteral("server")), QStringLiteral("Kestrune"));
            QVERIFY(item.attributes.value(QStringLiteral("user")).endsWith(u'@' + kAddress));
            secrets.append(item.secret);
        }
        secrets.sort();
        QCOMPARE(secrets, QStringList({second, QStringLiteral("pw-ben")}));

        QCOMPARE(remove(vault, anna).outcome, O::Done);
        QCOMPARE(read(vault, anna).outcome, O::NotFound);
        QCOMPARE(read(vault, ben).password, QStringLiteral("pw-ben"));
        QVERIFY(vault.isAvailable());
    }

    void store_callsInARow_answeredInOrder()
    {
        if (!serviceOnBus())
            QSKIP("no secret store on this bus");
        PasswordVault vault;
        const QString carl = QStringLiteral("carl");
        QStringList order;
        connect(&vault, &PasswordVault::writeFinished, this,
                [&](const QString&, const QString&, PasswordVault::Outcome) {
                    order.append(QStringLiteral("write"));
                });
        QSignalSpy reads(&vault, &PasswordVault::readFinished);
        vault.write(kAddress, carl, QStringLiteral("pw-c1"));
        vault.write(kAddress, carl, QStringLiteral("pw-c2"));
        vault.read(kAddress, carl);
        QVERIFY(reads.wait(10000));
        QCOMPARE(order, QStringList({QStringLiteral("write"), QStringLiteral("write")}));
        QCOMPARE(reads.first().value(3).toString(), QStringLiteral("pw-c2"));

        // A vault that goes while its store still has a call still hands over the writes queued
        // behind that call.
        auto* leaving = new PasswordVault;
        leaving->read(kAddress, carl);
        leaving->write(kAddress, carl, QStringLiteral("pw-c3"));
        delete leaving;
        PasswordVault::finishHandedOver(10000);
        const QList<StoredItem> items = storedItems();
        QVERIFY(std::any_of(items.cbegin(), items.cend(),
                            [](const StoredItem& item) { return item.secret == u"pw-c3"; }));
    }

    void silentStore_unavailableAfterTheTimeout_availableWhenItAnswersLate()
    {
        if (!serviceOnBus())
            QSKIP("no secret store on this bus");
        PasswordVault vault;
        vault.setTimeout(400);
        askService(QStringLiteral("SetSilent"), {true});
        QSignalSpy changes(&vault, &PasswordVault::availabilityChanged);
        const Answer late = read(vault, QStringLiteral("anna"));
        QCOMPARE(late.outcome, PasswordVault::Outcome::Unavailable);
        QVERIFY2(late.ms >= 350 && late.ms < 3000, qPrintable(QString::number(late.ms)));
        QCOMPARE(changes.size(), 1);
        // The store still has the first call: the next one does not wait for it again.
        const Answer next = write(vault, QStringLiteral("anna"), QStringLiteral("pw-3"));
        QCOMPARE(next.outcome, PasswordVault::Outcome::Unavailable);
        QVERIFY2(next.ms < 300, qPrintable(QString::number(next.ms)));

        // As a keyring unlocked at last: the held call ends, and the store takes calls again.
        askService(QStringLiteral("SetSilent"), {false});
        QTRY_VERIFY(vault.isAvailable());
        QCOMPARE(changes.size(), 2);
        QCOMPARE(write(vault, QStringLiteral("anna"), QStringLiteral("pw-4")).outcome,
                 PasswordVault::Outcome::Done);
        QCOMPARE(read(vault, QStringLiteral("anna")).password, QStringLiteral("pw-4"));
    }

    void cleanupTestCase()
    {
        qInstallMessageHandler(nullptr);
        for (const QString& m : std::as_const(g_messages))
            QVERIFY2(!m.contains(QStringLiteral("pw-")), qPrintable(m));
    }
};

KESTRUNE_TEST_MAIN(TestPasswordVault)
#include "test_password_vault.moc"
