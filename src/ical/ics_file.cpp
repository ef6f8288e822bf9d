#include "content_lines.h"
#include "failure.h"
#include "raw_text.h"
#include "vtodo_mapping_internal.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QUuid>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <vector>

namespace IcsFile {

namespace {

using IcsText::ContentLine;
using IcsText::ContentLines;
using IcsText::framing;

const char* const kMarker = "X-KESTRUNE-FILE";
const char* const kTreeCategory = "X-KESTRUNE-TREE";
const char* const kTreeKey = "X-KESTRUNE-KEY";
constexpr std::size_t kDeepestNesting = 32; // VCALENDAR, VTODO, VALARM and room to spare
// The UIDs of VTODOs that have none are made from their text, so a file read twice gives its
// tasks the same identities.
const QUuid kMadeUidNamespace(QStringLiteral("a3c1f0e2-5b7d-4e19-8c2a-6d4f9b0e7a15"));

QString utf8(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

bool blank(QByteArrayView text)
{
    return text.trimmed().isEmpty();
}

int lineAt(QByteArrayView bytes, qsizetype offset)
{
    return 1 + int(std::count(bytes.begin(), bytes.begin() + offset, '\n'));
}

class Reader
{
public:
    Reader(QByteArrayView bytes, const QString& name) : m_bytes(bytes), m_name(name) {}

    CalendarFile run();

private:
    struct Frame
    {
        QByteArray name;
        qsizetype begin;
        qsizetype end;
        int line;
    };

    Failure failure(int line, const QString& what) const
    {
        return Failure(QStringLiteral("%1, line %2: %3").arg(m_name).arg(line).arg(what));
    }
    void frame();
    const QByteArray& terminated(const Frame& f);
    void giveUid(CalendarTask& task, const Frame& f);
    Ical::Component parseComponent(const QByteArray& text, int firstLine, const QByteArray& kind);
    void refuseIfBad(const QByteArray& text, int line);
    [[noreturn]] void refuse(const QByteArray& text, int firstLine, const QByteArray& kind,
                             const char* error);
    struct Header;
    void readCalendarProperties(const Header& header);
    icaltimezone* zone(const char* tzid) const;

    QByteArrayView m_bytes;
    QString m_name;
    std::vector<Frame> m_frames;
    // Each VCALENDAR's own properties, with the line each starts on.
    struct Header
    {
        QByteArray text;
        std::vector<int> lines;
    };
    std::vector<Header> m_headers;
    std::map<std::string, Ical::TimeZone> m_zones;
    // The component being parsed, NUL-terminated for libical; one buffer for all of them.
    QByteArray m_buffer;
    QHash<QUuid, int> m_uidlessSeen; // VTODOs without a UID, by their text
    CalendarFile m_file;
};

void Reader::giveUid(CalendarTask& task, const Frame& f)
{
    // Every UID-less VTODO of the same text is a task of its own: the count tells them apart.
    const QByteArrayView text = m_bytes.sliced(f.begin, f.end - f.begin);
    const QUuid ofText = QUuid::createUuidV5(kMadeUidNamespace, text.toByteArray());
    const int seen = m_uidlessSeen[ofText]++;
    task.uid = QUuid::createUuidV5(ofText, QByteArray::number(seen)).toString(QUuid::WithoutBraces);
    // The copy kept of the VTODO carries the UID too, so it goes out under it.
    if (!task.vtodo.isEmpty()) {
        const qsizetype firstLineEnd = task.vtodo.indexOf('\n');
        if (firstLineEnd >= 0)
            task.vtodo.insert(firstLineEnd + 1, "UID:" + task.uid.toLatin1() + "\r\n");
    }
}

const QByteArray& Reader::terminated(const Frame& f)
{
    m_buffer.resize(f.end - f.begin); // keeps its capacity: no fresh memory per component
    std::memcpy(m_buffer.data(), m_bytes.data() + f.begin, size_t(m_buffer.size()));
    return m_buffer;
}

void Reader::frame()
{
    // A task takes some hundred bytes; its frame is made once, not moved as the list grows.
    m_frames.reserve(std::size_t(m_bytes.size() / 256) + 8);
    ContentLines lines(m_bytes, 1);
    ContentLine line;
    struct Open
    {
        QByteArray name;
        int line;
    };
    std::vector<Open> open;
    qsizetype componentBegin = 0;
    bool anyCalendar = false;
    while (lines.next(line)) {
        const auto begins = framing(line.text, "BEGIN:");
        const auto ends = begins ? std::nullopt : framing(line.text, "END:");
        if (open.empty()) {
            if (blank(line.text))
                continue;
            if (begins && *begins == "VCALENDAR") {
                open.push_back({*begins, line.number});
                m_headers.emplace_back();
                anyCalendar = true;
                continue;
            }
            throw failure(line.number, anyCalendar ? QStringLiteral("text after END:VCALENDAR")
                                                   : QStringLiteral("not iCalendar: the file does "
                                                                    "not begin with "
                                                                    "BEGIN:VCALENDAR"));
        }
        if (begins) {
            if (*begins == "VCALENDAR")
                throw failure(line.number, QStringLiteral("BEGIN:VCALENDAR inside a calendar"));
            if (open.size() == 1)
                componentBegin = line.begin;
            // libical reads and frees nested components recursively: a file nested deep
            // enough would overflow the stack. Tasks nest alarms and little more.
            if (open.size() >= kDeepestNesting)
                throw failure(
                    line.number,
                    QStringLiteral("components nested more than %1 deep").arg(kDeepestNesting));
            open.push_back({*begins, line.number});
        } else if (ends) {
            if (*ends != open.back().name) {
                throw failure(
                    line.number,
                    QStringLiteral("END:%1 where BEGIN:%2 of line %3 is to be closed")
                        .arg(QString::fromUtf8(*ends), QString::fromUtf8(open.back().name))
                        .arg(open.back().line));
            }
            const Open closed = open.back();
            open.pop_back();
            if (open.size() == 1)
                m_frames.push_back({closed.name, componentBegin, line.next, closed.line});
        } else if (open.size() == 1 && !blank(line.text)) {
            Header& header = m_headers.back();
            header.lines.push_back(line.number);
            header.text.append(m_bytes.sliced(line.begin, line.next - line.begin));
            if (!header.text.endsWith('\n'))
                header.text.append("\r\n");
        }
    }
    if (!open.empty()) {
        throw failure(open.back().line,
                      QStringLiteral("the file is cut off: BEGIN:%1 is never closed")
                          .arg(QString::fromUtf8(open.back().name)));
    }
    if (!anyCalendar)
        throw failure(1, QStringLiteral("the file is empty"));
}

Ical::Component Reader::parseComponent(const QByteArray& text, int firstLine,
                                       const QByteArray& kind)
{
    Ical::Component component(icalparser_parse_string(text.constData()));
    if (!component)
        throw failure(firstLine,
                      QStringLiteral("libical cannot read this %1").arg(QString::fromUtf8(kind)));
    if (const char* error = VTodoMapping::Internal::firstError(component.get()))
        refuse(text, firstLine, kind, error);
    return component;
}

// Finds the content line libical refuses by parsing the component's lines one at a time: only
// a file that is refused anyway pays for it.
void Reader::refuse(const QByteArray& text, int firstLine, const QByteArray& kind,
                    const char* error)
{
    const QString message = QStringLiteral("libical refuses this %1: %2")
                                .arg(QString::fromUtf8(kind), utf8(error).simplified());
    ContentLines lines(text, firstLine);
    ContentLine line;
    std::vector<QByteArray> open;
    while (lines.next(line)) {
        if (const auto begins = framing(line.text, "BEGIN:")) {
            open.push_back(*begins);
            continue;
        }
        if (framing(line.text, "END:")) {
            if (!open.empty())
                open.pop_back();
            continue;
        }
        const QByteArray container = open.empty() ? kind : open.back();
        QByteArray alone = "BEGIN:" + container + "\r\n";
        alone.append(QByteArrayView(text).sliced(line.begin, line.next - line.begin));
        if (!alone.endsWith('\n'))
            alone.append("\r\n");
        alone.append("END:" + container + "\r\n");
        const Ical::Component one(icalparser_parse_string(alone.constData()));
        if (!one)
            throw failure(line.number, message);
        if (const char* lineError = VTodoMapping::Internal::firstError(one.get())) {
            throw failure(
                line.number,
                QStringLiteral("libical refuses this line: %1").arg(utf8(lineError).simplified()));
        }
    }
    throw failure(firstLine, message);
}

void Reader::refuseIfBad(const QByteArray& text, int line)
{
    const Ical::Component component(icalparser_parse_string(text.constData()));
    const char* error = component ? VTodoMapping::Internal::firstError(component.get())
                                  : "nothing libical can read";
    if (error) {
        throw failure(
            line, QStringLiteral("libical refuses this line: %1").arg(utf8(error).simplified()));
    }
}

void Reader::readCalendarProperties(const Header& header)
{
    const QByteArray calendar = "BEGIN:VCALENDAR\r\n" + header.text + "END:VCALENDAR\r\n";
    const Ical::Component component(icalparser_parse_string(calendar.constData()));
    if (!component)
        throw failure(header.lines.front(), QStringLiteral("libical cannot read the calendar"));
    icalcomponent* c = component.get();
    if (VTodoMapping::Internal::firstError(c)) {
        // The calendar's own lines lie between its components: each is looked at alone.
        ContentLines lines(header.text, 1);
        ContentLine line;
        for (std::size_t i = 0; lines.next(line) && i < header.lines.size(); ++i) {
            QByteArray alone = "BEGIN:VCALENDAR\r\n" +
                               header.text.mid(line.begin, line.next - line.begin) +
                               "END:VCALENDAR\r\n";
            refuseIfBad(alone, header.lines[i]);
        }
        refuseIfBad(calendar, header.lines.front());
    }
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_X_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_X_PROPERTY)) {
        const char* name = icalproperty_get_x_name(p);
        if (!name)
            continue;
        if (strcasecmp(name, kMarker) == 0) {
            m_file.writtenByKestrune = true;
        } else if (strcasecmp(name, kTreeCategory) == 0) {
            CalendarCategory category;
            category.path = RawText::decodePath(icalproperty_get_x(p));
            for (icalparameter* a = icalproperty_get_first_parameter(p, ICAL_X_PARAMETER); a;
                 a = icalproperty_get_next_parameter(p, ICAL_X_PARAMETER)) {
                const char* parameter = icalparameter_get_xname(a);
                if (parameter && strcasecmp(parameter, kTreeKey) == 0)
                    category.key = RawText::decode(icalparameter_get_xvalue(a));
            }
            m_file.categories.append(category);
        }
    }
}

icaltimezone* Reader::zone(const char* tzid) const
{
    const auto it = m_zones.find(tzid);
    return it == m_zones.end() ? nullptr : it->second.get();
}

CalendarFile Reader::run()
{
    if (m_bytes.isEmpty())
        throw failure(1, QStringLiteral("the file is empty"));
    if (const RawText::BadByte bad = RawText::firstBadByte(m_bytes);
        bad.kind != RawText::BadByte::None) {
        throw failure(lineAt(m_bytes, bad.offset), RawText::describe(bad, m_bytes));
    }
    if (m_bytes.startsWith("\xEF\xBB\xBF")) // a byte order mark some writers put first
        m_bytes = m_bytes.sliced(3);

    frame();
    for (const Header& header : m_headers) {
        if (!header.lines.empty())
            readCalendarProperties(header);
    }
    // Time zones first: a VTODO may name one that the file defines after it.
    for (const Frame& f : m_frames) {
        if (f.name != "VTIMEZONE")
            continue;
        Ical::Component component = parseComponent(terminated(f), f.line, f.name);
        icalproperty* tzid = icalcomponent_get_first_property(component.get(), ICAL_TZID_PROPERTY);
        const char* id = tzid ? icalproperty_get_tzid(tzid) : nullptr;
        if (!id || m_zones.count(id))
            continue;
        const std::string key(id);
        Ical::TimeZone zone(icaltimezone_new());
        if (icaltimezone_set_component(zone.get(), component.get()))
            component.release(); // the zone owns it now
        else
            continue;
        m_zones.emplace(key, std::move(zone));
    }
    VTodoMapping::Internal::ReadContext context;
    context.zones = [this](const char* tzid) { return zone(tzid); };
    m_file.tasks.reserve(std::count_if(m_frames.begin(), m_frames.end(),
                                       [](const Frame& f) { return f.name == "VTODO"; }));
    for (const Frame& f : m_frames) {
        if (f.name == "VTIMEZONE")
            continue;
        const Ical::Component component = parseComponent(terminated(f), f.line, f.name);
        if (f.name != "VTODO") {
            ++m_file.skippedComponents;
            continue;
        }
        if (icalcomponent_isa(component.get()) != ICAL_VTODO_COMPONENT)
            throw failure(f.line, QStringLiteral("libical cannot read this VTODO"));
        CalendarTask task = VTodoMapping::Internal::readComponent(component.get(), context);
        // A list keeps its fields apart by these texts: one inside a field would split it.
        for (const QString& field : task.fields) {
            if (!TaskListCodec::containsSeparator(field))
                continue;
            const QString& separator = field.contains(TaskListCodec::kFieldSeparator)
                                           ? TaskListCodec::kFieldSeparator
                                           : TaskListCodec::kTaskSeparator;
            throw failure(f.line, QStringLiteral("the task \"%1\" holds \"%2\", which Kestrune "
                                                 "cannot keep in a task list")
                                      .arg(task.fields.front().left(80), separator));
        }
        // A VTODO that says no more than Kestrune writes is written again from the task alone.
        if (!m_file.writtenByKestrune || task.carriesMore)
            task.vtodo = m_bytes.sliced(f.begin, f.end - f.begin).toByteArray();
        if (task.uid.isEmpty())
            giveUid(task, f);
        m_file.tasks.append(std::move(task));
    }
    return std::move(m_file);
}

} // namespace

CalendarFile parse(QByteArrayView bytes, const QString& name)
{
    return Reader(bytes, name).run();
}

CalendarFile read(const QString& path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (info.size() > kMaxFileBytes) {
        throw Failure(QStringLiteral("%1, line 1: the file is too big to read: %2 MB, where at "
                                     "most %3 MB are read")
                          .arg(name)
                          .arg(double(info.size()) / (1024 * 1024), 0, 'f', 1)
                          .arg(kMaxFileBytes / (1024 * 1024)));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    // Mapped, not copied: the bytes are only looked at, and each component copied out once.
    const qint64 size = file.size();
    if (size > kMaxFileBytes) // grew since it was looked at
        throw Failure(QStringLiteral("%1, line 1: the file is too big to read").arg(name));
    if (size > 0) {
        if (const uchar* mapped = file.map(0, size)) {
            const QByteArrayView bytes(reinterpret_cast<const char*>(mapped), size);
            return parse(bytes, name);
        }
    }
    const QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (bytes.size() > kMaxFileBytes)
        throw Failure(QStringLiteral("%1, line 1: the file is too big to read").arg(name));
    return parse(bytes, name);
}

struct Writer::State
{
    QSaveFile file;
    QByteArray tail; // END:VCALENDAR as libical prints it
    VTodoMapping::Internal::PrintContext context;
    QList<QByteArray> zones; // named by the tasks written, defined after them
    bool finished = false;
    // Tasks are gathered into blocks of our own, and the file is opened unbuffered: each block
    // goes to the system in one write instead of through a second, smaller buffer. A block is
    // small enough to take little fresh memory.
    static constexpr std::size_t kBlock = 64 * 1024;
    std::vector<char> pending;
    qint64 written = 0;
    qint64 handedToDisk = 0;

    void put(const char* data, std::size_t size)
    {
        pending.insert(pending.end(), data, data + size);
        if (pending.size() >= kBlock)
            writePending();
    }

    void writePending()
    {
        const auto size = qint64(pending.size());
        if (file.write(pending.data(), size) != size) {
            throw Failure(
                QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString()));
        }
        pending.clear();
        written += size;
        // The commit waits until the whole file is on the disk. Handing each megabyte to the
        // disk as it is written lets the disk work while the next tasks are printed, and leaves
        // the commit little to wait for.
        constexpr qint64 kStep = 1024 * 1024;
        if (written - handedToDisk >= kStep) {
            ::sync_file_range(file.handle(), handedToDisk, written - handedToDisk,
                              SYNC_FILE_RANGE_WRITE);
            handedToDisk = written;
        }
    }
};

Writer::Writer(const QString& path, const QList<CalendarCategory>& categories)
    : m_state(std::make_unique<State>())
{
    m_state->file.setFileName(path);
    m_state->pending.reserve(State::kBlock + 4096);
    if (!m_state->file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        throw Failure(QStringLiteral("Cannot write %1: %2").arg(path, m_state->file.errorString()));
    }
    const Ical::Component calendar(icalcomponent_new_vcalendar());
    icalcomponent* c = calendar.get();
    icalcomponent_add_property(c, icalproperty_new_prodid("-//Kestrune//Kestrune//EN"));
    icalcomponent_add_property(c, icalproperty_new_version("2.0"));
    icalproperty* marker = icalproperty_new_x("1");
    icalproperty_set_x_name(marker, kMarker);
    icalcomponent_add_property(c, marker);
    for (const CalendarCategory& category : categories) {
        if (category.path.isEmpty()) // no category at all; an empty value would not read back
            continue;
        icalproperty* p = icalproperty_new_x(RawText::encodePath(category.path).constData());
        icalproperty_set_x_name(p, kTreeCategory);
        if (!category.key.isEmpty()) {
            icalparameter* key = icalparameter_new_x(RawText::encode(category.key).constData());
            icalparameter_set_xname(key, kTreeKey);
            icalproperty_add_parameter(p, key);
        }
        icalcomponent_add_property(c, p);
    }
    const Ical::Text text = VTodoMapping::Internal::printComponent(c);
    // The calendar's head goes out now and its END line last, with the tasks streamed between.
    const QByteArray printed(text.get());
    const qsizetype end = printed.lastIndexOf("END:VCALENDAR");
    m_state->put(printed.constData(), std::size_t(end));
    m_state->tail = printed.mid(end);
}

Writer::~Writer()
{
    if (!m_state->finished)
        m_state->file.cancelWriting();
}

void Writer::add(const CalendarTask& task, QByteArrayView kept)
{
    const Ical::Text text = VTodoMapping::Internal::print(task, kept, m_state->context);
    const std::size_t size = std::strlen(text.get());
    m_state->put(text.get(), size);
    // Only another program's VTODO names a time zone: Kestrune's own due dates are dates.
    if (!kept.isEmpty()) {
        for (const QByteArray& id : VTodoMapping::timeZoneIds(QByteArrayView(text.get(), size)))
            if (!m_state->zones.contains(id))
                m_state->zones.append(id);
    }
}

void Writer::finish()
{
    const QByteArray zones = VTodoMapping::timeZoneDefinitions(m_state->zones);
    m_state->put(zones.constData(), std::size_t(zones.size()));
    m_state->put(m_state->tail.constData(), std::size_t(m_state->tail.size()));
    m_state->writePending();
    if (!m_state->file.commit()) {
        throw Failure(QStringLiteral("Cannot write %1: %2")
                          .arg(m_state->file.fileName(), m_state->file.errorString()));
    }
    m_state->finished = true;
}

} // namespace IcsFile
