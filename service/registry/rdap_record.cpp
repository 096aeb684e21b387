#include "registry/rdap_record.h"

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <algorithm>
#include <charconv>

namespace yuming::service {

namespace {

constexpr qint64 kUnixEpochJulianDay = 2440588;
constexpr qint64 kSecondsPerDay = 86400;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool isLower(char c) {
    return c >= 'a' && c <= 'z';
}
bool isUpper(char c) {
    return c >= 'A' && c <= 'Z';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Reads a date as RFC 3339 writes it ("2026-01-02T03:04:05.123+08:00"). Servers that leave the
// zone out mean UTC, and a date alone means its midnight; a fraction of a second is dropped.
class TimeReader {
public:
    explicit TimeReader(std::string_view text) : m_text(trimmed(text)) {}

    std::optional<qint64> read() {
        int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, offset = 0;
        if (!number(4, year) || !take('-') || !number(2, month) || !take('-') || !number(2, day)) return {};
        const QDate date(year, month, day);
        if (!date.isValid()) return {};
        if (!atEnd()) {
            if (!take('T') && !take('t') && !take(' ')) return {};
            if (!number(2, hour) || !take(':') || !number(2, minute) || !take(':') || !number(2, second))
                return {};
            // 60 is a leap second.
            if (hour > 23 || minute > 59 || second > 60) return {};
            if (take('.') || take(',')) {
                const std::size_t start = m_pos;
                while (!atEnd() && isDigit(m_text[m_pos]))
                    ++m_pos;
                if (m_pos == start) return {};
            }
            if (!atEnd() && !take('Z') && !take('z') && !zoneOffset(offset)) return {};
        }
        if (!atEnd()) return {};
        return (date.toJulianDay() - kUnixEpochJulianDay) * kSecondsPerDay + hour * 3600 + minute * 60 +
               second - offset;
    }

private:
    bool atEnd() const { return m_pos == m_text.size(); }
    bool take(char c) {
        if (atEnd() || m_text[m_pos] != c) return false;
        ++m_pos;
        return true;
    }
    bool number(int count, int& value) {
        value = 0;
        for (int i = 0; i < count; ++i, ++m_pos) {
            if (atEnd() || !isDigit(m_text[m_pos])) return false;
            value = value * 10 + (m_text[m_pos] - '0');
        }
        return true;
    }
    // "+08:00", "+0800" or "+08", in seconds east of UTC.
    bool zoneOffset(int& offset) {
        const bool west = take('-');
        if (!west && !take('+')) return false;
        int hours = 0, minutes = 0;
        if (!number(2, hours)) return false;
        if ((take(':') || !atEnd()) && !number(2, minutes)) return false;
        if (hours > 23 || minutes > 59) return false;
        offset = (hours * 60 + minutes) * 60 * (west ? -1 : 1);
        return true;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

std::string_view withoutByteOrderMark(std::string_view text) {
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    return text.starts_with(bom) ? text.substr(bom.size()) : text;
}

RdapParse failed(std::string error) {
    return {std::nullopt, std::move(error)};
}

std::string utf8(const QJsonValue& value) {
    return value.toString().toStdString();
}

bool absent(const QJsonValue& value) {
    return value.isUndefined() || value.isNull();
}

// A date no domain's event can have (before 1985, or more than 100 years ahead) is a server's
// placeholder or slip; shown, it would be a deletion time no one could mean. A last change or a
// registration has happened by the time the registry answers: one more than a day ahead (room for
// any clock's error) is a slip too.
bool saneEventTime(qint64 seconds, bool happened) {
    if (happened && seconds > QDateTime::currentSecsSinceEpoch() + kSecondsPerDay) return false;
    const qint64 day = seconds / kSecondsPerDay - (seconds % kSecondsPerDay < 0 ? 1 : 0);
    const QDate date = QDate::fromJulianDay(day + kUnixEpochJulianDay);
    return date >= QDate(1985, 1, 1) && date <= QDateTime::currentDateTimeUtc().date().addYears(100);
}

// The first readable date of each event we use wins.
void readEvent(const QJsonObject& event, RdapRecord& record) {
    const std::string action = normaliseStatus(utf8(event.value(QLatin1String("eventAction"))));
    std::optional<qint64>* slot = action == "expiration"     ? &record.expiration
                                  : action == "last changed" ? &record.lastChanged
                                  : action == "registration" ? &record.registration
                                                             : nullptr;
    if (!slot || *slot) return;
    const std::optional<qint64> time = TimeReader(utf8(event.value(QLatin1String("eventDate")))).read();
    if (time && saneEventTime(*time, slot != &record.expiration)) *slot = time;
}

// A domain name as answers are compared with the question: its ASCII form in small letters,
// without the root's dot. Empty for text that is no domain name.
std::string comparableName(QString name) {
    if (name.endsWith(u'.')) name.chop(1);
    return QUrl::toAce(name).toLower().toStdString();
}

// A name the server wrote, fit for a message: quoted, at most 64 characters, controls replaced.
std::string shownName(const QString& name) {
    QString shown = name.left(64);
    if (shown.size() < name.size()) shown += QStringLiteral("...");
    for (QChar& c : shown)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) c = u'?';
    return '"' + shown.toStdString() + '"';
}

// Why the answer cannot be taken for one about `asked`; empty when it can. A registry's server
// names the domain each answer is about; one that names none could be about any name, so it is no
// more believed than one that names another.
std::string otherDomain(const QJsonObject& object, std::string_view asked) {
    const QString askedText = QString::fromUtf8(asked.data(), static_cast<qsizetype>(asked.size()));
    std::string question(asked);
    if (const QString unicode = QUrl::fromAce(askedText.toLatin1()); unicode != askedText)
        question += " (" + unicode.toStdString() + ')';
    const QJsonValue ldhName = object.value(QLatin1String("ldhName"));
    const QJsonValue unicodeName = object.value(QLatin1String("unicodeName"));
    if (absent(ldhName) && absent(unicodeName))
        return "the answer names no domain (it has no ldhName), so it is not taken for one about " + question;
    const std::string wanted = comparableName(askedText);
    for (const auto& [field, value] :
         {std::pair{"ldhName", ldhName}, std::pair{"unicodeName", unicodeName}}) {
        if (absent(value)) continue;
        if (!value.isString()) return "the answer's " + std::string(field) + " is not text";
        if (wanted.empty() || comparableName(value.toString()) != wanted)
            return "the answer is about " + shownName(value.toString()) + " (its " + field + "), not about " +
                   question;
    }
    return {};
}

// What the cache line escapes inside a status: its own separators, '%' and control bytes.
bool needsEscape(unsigned char c) {
    return c == '%' || c == '|' || c == ';' || c < 0x20 || c == 0x7f;
}

int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
        if (low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::optional<qint64> wholeNumber(std::string_view text) {
    qint64 value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
}

// Calls `visit` for each piece of `text` between `separator`s; stops at the first false.
template <typename Visit> bool forEachPiece(std::string_view text, char separator, Visit&& visit) {
    for (;;) {
        const auto at = text.find(separator);
        if (!visit(text.substr(0, at))) return false;
        if (at == std::string_view::npos) return true;
        text.remove_prefix(at + 1);
    }
}

} // namespace

std::string normaliseStatus(std::string_view status) {
    std::string out;
    bool blank = false;
    char previous = 0;
    for (const char c : status) {
        // A blank between words, or a capital after a small letter as in "pendingDelete".
        if (isBlank(c) || (isUpper(c) && isLower(previous))) blank = true;
        previous = c;
        if (isBlank(c)) continue;
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += isUpper(c) ? static_cast<char>(c - 'A' + 'a') : c;
    }
    // The two EPP statuses RDAP does not spell word for word.
    if (out == "ok") return "active";
    if (out == "linked") return "associated";
    return out;
}

bool RdapRecord::has(std::string_view status) const {
    return std::find(statuses.begin(), statuses.end(), normaliseStatus(status)) != statuses.end();
}

RdapParse parseRdapDomain(std::string_view json, std::string_view asked) {
    json = withoutByteOrderMark(json);
    const auto first = json.find_first_not_of(" \t\r\n");
    if (first != std::string_view::npos && json[first] == '<') return failed("not JSON: an HTML or XML page");
    QJsonParseError parseError{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return failed("not JSON: " + parseError.errorString().toStdString() + " at byte " +
                      std::to_string(parseError.offset));
    if (!document.isObject()) return failed("not a domain object: the answer is a JSON array");
    const QJsonObject object = document.object();

    const QJsonValue className = object.value(QLatin1String("objectClassName"));
    if (absent(className) && object.contains(QLatin1String("errorCode"))) {
        std::string reason = "an RDAP error answer: ";
        reason += std::to_string(object.value(QLatin1String("errorCode")).toInteger());
        const QString title = object.value(QLatin1String("title")).toString();
        if (!title.isEmpty()) reason += ' ' + title.toStdString();
        return failed(reason);
    }
    if (!absent(className) && className.toString().compare(QLatin1String("domain"), Qt::CaseInsensitive) != 0)
        return failed("not a domain object: objectClassName is " +
                      (className.isString() ? '"' + utf8(className) + '"' : std::string("not text")));
    if (std::string error = otherDomain(object, asked); !error.empty()) return failed(std::move(error));

    RdapRecord record;
    const QJsonValue statuses = object.value(QLatin1String("status"));
    if (!absent(statuses)) {
        if (!statuses.isArray()) return failed("status is not an array");
        for (const QJsonValue& value : statuses.toArray()) {
            if (!value.isString()) return failed("status holds a value that is not text");
            std::string status = normaliseStatus(utf8(value));
            if (!status.empty() && !record.has(status)) record.statuses.push_back(std::move(status));
        }
    }
    const QJsonValue events = object.value(QLatin1String("events"));
    if (!absent(events)) {
        if (!events.isArray()) return failed("events is not an array");
        for (const QJsonValue& event : events.toArray()) {
            if (!event.isObject()) return failed("events holds a value that is not an object");
            readEvent(event.toObject(), record);
        }
    }
    return {std::move(record), {}};
}

std::string serialize(const RdapRecord& record) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    bool firstStatus = true;
    for (const std::string& status : record.statuses) {
        // A parse never keeps an empty status, and the line has no way to tell one from none.
        if (status.empty()) continue;
        out += firstStatus ? "s=" : "|";
        firstStatus = false;
        for (const char c : status) {
            const auto byte = static_cast<unsigned char>(c);
            if (!needsEscape(byte)) {
                out += c;
                continue;
            }
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        }
    }
    const auto time = [&out](char key, const std::optional<qint64>& value) {
        if (!value) return;
        if (!out.empty()) out += ';';
        out += key;
        out += '=';
        out += std::to_string(*value);
    };
    time('x', record.expiration);
    time('c', record.lastChanged);
    time('r', record.registration);
    return out;
}

std::optional<RdapRecord> deserialize(std::string_view text) {
    RdapRecord record;
    if (text.empty()) return record;
    bool sawStatuses = false;
    bool sawTime[3] = {false, false, false};
    const bool ok = forEachPiece(text, ';', [&](std::string_view field) {
        const auto eq = field.find('=');
        if (eq != 1) return false;
        const std::string_view value = field.substr(2);
        if (field[0] == 's') {
            if (sawStatuses) return false;
            sawStatuses = true;
            return forEachPiece(value, '|', [&](std::string_view piece) {
                std::optional<std::string> status = unescape(piece);
                if (!status || status->empty()) return false;
                record.statuses.push_back(std::move(*status));
                return true;
            });
        }
        const int which = field[0] == 'x' ? 0 : field[0] == 'c' ? 1 : field[0] == 'r' ? 2 : -1;
        if (which < 0 || sawTime[which]) return false;
        sawTime[which] = true;
        std::optional<qint64>* slot = which == 0   ? &record.expiration
                                      : which == 1 ? &record.lastChanged
                                                   : &record.registration;
        *slot = wholeNumber(value);
        if (!slot->has_value()) return false;
        // A line kept by a build that took any date: the date is dropped, the answer kept.
        if (!saneEventTime(**slot, which != 0)) slot->reset();
        return true;
    });
    if (!ok) return std::nullopt;
    return record;
}

} // namespace yuming::service
