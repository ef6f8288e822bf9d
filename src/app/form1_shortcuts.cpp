// Keyboard access to every command, beside the buttons and without touching their captions.
#include "category_tree.h"
#include "form1.h"
#include "task_list_view.h"
#include "task_tabs.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>

void Form1::bringForward()
{
    if (hiddenInTray) {
        cSysTray1_MouseUp(0, 1);
        return;
    }
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void Form1::installShortcuts()
{
    const auto bind = [this](const QKeySequence& keys, QPushButton* button,
                             Qt::ShortcutContext context = Qt::WindowShortcut,
                             QWidget* where = nullptr) {
        auto* shortcut = new QShortcut(keys, where ? where : this);
        shortcut->setContext(context);
        // A disabled button ignores click(), so a shortcut can do no more than the button.
        connect(shortcut, &QShortcut::activated, button, &QPushButton::click);
    };
    bind(QKeySequence(Qt::CTRL | Qt::Key_N), PushButton8);
    bind(QKeySequence(Qt::Key_F2), PushButton1);
    for (TaskListView* list : {ListView1, ListView2}) {
        bind(QKeySequence(Qt::Key_Return), PushButton1, Qt::WidgetShortcut, list);
        bind(QKeySequence(Qt::Key_Enter), PushButton1, Qt::WidgetShortcut, list);
    }
    bind(QKeySequence(Qt::CTRL | Qt::Key_D), PushButton9);
    bind(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D), PushButton7);
    bind(QKeySequence(Qt::ALT | Qt::Key_Up), PushButton5);
    bind(QKeySequence(Qt::ALT | Qt::Key_Down), PushButton6);
    bind(QKeySequence(Qt::CTRL | Qt::Key_L), PushButton10);
    bind(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), PushButton2);
    bind(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N), PushButton3);
    bind(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete), PushButton4);

    auto* undoKeys = new QShortcut(QKeySequence::Undo, this);
    connect(undoKeys, &QShortcut::activated, this, &Form1::undoRemoval);

    // The export menu opens under its button when asked for from the keyboard.
    auto* exportKeys = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_E), this);
    connect(exportKeys, &QShortcut::activated, this, [this] {
        PushButton11_Click();
        if (mnuExport)
            mnuExport->move(PushButton11->mapToGlobal(QPoint(0, PushButton11->height())));
    });
    // Kestrune's own commands live in the menu bar, each with its keys.
    actionImportTasks = mnuTasks->addAction(QStringLiteral("&Import Tasks..."));
    actionImportTasks->setObjectName(QStringLiteral("actionImportTasks"));
    actionImportTasks->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    // Added to the window too, so its keys work wherever the focus is in it.
    addAction(actionImportTasks);
    connect(actionImportTasks, &QAction::triggered, this, &Form1::importTasks);
    // The same as the export menu's "iCalendar", where one looks for the import's counterpart.
    QAction* exportCalendar = mnuTasks->addAction(QStringLiteral("&Export Tasks to iCalendar..."));
    exportCalendar->setObjectName(QStringLiteral("actionExportCalendar"));
    exportCalendar->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    addAction(exportCalendar);
    connect(exportCalendar, &QAction::triggered, this, &Form1::subMenuICalendar_Click);
    installBackupCommands();
    mnuTasks->addSeparator();
    QAction* settings = mnuTasks->addAction(QStringLiteral("&Settings..."));
    settings->setObjectName(QStringLiteral("actionSettings"));
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    addAction(settings);
    connect(settings, &QAction::triggered, this, &Form1::openSettings);
    // Finding: the window, then the next and the previous match without it.
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this), &QShortcut::activated, this,
            &Form1::findTasks);
    connect(new QShortcut(QKeySequence(Qt::Key_F3), this), &QShortcut::activated, this,
            [this] { findAgain(true); });
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this), &QShortcut::activated, this,
            [this] { findAgain(false); });
    for (int tab : {0, 1}) {
        auto* tabKeys =
            new QShortcut(QKeySequence(Qt::CTRL | (tab == 0 ? Qt::Key_1 : Qt::Key_2)), this);
        connect(tabKeys, &QShortcut::activated, this, [this, tab] {
            TabControl1->setCurrentIndex(tab);
            listOfSelectedTab()->setFocus();
        });
    }
}
