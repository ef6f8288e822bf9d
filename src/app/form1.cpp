#include "form1.h"
#include "sync_controller.h"

#include "category_tree.h"
#include "removal_history.h"
#include "settings_store.h"
#include "task_list_view.h"
#include "task_tabs.h"
#include "twips.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

QPushButton* button(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

QLabel* label(QWidget* parent, const char* name, const QString& caption)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    return l;
}

} // namespace

Form1::Form1(SettingsStore& store, QWidget* parent)
    : QWidget(parent), m_store(store), m_removals(std::make_unique<RemovalHistory>())
{
    setObjectName(QStringLiteral("Form1"));
    createControls();
    connectHandlers();
    installShortcuts();
    Form_Load();
    installSync();
}

Form1::~Form1() = default;

void Form1::createControls()
{
    // The window's size counts the bar above the client area; a desktop's global menu would
    // take it out of the window. Said before the bar is made, or making it asks the session bus
    // for a global menu, a wait the window's start can do without.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    menuBar1 = new QMenuBar(this);
    menuBar1->setObjectName(QStringLiteral("menuBar1"));
    menuBar1->setNativeMenuBar(false);
    mnuTasks = menuBar1->addMenu(QStringLiteral("&Tasks"));
    mnuTasks->setObjectName(QStringLiteral("mnuTasks"));
    clientArea = new QWidget(this);
    clientArea->setObjectName(QStringLiteral("clientArea"));
    resize(designWindowPixels());
    placeClientArea();

    Label3 = label(clientArea, "Label3", QStringLiteral("Categories"));
    tvFolders = new CategoryTree(clientArea);
    tvFolders->setAccessibleName(QStringLiteral("Categories"));
    PushButton2 = button(clientArea, "PushButton2", QStringLiteral("Add To Do Category"));
    PushButton3 = button(clientArea, "PushButton3", QStringLiteral("Add To Do Subcategory"));
    PushButton4 =
        button(clientArea, "PushButton4", QStringLiteral("Delete Selected Category (or Sub)"));
    Label1 = label(clientArea, "Label1", QStringLiteral("Tasks for [X]"));
    TabControl1 = new TaskTabs(clientArea);
    ListView1 = new TaskListView(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("Active Tasks"));
    ListView2 = new TaskListView(QStringLiteral("ListView2"));
    ListView2->setAccessibleName(QStringLiteral("Deleted Tasks"));
    TabControl1->setPage(0, ListView1);
    TabControl1->setPage(1, ListView2);
    PushButton8 = button(clientArea, "PushButton8", QStringLiteral("Add Task"));
    PushButton1 = button(clientArea, "PushButton1", QStringLiteral("Edit Task"));
    PushButton9 = button(clientArea, "PushButton9", QStringLiteral("Delete Selected Task"));
    PushButton11 = button(clientArea, "PushButton11", QStringLiteral("Export All Tasks To ..."));
    PushButton10 = button(clientArea, "PushButton10", QStringLiteral("Load Sample/Example Items"));
    PushButton7 = button(clientArea, "PushButton7", QStringLiteral("Delete All Tasks"));
    PushButton5 = button(clientArea, "PushButton5", QStringLiteral("Move Up"));
    PushButton6 = button(clientArea, "PushButton6", QStringLiteral("Move Down"));
    Label2 = label(clientArea, "Label2", QStringLiteral("Temporary Scratch Pad:"));
    Text1 = new QPlainTextEdit(clientArea);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setAccessibleName(QStringLiteral("Temporary Scratch Pad:"));

    struct Design
    {
        QWidget* widget;
        double left, top, width, height;
    };
    const Design design[] = {
        {Label3, 120, 120, 3960, 285},         {tvFolders, 120, 510, 3960, 3750},
        {PushButton2, 120, 4370, 3960, 405},   {PushButton3, 120, 4880, 3960, 405},
        {PushButton4, 120, 5390, 3960, 405},   {Label1, 4200, 120, 6840, 285},
        {TabControl1, 4200, 460, 6840, 3790},  {ListView1, 120, 470, 6600, 3165},
        {ListView2, 120, 470, 6600, 3165},     {PushButton8, 4200, 4370, 3840, 405},
        {PushButton1, 4200, 4880, 3840, 405},  {PushButton9, 4200, 5390, 3840, 405},
        {PushButton11, 8160, 4365, 3840, 405}, {PushButton10, 8160, 4880, 3840, 405},
        {PushButton7, 8160, 5390, 3840, 405},  {PushButton5, 11145, 120, 855, 2010},
        {PushButton6, 11145, 2230, 855, 2010}, {Label2, 120, 6360, 2070, 225},
        {Text1, 2040, 6300, 2280, 495},
    };
    for (const Design& d : design)
        Twips::place(d.widget, d.left, d.top, d.width, d.height);

    // The tall side buttons carry their captions on two lines.
    PushButton5->setText(QStringLiteral("Move\nUp"));
    PushButton5->setAccessibleName(QStringLiteral("Move Up"));
    PushButton6->setText(QStringLiteral("Move\nDown"));
    PushButton6->setAccessibleName(QStringLiteral("Move Down"));

    for (QLabel* heading : {Label1, Label3}) {
        heading->setAutoFillBackground(true);
        heading->setIndent(4);
    }

    setTabOrder(tvFolders, PushButton2);
    setTabOrder(PushButton2, PushButton3);
    setTabOrder(PushButton3, PushButton4);
    setTabOrder(PushButton4, TabControl1->tabBar());
    setTabOrder(TabControl1->tabBar(), ListView1);
    setTabOrder(ListView1, ListView2);
    setTabOrder(ListView2, PushButton5);
    setTabOrder(PushButton5, PushButton6);
    setTabOrder(PushButton6, PushButton8);
    setTabOrder(PushButton8, PushButton1);
    setTabOrder(PushButton1, PushButton9);
    setTabOrder(PushButton9, PushButton11);
    setTabOrder(PushButton11, PushButton10);
    setTabOrder(PushButton10, PushButton7);
}

void Form1::connectHandlers()
{
    connect(tvFolders, &CategoryTree::nodeClick, this, &Form1::tvFolders_NodeClick);
    connect(TabControl1, &TaskTabs::currentChanged, this, &Form1::TabControl1_SelectedChanged);
    for (TaskListView* list : {ListView1, ListView2}) {
        connect(list, &TaskListView::itemClicked, this,
                [this, list](int row) { ListView_ItemClick(list, row); });
        connect(list, &TaskListView::itemDoubleClicked, this, &Form1::PushButton1_Click);
    }
    for (TaskListView* list : {ListView1, ListView2})
        connect(list, &TaskListView::deleteKeyPressed, this,
                [this, list] { ListView_KeyDelete(list); });
    const std::pair<QPushButton*, void (Form1::*)()> commands[] = {
        {PushButton1, &Form1::PushButton1_Click}, {PushButton2, &Form1::PushButton2_Click},
        {PushButton3, &Form1::PushButton3_Click}, {PushButton4, &Form1::PushButton4_Click},
        {PushButton5, &Form1::PushButton5_Click}, {PushButton6, &Form1::PushButton6_Click},
        {PushButton7, &Form1::PushButton7_Click}, {PushButton8, &Form1::PushButton8_Click},
        {PushButton9, &Form1::PushButton9_Click}, {PushButton10, &Form1::PushButton10_Click},
    };
    for (const auto& [button, handler] : commands)
        connect(button, &QPushButton::clicked, this, handler);
    connect(PushButton11, &QPushButton::clicked, this, &Form1::PushButton11_Click);
}

TaskListView* Form1::listOfSelectedTab() const
{
    return TabControl1->currentIndex() == 1 ? ListView2 : ListView1;
}

void Form1::closeEvent(QCloseEvent* event)
{
    // What was not sent goes next time; the window waits a second at most.
    if (SyncController* sync = syncController())
        sync->stop(1000);
    Form_QueryUnload();
    finishBackups();
    event->accept();
    Form_Unload();
}
