#pragma once

#include "tray_backend.h"

#include <QList>

// A notification area that only remembers what it was told; tests play the user's clicks
// through deliver().
class RecordingTrayBackend : public TrayBackend
{
    Q_OBJECT

public:
    struct Call
    {
        Command command;
        TrayRecord record;
    };

    bool isAvailable() const override { return available; }
    void send(Command command, const TrayRecord& record) override;

    // As the platform would send it: `message` from TrayMessage.
    void deliver(int message, int id = 0) { emit notification(message, id); }

    // Whether an icon is in the area now, and the tooltip it shows.
    bool iconShown() const { return m_shown; }
    QString shownTip() const { return m_tip; }
    int count(Command command) const;
    // The balloons that were put up (modify calls with a title or text).
    QList<TrayRecord> balloons() const;

    bool available = true;
    QList<Call> calls;

private:
    bool m_shown = false;
    QString m_tip;
};
