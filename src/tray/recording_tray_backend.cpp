#include "recording_tray_backend.h"

void RecordingTrayBackend::send(Command command, const TrayRecord& record)
{
    calls.append({command, record});
    switch (command) {
    case Command::Add:
        if (m_shown)
            return;
        m_shown = true;
        m_tip = record.flags & TrayRecord::TipValid ? record.tip : QString();
        break;
    case Command::Modify:
        if (m_shown && (record.flags & TrayRecord::TipValid))
            m_tip = record.tip;
        break;
    case Command::Delete:
        m_shown = false;
        m_tip.clear();
        break;
    }
}

int RecordingTrayBackend::count(Command command) const
{
    int n = 0;
    for (const Call& call : calls)
        n += call.command == command;
    return n;
}

QList<TrayRecord> RecordingTrayBackend::balloons() const
{
    QList<TrayRecord> shown;
    for (const Call& call : calls)
        if (call.command == Command::Modify && (call.record.flags & TrayRecord::BalloonValid) &&
            !(call.record.balloonTitle.isEmpty() && call.record.balloonText.isEmpty()))
            shown.append(call.record);
    return shown;
}
