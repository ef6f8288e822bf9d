#include "sync_dialog.h"

#include "prompts.h"
#include "sync_address.h"
#include "sync_window_host.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

const QString kTitle = QStringLiteral("Sync");

QLineEdit* field(const char* name, const QString& accessibleName)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(QLatin1String(name));
    edit->setAccessibleName(accessibleName);
    return edit;
}

QPushButton* button(const char* name, const QString& text)
{
    auto* b = new QPushButton(text);
    b->setObjectName(QLatin1String(name));
    b->setAccessibleName(text);
    return b;
}

} // namespace

QString SyncDialog::noPasswordStoreText()
{
    return QStringLiteral("No password store answered: the password is kept until Kestrune ends.");
}

SyncDialog::SyncDialog(SyncWindowHost& host, QWidget* parent) : QDialog(parent), m_host(host)
{
    setObjectName(QStringLiteral("SyncDialog"));
    setWindowTitle(kTitle);

    const SyncWindowHost::Account account = host.syncAccount();
    addressEdit = field("addressEdit", QStringLiteral("Server address"));
    addressEdit->setText(account.address);
    addressEdit->setPlaceholderText(QStringLiteral("https://cloud.example.com/remote.php/dav"));
    addressEdit->setMinimumWidth(addressEdit->fontMetrics().averageCharWidth() * 48);
    userEdit = field("userEdit", QStringLiteral("User name"));
    userEdit->setText(account.user);
    passwordEdit = field("passwordEdit", QStringLiteral("Password"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordNote = new QLabel(noPasswordStoreText());
    passwordNote->setObjectName(QStringLiteral("passwordNote"));
    passwordNote->setWordWrap(true);
    statusLabel = new QLabel;
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setAccessibleName(QStringLiteral("Sync status"));
    statusLabel->setWordWrap(true);
    statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    syncButton = button("syncButton", QStringLiteral("Sync Now"));
    syncButton->setToolTip(QStringLiteral("Save the account and sync now (F5)"));
    closeButton = button("closeButton", QStringLiteral("Close"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Server &address:"), addressEdit);
    form->addRow(QStringLiteral("&User name:"), userEdit);
    form->addRow(QStringLiteral("&Password:"), passwordEdit);
    form->addRow(QString(), passwordNote);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(syncButton, QDialogButtonBox::AcceptRole);
    buttons->addButton(closeButton, QDialogButtonBox::RejectRole);
    syncButton->setDefault(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(statusLabel);
    layout->addStretch(1);
    layout->addWidget(buttons);

    // "Sync Now" keeps the window open: the status line is where its outcome shows.
    connect(syncButton, &QPushButton::clicked, this, &SyncDialog::syncNow);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    // The main window's F5 does not reach it while this window has the focus.
    auto* f5 = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(f5, &QShortcut::activated, this, &SyncDialog::syncNow);

    showStatus(host.syncStatus());
    showPasswordStore(host.passwordStoreAnswers());
    if (account.address.isEmpty())
        addressEdit->setFocus();
    else if (!host.hasSyncPassword())
        passwordEdit->setFocus();
}

void SyncDialog::showStatus(const QString& text)
{
    statusLabel->setText(text.isEmpty() ? QStringLiteral("Not synced yet.") : text);
}

void SyncDialog::showPasswordStore(bool answers)
{
    const bool appears = !answers && passwordNote->isHidden();
    passwordNote->setVisible(!answers);
    showPasswordHint();
    if (appears && isVisible()) {
        // The window took its height without the note: a wrapped label does not make a shown
        // window grow, so it would be squeezed. It grows to hold it; the width stays.
        layout()->activate();
        const int needed = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width())
                                                         : layout()->totalSizeHint().height();
        if (height() < needed)
            resize(width(), needed);
    }
}

void SyncDialog::showPasswordHint()
{
    // The password itself is never shown again: the field stays empty, and an empty field keeps
    // the password there is.
    passwordEdit->setPlaceholderText(
        m_host.hasSyncPassword() ? QStringLiteral("Unchanged; type to replace it") : QString());
}

void SyncDialog::refuse(const QString& text, QLineEdit* edit)
{
    Prompts::current().message(this, text, kTitle, Prompts::Icon::Exclamation);
    edit->setFocus();
    edit->selectAll();
}

void SyncDialog::syncNow()
{
    const QString address = addressEdit->text().trimmed();
    switch (SyncAddress::problemWith(address)) {
    case SyncAddress::Problem::None:
        break;
    case SyncAddress::Problem::Empty:
        refuse(QStringLiteral("Enter the address of your CalDAV server, such as "
                              "https://cloud.example.com/remote.php/dav."),
               addressEdit);
        return;
    case SyncAddress::Problem::NotWeb:
        refuse(QStringLiteral("\u201c%1\u201d is not a server address Kestrune can sync with.\n\n"
                              "Enter an address that begins with https://, such as "
                              "https://cloud.example.com/remote.php/dav.")
                   .arg(address),
               addressEdit);
        return;
    case SyncAddress::Problem::Credentials:
        // The address is stored as it is typed, and a password must never be stored there.
        refuse(QStringLiteral("Enter the user name and password in their own fields, not in "
                              "the server address."),
               addressEdit);
        return;
    }
    const QString user = userEdit->text().trimmed();
    if (user.isEmpty()) {
        refuse(QStringLiteral("Enter the user name you sign in to the server with."), userEdit);
        return;
    }

    const SyncWindowHost::Account stored = m_host.syncAccount();
    const QUrl url = SyncAddress::parse(address);
    bool agreed = false;
    if (SyncAddress::isPlainToAnotherComputer(url)) {
        agreed = stored.plainHttpAgreed &&
                 SyncAddress::sameServer(SyncAddress::parse(stored.address), url);
        if (!agreed) {
            agreed = Prompts::current().askYesNo(
                this,
                QStringLiteral("The address begins with http://, so your password and tasks "
                               "would travel to %1 unencrypted, readable by anyone on the way."
                               "\n\nSync with this server without encryption all the same?")
                    .arg(url.host()),
                kTitle);
            if (!agreed) {
                addressEdit->setFocus();
                return;
            }
        }
    }

    const SyncWindowHost::Account account{address, user, agreed};
    if (account != stored)
        m_host.setSyncAccount(account);
    if (!passwordEdit->text().isEmpty()) {
        m_host.setSyncPassword(passwordEdit->text());
        passwordEdit->clear();
    }
    addressEdit->setText(address);
    userEdit->setText(user);
    showPasswordHint();
    m_host.syncNow();
}
