#!/usr/bin/python3
"""Another program on the same CalDAV account, through Python's caldav library.

foreign_client.py URL USER PASSWORD COMMAND [ARGS...]
  calendars                      the VTODO calendars' display names, one a line
  make-calendar NAME             a task calendar as a phone or a web page makes it
  delete-calendar NAME
  rename-calendar NAME NEW
  list CALENDAR                  its tasks as JSON: uid, summary, status, priority, description,
                                 sort_order, alarms
  create CALENDAR UID SUMMARY
  complete CALENDAR UID
  edit CALENDAR UID SUMMARY
  alarm CALENDAR UID             adds a VALARM
  delete CALENDAR UID
  put-raw CALENDAR NAME TEXT     a resource exactly as given, unchecked by this side
"""
import json
import sys
import uuid

import caldav


def calendar(principal, name):
    for c in principal.calendars():
        if c.get_display_name() == name:
            return c
    raise SystemExit("no calendar " + name)


def todo(cal, uid):
    for t in cal.todos(include_completed=True):
        if str(t.icalendar_component.get("uid")) == uid:
            return t
    raise SystemExit("no task " + uid)


def main():
    url, user, password, command, *args = sys.argv[1:]
    client = caldav.DAVClient(url=url, username=user, password=password)
    principal = client.principal()
    if command == "calendars":
        for c in principal.calendars():
            print(c.get_display_name())
    elif command == "make-calendar":
        principal.make_calendar(name=args[0], cal_id=str(uuid.uuid4()),
                                supported_calendar_component_set=["VTODO"])
    elif command == "delete-calendar":
        calendar(principal, args[0]).delete()
    elif command == "rename-calendar":
        from caldav.elements import dav
        calendar(principal, args[0]).set_properties([dav.DisplayName(args[1])])
    elif command == "list":
        out = []
        for t in calendar(principal, args[0]).todos(include_completed=True):
            c = t.icalendar_component
            out.append({
                "uid": str(c.get("uid")),
                "summary": str(c.get("summary", "")),
                "status": str(c.get("status", "")),
                "priority": int(c.get("priority", 0)),
                "description": str(c.get("description", "")),
                "sort_order": int(c.get("x-apple-sort-order", -1)),
                "alarms": len([s for s in c.subcomponents if s.name == "VALARM"]),
            })
        out.sort(key=lambda t: t["sort_order"])
        print(json.dumps(out))
    elif command == "create":
        calendar(principal, args[0]).save_todo(
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Foreign//Test//EN\r\nBEGIN:VTODO\r\n"
            "UID:%s\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:%s\r\nSTATUS:NEEDS-ACTION\r\n"
            "X-FOREIGN-TAG:kept\r\nEND:VTODO\r\nEND:VCALENDAR\r\n" % (args[1], args[2]))
    elif command == "complete":
        todo(calendar(principal, args[0]), args[1]).complete()
    elif command == "edit":
        t = todo(calendar(principal, args[0]), args[1])
        t.icalendar_component["summary"] = args[2]
        t.save()
    elif command == "alarm":
        import icalendar
        t = todo(calendar(principal, args[0]), args[1])
        alarm = icalendar.Alarm()
        alarm.add("action", "DISPLAY")
        alarm.add("description", "Reminder")
        alarm.add("trigger", icalendar.vDuration.from_ical("-PT15M"))
        t.icalendar_component.add_component(alarm)
        t.save()
    elif command == "put-raw":
        cal = calendar(principal, args[0])
        response = client.put(str(cal.url.join(args[1])), args[2].replace("\\n", "\r\n"),
                              {"Content-Type": "text/calendar; charset=utf-8"})
        if response.status not in (201, 204):
            raise SystemExit("refused: %d" % response.status)
    elif command == "delete":
        todo(calendar(principal, args[0]), args[1]).delete()
    else:
        raise SystemExit("unknown command " + command)


if __name__ == "__main__":
    main()
