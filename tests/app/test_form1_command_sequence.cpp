#include "category_tree_codec.h"
#include "form1_session.h"
#include "form2.h"
#include "test_main.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>

namespace {

using Fields = TaskListCodec::Fields;
// A task as the model follows it: its texts and the UID it must keep wherever it goes.
struct Row
{
    Fields fields;
    QUuid uid;
    bool operator==(const Row&) const = default;
};
using List = QList<Row>;

// What the user should see and what the store should hold, kept the simplest way possible.
struct Model
{
    struct Node
    {
        QString key, text, parentKey;
    };
    QList<Node> nodes;
    QMap<QString, List> stored; // a list key (category key, or key + "Del") -> tasks
    List screen[2];             // active, deleted
    QString selected;
    int tab = 0;
    // Removals Ctrl+Z can take back, newest last: a row (tab, position, fields) or a branch.
    struct Removal
    {
        int tab = 0, position = 0;
        Row row;
        QList<Node> branch;
    };
    QList<Removal> removals;

    void show(const QString& key)
    {
        selected = key;
        removals.removeIf([](const Removal& r) { return r.branch.isEmpty(); });
        screen[0] = stored.value(key);
        screen[1] = stored.value(TaskListCodec::deletedKey(key));
    }
    void save()
    {
        stored[selected] = screen[0];
        stored[TaskListCodec::deletedKey(selected)] = screen[1];
    }
    void removeBranch(const QString& key)
    {
        QStringList branch{key};
        for (int i = 0; i < branch.size(); ++i)
            for (const Node& n : nodes)
                if (n.parentKey == branch[i])
                    branch.append(n.key);
        Removal removal;
        for (const Node& n : nodes)
            if (branch.contains(n.key))
                removal.branch.append(n);
        removals.append(removal);
        nodes.removeIf([&](const Node& n) { return branch.contains(n.key); });
    }
    void removeRow(int row) { removals.append({tab, int(row), screen[tab].takeAt(row), {}}); }
    void undo()
    {
        if (removals.isEmpty())
            return;
        const Removal r = removals.takeLast();
        if (r.branch.isEmpty()) {
            tab = r.tab;
            screen[tab].insert(r.position, r.row);
            return;
        }
        nodes.append(r.branch);
        show(r.branch.first().key);
    }
};

QString encode(const List& list)
{
    QString out;
    for (const Row& r : list)
        TaskListCodec::appendEntry(out, r.fields);
    return out;
}

List onScreen(const TaskListView* list)
{
    List rows;
    for (const TaskRow& row : list->tasks()->rows())
        rows.append({row.fields, row.uid});
    return rows;
}

} // namespace

class TestForm1CommandSequence : public QObject
{
    Q_OBJECT

private slots:
    void randomCommands_matchASimpleModel_throughARestart()
    {
        Form1Session s;
        s.preset(QStringLiteral("Tree Nodes"),
                 QStringLiteral("Work;1_Root_1;^Home;1_Root_2;^Other;1_Root_3;^"));
        Form1* w = &s.start();
        Model m;
        m.nodes = {{"1_Root_1", "Work", ""}, {"1_Root_2", "Home", ""}, {"1_Root_3", "Other", ""}};
        m.show(QStringLiteral("1_Root_1"));

        QRandomGenerator random(20261207);
        int counter = 0;
        const auto pickRow = [&](TaskListView* list) {
            const int rows = list->tasks()->rowCount();
            const int row = rows ? int(random.bounded(rows)) : -1;
            if (row >= 0)
                list->selectRow(row);
            return row;
        };
        const auto typeTask = [&](const QString& text) {
            s.prompts.dialogActions.push_back([text](QDialog& dialog) {
                auto& editor = static_cast<Form2&>(dialog);
                editor.Text1->setText(text);
                editor.PushButton5->click();
            });
        };
        // A new row must come with a UID no task has had before.
        QSet<QUuid> seen;
        const auto newRow = [&](TaskListView* list, int position, const Fields& fields) {
            const QUuid uid = list->tasks()->at(position).uid;
            if (uid.isNull() || seen.contains(uid))
                qFatal("row %d was given no new UID", position);
            seen.insert(uid);
            return Row{fields, uid};
        };
        const Fields typed = {
            QString(), QStringLiteral("Medium"), QStringLiteral("General"), QString(), QString(),
            QString()};

        for (int step = 0; step < 2000; ++step) {
            const QString name = QStringLiteral("t%1").arg(++counter);
            TaskListView* list = w->listOfSelectedTab();
            List& shown = m.screen[m.tab];
            List& other = m.screen[1 - m.tab];
            bool saves = true;
            const quint32 command = random.bounded(16);
            switch (command) {
            case 0:
            case 1: { // Add Task
                typeTask(name);
                w->PushButton8->click();
                Fields f = typed;
                f[0] = name;
                shown.append(newRow(list, int(shown.size()), f));
                break;
            }
            case 2: { // Edit Task
                const int row = pickRow(list);
                if (row < 0) {
                    saves = false;
                    break;
                }
                typeTask(name);
                w->PushButton1->click();
                shown[row].fields[0] = name;
                break;
            }
            case 3:
            case 4: { // Delete / Restore Selected Task
                const int row = pickRow(list);
                w->PushButton9->click();
                if (row < 0) {
                    saves = false;
                    break;
                }
                other.append(shown.takeAt(row));
                break;
            }
            case 5: { // Delete / Restore All Tasks
                const bool yes = random.bounded(2) == 0;
                s.prompts.yesNoAnswers.push_back(yes);
                w->PushButton7->click();
                saves = yes;
                if (yes) {
                    other.append(shown);
                    shown.clear();
                }
                break;
            }
            case 6:
            case 7: { // Move Up / Move Down
                saves = false;
                const int row = pickRow(list);
                const bool up = command == 6;
                (up ? w->PushButton5 : w->PushButton6)->click();
                if (row >= 0 && (up ? row > 0 : row + 1 < shown.size()))
                    shown.move(row, up ? row - 1 : row + 1);
                break;
            }
            case 8: { // Delete key
                saves = false;
                const int row = pickRow(list);
                emit list->deleteKeyPressed();
                if (row >= 0)
                    m.removeRow(row);
                break;
            }
            case 9: // Load Sample/Example Items
                w->PushButton10->click();
                for (const char* t : {"Deliver Parts", "Call Nessaly", "Collaborate with Dorrin"})
                    m.screen[0].append(newRow(w->ListView1, int(m.screen[0].size()),
                                              {QString::fromLatin1(t),
                                               QString::fromLatin1(t[1] == 'o' ? "High" : "Medium"),
                                               QStringLiteral("General"),
                                               {},
                                               {},
                                               {}}));
                break;
            case 10: { // show another category
                saves = false;
                const Model::Node& n = m.nodes[random.bounded(int(m.nodes.size()))];
                s.clickNode(w->tvFolders->nodeByKey(n.key));
                m.show(n.key);
                break;
            }
            case 11: // switch tab
                saves = false;
                m.tab = 1 - m.tab;
                s.clickTab(m.tab);
                break;
            case 12:
            case 13: { // add a category or a subcategory of the selected one
                saves = false;
                const bool sub = command == 13;
                s.prompts.inputAnswers.push_back(QStringLiteral("c%1").arg(counter));
                (sub ? w->PushButton3 : w->PushButton2)->click();
                const QString key = CategoryTree::keyOf(w->tvFolders->selectedNode());
                QVERIFY(!m.stored.contains(key) && !m.stored.contains(key + QStringLiteral("Del")));
                m.nodes.append(
                    {key, QStringLiteral("c%1").arg(counter), sub ? m.selected : QString()});
                m.show(key);
                break;
            }
            case 14: { // delete the selected category, as long as others remain
                saves = false;
                if (m.nodes.size() < 3)
                    break;
                w->PushButton4->click();
                m.removeBranch(m.selected);
                const QString now = CategoryTree::keyOf(w->tvFolders->selectedNode());
                QVERIFY(std::any_of(m.nodes.begin(), m.nodes.end(),
                                    [&](const Model::Node& n) { return n.key == now; }));
                m.show(now);
                break;
            }
            case 15: // Ctrl+Z
                saves = false;
                w->undoRemoval();
                m.undo();
                QCOMPARE(w->TabControl1->currentIndex(), m.tab);
                break;
            }
            if (saves)
                m.save();

            QVERIFY2(s.prompts.errorBoxes().isEmpty(), qPrintable(s.prompts.errorBoxes().value(0)));
            QCOMPARE(onScreen(w->ListView1), m.screen[0]);
            QCOMPARE(onScreen(w->ListView2), m.screen[1]);
            QCOMPARE(s.stored(m.selected), m.stored.contains(m.selected)
                                               ? encode(m.stored[m.selected])
                                               : QStringLiteral("<absent>"));
            const QString del = TaskListCodec::deletedKey(m.selected);
            QCOMPARE(s.stored(del),
                     m.stored.contains(del) ? encode(m.stored[del]) : QStringLiteral("<absent>"));
        }

        // After a restart the tree and every category's lists are what the model says, each
        // task with its UID.
        w = &s.closeAndReopen();
        QList<CategoryTreeCodec::Node> expectedTree;
        for (const Model::Node& n : m.nodes)
            expectedTree.append({n.text, n.key, n.parentKey});
        QCOMPARE(s.stored(QStringLiteral("Tree Nodes")), CategoryTreeCodec::encode(expectedTree));
        QCOMPARE(s.nodeKeys().size(), m.nodes.size());
        for (const Model::Node& n : m.nodes) {
            s.clickNode(w->tvFolders->nodeByKey(n.key));
            m.show(n.key);
            QCOMPARE(onScreen(w->ListView1), m.screen[0]);
            QCOMPARE(onScreen(w->ListView2), m.screen[1]);
        }
    }
};

KESTRUNE_TEST_MAIN(TestForm1CommandSequence)
#include "test_form1_command_sequence.moc"
