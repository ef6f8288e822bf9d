// The layout pass of the main window: every control at its design place in the normal state,
// the same places scaled by the window's size when maximised, and a minimise handed to the tray.
// The controls live in the client area below the menu bar, so their places are relative to it
// and the window is the bar's height taller than the design.
#include "category_tree.h"
#include "csystray.h"
#include "error_report.h"
#include "form1.h"
#include "settings_store.h"
#include "task_list_view.h"
#include "task_tabs.h"
#include "twips.h"

#include <QEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QTimer>
#include <algorithm>
#include <vector>

bool Form1::hiddenInTray = false;

namespace {

using Twips::Edge;

// The outer size the window was designed at, without a menu bar; the maximised layout scales
// the outer size less the bar by it.
constexpr double kDesignOuterWidth = 12210;
constexpr double kDesignOuterHeight = 6285;
// The client area the fixed border holds in the normal state.
constexpr double kDesignClientWidth = 12120;
constexpr double kDesignClientHeight = 5910;
// How long a size the window manager gave a normal window may stand before it is undone; long
// enough for the state change of a maximise that arrives after its new size.
constexpr int kSizeSettleMs = 250;

// One property of a row: a single value for every control of the row, or one value each.
struct Setting
{
    Edge edge;
    std::vector<double> values;
};

struct Row
{
    std::vector<QWidget*> controls;
    std::vector<Setting> settings; // in the order they are set
};

// The rows both layouts set, in their order. Only the tab control's height differs.
std::vector<Row> sharedRows(const Form1& f, double tabHeight)
{
    const std::vector<double> buttonTops{4370, 4880, 5390};
    return {
        {{f.Label3}, {{Edge::Width, {3960}}}},
        {{f.tvFolders}, {{Edge::Width, {3960}}, {Edge::Height, {3750}}}},
        {{f.PushButton2, f.PushButton3, f.PushButton4},
         {{Edge::Width, {3960}}, {Edge::Top, buttonTops}, {Edge::Height, {405}}}},
        {{f.Label1}, {{Edge::Width, {6840}}, {Edge::Left, {4200}}}},
        {{f.TabControl1},
         {{Edge::Width, {6840}}, {Edge::Left, {4200}}, {Edge::Height, {tabHeight}}}},
        {{f.ListView1, f.ListView2}, {{Edge::Width, {6600}}, {Edge::Height, {3165}}}},
        {{f.PushButton8, f.PushButton1, f.PushButton9},
         {{Edge::Width, {3840}},
          {Edge::Top, buttonTops},
          {Edge::Left, {4200}},
          {Edge::Height, {405}}}},
        // "Export" sits at 4365 by design, but every layout puts it level with its row at 4370.
        {{f.PushButton11, f.PushButton10, f.PushButton7},
         {{Edge::Width, {3840}},
          {Edge::Top, buttonTops},
          {Edge::Left, {8160}},
          {Edge::Height, {405}}}},
    };
}

// Sets each property on every control of its row before the next property, one numbered step
// per property set, and returns the next step number. Widths and Lefts scale by fx, Tops and
// Heights by fy; the product becomes single precision when it is set.
int applyRows(Steps& step, int line, const std::vector<Row>& rows, double fx, double fy)
{
    for (const Row& row : rows)
        for (const Setting& setting : row.settings)
            for (std::size_t i = 0; i < row.controls.size(); ++i) {
                const double design =
                    setting.values.size() == 1 ? setting.values.front() : setting.values[i];
                const bool across = setting.edge == Edge::Width || setting.edge == Edge::Left;
                step(line, [&] {
                    Twips::set(row.controls[i], setting.edge, design * (across ? fx : fy));
                });
                line += 2;
            }
    return line;
}

QSize designClientPixels()
{
    return {Twips::toPixels(kDesignClientWidth), Twips::toPixels(kDesignClientHeight)};
}

} // namespace

void Form1::Form_Resize()
{
    Steps step(QStringLiteral("Form1.Form_Resize"), this);
    Qt::WindowStates state;
    if (step.test(100, [&] {
            state = windowState();
            // A minimise comes combined with the state it left (maximised, active).
            return (state & Qt::WindowMinimized) && !hiddenInTray;
        })) {
        // Without a notification area a hidden window could never come back: it stays a
        // minimised window in the taskbar, and nothing is stored.
        if (cSysTray1->trayAvailable())
            hideToTray(step);
        return;
    }
    const bool normal =
        !(state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    const bool maximised =
        !(state & (Qt::WindowMinimized | Qt::WindowFullScreen)) && (state & Qt::WindowMaximized);
    if (step.test(114, [&] { return !normal && !maximised; }))
        return;
    step(116, [&] { cSysTray1->setInTray(false); });
    if (step.test(118, [&] { return normal; }))
        layOutNormal(step);
    else if (step.test(226, [&] { return maximised; }))
        layOutMaximised(step);

    const int stateNumber = maximised ? 2 : 0;
    if (step.test(346, [&] {
            if (isLoading())
                return false;
            if (m_stateFromStartup == stateNumber)
                return false;
            m_stateFromStartup.reset();
            return true;
        }))
        step(348,
             [&] { m_store.write(QStringLiteral("WindowState"), QString::number(stateNumber)); });
}

void Form1::layOutNormal(Steps& step)
{
    const int line = applyRows(step, 120, sharedRows(*this, 3790), 1, 1);
    // The tall buttons are set Top first and Width last.
    applyRows(step, line,
              {{{PushButton5, PushButton6},
                {{Edge::Top, {120, 2230}},
                 {Edge::Height, {2010}},
                 {Edge::Left, {11145}},
                 {Edge::Width, {855}}}}},
              1, 1);
    // The scratch pad keeps the Top a maximised layout gave it: below the client area either
    // way, as it is at its design Top.
}

void Form1::layOutMaximised(Steps& step)
{
    // The client area scales as it would in a window without the bar.
    const QSize outer = frameGeometry().size() - QSize(0, menuBar1->height());
    const double outerWidth = outer.width() * Twips::kPerPixel;
    const double outerHeight = outer.height() * Twips::kPerPixel;
    double referenceWidth = 0;
    double referenceHeight = 0;
    double fx = 0;
    double fy = 0;
    step(228, [&] { referenceWidth = kDesignOuterWidth; });
    step(230, [&] { referenceHeight = kDesignOuterHeight; });
    step(232, [&] { fx = outerWidth / referenceWidth; });
    step(234, [&] { fy = outerHeight / referenceHeight; });
    applyRows(step, 236, sharedRows(*this, 3750), fx, fy);

    const auto tabTop = [this] { return double(Twips::get(TabControl1, Edge::Top)); };
    step(326, [&] { Twips::set(PushButton5, Edge::Top, 120); });
    step(328, [&] { Twips::set(PushButton5, Edge::Height, 2010 * fy - tabTop()); });
    step(330, [&] { Twips::set(PushButton6, Edge::Height, 2010 * fy - tabTop()); });
    step(332, [&] { Twips::set(PushButton5, Edge::Width, 855 * fx); });
    step(334, [&] { Twips::set(PushButton6, Edge::Width, 855 * fx); });
    step(336, [&] { Twips::set(PushButton5, Edge::Left, 11145 * fx); });
    step(338, [&] { Twips::set(PushButton6, Edge::Left, 11145 * fx); });
    // "Move Down" ends where the tab control ends.
    step(340, [&] {
        Twips::set(PushButton6, Edge::Top,
                   tabTop() + double(Twips::get(TabControl1, Edge::Height)) -
                       double(Twips::get(PushButton6, Edge::Height)));
    });
    step(342, [&] { Twips::set(Label2, Edge::Top, outerHeight + 1000); });
    step(344, [&] { Twips::set(Text1, Edge::Top, outerHeight + 1000); });
}

void Form1::keepDesignSize()
{
    // The border is fixed in the normal state. Window managers will not maximise a window
    // whose minimum and maximum sizes agree, so the size limits stay open and a size the user
    // drags to is undone instead, once it is clear that no maximise is under way.
    if (!isVisible() ||
        (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) ||
        size() == designWindowPixels())
        return;
    QTimer::singleShot(kSizeSettleMs, this, [this] {
        if (isVisible() &&
            !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) &&
            size() != designWindowPixels())
            resize(designWindowPixels());
    });
}

QSize Form1::designWindowPixels() const
{
    return designClientPixels() + QSize(0, menuBar1->sizeHint().height());
}

void Form1::placeClientArea()
{
    const int bar = menuBar1->sizeHint().height();
    menuBar1->setGeometry(0, 0, width(), bar);
    clientArea->setGeometry(0, bar, width(), std::max(0, height() - bar));
}

void Form1::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // A hidden window is given its state by the tray sequence; it is laid out when shown.
    if (event->type() == QEvent::WindowStateChange && isVisible())
        Form_Resize();
}

void Form1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeClientArea();
    if (!isVisible())
        return;
    keepDesignSize();
    Form_Resize();
}

void Form1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Qt also sends a show event when a hidden window merely leaves the minimised state.
    if (isVisible())
        Form_Resize();
}
