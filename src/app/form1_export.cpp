// The export menu of the main window: both routes read the store, never the lists on screen.
#include "form1.h"

#include "error_report.h"
#include "export_desktop.h"
#include "pdf_table.h"
#include "prompts.h"
#include "task_export.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <memory>

namespace {

// A busy pointer for the whole export, and a progress dialog once it has run for half a second.
class ExportFeedback
{
public:
    explicit ExportFeedback(QWidget* parent,
                            QString label = QStringLiteral("Exporting all active tasks ..."))
        : m_parent(parent), m_label(std::move(label))
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_clock.start();
    }
    ~ExportFeedback() { QApplication::restoreOverrideCursor(); }
    ExportFeedback(const ExportFeedback&) = delete;
    ExportFeedback& operator=(const ExportFeedback&) = delete;

    ExportProgress progress()
    {
        return [this](qsizetype done, qsizetype total) { update(done, total); };
    }

private:
    void update(qsizetype done, qsizetype total)
    {
        if (!m_dialog) {
            if (m_clock.elapsed() < 500 || done >= total)
                return;
            m_dialog = std::make_unique<QProgressDialog>(m_parent);
            m_dialog->setObjectName(QStringLiteral("exportProgress"));
            m_dialog->setWindowTitle(applicationTitle());
            m_dialog->setLabelText(m_label);
            // Stopping halfway would leave nothing useful: the export runs to its end.
            m_dialog->setCancelButton(nullptr);
            m_dialog->setWindowModality(Qt::WindowModal);
            m_dialog->setMinimumDuration(0);
            m_dialog->setRange(0, int(std::min<qsizetype>(total, INT_MAX)));
        }
        m_dialog->setValue(int(std::min<qsizetype>(done, m_dialog->maximum())));
    }

    QWidget* m_parent;
    QString m_label;
    QElapsedTimer m_clock;
    std::unique_ptr<QProgressDialog> m_dialog;
};

void openExported(QWidget* parent, const QString& path)
{
    if (!ExportDesktop::current().open(path))
        Prompts::current().message(
            parent,
            QStringLiteral("The tasks were exported to %1, but no program could be started to "
                           "open the file.")
                .arg(QDir::toNativeSeparators(path)),
            applicationTitle(), Prompts::Icon::Exclamation);
}

} // namespace

void Form1::PushButton11_Click()
{
    if (!mnuExport) {
        mnuExport = new QMenu(QStringLiteral("Export"), this);
        mnuExport->setObjectName(QStringLiteral("mnuExport"));
        QAction* excel = mnuExport->addAction(QStringLiteral("Excel"));
        excel->setObjectName(QStringLiteral("subMenuExcel"));
        connect(excel, &QAction::triggered, this, &Form1::subMenuExcel_Click);
        QAction* pdf = mnuExport->addAction(QStringLiteral("PDF"));
        pdf->setObjectName(QStringLiteral("subMenuPDF"));
        connect(pdf, &QAction::triggered, this, &Form1::subMenuPDF_Click);
        QAction* calendar = mnuExport->addAction(QStringLiteral("iCalendar"));
        calendar->setObjectName(QStringLiteral("subMenuICalendar"));
        connect(calendar, &QAction::triggered, this, &Form1::subMenuICalendar_Click);
    }
    mnuExport->popup(QCursor::pos());
}

void Form1::subMenuExcel_Click()
{
    Steps step(QStringLiteral("Form1.subMenuExcel_Click"), this);
    step(100, [&] {
        ExportDesktop& desktop = ExportDesktop::current();
        if (!desktop.spreadsheetProgramRegistered()) {
            Prompts::current().message(this,
                                       QStringLiteral("Excel is not installed on this computer. "
                                                      "You need to have it installed to use this "
                                                      "feature."),
                                       applicationTitle(), Prompts::Icon::None);
            return;
        }
        if (desktop.spreadsheetRunning() &&
            !Prompts::current().askYesNo(
                this,
                QStringLiteral("Excel may be open. It is recommended that you close Excel first.\r"
                               "Use Ctrl+Alt+Del > Task Manager > EXCEL.EXE if necessary.\r\n\r\n"
                               "Would you like to proceed anyway?"),
                applicationTitle()))
            return;
        QString path;
        {
            ExportFeedback feedback(this);
            path = TaskExport::toWorkbook(m_store, feedback.progress());
        }
        openExported(this, path);
    });
}

void Form1::subMenuPDF_Click()
{
    // No spreadsheet program takes part in the PDF, so neither check applies here.
    Steps step(QStringLiteral("Form1.subMenuPDF_Click"), this);
    step(100, [&] {
        QString path;
        {
            ExportFeedback feedback(this);
            path = TaskExport::toPdf(m_store, PdfTable::localePageSize(), feedback.progress());
        }
        openExported(this, path);
    });
}

void Form1::subMenuICalendar_Click()
{
    Steps step(QStringLiteral("Form1.subMenuICalendar_Click"), this);
    step(100, [&] {
        const QString path = Prompts::current().fileName(
            this, Prompts::FileMode::Save, QStringLiteral("Export All Tasks To iCalendar"),
            QDir::home().filePath(QStringLiteral("Kestrune tasks.ics")),
            QStringLiteral("iCalendar files (*.ics);;All files (*)"));
        if (path.isEmpty())
            return;
        ExportFeedback feedback(this, QStringLiteral("Exporting all tasks ..."));
        TaskExport::toCalendar(m_store, path, feedback.progress());
    });
}
