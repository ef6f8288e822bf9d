#pragma once

#include "export_table.h"

#include <QString>

namespace XlsxWorkbook {

// Writes the table as the first sheet of a new workbook at `path`: header bold, every cell a
// text cell in size 11, overdue due dates red, columns fitted, printed one page tall and wide.
// Rows stream to disk in order, so memory stays flat however many tasks there are.
// Throws Failure; a partly written file may remain and is the caller's to remove.
void write(const ExportTable& table, const QString& path, const ExportProgress& progress = {});

// The width a spreadsheet's autofit would give a column holding these texts, in characters of
// the default font (Calibri 11), within the format's limit of 255; 0 when all are empty.
double fittedWidth(const QStringList& texts, bool bold);

} // namespace XlsxWorkbook
