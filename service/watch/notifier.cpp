#include "watch/notifier.h"

#include "watch/desktop_notifications.h"
#include "watch/notify_command.h"
#include "watch/watch_schedule.h"

#include <iostream>
#include <memory>
#include <utility>
#include <vector>

namespace yuming::service {

namespace {

// Events kept waiting beyond this are dropped: a list of thousands of names changing at once
// must not grow the service without bound.
constexpr std::size_t kQueueLimit = 1000;
constexpr std::chrono::milliseconds kSignalInterval{200};

const char* kindWord(WatchEvent::Kind kind) {
    switch (kind) {
    case WatchEvent::Kind::StatusChanged:
        return "status";
    case WatchEvent::Kind::DeletionMoved:
        return "deletion";
    case WatchEvent::Kind::Reminder:
        return "reminder";
    }
    return "status";
}

std::string utcText(const QDateTime& when) {
    if (!when.isValid()) return {};
    return when.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")).toStdString();
}

std::vector<std::pair<std::string, std::string>> eventVariables(const WatchEvent& event,
                                                                const std::string& text) {
    const bool changed = event.kind == WatchEvent::Kind::StatusChanged;
    return {
        {"YUMING_NAME", event.name},
        {"YUMING_EVENT", kindWord(event.kind)},
        {"YUMING_FROM", changed ? std::string(statusName(event.from)) : ""},
        {"YUMING_TO", changed ? std::string(statusName(event.to)) : ""},
        {"YUMING_STATUS", std::string(statusName(event.to))},
        {"YUMING_DELETION", utcText(event.deletion)},
        {"YUMING_PREVIOUS_DELETION", utcText(event.previousDeletion)},
        {"YUMING_LEAD", event.kind == WatchEvent::Kind::Reminder ? std::to_string(event.lead.count()) : ""},
        {"YUMING_TEXT", text},
    };
}

} // namespace

Notifier::Notifier(NotifierOptions options) : m_options(std::move(options)), m_thread([this] { run(); }) {}

Notifier::~Notifier() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void Notifier::notify(const WatchEvent& event) {
    {
        std::lock_guard lock(m_mutex);
        if (m_queue.size() >= kQueueLimit) {
            log("watch: too many events waiting; not told: " + event.name);
            return;
        }
        m_queue.push_back(event);
    }
    m_wake.notify_one();
}

void Notifier::log(const std::string& line) const {
    if (m_options.log) {
        m_options.log(line);
        return;
    }
    // One write, so that the line lands whole in the log file.
    std::cerr << ("yuming-service: " + line + '\n') << std::flush;
}

void Notifier::run() {
    // Made and ended on this thread, the only one that calls the bus.
    std::unique_ptr<DesktopNotifications> desktop;
    if (m_options.useSessionBus) desktop = std::make_unique<DesktopNotifications>(m_options.watchlistProgram);
    std::unique_lock lock(m_mutex);
    while (true) {
        const auto woken = [this] { return m_stopping || !m_queue.empty(); };
        // Woken now and then to hand the bus's signals (a notification's action) over.
        if (desktop && desktop->listens())
            m_wake.wait_for(lock, kSignalInterval, woken);
        else
            m_wake.wait(lock, woken);
        if (m_stopping) break;
        if (m_queue.empty()) {
            if (desktop) desktop->deliverSignals();
            continue;
        }
        const WatchEvent event = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        const std::string text = eventText(event, QDateTime::currentDateTimeUtc().toTimeZone(m_options.zone));
        const std::string error = desktop ? desktop->show(eventSummary(event), text) : "off";
        if (!error.empty())
            log("watch: " + text + (desktop ? " (no desktop notification: " + error + ')' : ""));
        if (!m_options.command.empty()) runCommand(event, text);
        lock.lock();
    }
    if (!m_queue.empty()) log("watch: stopping; " + std::to_string(m_queue.size()) + " events not told");
}

void Notifier::runCommand(const WatchEvent& event, const std::string& text) {
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(m_options.commandLimit);
    const CommandResult result = runBounded(m_options.command, eventVariables(event, text), limit);
    const std::string what = "notify-command for " + event.name + ' ';
    switch (result.outcome) {
    case CommandResult::Outcome::Succeeded:
        return;
    case CommandResult::Outcome::Failed:
        log(what + (result.exitCode < 0 ? "was ended by a signal"
                                        : "exited with " + std::to_string(result.exitCode)));
        return;
    case CommandResult::Outcome::TimedOut:
        log(what + "ran longer than " + std::to_string(m_options.commandLimit.count()) + " s; killed");
        return;
    case CommandResult::Outcome::NotStarted:
        log(what + "could not start: " + result.error);
        return;
    }
}

} // namespace yuming::service
