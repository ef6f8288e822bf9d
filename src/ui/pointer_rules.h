#pragma once

#include <QCursor>
#include <QList>
#include <QObject>
#include <optional>

class QWidget;

// A window shows the hand pointer while the mouse is over its command buttons and the default
// pointer over its bare surface, frames and lists. Other controls leave the pointer as it is.
class PointerRules : public QObject
{
public:
    PointerRules(QWidget* window, std::optional<QCursor> hand);

    void addHandWidget(QWidget* widget);
    void addDefaultWidget(QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    std::optional<QCursor> m_hand;
    QList<QObject*> m_handWidgets;
};
