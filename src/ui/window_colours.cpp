#include "window_colours.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>

void applySharedWindowColours(QWidget* window)
{
    const QColor face = window->palette().color(QPalette::Button);
    QList<QWidget*> surfaces{window};
    for (QWidget* child : window->findChildren<QWidget*>())
        if (qobject_cast<QLabel*>(child) || qobject_cast<QGroupBox*>(child) ||
            qobject_cast<QCheckBox*>(child) || qobject_cast<QRadioButton*>(child))
            surfaces.append(child);
    for (QWidget* surface : surfaces) {
        QPalette p = surface->palette();
        p.setColor(QPalette::Window, face);
        surface->setPalette(p);
    }
    // Children let the window show through, so a style that shades its frames is not broken
    // up by patches of flat colour.
    window->setAutoFillBackground(true);
}

void applyHeadingColours(QWidget* heading)
{
    QPalette p = heading->palette();
    p.setColor(QPalette::Window, kHeadingBackground); // in every colour group
    p.setColor(QPalette::WindowText, kHeadingText);
    heading->setPalette(p);
}
