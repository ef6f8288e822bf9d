#pragma once

class QWidget;

// Gives a window and its labels, frames, check boxes and option buttons the button-face colour
// of the user's colour scheme; other controls keep their colours.
void applySharedWindowColours(QWidget* window);
