#pragma once

#include <QString>
#include <QStringView>

#include <optional>
#include <string>
#include <string_view>

namespace yuming {

// The text after the first `marker` up to the next occurrence of the same marker (or the end),
// cut again before the first "</span>". nullopt when the marker is missing or nothing follows it.
std::optional<QStringView> cutAfter(QStringView recvText, QStringView marker);

// A lookup page: not registered, or the expiry and deletion texts.
struct LookupPage {
    enum class Outcome { NotRegistered, Dates, Failed };
    Outcome outcome = Outcome::Failed;
    QString expiry, deletion;
};
LookupPage parseLookupPage(QStringView recvText);

// Writing the parts of a lookup page that parseLookupPage reads, in GBK, appended to `out`; the
// text around them is the writer's own. Values are GBK (or ASCII) bytes and go in as they are.
// The page of a name that is not registered: right after the title's end, with `echo` (the name
// as asked for) after it.
void writeNotRegistered(std::string& out, std::string_view echo);
// The dates of a registered name, each on a page once: the expiry first, then the deletion.
void writeExpiry(std::string& out, std::string_view expiry);
void writeDeletion(std::string& out, std::string_view deletion);

} // namespace yuming
