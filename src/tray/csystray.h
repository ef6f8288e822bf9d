#pragma once

#include "tray_backend.h"

#include <QIcon>
#include <QObject>
#include <QString>
#include <memory>

// The tray icon control: one icon in the desktop's notification area, its tooltip and picture,
// balloons on it, and the icon's mouse notifications turned into events. All talk with the
// desktop goes through a TrayBackend.
class cSysTray : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool InTray READ InTray WRITE setInTray)
    Q_PROPERTY(QString TrayTip READ TrayTip WRITE setTrayTip)
    Q_PROPERTY(QIcon TrayIcon READ TrayIcon WRITE setTrayIcon)

public:
    explicit cSysTray(QObject* parent = nullptr,
                      std::unique_ptr<TrayBackend> backend = TrayBackend::create());
    // Takes the icon out of the notification area if it is still there.
    ~cSysTray() override;

    // Writing true adds the icon, false removes it; writing the current value does nothing.
    bool InTray() const { return m_inTray; }
    void setInTray(bool Show);
    // Updated at once while the icon is shown; otherwise kept for the next add.
    const QString& TrayTip() const { return m_trayTip; }
    void setTrayTip(const QString& Tip);
    // A null icon is ignored.
    const QIcon& TrayIcon() const { return m_trayIcon; }
    void setTrayIcon(const QIcon& Icon);

    // Shows a balloon on the icon and waits, serving events, until `ShowTimer` seconds have
    // passed or the balloon is closed or clicked; then takes it down if it is still up. With
    // `ShowOnce`, only the first such balloon in the control's life is shown. Throws Failure on
    // arithmetic overflow.
    void ShowBalloon(const QString& Tip, const QString& sTitle, int ShowTimer, bool ShowOnce);

    bool iconAdded() const { return m_iconAdded; }
    bool balloonShowing() const { return m_balloonShowing; }
    int showOnceCount() const { return m_showOnceCount; }
    int iconId() const { return m_iconId; }
    // Whether the desktop has a notification area to put the icon into.
    bool trayAvailable() const { return m_backend->isAvailable(); }
    TrayBackend* backend() const { return m_backend.get(); }

signals:
    // Button: 1 left, 2 right.
    void MouseMove(int Id);
    void MouseDown(int Id, int Button);
    void MouseUp(int Id, int Button);
    void MouseDblClick(int Id, int Button);
    // The balloon went away on its own (closed, timed out or clicked); ends a pending wait.
    void balloonEnded();

private:
    void AddTrayIcon(const QString& tip, const QIcon& icon);
    void RemoveTrayIcon();
    void HandleTrayMessage(int message, int id);
    TrayRecord record(int flags) const;
    void waitForBalloon(int milliseconds);

    std::unique_ptr<TrayBackend> m_backend;
    // Stands for the replaced window procedure: notifications reach the control only while
    // its icon is added.
    QMetaObject::Connection m_notifications;
    bool m_inTray = false;
    bool m_iconAdded = false;
    const int m_iconId = 0;
    QString m_trayTip;
    QIcon m_trayIcon;
    bool m_balloonShowing = false;
    int m_showOnceCount = 0;
};
