#include "registry/rdap_bootstrap.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace yuming::service {

// Compiled from rdap-bootstrap.json (rdap_bootstrap_builtin.cpp.in).
extern const std::string_view kBuiltInBootstrap;

namespace {

// The registries' own file for every top-level domain is tens of kilobytes; anything far larger
// is not a bootstrap file and is not read into memory whole.
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

std::string_view withoutByteOrderMark(std::string_view text) {
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    return text.starts_with(bom) ? text.substr(bom.size()) : text;
}

// Suffixes are compared in lower case and without a leading dot, as DNS compares labels.
std::string suffixKey(std::string_view suffix) {
    if (suffix.starts_with('.')) suffix.remove_prefix(1);
    std::string key(suffix);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

// Where a service is reached: its first https URL, else its first http one; a URL of another
// scheme, or one without a host, is no use to us.
std::optional<std::string> pickBase(const QJsonArray& urls) {
    std::optional<std::string> plain;
    for (const QJsonValue& value : urls) {
        const QString url = value.toString().trimmed();
        const bool https = url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
        const bool http = url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive);
        if (!https && !http) continue;
        const QString rest = url.mid(https ? 8 : 7);
        if (rest.isEmpty() || rest.startsWith(u'/') || url.contains(u' ')) continue;
        std::string base = url.toStdString();
        if (base.back() != '/') base += '/';
        if (https) return base;
        if (!plain) plain = std::move(base);
    }
    return plain;
}

BootstrapRead failed(std::string error) {
    BootstrapRead read;
    read.error = std::move(error);
    return read;
}

} // namespace

BootstrapRead RdapBootstrap::parse(std::string_view json) {
    json = withoutByteOrderMark(json);
    QJsonParseError parseError{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(json.data(), static_cast<qsizetype>(json.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return failed("not valid JSON: " + parseError.errorString().toStdString() + " at byte " +
                      std::to_string(parseError.offset));
    if (!document.isObject()) return failed("not a bootstrap file: the top level is not a JSON object");
    const QJsonValue services = document.object().value(QLatin1String("services"));
    if (!services.isArray()) return failed("no services: \"services\" is missing or not an array");

    BootstrapRead read;
    auto& bases = read.bootstrap.m_bases;
    for (const QJsonValue& service : services.toArray()) {
        const QJsonArray pair = service.toArray();
        if (pair.size() < 2 || !pair.at(0).isArray() || !pair.at(1).isArray()) continue;
        const std::optional<std::string> base = pickBase(pair.at(1).toArray());
        if (!base) continue;
        for (const QJsonValue& entry : pair.at(0).toArray()) {
            std::string key = suffixKey(entry.toString().trimmed().toStdString());
            if (!key.empty()) bases.try_emplace(std::move(key), *base);
        }
    }
    if (bases.empty()) return failed("no services: no entry names a suffix and an http or https server");
    return read;
}

BootstrapRead RdapBootstrap::load(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return failed("cannot open " + path + ": " + file.errorString().toStdString());
    const QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return failed("cannot read " + path + ": " + file.errorString().toStdString());
    if (bytes.size() > kMaxFileBytes) return failed(path + ": too large for a bootstrap file");
    BootstrapRead read = parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (!read.ok()) read.error = path + ": " + read.error;
    return read;
}

const RdapBootstrap& RdapBootstrap::builtIn() {
    static const RdapBootstrap table = parse(kBuiltInBootstrap).bootstrap;
    return table;
}

std::optional<std::string> RdapBootstrap::baseFor(std::string_view suffix) const {
    const auto found = m_bases.find(suffixKey(suffix));
    if (found == m_bases.end()) return std::nullopt;
    return found->second;
}

} // namespace yuming::service
