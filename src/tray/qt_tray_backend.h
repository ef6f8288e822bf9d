#pragma once

#include "tray_backend.h"

class QSystemTrayIcon;

// The desktop's notification area through QSystemTrayIcon: a StatusNotifierItem where a
// watcher runs, an XEmbed icon where a system-tray selection is owned.
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

    QSystemTrayIcon* m_icon;
    bool m_added = false;
};
