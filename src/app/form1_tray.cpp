// Hiding the main window into the notification area, bringing it back, and the end of the
// program.
#include "csystray.h"
#include "error_report.h"
#include "failure.h"
#include "form1.h"
#include "numbers.h"
#include "program_icon.h"
#include "settings_store.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <cstdlib>

namespace {

const QString kProductName = QStringLiteral("Tolvendra Software");
const QString kBalloonText =
    QStringLiteral("has been minimized to the system tray.\r\n"
                   "Click on the blue 'K' icon (K for Kestrune) to bring the software back.");
constexpr int kBalloonSeconds = 5;

void endProcessNow()
{
    // Nothing is left to save: every store write is its own durable transaction and the close
    // handler has taken the tray icon away. Ending here keeps other windows' close handlers
    // and clean-up code from running after the main window is gone.
    std::fflush(nullptr);
    std::_Exit(0);
}

} // namespace

Form1::ProgramEnd Form1::programEnd = &endProcessNow;

cSysTray* Form1::createTrayControl()
{
    auto* tray = new cSysTray(this);
    tray->setObjectName(QStringLiteral("cSysTray1"));
    connect(tray, &cSysTray::MouseUp, this, &Form1::cSysTray1_MouseUp);
    return tray;
}

void Form1::hideToTray(Steps& step)
{
    // The window leaves the state start-up gave it, so the layout pass of the way back stores
    // the state it returns in, even when that is the state it started in.
    m_stateFromStartup.reset();
    step(102, [&] {
        // The program's own blue K, which the balloon text refers to; made on the way to the
        // tray, not at start, as only the tray needs the SVG plugin.
        if (cSysTray1->TrayIcon().isNull())
            cSysTray1->setTrayIcon(ProgramIcon::forTray());
        cSysTray1->setTrayTip(kProductName);
        setWindowIcon(QApplication::windowIcon());
    });
    step(104, [&] { cSysTray1->setInTray(true); });
    step(106, [&] { hide(); });
    step(108, [&] {
        const int state =
            Numbers::toInt32(m_store.read(QStringLiteral("WindowState"), QStringLiteral("0")),
                             QStringLiteral("the window state"));
        if (state != 0 && state != 2)
            throw Failure(
                QStringLiteral("Invalid property value: %1 is no window state to restore.")
                    .arg(state));
        // Qt's X11 window maps itself again when it is told to leave the minimised state,
        // hidden or not. The hidden window therefore gets a new native window, which knows
        // nothing of the minimise and only records how the window will come back.
        if (!isVisible() && (windowState() & Qt::WindowMinimized))
            destroy();
        setWindowState(state == 2 ? Qt::WindowMaximized : Qt::WindowNoState);
    });
    step(110, [&] { hiddenInTray = true; });
    step(112, [&] { cSysTray1->ShowBalloon(kBalloonText, kProductName, kBalloonSeconds, true); });
}

void Form1::cSysTray1_MouseUp(int, int)
{
    // A window whose stored state could not be applied is still minimised; brought back as
    // such it would be no more than a taskbar entry after a click on the icon.
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    // While a modal window of the program is open the focus belongs to it, so it is brought
    // forward as well; the main window is shown either way.
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != this) {
        if (modal->windowState() & Qt::WindowMinimized)
            modal->setWindowState(modal->windowState() & ~Qt::WindowMinimized);
        modal->raise();
        modal->activateWindow();
    }
    // Showing ran the layout pass, which took the icon away. Should the window not have come
    // up, the icon stays, and so does the way back.
    if (isVisible())
        hiddenInTray = false;
}

void Form1::Form_Unload()
{
    programEnd();
}
