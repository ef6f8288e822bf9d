#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

// One program per store: two windows on one store would each save their own copy of a
// category over the other's. The first start holds a lock beside the store and listens; a
// second start finds the lock, asks the first to come forward and ends. The lock is taken
// before Qt starts up, so that the store can be opened beside Qt's own start; a second start is
// heard once acceptSecondStarts() has been called with an event loop to run.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(const QString& storePath, QObject* parent = nullptr);
    ~SingleInstance() override;

    bool isPrimary() const { return m_primary; }
    // From a second start: asks the running program to show its window. False when it could
    // not be reached in time.
    bool notifyPrimary(int timeoutMs = 3000) const;
    // From the first start, once the application object exists: secondStart() is emitted from
    // then on, also for a start that called before.
    void acceptSecondStarts();

signals:
    // Another start of the program on the same store asked this one to come forward.
    void secondStart();

private:
    void listen();
    void acceptCallers();
    void readCaller(int socket, QSocketNotifier* notifier);

    QByteArray m_serverName;
    QByteArray m_lockPath;
    int m_lock = -1;
    int m_listener = -1;
    bool m_primary = false;
    bool m_listening = false;
};
