#include "pointer_rules.h"

#include <QEvent>
#include <QWidget>

PointerRules::PointerRules(QWidget* window, std::optional<QCursor> hand)
    : QObject(window), m_window(window), m_hand(std::move(hand))
{
    addDefaultWidget(window);
}

void PointerRules::addHandWidget(QWidget* widget)
{
    m_handWidgets.append(widget);
    widget->installEventFilter(this);
}

void PointerRules::addDefaultWidget(QWidget* widget)
{
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
}

bool PointerRules::eventFilter(QObject* watched, QEvent* event)
{
    const bool moved = event->type() == QEvent::Enter || event->type() == QEvent::MouseMove;
    if (moved) {
        if (!m_handWidgets.contains(watched))
            m_window->unsetCursor();
        else if (m_hand)
            m_window->setCursor(*m_hand);
        // Without a pointer file the custom pointer looks like the default one.
        else
            m_window->unsetCursor();
    }
    return QObject::eventFilter(watched, event);
}
