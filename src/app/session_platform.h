#pragma once

#include <QByteArray>

// The windowing platform Kestrune asks Qt for before the application object exists.
//
// In a Wayland session the compositor minimises a native Wayland window without telling it, and
// decides its states and size itself, so the window could never hide into the tray. When an X
// display is offered as well (XWayland), the program runs on it instead, falling back to Wayland
// should the X server not answer. A platform the user chose (QT_QPA_PLATFORM or -platform) is
// always honoured. Returns an empty text when Qt's own choice stands.
QByteArray sessionPlatform(int argc, const char* const* argv);
