#include "qt_tray_backend.h"

#include "desktop_notifications.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QWidget>

namespace {

// QSystemTrayIcon takes 0 as "stay until clicked"; a balloon that asked for no time-out is
// shown for Qt's usual time instead, and the control takes it down itself.
constexpr int kDefaultBalloonMs = 10000;

// Qt draws the balloon itself only for XEmbed trays; it offers no call to take it down early,
// so the balloon widget is closed directly. Desktop notifications expire on their own.
void closeQtBalloons()
{
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && qstrcmp(top->metaObject()->className(), "QBalloonTip") == 0)
            top->close();
}

} // namespace

QtTrayBackend::QtTrayBackend() = default;

QSystemTrayIcon* QtTrayBackend::trayIcon()
{
    if (m_icon)
        return m_icon;
    m_icon = new QSystemTrayIcon(this);
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    post(TrayMessage::LeftDown);
                    post(TrayMessage::LeftUp);
                    break;
                case QSystemTrayIcon::Context:
                    post(TrayMessage::RightDown);
                    post(TrayMessage::RightUp);
                    break;
                case QSystemTrayIcon::DoubleClick:
                    post(TrayMessage::LeftDoubleClick);
                    break;
                case QSystemTrayIcon::MiddleClick:
                case QSystemTrayIcon::Unknown:
                    break;
                }
            });
    connect(m_icon, &QSystemTrayIcon::messageClicked, this,
            [this] { post(TrayMessage::BalloonClicked); });
    if (DesktopNotifications::statusNotifierTrayInUse()) {
        m_notifications = new DesktopNotifications(this);
        connect(m_notifications, &DesktopNotifications::closed, this, [this](bool timedOut) {
            post(timedOut ? TrayMessage::BalloonTimedOut : TrayMessage::BalloonHidden);
        });
        connect(m_notifications, &DesktopNotifications::clicked, this,
                [this] { post(TrayMessage::BalloonClicked); });
    }
    return m_icon;
}

void QtTrayBackend::post(int message)
{
    // Qt's XEmbed icon raises its signals from inside its own mouse handler and deletes itself
    // when hidden; a release that removes the icon must therefore arrive after that handler.
    QMetaObject::invokeMethod(
        this, [this, message] { emit notification(message, 0); }, Qt::QueuedConnection);
}

QtTrayBackend::~QtTrayBackend() = default;

bool QtTrayBackend::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtTrayBackend::send(Command command, const TrayRecord& record)
{
    switch (command) {
    case Command::Add:
        if (m_added)
            return; // the platform refuses a second add of the same icon
        m_added = true;
        trayIcon()->setIcon(record.flags & TrayRecord::IconValid ? record.icon : QIcon());
        m_icon->setToolTip(record.flags & TrayRecord::TipValid ? record.tip : QString());
        showIfWanted();
        break;
    case Command::Modify:
        if (m_added)
            modify(record);
        break;
    case Command::Delete:
        m_added = false;
        closeBalloon();
        if (m_icon)
            m_icon->hide();
        break;
    }
}

void QtTrayBackend::modify(const TrayRecord& record)
{
    if (record.flags & TrayRecord::IconValid) {
        m_icon->setIcon(record.icon);
        showIfWanted();
    }
    if (record.flags & TrayRecord::TipValid)
        m_icon->setToolTip(record.tip);
    if (record.flags & TrayRecord::BalloonValid) {
        if (record.balloonTitle.isEmpty() && record.balloonText.isEmpty())
            closeBalloon();
        else if (m_notifications)
            m_notifications->show(record.balloonTitle, record.balloonText, record.balloonTimeoutMs);
        else
            m_icon->showMessage(record.balloonTitle, record.balloonText, QSystemTrayIcon::NoIcon,
                                record.balloonTimeoutMs > 0 ? record.balloonTimeoutMs
                                                            : kDefaultBalloonMs);
    }
}

void QtTrayBackend::closeBalloon()
{
    if (m_notifications)
        m_notifications->close();
    else
        closeQtBalloons();
}

void QtTrayBackend::showIfWanted()
{
    // QSystemTrayIcon refuses to show without a picture; an icon added bare appears as soon
    // as it gets one.
    if (m_added && !m_icon->icon().isNull() && !m_icon->isVisible())
        m_icon->show();
}
