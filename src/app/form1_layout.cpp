// The layout pass of the main window.
#include "form1.h"

bool Form1::hiddenInTray = false;

void Form1::Form_Resize() {}
