#include "http/watch_api.h"

#include "registry/domain_name.h"
#include "watch/watchlist.h"

#include "protocol/watch_paths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <chrono>

namespace yuming::service {

namespace {

constexpr auto kJson = "application/json; charset=utf-8";
constexpr std::size_t kMostNames = 10000;
constexpr std::size_t kLongestName = 253;
// A check asked for now answers with what is done by then.
constexpr std::chrono::milliseconds kCheckLimit{60000};

Reply json(int status, std::string body) {
    Reply reply{status, std::move(body)};
    reply.contentType = kJson;
    return reply;
}

Reply notAllowed(const char* allow) {
    Reply reply = jsonError(405, "The method is not served here.");
    reply.allowHeader = true;
    reply.allow = allow;
    return reply;
}

std::string quoted(std::string_view text) {
    return QJsonDocument(QJsonArray{QString::fromUtf8(text.data(), qsizetype(text.size()))})
        .toJson(QJsonDocument::Compact)
        .sliced(1)
        .chopped(1)
        .toStdString();
}

std::string timeText(const QDateTime& when) {
    return when.isValid() ? '"' + when.toUTC().toString(Qt::ISODate).toStdString() + '"' : "null";
}

bool plainLabel(std::string_view label) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    return std::all_of(label.begin(), label.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}

bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

// The names of a request body {"names": [...]}: false with the reply to give when it is not one.
// `bad` collects the names that are no names the watchlist takes.
bool namesOf(const Request& request, bool mayBeAbsent, std::vector<std::string>& names,
             std::optional<Reply>& failure) {
    const std::string_view type = request.contentType;
    const std::string_view mediaType = type.substr(0, type.find(';'));
    if (QByteArray::fromStdString(std::string(mediaType)).trimmed().toLower() != "application/json") {
        failure = jsonError(400, "The body must be JSON (Content-Type: application/json).");
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(request.body), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        failure = jsonError(400, parseError.error != QJsonParseError::NoError
                                     ? "The body is not JSON: " + parseError.errorString().toStdString()
                                     : std::string("The body must be a JSON object."));
        return false;
    }
    const QJsonValue list = document.object().value(QStringLiteral("names"));
    if (list.isUndefined() && mayBeAbsent) return true;
    if (!list.isArray()) {
        failure = jsonError(400, "\"names\" must be a list of names.");
        return false;
    }
    const QJsonArray array = list.toArray();
    if (static_cast<std::size_t>(array.size()) > kMostNames) {
        failure = jsonError(400, "At most 10000 names in one request.");
        return false;
    }
    QJsonArray bad;
    std::string why;
    for (const QJsonValue& value : array) {
        const std::string text = value.isString() ? value.toString().toStdString() : std::string();
        const std::optional<std::string> name = value.isString() ? watchName(text, why) : std::nullopt;
        if (name)
            names.push_back(*name);
        else
            bad.append(value.isString()
                           ? value
                           : QJsonValue(QString::fromUtf8(
                                 QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact))));
    }
    if (bad.isEmpty()) return true;
    const QString text =
        QString::number(bad.size()) + QLatin1String(bad.size() == 1 ? " name is" : " names are") +
        QLatin1String(" not a domain the service watches (one label and com, net, org or cn, "
                      "at most 253 bytes); nothing was changed");
    const QJsonObject error{{QStringLiteral("error"), text}, {QStringLiteral("bad"), bad}};
    failure = json(400, QJsonDocument(error).toJson(QJsonDocument::Compact).toStdString());
    return false;
}

} // namespace

Reply jsonError(int status, std::string_view message) {
    const QJsonObject error{
        {QStringLiteral("error"), QString::fromUtf8(message.data(), qsizetype(message.size()))}};
    return json(status, QJsonDocument(error).toJson(QJsonDocument::Compact).toStdString());
}

std::optional<std::string> watchName(std::string_view text, std::string& why) {
    if (text.empty() || text.size() > kLongestName) {
        why = text.empty() ? "empty" : "longer than 253 bytes";
        return std::nullopt;
    }
    const QString name = QString::fromUtf8(text.data(), qsizetype(text.size())).toLower();
    const std::string ascii = QUrl::toAce(name, QUrl::AceProcessingOption::IgnoreIDNWhitelist).toStdString();
    const auto dot = ascii.find('.');
    if (ascii.empty() || ascii.size() > kLongestName || dot == std::string::npos ||
        ascii.find('.', dot + 1) != std::string::npos ||
        !plainLabel(std::string_view(ascii).substr(0, dot))) {
        why = "not a domain";
        return std::nullopt;
    }
    if (!splitDomain(ascii)) {
        why = "not a suffix the service serves";
        return std::nullopt;
    }
    return ascii;
}

WatchApi::WatchApi(Watchlist& watchlist, std::string token)
    : m_watchlist(watchlist), m_token(std::move(token)) {}

// Another site's page in the user's browser can reach a loopback port, and a name that resolves to
// 127.0.0.1 can make it look same-origin; neither knows the token, nor sends the service's own Host.
std::optional<Reply> WatchApi::refusal(const Request& request) const {
    const std::string port = std::to_string(m_port.load());
    const auto own = [&](std::string_view host) {
        return host == "127.0.0.1:" + port || host == "localhost:" + port;
    };
    if (!own(request.host))
        return jsonError(403, "Only Host 127.0.0.1:" + port + " or localhost:" + port + ".");
    if (!request.origin.empty() &&
        !own(std::string_view(request.origin).substr(request.origin.find("://") + 3)))
        return jsonError(403, "Requests from other origins are refused.");
    constexpr std::string_view kBearer = "Bearer ";
    const std::string_view given = request.authorization;
    if (m_token.empty() || !given.starts_with(kBearer) || !sameText(given.substr(kBearer.size()), m_token))
        return jsonError(401, "The service's token is missing or wrong.");
    return std::nullopt;
}

void WatchApi::answer(const Request& request, Routes::Respond respond) const {
    if (std::optional<Reply> refused = refusal(request)) return respond(std::move(*refused));
    const std::string_view target = request.target;
    const auto mark = target.find('?');
    const std::string_view path = target.substr(0, mark);
    const std::string_view query =
        mark == std::string_view::npos ? std::string_view{} : target.substr(mark + 1);
    const bool get = request.method == "GET" || request.method == "HEAD";
    const bool post = request.method == "POST";
    if (path == watch_paths::kList) return respond(get ? list() : notAllowed("GET, HEAD"));
    if (path == watch_paths::kHistory) return respond(get ? history(query) : notAllowed("GET, HEAD"));
    if (path == watch_paths::kAdd) return respond(post ? add(request) : notAllowed("POST"));
    if (path == watch_paths::kRemove) return respond(post ? remove(request) : notAllowed("POST"));
    if (path == watch_paths::kCheck) {
        if (!post) return respond(notAllowed("POST"));
        return check(request, std::move(respond));
    }
    respond(jsonError(404, "No such request."));
}

Reply WatchApi::list() const {
    const QDateTime now = m_watchlist.now();
    const std::vector<WatchState> states = m_watchlist.list();
    std::string body = "{\"now\":" + timeText(now) + ",\"names\":[";
    body.reserve(body.size() + states.size() * 300);
    bool first = true;
    for (const WatchState& state : states) {
        body += first ? "{" : ",{";
        first = false;
        body += "\"name\":" + quoted(state.name) + ",\"status\":\"" + std::string(statusName(state.status)) +
                "\",\"expiry\":" + timeText(state.expiry) + ",\"deletion\":" + timeText(state.deletion) +
                ",\"basis\":" + (state.basis.empty() ? std::string("null") : quoted(state.basis)) +
                ",\"secondsLeft\":" +
                (state.deletion.isValid() ? std::to_string(std::max<qint64>(0, now.secsTo(state.deletion)))
                                          : std::string("null")) +
                ",\"checkedAt\":" + timeText(state.checkedAt) +
                ",\"nextCheck\":" + timeText(state.nextCheck) + ",\"addedAt\":" + timeText(state.addedAt) +
                '}';
    }
    body += "]}";
    return json(200, std::move(body));
}

Reply WatchApi::add(const Request& request) const {
    std::vector<std::string> names;
    std::optional<Reply> failure;
    if (!namesOf(request, false, names, failure)) return std::move(*failure);
    const Watchlist::Added added = m_watchlist.add(names);
    if (!added.error.empty()) return jsonError(500, "The watchlist cannot be written: " + added.error);
    return json(200, "{\"added\":" + std::to_string(added.added) +
                         ",\"already\":" + std::to_string(added.already) + '}');
}

Reply WatchApi::remove(const Request& request) const {
    std::vector<std::string> names;
    std::optional<Reply> failure;
    if (!namesOf(request, false, names, failure)) return std::move(*failure);
    std::string error;
    const int removed = m_watchlist.remove(names, error);
    if (removed < 0) return jsonError(500, "The watchlist cannot be written: " + error);
    return json(200, "{\"removed\":" + std::to_string(removed) + '}');
}

void WatchApi::check(const Request& request, Routes::Respond respond) const {
    std::vector<std::string> names;
    std::optional<Reply> failure;
    if (!namesOf(request, true, names, failure)) return respond(std::move(*failure));
    const bool askedSome = !names.empty();
    std::vector<CheckReport> unwatched;
    std::erase_if(names, [&](const std::string& name) {
        if (m_watchlist.watches(name)) return false;
        unwatched.push_back({name, false, WatchStatus::Unknown, WatchStatus::Unknown, "not watched"});
        return true;
    });
    const auto reply = [respond, unwatched](std::vector<CheckReport> reports) {
        reports.insert(reports.end(), unwatched.begin(), unwatched.end());
        std::string body = "{\"checked\":[";
        for (std::size_t i = 0; i < reports.size(); ++i) {
            const CheckReport& report = reports[i];
            body +=
                (i ? ",{" : "{") + std::string("\"name\":") + quoted(report.name) +
                ",\"changed\":" + (report.changed ? "true" : "false") + ",\"from\":\"" +
                std::string(statusName(report.from)) + "\",\"to\":\"" + std::string(statusName(report.to)) +
                "\",\"error\":" + (report.error.empty() ? std::string("null") : quoted(report.error)) + '}';
        }
        respond(json(200, body + "]}"));
    };
    // Names asked for, none of them watched: nothing to check (an empty list means all).
    if (askedSome && names.empty()) return reply({});
    m_watchlist.checkNow(std::move(names), kCheckLimit, reply);
}

Reply WatchApi::history(std::string_view query) const {
    const QUrlQuery fields(QString::fromUtf8(query.data(), qsizetype(query.size())));
    const std::string asked = fields.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded).toStdString();
    std::string why;
    const std::optional<std::string> name = watchName(asked, why);
    if (!name) return jsonError(400, "Not a name: " + asked + " (" + why + ")");
    if (!m_watchlist.watches(*name)) return jsonError(404, *name + " is not watched.");
    const auto changes = m_watchlist.history(*name);
    if (!changes.ok()) return jsonError(500, "The history cannot be read: " + changes.error);
    std::string body = "{\"name\":" + quoted(*name) + ",\"changes\":[";
    for (std::size_t i = 0; i < changes.value.size(); ++i) {
        const WatchChange& change = changes.value[i];
        body += (i ? ",{" : "{") + std::string("\"at\":") + timeText(change.at) + ",\"from\":\"" +
                std::string(statusName(change.from)) + "\",\"to\":\"" + std::string(statusName(change.to)) +
                "\"}";
    }
    return json(200, body + "]}");
}

} // namespace yuming::service
