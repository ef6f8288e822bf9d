#pragma once

#include "find_query.h"
#include "task_index.h"

#include <QDialog>
#include <QTimer>

class FindHost;
class FindResultsModel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTreeView;
class SettingsStore;

// The modal find window: one text box, and every task of every category that holds the typed
// text, listed as the user types. Enter or a double click goes to the selected match and
// closes the window; Escape closes it without going anywhere. Created for one opening.
class FindDialog : public QDialog
{
    Q_OBJECT

public:
    FindDialog(const SettingsStore& store, FindHost& host, const FindQuery& start,
               QWidget* parent = nullptr);
    ~FindDialog() override;

    QLabel* Label1;
    QLineEdit* Text1;
    QCheckBox* Check1;
    QCheckBox* Check2;
    QLabel* Label2;
    QLabel* Label3;
    QTreeView* ListView1;

    FindQuery query() const;
    const TaskIndex& index() const { return m_index; }
    // The matches listed now, as tasks of index().
    const std::vector<int>& matches() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void Form_Load(const SettingsStore& store, const FindQuery& start);
    // Runs the search for what the box and the ticks say now.
    void search();
    void goTo(int resultRow);

    FindHost& m_host;
    TaskIndex m_index;
    FindResultsModel* m_results = nullptr;
    // Keystrokes that arrive while a search runs are taken together: only the text as it
    // stands once they are in is searched.
    QTimer m_pending;
    FindQuery m_searched;
};
