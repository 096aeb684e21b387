#include "cli/watch_job.h"

#include "cli/line_reader.h"
#include "cli/watch_output.h"
#include "watch/watch_calendar.h"

#include <QFile>
#include <QSaveFile>
#include <QSet>
#include <QUrl>

namespace yuming::cli {

using namespace yuming::watch;

WatchJob::WatchJob(Options options, QIODevice& out, QIODevice& err, QIODevice* in, QObject* parent)
    : CliJob(std::move(options), out, err, parent), m_client(m_options.service, m_options.token, this),
      m_in(in), m_names(m_options.names) {}

std::optional<int> WatchJob::start() {
    if (m_options.watch == WatchCommand::Add && !m_options.lookupFile.isEmpty())
        if (const auto exit = readNames()) return exit;
    connect(m_client.send(call()), &WatchReply::finished, this, &WatchJob::answered);
    return std::nullopt;
}

std::optional<int> WatchJob::readNames() {
    const QString& path = m_options.lookupFile;
    const bool fromStdin = path == QLatin1String("-");
    QFile file;
    QIODevice* source = fromStdin ? m_in : nullptr;
    if (!source) {
        const bool opened = fromStdin ? file.open(stdin, QIODevice::ReadOnly)
                                      : (file.setFileName(path), file.open(QIODevice::ReadOnly));
        if (!opened) {
            // As for lookup --file: a list that cannot be opened is a usage error.
            note(QStringLiteral("cannot read ") + path + QStringLiteral(": ") + file.errorString());
            return 2;
        }
        source = &file;
    }
    const QString shownPath = fromStdin ? QStringLiteral("stdin") : path;
    // The service adds all of a list or none of it: a line that cannot be read ends the reading.
    LineReader reader(*source);
    for (;;) {
        const LineReader::Next line = reader.next();
        if (line.kind == LineReader::Kind::End) break;
        if (line.kind != LineReader::Kind::Line) {
            note(shownPath + u':' + QString::number(line.number) +
                 QStringLiteral(": line too long; nothing added"));
            return 1;
        }
        const QString name = QString::fromUtf8(line.text).trimmed();
        if (name.isEmpty() || name.startsWith(u'#')) continue;
        if (m_names.size() == kMostNames) {
            note(shownPath + QStringLiteral(": more than %1 names; the service takes at most that many at a "
                                            "time; nothing added")
                                 .arg(kMostNames));
            return 1;
        }
        m_names.append(name);
    }
    if (!m_names.isEmpty()) return std::nullopt;
    note(shownPath + QStringLiteral(": no names to add"));
    return 1;
}

WatchCall WatchJob::call() const {
    switch (m_options.watch) {
    case WatchCommand::Add:
        return WatchCall::add(m_names);
    case WatchCommand::Remove:
        return WatchCall::remove(m_names);
    case WatchCommand::Check:
        return WatchCall::check(m_names);
    case WatchCommand::History:
        return WatchCall::history(m_names.value(0));
    case WatchCommand::List:
    case WatchCommand::Ics:
        break;
    }
    return WatchCall::list();
}

void WatchJob::answered(const WatchAnswer& answer) {
    switch (answer.kind) {
    case WatchAnswer::Kind::Failed:
        note(answer.error);
        return end(1);
    case WatchAnswer::Kind::Refused:
        return end(refused(answer));
    case WatchAnswer::Kind::Answered:
        return end(written(answer));
    }
}

int WatchJob::refused(const WatchAnswer& answer) {
    if (answer.status == 401) {
        const QString where = m_options.service.userService
                                  ? QStringLiteral("the token in this user's service record")
                                  : QStringLiteral("the token given (--token or YUMING_TOKEN)");
        note(QStringLiteral("the service refused ") + where + QStringLiteral(": ") + answer.error);
        return 1;
    }
    note(answer.error);
    for (const QString& bad : readBadNames(answer.json))
        note(bad + QStringLiteral(": refused"));
    return 1;
}

int WatchJob::written(const WatchAnswer& answer) {
    const QJsonObject& json = answer.json;
    switch (m_options.watch) {
    case WatchCommand::Add: {
        const auto count = readAdded(json);
        if (!count) return unreadable();
        m_out << "added\t" << count->added << "\talready\t" << count->already << '\n';
        return 0;
    }
    case WatchCommand::Remove: {
        const auto removed = readRemoved(json);
        if (!removed) return unreadable();
        m_out << "removed\t" << *removed << '\n';
        return 0;
    }
    case WatchCommand::Check: {
        const auto checked = readChecks(json);
        return checked ? writeChecks(*checked) : unreadable();
    }
    case WatchCommand::History: {
        const auto changes = readHistory(json);
        if (!changes) return unreadable();
        for (const StatusChange& change : *changes)
            writeBytes(watch_output::historyLine(change));
        return 0;
    }
    case WatchCommand::List:
    case WatchCommand::Ics:
        break;
    }
    const auto list = readWatchList(json);
    if (!list) return unreadable();
    if (m_options.watch == WatchCommand::Ics) return writeCalendar(*list);
    QByteArray text = watch_output::listHead(m_options.format);
    for (const WatchedName& name : list->names)
        text += watch_output::listRow(m_options.format, name);
    writeBytes(text);
    return 0;
}

int WatchJob::writeChecks(const QList<CheckedName>& checked) {
    int exit = 0;
    QSet<QString> answered;
    for (const CheckedName& c : checked) {
        writeBytes(watch_output::checkLine(c));
        answered.insert(c.name);
        if (c.error.isEmpty()) continue;
        note(c.name + QStringLiteral(": ") + c.error);
        exit = 1;
    }
    // The service answers with what is done when its time is up.
    for (const QString& name : m_names) {
        // Answered in the name's ASCII form.
        if (answered.contains(name) || answered.contains(QString::fromLatin1(QUrl::toAce(name)))) continue;
        note(name + QStringLiteral(": not checked in the service's time"));
        exit = 1;
    }
    return exit;
}

int WatchJob::writeCalendar(const WatchList& list) {
    const QDateTime now = list.now.isValid() ? list.now : QDateTime::currentDateTimeUtc();
    const QByteArray calendar = deletionCalendar(list.names, now);
    const qsizetype events = deletionEvents(list.names).size();
    if (events == 0) note(QStringLiteral("no watched name has a deletion estimate yet"));
    if (m_options.outPath.isEmpty()) {
        writeBytes(calendar);
        return 0;
    }
    // Written whole or not at all: a calendar that imports the file never sees half of it.
    QSaveFile file(m_options.outPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(calendar) != calendar.size() || !file.commit()) {
        note(QStringLiteral("cannot write ") + m_options.outPath + QStringLiteral(": ") + file.errorString());
        return 1;
    }
    note((events == 1 ? QStringLiteral("1 event") : QStringLiteral("%1 events").arg(events)) +
         QStringLiteral(" written to ") + m_options.outPath);
    return 0;
}

int WatchJob::unreadable() {
    note(QStringLiteral("the service's answer does not hold what the watch API promises"));
    return 1;
}

} // namespace yuming::cli
