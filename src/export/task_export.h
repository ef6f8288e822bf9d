#pragma once

#include "export_table.h"

#include <QPageSize>
#include <QString>

class SettingsStore;

// The two export routes, from the store to a finished file. Neither asks or shows anything:
// the window decides what to check first and what to open afterwards.
namespace TaskExport {

// A new workbook of all active tasks in the private export folder; returns its path. On a
// failure nothing is left behind and Failure is thrown.
QString toWorkbook(const SettingsStore& store, const ExportProgress& progress = {});

// "ExportTasks.pdf" in the temporary folder, in place of any older one; returns its path. On
// a failure no partly written file is left behind and Failure is thrown.
QString toPdf(const SettingsStore& store, const QPageSize& pageSize,
              const ExportProgress& progress = {});

// One iCalendar file at `path` of every task of every category, active and deleted, with the
// tree it takes to rebuild them; a task that came from another program goes out as the VTODO it
// came as, with Kestrune's fields written into it. Tasks whose UIDs were never stored get them
// now. On a failure nothing is left at `path` and Failure is thrown.
void toCalendar(SettingsStore& store, const QString& path, const ExportProgress& progress = {});

} // namespace TaskExport
