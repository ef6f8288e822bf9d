#pragma once

// One run of the program after another on the test's own store: the store file at its default
// path, the main window on it, and scripted prompts that record every message box.
#include "category_tree.h"
#include "failure.h"
#include "first_list_prefetch.h"
#include "form1.h"
#include "scripted_prompts.h"
#include "settings_store.h"
#include "task_list_view.h"
#include "task_tabs.h"

#include <QDir>
#include <QFileInfo>
#include <QTabBar>
#include <QTest>
#include <memory>

class Form1Session
{
public:
    // A fresh, empty store; nothing of an earlier test is left.
    Form1Session()
    {
        QDir(QFileInfo(SettingsStore::defaultPath()).absolutePath()).removeRecursively();
        store = std::make_unique<SettingsStore>(SettingsStore::defaultPath());
        // Closing the window ends the process; here it only counts.
        Form1::programEnd = [] { ++programEnds(); };
    }
    ~Form1Session() { window.reset(); }

    void preset(const QString& key, const QString& value) { store->write(key, value); }
    QString stored(const QString& key) const
    {
        return store->read(key, QStringLiteral("<absent>"));
    }

    // A window shows its first list as it reads it itself, or as the program's start read it
    // ahead: rows of both ways for a test that takes `readAhead`.
    static void addReadAheadRows()
    {
        QTest::addColumn<bool>("readAhead");
        QTest::newRow("read by the window") << false;
        QTest::newRow("read ahead at start") << true;
    }
    // With `readAhead`, as the program starts: the first list read and split on a second thread
    // while the window builds.
    Form1& start(bool readAhead = false)
    {
        if (readAhead)
            FirstListPrefetch::start(*store);
        window = std::make_unique<Form1>(*store);
        FirstListPrefetch::discard();
        return *window;
    }
    Form1& startShown(bool readAhead = false)
    {
        start(readAhead).show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qWarning("the main window was not exposed");
        return *window;
    }
    // Closes the window as the user does, then starts the program again on the same store.
    Form1& closeAndReopen()
    {
        close();
        return start();
    }
    void close()
    {
        window->close();
        window.reset();
    }

    // --- what the user does ---
    void clickNode(QTreeWidgetItem* node)
    {
        CategoryTree* tree = window->tvFolders;
        tree->scrollToItem(node);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          tree->visualItemRect(node).center());
    }
    void clickNode(const QString& text)
    {
        const auto found =
            window->tvFolders->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        if (found.isEmpty())
            qWarning("no category %s", qPrintable(text));
        else
            clickNode(found.first());
    }
    void clickTab(int index)
    {
        QTabBar* bar = window->TabControl1->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }
    void clickRow(TaskListView* list, int row)
    {
        const QRect rect = list->visualRect(list->tasks()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }

    // --- what the window shows ---
    QStringList nodeTexts() const
    {
        QStringList texts;
        for (QTreeWidgetItem* node : window->tvFolders->nodesInOrder())
            texts.append(node->text(0));
        return texts;
    }
    QStringList nodeKeys() const
    {
        QStringList keys;
        for (QTreeWidgetItem* node : window->tvFolders->nodesInOrder())
            keys.append(CategoryTree::keyOf(node));
        return keys;
    }
    static QStringList column(const TaskListView* list, int column)
    {
        QStringList texts;
        for (const TaskRow& row : list->tasks()->rows())
            texts.append(row.fields[column]);
        return texts;
    }

    // The Application Error box as the user reads it.
    static QString errorText(const QString& description, const QString& routine, int line)
    {
        return description + QStringLiteral("\r\nin Pennaro2021/08/31.Form1.") + routine +
               QStringLiteral(" at line ") + QString::number(line) +
               QStringLiteral("\r\rPlease email screenshot of this message to ") +
               QStringLiteral(KESTRUNE_SUPPORT_EMAIL);
    }
    // "routine line" of every Application Error box shown, in order.
    QStringList errorLines() const
    {
        QStringList lines;
        for (const QString& text : prompts.errorBoxes()) {
            const qsizetype at = text.indexOf(QStringLiteral("in Pennaro2021/08/31.Form1."));
            const qsizetype end = text.indexOf(u'\r', at);
            lines.append(
                text.mid(at + 27, end - at - 27).replace(QStringLiteral(" at line"), QString()));
        }
        return lines;
    }

    static int& programEnds()
    {
        static int count = 0;
        return count;
    }

    ScriptedPrompts prompts;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<Form1> window;
};

// A list stored as the program stores it, written out by hand.
inline QString storedTasks(const QList<QStringList>& tasks)
{
    QString out;
    for (const QStringList& fields : tasks)
        out += fields.join(QStringLiteral("My_Separatora12")) + QStringLiteral("My_Separatora08");
    return out;
}
