#pragma once

#include <QColor>

class QWidget;

// Gives a window and its labels, frames, check boxes and option buttons the button-face colour
// of the user's colour scheme; other controls keep their colours.
void applySharedWindowColours(QWidget* window);

// The headings' fixed light yellow, and the dark text that stays readable on it whatever the
// colour scheme: a dark scheme's light text would vanish on the yellow.
inline const QColor kHeadingBackground{255, 255, 192};
inline const QColor kHeadingText{0, 0, 0};
void applyHeadingColours(QWidget* heading);
