#include "backups_dialog.h"

#include "backups_host.h"
#include "category_tree_codec.h"
#include "failure.h"
#include "prompts.h"
#include "snapshot.h"
#include "task_list_view.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kRowRole = Qt::UserRole;
constexpr int kKeyRole = Qt::UserRole + 1;

QTreeWidget* table(const char* name, const QString& accessibleName, const QStringList& headings)
{
    auto* t = new QTreeWidget;
    t->setObjectName(QLatin1String(name));
    t->setAccessibleName(accessibleName);
    t->setRootIsDecorated(false);
    t->setUniformRowHeights(true);
    t->setHeaderLabels(headings);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    return t;
}

QLabel* heading(const QString& text, QWidget* buddy)
{
    auto* l = new QLabel(text);
    l->setBuddy(buddy);
    return l;
}

QList<TaskRow> rowsOf(const QString& value)
{
    QList<TaskRow> rows;
    for (TaskListCodec::Entry& entry : TaskListCodec::decodeEntries(value)) {
        TaskRow row{std::move(entry.fields), DueDates::Colour::Untouched, {}};
        row.applyDueDateRule();
        rows.append(std::move(row));
    }
    return rows;
}

} // namespace

BackupsDialog::BackupsDialog(BackupsHost& host, QWidget* parent) : QDialog(parent), m_host(host)
{
    setObjectName(QStringLiteral("BackupsDialog"));
    setWindowTitle(QStringLiteral("Backups"));

    snapshotList =
        table("snapshotList", QStringLiteral("Backups"),
              {QStringLiteral("Made"), QStringLiteral("Why"), QStringLiteral("Categories"),
               QStringLiteral("Active Tasks"), QStringLiteral("Deleted Tasks")});
    removedList = table("removedList", QStringLiteral("Removed categories"),
                        {QStringLiteral("Category"), QStringLiteral("Active Tasks"),
                         QStringLiteral("Deleted Tasks")});
    previewTree = new QTreeWidget;
    previewTree->setObjectName(QStringLiteral("previewTree"));
    previewTree->setAccessibleName(QStringLiteral("Categories in the backup"));
    previewTree->setHeaderHidden(true);
    previewActive = new TaskListView(QStringLiteral("previewActive"));
    previewActive->setAccessibleName(QStringLiteral("Active Tasks in the backup"));
    previewDeleted = new TaskListView(QStringLiteral("previewDeleted"));
    previewDeleted->setAccessibleName(QStringLiteral("Deleted Tasks in the backup"));
    previewTabs = new QTabWidget;
    previewTabs->setObjectName(QStringLiteral("previewTabs"));
    previewTabs->addTab(previewActive, QStringLiteral("Active Tasks"));
    previewTabs->addTab(previewDeleted, QStringLiteral("Deleted Tasks"));

    restoreButton = new QPushButton(QStringLiteral("&Restore This Backup"));
    restoreButton->setObjectName(QStringLiteral("restoreButton"));
    bringBackButton = new QPushButton(QStringLiteral("&Bring Back Category"));
    bringBackButton->setObjectName(QStringLiteral("bringBackButton"));
    closeButton = new QPushButton(QStringLiteral("Close"));
    closeButton->setObjectName(QStringLiteral("closeButton"));
    statusLabel = new QLabel;
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    for (QPushButton* b : {restoreButton, bringBackButton, closeButton})
        b->setAutoDefault(false);

    auto* left = new QWidget;
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(heading(QStringLiteral("&Backups, newest first:"), snapshotList));
    leftLayout->addWidget(snapshotList, 3);
    leftLayout->addWidget(heading(QStringLiteral("Re&moved categories:"), removedList));
    leftLayout->addWidget(removedList, 1);
    auto* right = new QWidget;
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(heading(QStringLiteral("&Categories in the backup:"), previewTree));
    rightLayout->addWidget(previewTree, 1);
    rightLayout->addWidget(previewTabs, 2);
    auto* split = new QSplitter;
    split->addWidget(left);
    split->addWidget(right);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(restoreButton);
    buttons->addWidget(bringBackButton);
    buttons->addWidget(statusLabel, 1);
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split, 1);
    layout->addLayout(buttons);

    connect(snapshotList, &QTreeWidget::itemSelectionChanged, this, &BackupsDialog::snapshotChosen);
    connect(previewTree, &QTreeWidget::itemSelectionChanged, this,
            &BackupsDialog::previewCategoryChosen);
    connect(removedList, &QTreeWidget::itemSelectionChanged, this, &BackupsDialog::removedChosen);
    connect(restoreButton, &QPushButton::clicked, this, &BackupsDialog::restoreChosen);
    connect(bringBackButton, &QPushButton::clicked, this, &BackupsDialog::bringBackChosen);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);

    listSnapshots();
    listRemoved();
    updateButtons();
    startChecks();

    // Every column of the backups in sight, the preview taking what is left; the window grows
    // beyond its usual 980 pixels for that where the screen has room.
    const int listWidth = snapshotList->header()->length() + 2 * snapshotList->frameWidth() +
                          snapshotList->verticalScrollBar()->sizeHint().width();
    constexpr int kPreviewWidth = 360;
    int width = listWidth + kPreviewWidth + 40;
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        width = std::min(width, screen->availableGeometry().width());
    width = std::max(width, 980);
    resize(width, 620);
    split->setSizes({listWidth, std::max(kPreviewWidth, width - listWidth)});
}

BackupsDialog::~BackupsDialog()
{
    m_stopChecks = true;
    if (m_checker.joinable())
        m_checker.join();
}

void BackupsDialog::listSnapshots()
{
    m_snapshots = SnapshotFiles::list(m_host.backupsFolder());
    QList<QTreeWidgetItem*> items;
    items.reserve(m_snapshots.size());
    const QLocale locale;
    for (int row = 0; row < int(m_snapshots.size()); ++row) {
        const SnapshotFile& file = m_snapshots[row];
        auto* item = new QTreeWidgetItem;
        item->setText(0, locale.toString(file.made.toLocalTime(), QLocale::ShortFormat));
        item->setText(1, SnapshotFiles::describe(file.reason));
        item->setData(0, kRowRole, row);
        item->setToolTip(0, file.path);
        try {
            const SnapshotSummary summary = SnapshotReader(file.path).summary();
            item->setText(2, QString::number(summary.categories));
            item->setText(3, QString::number(summary.activeTasks));
            item->setText(4, QString::number(summary.deletedTasks));
            for (int column : {2, 3, 4})
                item->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
        } catch (const Failure&) {
            item->setData(0, kKeyRole, true);
        }
        items.append(item);
    }
    snapshotList->addTopLevelItems(items);
    for (int row = 0; row < int(items.size()); ++row)
        if (items[row]->data(0, kKeyRole).toBool())
            markDamaged(row);
    for (int column = 0; column < snapshotList->columnCount(); ++column)
        snapshotList->resizeColumnToContents(column);
}

void BackupsDialog::markDamaged(int row)
{
    QTreeWidgetItem* item = snapshotList->topLevelItem(row);
    if (!item)
        return;
    const bool wasChosen = item->isSelected();
    item->setText(2, QStringLiteral("Damaged"));
    item->setText(3, QString());
    item->setText(4, QString());
    item->setTextAlignment(2, Qt::AlignLeft | Qt::AlignVCenter);
    item->setToolTip(2, QStringLiteral("This backup is damaged and cannot be used."));
    item->setFlags(Qt::NoItemFlags);
    if (wasChosen) {
        item->setSelected(false);
        snapshotChosen();
    }
}

void BackupsDialog::startChecks()
{
    QList<QPair<int, QString>> toCheck;
    for (int row = 0; row < int(m_snapshots.size()); ++row)
        if (snapshotList->topLevelItem(row)->flags() != Qt::NoItemFlags)
            toCheck.append({row, m_snapshots[row].path});
    m_checksLeft = int(toCheck.size());
    if (toCheck.isEmpty())
        return;
    m_checker = std::thread([this, toCheck] {
        for (const auto& [row, path] : toCheck) {
            if (m_stopChecks)
                return;
            bool sound = false;
            try {
                sound = SnapshotReader(path).isSound(&m_stopChecks);
            } catch (const Failure&) {
            }
            if (m_stopChecks)
                return;
            QMetaObject::invokeMethod(
                this,
                [this, row = row, sound] {
                    if (!sound)
                        markDamaged(row);
                    --m_checksLeft;
                },
                Qt::QueuedConnection);
        }
    });
}

void BackupsDialog::listRemoved()
{
    removedList->clear();
    m_removed =
        RemovedCategories::find(m_host.storedValuesNow(), m_host.categoryKeysNow(), m_snapshots);
    for (int row = 0; row < int(m_removed.size()); ++row) {
        const RemovedCategory& category = m_removed[row];
        auto* item = new QTreeWidgetItem(removedList);
        item->setText(0, category.name);
        item->setToolTip(0, category.key);
        item->setText(1, QString::number(category.activeTasks));
        item->setText(2, QString::number(category.deletedTasks));
        item->setData(0, kRowRole, row);
    }
    removedList->resizeColumnToContents(0);
}

void BackupsDialog::snapshotChosen()
{
    previewTree->clear();
    previewActive->tasks()->clear();
    previewDeleted->tasks()->clear();
    m_preview.reset();
    m_previewPath.clear();
    const QList<QTreeWidgetItem*> chosen = snapshotList->selectedItems();
    if (!chosen.isEmpty()) {
        {
            QSignalBlocker quiet(removedList);
            removedList->clearSelection();
        }
        const SnapshotFile& file = m_snapshots[chosen.first()->data(0, kRowRole).toInt()];
        try {
            m_preview = std::make_unique<SnapshotReader>(file.path);
            m_previewPath = file.path;
            QHash<QString, QTreeWidgetItem*> nodes;
            for (const CategoryTreeCodec::Node& node : treeOf(
                     m_preview->value(CategoryTreeCodec::kKey, CategoryTreeCodec::kDefaultText))) {
                QTreeWidgetItem* parent = nodes.value(node.parentKey);
                auto* item =
                    parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(previewTree);
                item->setText(0, node.text);
                item->setData(0, kKeyRole, node.key);
                nodes.insert(node.key, item);
            }
            previewTree->expandAll();
            if (previewTree->topLevelItemCount() > 0)
                previewTree->topLevelItem(0)->setSelected(true);
        } catch (const Failure& failure) {
            m_preview.reset();
            m_previewPath.clear();
            Prompts::current().message(this, failure.description(), windowTitle(),
                                       Prompts::Icon::Exclamation);
        }
    }
    updateButtons();
}

void BackupsDialog::previewCategoryChosen()
{
    previewActive->tasks()->clear();
    previewDeleted->tasks()->clear();
    const QList<QTreeWidgetItem*> chosen = previewTree->selectedItems();
    if (m_preview && !chosen.isEmpty()) {
        const QString key = chosen.first()->data(0, kKeyRole).toString();
        try {
            previewActive->tasks()->setRows(rowsOf(m_preview->value(key, QString())));
            previewDeleted->tasks()->setRows(
                rowsOf(m_preview->value(TaskListCodec::deletedKey(key), QString())));
        } catch (const Failure& failure) {
            Prompts::current().message(this, failure.description(), windowTitle(),
                                       Prompts::Icon::Exclamation);
        }
    }
    updateButtons();
}

void BackupsDialog::removedChosen()
{
    if (!removedList->selectedItems().isEmpty()) {
        QSignalBlocker quiet(snapshotList);
        snapshotList->clearSelection();
        previewTree->clear();
        previewActive->tasks()->clear();
        previewDeleted->tasks()->clear();
        m_preview.reset();
        m_previewPath.clear();
    }
    updateButtons();
}

void BackupsDialog::updateButtons()
{
    restoreButton->setEnabled(m_preview != nullptr);
    bringBackButton->setEnabled((m_preview && !previewTree->selectedItems().isEmpty()) ||
                                !removedList->selectedItems().isEmpty());
}

void BackupsDialog::restoreChosen()
{
    if (!m_preview)
        return;
    const SnapshotFile& file =
        m_snapshots[snapshotList->selectedItems().first()->data(0, kRowRole).toInt()];
    const QString when = QLocale().toString(file.made.toLocalTime(), QLocale::LongFormat);
    if (!Prompts::current().askYesNo(
            this,
            QStringLiteral("Replace all categories and tasks with those of the backup made %1?\n\n"
                           "A backup of the present state is made first, so this can be taken "
                           "back.")
                .arg(when),
            windowTitle()))
        return;
    const QString path = m_previewPath;
    // The snapshot is read again by the restore; this window lets go of it first.
    m_preview.reset();
    if (m_host.restoreBackup(path))
        accept();
    else
        snapshotChosen();
}

void BackupsDialog::bringBackChosen()
{
    QString name;
    bool done = false;
    if (const QList<QTreeWidgetItem*> removed = removedList->selectedItems(); !removed.isEmpty()) {
        const RemovedCategory& category = m_removed[removed.first()->data(0, kRowRole).toInt()];
        name = category.name;
        done = m_host.bringBackRemovedCategory(category);
    } else if (const QList<QTreeWidgetItem*> chosen = previewTree->selectedItems();
               m_preview && !chosen.isEmpty()) {
        name = chosen.first()->text(0);
        done =
            m_host.bringBackCategory(m_previewPath, chosen.first()->data(0, kKeyRole).toString());
    }
    // The main window shows it behind this one; the person should not have to look there.
    statusLabel->setText(done ? QStringLiteral("\u201c%1\u201d has been brought back.").arg(name)
                              : QString());
    listRemoved();
    updateButtons();
}
