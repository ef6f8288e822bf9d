#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class SettingsStore;
class TaskEditorHost;

// The modal task editor. Its title tells its mode: "Add Task" appends a row to the list of the
// main window's selected tab, "Edit Task" rewrites that list's selected row. It is created for
// one opening and destroyed afterwards.
class Form2 : public QDialog
{
    Q_OBJECT

public:
    static inline const QStringList kPriorities = {QStringLiteral("Highest"),
                                                   QStringLiteral("High"), QStringLiteral("Medium"),
                                                   QStringLiteral("Low"), QStringLiteral("Lowest")};

    Form2(SettingsStore& store, TaskEditorHost& host, QWidget* parent = nullptr);

    QGroupBox* Frame2;
    QLineEdit* Text1;
    QGroupBox* Frame4;
    QComboBox* Combo1;
    QGroupBox* Frame3;
    QComboBox* Combo2;
    QPushButton* PushButton8;
    QPushButton* PushButton1;
    QCheckBox* Check2;
    QCheckBox* Check3;
    QDateEdit* DTPicker1;
    QGroupBox* Frame1;
    QPlainTextEdit* Text2;
    QPushButton* PushButton5;
    QPushButton* PushButton4;

    // Selects the first entry whose text equals `text` exactly, or none.
    static void selectExactly(QComboBox* list, const QString& text);

    void done(int result) override;

private:
    void createControls();
    void Form_Load();
    void PushButton5_Click();
    void PushButton8_Click();
    void PushButton1_Click();
    void Form_QueryUnload();
    // Why a field cannot be stored, or an empty text.
    QString unstorableFieldReason() const;

    SettingsStore& m_store;
    TaskEditorHost& m_host;
};
