#pragma once

// What the .ics file reader and writer share with the mapping, below the public interface.
#include "calendar_file.h"
#include "ical_handles.h"

#include <functional>

namespace VTodoMapping::Internal {

// The zone a file's VTIMEZONE defines for a TZID, or null to fall back on the system's.
using ZoneLookup = std::function<icaltimezone*(const char* tzid)>;

// What reading the VTODOs of one file shares.
struct ReadContext
{
    ZoneLookup zones;
};

// The task a parsed VTODO says; `vtodo` is left for the caller to fill.
CalendarTask readComponent(icalcomponent* vtodo, ReadContext& context);
// Parses one VTODO (or the first VTODO of a VCALENDAR). Throws Failure when libical refuses it.
Ical::Component parseVTodo(QByteArrayView text);
// The VTODO of a task, printed by libical.
Ical::Text print(const CalendarTask& task, QByteArrayView kept);
// A component as libical prints it, with one mistake of libical 3.0's line folding undone.
Ical::Text printComponent(icalcomponent* component);
// The message of the first X-LIC-ERROR libical left in the component or below it; null if none.
const char* firstError(icalcomponent* component);

} // namespace VTodoMapping::Internal
