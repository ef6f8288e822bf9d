#include "find_dialog.h"

#include "error_report.h"
#include "find_host.h"
#include "find_results_model.h"
#include "settings_store.h"
#include "twips.h"
#include "window_colours.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

template <class W> W* control(QWidget* parent, const char* name, const QString& accessibleName)
{
    auto* w = new W(parent);
    w->setObjectName(QLatin1String(name));
    w->setAccessibleName(accessibleName);
    return w;
}

// Pixels: wide enough for the usual path, date and mark, the texts get the rest.
constexpr int kColumnWidths[] = {150, 60, 220, 70, 80, 80, 160, 50};

} // namespace

FindDialog::FindDialog(const SettingsStore& store, FindHost& host, const FindQuery& start,
                       QWidget* parent)
    : QDialog(parent), m_host(host)
{
    setObjectName(QStringLiteral("FindDialog"));
    createControls();
    Form_Load(store, start);
}

FindDialog::~FindDialog() = default;

void FindDialog::createControls()
{
    setWindowTitle(QStringLiteral("Find Tasks"));
    resize(Twips::toPixels(14400), Twips::toPixels(6600));

    Label1 = control<QLabel>(this, "Label1", QStringLiteral("Find:"));
    Label1->setText(QStringLiteral("&Find:"));
    Text1 = control<QLineEdit>(this, "Text1", QStringLiteral("Find"));
    Text1->setPlaceholderText(QStringLiteral("Task text, notes or type"));
    Label1->setBuddy(Text1);
    Check1 = control<QCheckBox>(this, "Check1", QStringLiteral("Match case"));
    Check1->setText(QStringLiteral("Match &case"));
    Check2 = control<QCheckBox>(this, "Check2", QStringLiteral("Include deleted tasks"));
    Check2->setText(QStringLiteral("Include &deleted tasks"));
    Check2->setChecked(true);
    Label2 = control<QLabel>(this, "Label2", QStringLiteral("Number of matches"));
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label3 = control<QLabel>(this, "Label3", QStringLiteral("Lists not searched"));
    Label3->setWordWrap(true);
    Label3->setTextFormat(Qt::PlainText);
    Label3->hide();

    ListView1 = control<QTreeView>(this, "ListView1", QStringLiteral("Matches"));
    m_results = new FindResultsModel(m_index, this);
    ListView1->setModel(m_results);
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true); // tens of thousands of matches stay cheap
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionsMovable(false);
    for (int column = 0; column < int(std::size(kColumnWidths)); ++column)
        ListView1->header()->resizeSection(column, kColumnWidths[column]);

    auto* findRow = new QHBoxLayout;
    findRow->addWidget(Label1);
    findRow->addWidget(Text1, 1);
    auto* ticks = new QHBoxLayout;
    ticks->addWidget(Check1);
    ticks->addWidget(Check2);
    ticks->addStretch(1);
    ticks->addWidget(Label2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(findRow);
    layout->addLayout(ticks);
    layout->addWidget(Label3);
    layout->addWidget(ListView1, 1);

    setTabOrder(Text1, Check1);
    setTabOrder(Check1, Check2);
    setTabOrder(Check2, ListView1);

    m_pending.setSingleShot(true);
    m_pending.setInterval(0);
    connect(&m_pending, &QTimer::timeout, this, &FindDialog::search);
    connect(Text1, &QLineEdit::textChanged, &m_pending, qOverload<>(&QTimer::start));
    for (QCheckBox* tick : {Check1, Check2})
        connect(tick, &QCheckBox::toggled, &m_pending, qOverload<>(&QTimer::start));
    connect(ListView1, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { goTo(index.row()); });
    Text1->installEventFilter(this);
}

void FindDialog::Form_Load(const SettingsStore& store, const FindQuery& start)
{
    Steps step(QStringLiteral("FindDialog.Form_Load"), this);
    step(100, [&] { applySharedWindowColours(this); });
    // The one read of the store for this opening; the shown category comes from the screen.
    step(102, [&] { m_index = TaskIndex(m_host.categoriesForFind(), store.readSection()); });
    step(104, [&] {
        Label3->setText(m_index.skippedLists().join(u'\n'));
        Label3->setVisible(!m_index.skippedLists().isEmpty());
    });
    {
        const QSignalBlocker quietText(Text1), quietCase(Check1), quietDeleted(Check2);
        Text1->setText(start.text);
        Text1->selectAll();
        Check1->setChecked(start.matchCase);
        Check2->setChecked(start.includeDeleted);
    }
    search();
}

FindQuery FindDialog::query() const
{
    return {Text1->text(), Check1->isChecked(), Check2->isChecked()};
}

const std::vector<int>& FindDialog::matches() const
{
    return m_results->matches();
}

void FindDialog::search()
{
    m_pending.stop();
    const FindQuery now = query();
    // A longer text with the same ticks (or fewer lists) can only keep some of the matches
    // listed: only those are looked at again.
    const bool narrows =
        !m_searched.text.isEmpty() && now.matchCase == m_searched.matchCase &&
        (m_searched.includeDeleted || !now.includeDeleted) &&
        now.text.contains(m_searched.text, now.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive);
    m_results->setMatches(m_index.find(now, narrows ? &m_results->matches() : nullptr));
    m_searched = now;

    const int count = m_results->rowCount();
    if (now.text.isEmpty())
        Label2->clear();
    else if (count == 0)
        Label2->setText(QStringLiteral("No task found"));
    else
        Label2->setText(count == 1 ? QStringLiteral("1 task found")
                                   : QStringLiteral("%1 tasks found").arg(count));
    if (count > 0) {
        ListView1->setCurrentIndex(m_results->index(0, 0));
        ListView1->scrollToTop();
    }
}

void FindDialog::goTo(int resultRow)
{
    if (resultRow < 0 || resultRow >= m_results->rowCount())
        return;
    m_host.goToFindHit(m_index.hit(m_results->matches()[resultRow]));
    accept();
}

void FindDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter typed straight after a letter goes to a match of the text as typed.
        if (m_pending.isActive())
            search();
        goTo(ListView1->currentIndex().row());
        return;
    }
    QDialog::keyPressEvent(event);
}

bool FindDialog::eventFilter(QObject* watched, QEvent* event)
{
    // The arrows and page keys move through the matches while typing goes on in the box.
    if (watched == Text1 && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            QCoreApplication::sendEvent(ListView1, event);
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}
