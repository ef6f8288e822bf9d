#pragma once

#include "export_table.h"

#include <QPageSize>

class QIODevice;

namespace PdfTable {

// Draws the table as a printed sheet would look: header bold, size 11, overdue due dates red,
// every column as wide as its widest line. The whole table is scaled down to one page, but
// never below 10 %; past that it runs onto more pages, down first and then across, each page
// repeating the header. Throws Failure when the PDF cannot be written.
void write(const ExportTable& table, QIODevice& out, const QPageSize& pageSize,
           const ExportProgress& progress = {});

// Letter where the user's paper locale uses it, otherwise A4.
QPageSize localePageSize();

} // namespace PdfTable
