#include "csystray.h"

#include "failure.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <limits>

namespace {

// Cuts a text to a field of the record, never between the two halves of a surrogate pair.
QString cut(const QString& text, int length)
{
    if (text.size() <= length)
        return text;
    if (text.at(length - 1).isHighSurrogate())
        --length;
    return text.left(length);
}

} // namespace

cSysTray::cSysTray(QObject* parent, std::unique_ptr<TrayBackend> backend)
    : QObject(parent), m_backend(std::move(backend))
{
    m_backend->setParent(nullptr); // owned here, not by a Qt parent
}

cSysTray::~cSysTray()
{
    if (m_inTray)
        setInTray(false);
}

TrayRecord cSysTray::record(int flags) const
{
    TrayRecord r;
    r.flags = flags;
    r.id = m_iconId;
    return r;
}

void cSysTray::setInTray(bool Show)
{
    if (Show == m_inTray)
        return;
    if (Show) {
        m_notifications = connect(m_backend.get(), &TrayBackend::notification, this,
                                  &cSysTray::HandleTrayMessage);
        AddTrayIcon(m_trayTip, m_trayIcon);
        m_iconAdded = true;
    } else if (m_iconAdded) {
        RemoveTrayIcon();
        disconnect(m_notifications);
        m_iconAdded = false;
    }
    m_inTray = Show;
}

void cSysTray::setTrayTip(const QString& Tip)
{
    if (m_iconAdded) {
        TrayRecord r = record(TrayRecord::TipValid);
        r.tip = cut(Tip, TrayRecord::kTipLength);
        m_backend->send(TrayBackend::Command::Modify, r);
    }
    m_trayTip = Tip;
}

void cSysTray::setTrayIcon(const QIcon& Icon)
{
    if (Icon.isNull())
        return;
    if (m_iconAdded) {
        TrayRecord r = record(TrayRecord::IconValid);
        r.icon = Icon;
        m_backend->send(TrayBackend::Command::Modify, r);
    }
    m_trayIcon = Icon;
}

void cSysTray::AddTrayIcon(const QString& tip, const QIcon& icon)
{
    TrayRecord r = record(TrayRecord::CallbackValid);
    r.callbackMessage = TrayRecord::kCallbackMessage;
    if (!icon.isNull()) {
        r.icon = icon;
        r.flags |= TrayRecord::IconValid;
        m_trayIcon = icon;
    }
    if (!tip.isEmpty()) {
        r.tip = cut(tip, TrayRecord::kTipLength);
        r.flags |= TrayRecord::TipValid;
        m_trayTip = tip;
    }
    m_backend->send(TrayBackend::Command::Add, r);
}

void cSysTray::RemoveTrayIcon()
{
    m_backend->send(TrayBackend::Command::Delete, record(0));
}

void cSysTray::HandleTrayMessage(int message, int id)
{
    switch (message) {
    case TrayMessage::MouseMove:
        emit MouseMove(id);
        break;
    case TrayMessage::LeftDown:
        emit MouseDown(id, 1);
        break;
    case TrayMessage::LeftUp:
        emit MouseUp(id, 1);
        break;
    case TrayMessage::LeftDoubleClick:
        emit MouseDblClick(id, 1);
        break;
    case TrayMessage::RightDown:
        emit MouseDown(id, 2);
        break;
    case TrayMessage::RightUp:
        emit MouseUp(id, 2);
        break;
    case TrayMessage::RightDoubleClick:
        emit MouseDblClick(id, 2);
        break;
    case TrayMessage::BalloonHidden:
    case TrayMessage::BalloonTimedOut:
    case TrayMessage::BalloonClicked:
        m_balloonShowing = false;
        emit balloonEnded();
        break;
    default:
        break; // the middle button and the balloon-shown notice among them
    }
}

void cSysTray::ShowBalloon(const QString& Tip, const QString& sTitle, int ShowTimer, bool ShowOnce)
{
    if (ShowOnce && m_showOnceCount >= 1)
        return;
    TrayRecord balloon = record(TrayRecord::BalloonValid);
    balloon.balloonTitle = cut(sTitle, TrayRecord::kBalloonTitleLength);
    balloon.balloonText = cut(Tip, TrayRecord::kBalloonTextLength);
    if (ShowTimer > 0) {
        const qint64 milliseconds = qint64(ShowTimer) * 1000;
        if (milliseconds > std::numeric_limits<qint32>::max())
            throw Failure(
                QStringLiteral("Overflow: a balloon cannot stay for %1 seconds.").arg(ShowTimer));
        balloon.balloonTimeoutMs = int(milliseconds);
    }
    m_backend->send(TrayBackend::Command::Modify, balloon);
    m_balloonShowing = true;
    if (ShowOnce) {
        if (m_showOnceCount == std::numeric_limits<qint32>::max())
            throw Failure(QStringLiteral("Overflow: too many balloons shown once."));
        ++m_showOnceCount;
    }
    if (ShowTimer > 0 && m_balloonShowing) {
        QPointer<cSysTray> alive(this);
        waitForBalloon(balloon.balloonTimeoutMs);
        if (!alive)
            return;
    }
    if (m_balloonShowing)
        m_backend->send(TrayBackend::Command::Modify, record(TrayRecord::BalloonValid));
}

void cSysTray::waitForBalloon(int milliseconds)
{
    // A monotonic timer, so the wait also ends when it spans midnight.
    QEventLoop wait;
    QTimer timeout;
    timeout.setSingleShot(true);
    timeout.setTimerType(Qt::PreciseTimer); // a coarse timer may end the wait 5 % early
    connect(&timeout, &QTimer::timeout, &wait, &QEventLoop::quit);
    connect(this, &cSysTray::balloonEnded, &wait, &QEventLoop::quit);
    connect(this, &QObject::destroyed, &wait, &QEventLoop::quit);
    timeout.start(milliseconds);
    wait.exec();
}
