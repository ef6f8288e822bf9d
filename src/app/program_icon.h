#pragma once

#include <QIcon>

// Kestrune's blue K. The window's icon is the SVG drawn into pixels at build time: the SVG
// plugin, and drawing the four sizes an X11 window announces, would be paid on every start. The
// tray draws the SVG itself, at whatever size the tray asks for, once the window goes there.
namespace ProgramIcon {

QIcon forWindows();
QIcon forTray();

} // namespace ProgramIcon
