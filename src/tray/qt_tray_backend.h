#pragma once

#include "tray_backend.h"

class DesktopNotifications;
class QSystemTrayIcon;

// The desktop's notification area through QSystemTrayIcon: a StatusNotifierItem where a
// watcher runs, an XEmbed icon where a system-tray selection is owned. Beside a
// StatusNotifierItem the balloon is a desktop notification of our own.
class QtTrayBackend : public TrayBackend
{
    Q_OBJECT

public:
    QtTrayBackend();
    ~QtTrayBackend() override;

    bool isAvailable() const override;
    void send(Command command, const TrayRecord& record) override;

    QSystemTrayIcon* trayIcon() const { return m_icon; }

private:
    void post(int message);
    void modify(const TrayRecord& record);
    void showIfWanted();
    void closeBalloon();

    QSystemTrayIcon* m_icon;
    DesktopNotifications* m_notifications = nullptr; // only beside a StatusNotifierItem
    bool m_added = false;
};
