#pragma once

#include <QtGlobal>

// Megabytes the program fills at once are asked for in 2 MiB pages where the system gives them
// on request: on machines where a fault of fresh memory is dear, thousands of 4 KiB faults cost
// more than the work that fills them. Smaller ranges are left alone.
namespace HugePages {

constexpr qsizetype kSize = qsizetype(2) << 20;
constexpr qsizetype kWorthAsking = qsizetype(4) << 20;

void advise(void* start, qsizetype bytes);

} // namespace HugePages
