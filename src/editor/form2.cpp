#include "form2.h"

#include "app_folder.h"
#include "cursor_file.h"
#include "error_report.h"
#include "failure.h"
#include "pointer_rules.h"
#include "settings_store.h"
#include "task_editor_host.h"
#include "task_list_codec.h"
#include "task_list_view.h"
#include "task_types.h"
#include "twips.h"
#include "window_colours.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

template <class W>
W* control(QWidget* parent, const char* name, double left, double top, double width, double height)
{
    auto* w = new W(parent);
    w->setObjectName(QLatin1String(name));
    Twips::place(w, left, top, width, height);
    return w;
}

QGroupBox* frame(QWidget* parent, const char* name, const QString& caption, double left, double top,
                 double width, double height)
{
    auto* f = control<QGroupBox>(parent, name, left, top, width, height);
    f->setTitle(caption);
    return f;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, double left,
                    double top, double width, double height)
{
    auto* b = control<QPushButton>(parent, name, left, top, width, height);
    b->setText(caption);
    b->setAutoDefault(false);
    return b;
}

} // namespace

Form2::Form2(SettingsStore& store, TaskEditorHost& host, QWidget* parent)
    : QDialog(parent), m_store(store), m_host(host)
{
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    createControls();
    Form_Load();
}

void Form2::createControls()
{
    setWindowTitle(QStringLiteral("Add Task"));
    setFixedSize(Twips::toPixels(8040), Twips::toPixels(6540));

    Frame2 = frame(this, "Frame2", QStringLiteral("Task"), 120, 120, 7800, 825);
    Text1 = control<QLineEdit>(Frame2, "Text1", 240, 300, 7300, 345);
    Text1->setAccessibleName(QStringLiteral("Task"));
    Frame4 = frame(this, "Frame4", QStringLiteral("Priority"), 120, 1000, 7800, 825);
    Combo1 = control<QComboBox>(Frame4, "Combo1", 240, 300, 7300, 345);
    Combo1->setAccessibleName(QStringLiteral("Priority"));
    Frame3 = frame(this, "Frame3", QStringLiteral("Type"), 120, 1890, 7800, 1665);
    Combo2 = control<QComboBox>(Frame3, "Combo2", 240, 300, 3915, 345);
    Combo2->setAccessibleName(QStringLiteral("Type"));
    PushButton8 = button(Frame3, "PushButton8", QStringLiteral("Add Type"), 4260, 300, 1425, 345);
    PushButton1 =
        button(Frame3, "PushButton1", QStringLiteral("Delete Type"), 5820, 300, 1680, 345);
    Check2 = control<QCheckBox>(Frame3, "Check2", 240, 720, 1680, 255);
    Check2->setText(QStringLiteral("Use Due Date:"));
    Check3 = control<QCheckBox>(Frame3, "Check3", 2100, 720, 2085, 255);
    Check3->setText(QStringLiteral("This task is finished"));
    DTPicker1 = control<QDateEdit>(Frame3, "DTPicker1", 240, 1080, 7300, 375);
    DTPicker1->setCalendarPopup(true);
    DTPicker1->setDisplayFormat(DueDates::writeFormat());
    DTPicker1->setAccessibleName(QStringLiteral("Due Date"));
    Frame1 = frame(this, "Frame1", QStringLiteral("Notes"), 120, 3630, 7800, 2265);
    Text2 = control<QPlainTextEdit>(Frame1, "Text2", 240, 300, 7300, 1785);
    Text2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text2->setTabChangesFocus(true);
    Text2->setAccessibleName(QStringLiteral("Notes"));
    PushButton5 = button(this, "PushButton5", QStringLiteral("OK"), 120, 6020, 3840, 405);
    PushButton4 = button(this, "PushButton4", QStringLiteral("Cancel"), 4080, 6020, 3840, 405);

    const QList<QWidget*> order = {Text1,  Combo1,    Combo2, PushButton8, PushButton1, Check2,
                                   Check3, DTPicker1, Text2,  PushButton5, PushButton4};
    for (int i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);

    connect(PushButton5, &QPushButton::clicked, this, &Form2::PushButton5_Click);
    connect(PushButton4, &QPushButton::clicked, this, &QDialog::reject);
    connect(PushButton8, &QPushButton::clicked, this, &Form2::PushButton8_Click);
    connect(PushButton1, &QPushButton::clicked, this, &Form2::PushButton1_Click);
}

void Form2::Form_Load()
{
    Steps step(QStringLiteral("Form2.Form_Load"), this);
    step(100, [&] {
        applySharedWindowColours(this);
        setWindowIcon(QApplication::windowIcon());
    });
    std::optional<QCursor> hand;
    const QString pointerFile = AppFolder::path() + QStringLiteral("/HAND-M.CUR");
    if (step.test(102, [&] { return AppFolder::fileExists(pointerFile); }))
        step(104, [&] { hand = loadCursorFile(pointerFile); });
    auto* pointer = new PointerRules(this, hand);
    for (QWidget* b : {PushButton8, PushButton1, PushButton5, PushButton4})
        pointer->addHandWidget(b);
    for (QWidget* f : {Frame1, Frame2, Frame3, Frame4})
        pointer->addDefaultWidget(f);

    step(106, [&] { Combo1->addItems(kPriorities); });
    step(108, [&] { Combo1->setCurrentIndex(int(kPriorities.indexOf(QStringLiteral("Medium")))); });
    QStringList types;
    step(110, [&] { types = TaskTypes::load(m_store); });
    step(112, [&] { Combo2->addItems(types); });
    step(114, [&] { Combo2->setCurrentIndex(Combo2->count() > 0 ? 0 : -1); });
    step(116, [&] { DTPicker1->setDate(Clock::today()); });
}

void Form2::selectExactly(QComboBox* list, const QString& text)
{
    list->setCurrentIndex(-1);
    for (int i = 0; i < list->count(); ++i) {
        if (list->itemText(i) == text) {
            list->setCurrentIndex(i);
            return;
        }
    }
}

QString Form2::unstorableFieldReason() const
{
    const std::pair<QString, QString> fields[] = {
        {QStringLiteral("task text"), Text1->text()},
        {QStringLiteral("priority"), Combo1->currentText()},
        {QStringLiteral("type"), Combo2->currentText()},
        {QStringLiteral("notes"), Text2->toPlainText()},
    };
    for (const auto& [name, text] : fields)
        if (TaskListCodec::containsSeparator(text))
            return QStringLiteral("The %1 cannot contain \"%2\" or \"%3\": the task could not be "
                                  "stored. Please change the %1.")
                .arg(name, TaskListCodec::kFieldSeparator, TaskListCodec::kTaskSeparator);
    return {};
}

void Form2::PushButton5_Click()
{
    Steps step(QStringLiteral("Form2.PushButton5_Click"), this);
    TaskListView* list = nullptr;
    step(100, [&] { list = m_host.listOfSelectedTab(); });
    if (!list)
        return;
    if (step.test(102, [&] { return Text1->text().trimmed().isEmpty(); }))
        return;
    // Refused here, with the dialog still open, so that nothing typed is lost.
    if (const QString reason = unstorableFieldReason(); !reason.isEmpty()) {
        Prompts::current().message(this, reason, applicationTitle(), Prompts::Icon::Exclamation);
        return;
    }
    const bool adding = windowTitle() == QLatin1String("Add Task");
    if (adding && list->tasks()->rowCount() >= TaskListCodec::kMaxTasks) {
        Prompts::current().message(
            this,
            QStringLiteral("This list already holds %1 tasks, the most a list can hold. Please "
                           "delete a task first.")
                .arg(TaskListCodec::kMaxTasks),
            applicationTitle(), Prompts::Icon::Exclamation);
        return;
    }

    const auto written = [&](TaskRow row) {
        row.fields[TaskCol] = Text1->text();
        row.fields[PriorityCol] = Combo1->currentIndex() < 0 ? QString() : Combo1->currentText();
        row.fields[TypeCol] = Combo2->currentIndex() < 0 ? QString() : Combo2->currentText();
        row.fields[DueDateCol] =
            Check2->isChecked() ? DueDates::format(DTPicker1->date()) : QString();
        row.applyDueDateRule();
        row.fields[DoneCol] = Check3->isChecked() ? QStringLiteral("Done") : QString();
        row.fields[NotesCol] = Text2->toPlainText();
        return row;
    };
    if (step.test(104, [&] { return adding; })) {
        step(106, [&] { list->tasks()->append(written({})); });
    } else if (step.test(108, [&] { return windowTitle() == QLatin1String("Edit Task"); })) {
        step(110, [&] {
            const int row = list->selectedRow();
            if (row < 0)
                throw Failure(QStringLiteral("Object variable not set: no task is selected."));
            list->selectRow(list->tasks()->replace(row, written(list->tasks()->at(row))));
        });
    }
    step(112, [&] {
        if (const int row = list->selectedRow(); row >= 0)
            m_host.ListView_ItemClick(list, row);
    });
    step(114, [&] { accept(); });
}

void Form2::PushButton8_Click()
{
    Steps step(QStringLiteral("Form2.PushButton8_Click"), this);
    QString type;
    step(100, [&] {
        type = Prompts::current().input(this, QStringLiteral("Enter new type: "),
                                        QStringLiteral("Input New Type"), QString());
    });
    if (step.test(102, [&] { return type.isEmpty(); }))
        return;
    // "Task Types" is stored without escaping: such a type would come back split in two, or
    // could never be given to a task.
    if (type.contains(u';') || TaskListCodec::containsSeparator(type)) {
        Prompts::current().message(
            this,
            QStringLiteral("A task type cannot contain \";\", \"%1\" or "
                           "\"%2\". The type has not been added.")
                .arg(TaskListCodec::kFieldSeparator, TaskListCodec::kTaskSeparator),
            applicationTitle(), Prompts::Icon::Exclamation);
        return;
    }
    // The new entry is not selected.
    step(104, [&] { Combo2->addItem(type); });
}

void Form2::PushButton1_Click()
{
    Steps step(QStringLiteral("Form2.PushButton1_Click"), this);
    if (step.test(100, [&] { return Combo2->currentIndex() < 0; }))
        return;
    step(102, [&] {
        Combo2->removeItem(Combo2->currentIndex());
        Combo2->setCurrentIndex(-1);
    });
}

void Form2::done(int result)
{
    Form_QueryUnload();
    QDialog::done(result);
}

void Form2::Form_QueryUnload()
{
    Steps step(QStringLiteral("Form2.Form_QueryUnload"), this);
    QStringList types;
    for (int i = 0; i < Combo2->count(); ++i)
        types.append(Combo2->itemText(i));
    step(100, [&] { TaskTypes::save(m_store, types); });
}
