#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class SyncWindowHost;

// "Sync": the CalDAV account (server address, user name, password), a button that saves what
// changed and syncs at once, and a line that says how the last sync went.
class SyncDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SyncDialog(SyncWindowHost& host, QWidget* parent = nullptr);

    QLineEdit* addressEdit;
    QLineEdit* userEdit;
    QLineEdit* passwordEdit;
    // Under the password, while no password store answers.
    QLabel* passwordNote;
    QLabel* statusLabel;
    QPushButton* syncButton;
    QPushButton* closeButton;

    static QString noPasswordStoreText();

public slots:
    // What "Sync Now" does: checks the address, asks about plain http where it must, saves
    // what changed and starts a sync. Nothing is saved when a check fails.
    void syncNow();
    void showStatus(const QString& text);
    void showPasswordStore(bool answers);

private:
    void showPasswordHint();
    void refuse(const QString& text, QLineEdit* field);

    SyncWindowHost& m_host;
};
