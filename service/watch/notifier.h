#pragma once

#include "watch/event_text.h"
#include "watch/watch_event.h"

#include <QDateTime>
#include <QTimeZone>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace yuming::service {

struct NotifierOptions {
    // --notify-command: run by /bin/sh for each event, the event in YUMING_* variables; empty: none.
    std::string command;
    // A command still running after this long is killed.
    std::chrono::seconds commandLimit{10};
    // Desktop notifications over the session bus; without them (or without a bus) each event
    // goes to the log.
    bool useSessionBus = true;
    // The zone the texts show times in: the lookup page's.
    QTimeZone zone = QTimeZone::systemTimeZone();
    // What the notification's default action starts, with --watchlist, when it is on PATH.
    std::string watchlistProgram = "yuming";
    // Where log lines go (one call per line, without the newline); unset: stderr.
    std::function<void(const std::string&)> log;
};

// Tells the user of each watch event: a desktop notification, else a line in the log, and the
// user's own command. notify() only queues the event: one thread of the notifier's own does the
// rest, one event after another, so that a slow bus or a hanging command holds up neither the
// checks nor the events after it (each waits at most the command's limit).
class Notifier {
public:
    explicit Notifier(NotifierOptions options);
    // Events still queued are dropped (and counted in the log); one being told is finished.
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    void notify(const WatchEvent& event);

private:
    void run();
    void runCommand(const WatchEvent& event, const std::string& text);
    void log(const std::string& line) const;

    const NotifierOptions m_options;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<WatchEvent> m_queue;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace yuming::service
