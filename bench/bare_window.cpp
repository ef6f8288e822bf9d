// The floor for start-up: a plain Qt window with the main window's menu bar and controls at the
// same size, with nothing behind them. It shows itself and waits, like the program.
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTreeView>
#include <QTreeWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Tolvendra Software"));
    auto* bar = new QMenuBar(&window);
    bar->setNativeMenuBar(false);
    bar->addMenu(QStringLiteral("&Tasks"));
    const int barHeight = bar->sizeHint().height();
    window.resize(808, 394 + barHeight);
    bar->setGeometry(0, 0, 808, barHeight);
    auto* client = new QWidget(&window);
    client->setGeometry(0, barHeight, 808, 394);
    const auto place = [&](QWidget* widget, int x, int y, int w, int h) {
        widget->setParent(client);
        widget->setGeometry(x, y, w, h);
    };
    place(new QLabel(QStringLiteral("Categories")), 8, 8, 264, 19);
    auto* tree = new QTreeWidget;
    tree->setHeaderHidden(true);
    tree->addTopLevelItems({new QTreeWidgetItem({QStringLiteral("Work")}),
                            new QTreeWidgetItem({QStringLiteral("Home")}),
                            new QTreeWidgetItem({QStringLiteral("Other")})});
    place(tree, 8, 34, 264, 250);
    const char* captions[] = {"Add To Do Category",
                              "Add To Do Subcategory",
                              "Delete Selected Category (or Sub)",
                              "Add Task",
                              "Edit Task",
                              "Delete Selected Task",
                              "Export All Tasks To ...",
                              "Load Sample/Example Items",
                              "Delete All Tasks",
                              "Move\nUp",
                              "Move\nDown"};
    const int geometry[][4] = {{8, 291, 264, 27},   {8, 325, 264, 27},   {8, 359, 264, 27},
                               {280, 291, 256, 27}, {280, 325, 256, 27}, {280, 359, 256, 27},
                               {544, 291, 256, 27}, {544, 325, 256, 27}, {544, 359, 256, 27},
                               {743, 8, 57, 134},   {743, 149, 57, 134}};
    for (int i = 0; i < 11; ++i)
        place(new QPushButton(QString::fromLatin1(captions[i])), geometry[i][0], geometry[i][1],
              geometry[i][2], geometry[i][3]);
    place(new QLabel(QStringLiteral("Tasks for [Work]")), 280, 8, 456, 19);
    auto* tabs = new QTabBar;
    tabs->addTab(QStringLiteral("Active Tasks"));
    tabs->addTab(QStringLiteral("Deleted Tasks"));
    place(tabs, 280, 31, 456, 24);
    auto* model = new QStandardItemModel(0, 6, &window);
    model->setHorizontalHeaderLabels({QStringLiteral("Task"), QStringLiteral("Priority"),
                                      QStringLiteral("Type"), QStringLiteral("Due Date"),
                                      QStringLiteral("Notes"), QStringLiteral("Done")});
    for (int i = 0; i < 2; ++i) {
        auto* list = new QTreeView;
        list->setModel(model);
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        place(list, 288, 62, 440, 211);
        list->setVisible(i == 0);
    }
    place(new QLabel(QStringLiteral("Temporary Scratch Pad:")), 8, 424, 138, 15);
    place(new QPlainTextEdit, 136, 420, 152, 33);
    window.show();
    return app.exec();
}
