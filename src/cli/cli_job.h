#pragma once

#include "cli/cli_options.h"
#include "search/command_result.h"
#include "search/service_link.h"

#include <QIODevice>
#include <QObject>
#include <QTextStream>

#include <optional>

namespace yuming::cli {

// One yuming-cli command: what it prints and how it ends. Results go to `out`, status texts and
// reasons to `err`.
class CliJob : public QObject {
    Q_OBJECT
public:
    CliJob(Options options, QIODevice& out, QIODevice& err, QObject* parent = nullptr);

    // Starts the command. An exit status when it ended before any request; otherwise finished()
    // follows, never from inside this call.
    virtual std::optional<int> start() = 0;

    // Progress is drawn as a bar redrawn in place when stderr is a terminal, as lines otherwise.
    void setTerminal(bool terminal) { m_terminal = terminal; }

Q_SIGNALS:
    void finished(int exitStatus);

protected:
    // Exit status 2 with the refusal on stderr, or nothing for a started request.
    std::optional<int> refusal(const CommandResult& result);
    // The log beside the program is where a user looks for it; says so when it is elsewhere
    // without having been asked for (--log).
    void sayWhereTheLogIs();
    // One line on stderr, after the program's name: why something failed, or where a file went.
    void note(const QString& text);
    // Bytes as they are, after what the text stream holds.
    void writeBytes(const QByteArray& bytes);
    void end(int exitStatus);

    const Options m_options;
    ServiceLink m_link;
    QIODevice& m_outDevice;
    QTextStream m_out;
    QTextStream m_err;
    bool m_terminal = false;
    // Said once a run, however many answers come from sample data.
    bool m_sampleNoted = false;
};

} // namespace yuming::cli
