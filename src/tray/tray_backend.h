#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

// What one call to the notification area carries. Every call starts from an empty record and
// fills only what its flags announce.
struct TrayRecord
{
    enum Flag
    {
        CallbackValid = 1,
        IconValid = 2,
        TipValid = 4,
        BalloonValid = 16,
    };
    // Limits of the record's text fields, in characters; longer texts are cut.
    static constexpr int kTipLength = 127;
    static constexpr int kBalloonTextLength = 255;
    static constexpr int kBalloonTitleLength = 63;
    // The message number the icon's notifications arrive under.
    static constexpr int kCallbackMessage = 1024 + 101;

    int flags = 0;
    int id = 0;
    int callbackMessage = 0;
    QIcon icon;
    QString tip;
    QString balloonText;
    int balloonTimeoutMs = 0;
    QString balloonTitle;
};

// Mouse and balloon notifications of the icon, numbered as the tray control's message table
// expects them.
namespace TrayMessage {
constexpr int MouseMove = 512;
constexpr int LeftDown = 513;
constexpr int LeftUp = 514;
constexpr int LeftDoubleClick = 515;
constexpr int RightDown = 516;
constexpr int RightUp = 517;
constexpr int RightDoubleClick = 518;
constexpr int BalloonShown = 1026;
constexpr int BalloonHidden = 1027;
constexpr int BalloonTimedOut = 1028;
constexpr int BalloonClicked = 1029;
} // namespace TrayMessage

// The notification area as the tray control sees it: add, modify and delete one icon, and
// the icon's notifications coming back. The desktop's own mechanism hides behind it, so the
// control is tested against a recording backend.
class TrayBackend : public QObject
{
    Q_OBJECT

public:
    enum class Command
    {
        Add = 0,
        Modify = 1,
        Delete = 2,
    };

    using Factory = std::function<std::unique_ptr<TrayBackend>()>;

    // The backend for a new tray control: the desktop's notification area unless a test has
    // put a factory of its own in place.
    static std::unique_ptr<TrayBackend> create();
    // An empty factory brings the desktop's backend back.
    static void setFactory(Factory factory);

    // Whether the desktop offers a notification area at all.
    virtual bool isAvailable() const = 0;
    // The result of the platform call is not reported: a refused call simply changes nothing.
    virtual void send(Command command, const TrayRecord& record) = 0;

signals:
    // `message` is one of TrayMessage; `id` the icon's identifier.
    void notification(int message, int id);
};
