#pragma once

#include "tray_backend.h"

class DesktopNotifications;
class QSystemTrayIcon;

// The desktop's notification area through QSystemTrayIcon: a StatusNotifierItem where a
// watcher runs, an XEmbed icon where a system-tray selection is owned. Beside a
// StatusNotifierItem the balloon is a desktop notification of our own. The icon is made when
// it is first needed: making it asks the session bus, which can cost a window's start tens of
// milliseconds (a round trip per question, or a bus launched where none is set).
class QtTrayBackend : public TrayBackend
{
    Q_OBJECT

public:
    QtTrayBackend();
    ~QtTrayBackend() override;

    bool isAvailable() const override;
    void send(Command command, const TrayRecord& record) override;

    QSystemTrayIcon* trayIcon();

private:
    void post(int message);
    void modify(const TrayRecord& record);
    void showIfWanted();
    void closeBalloon();

    QSystemTrayIcon* m_icon = nullptr;
    DesktopNotifications* m_notifications = nullptr; // only beside a StatusNotifierItem
    bool m_added = false;
};
