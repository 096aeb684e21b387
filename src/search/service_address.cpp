#include "search/service_address.h"

#include <QHostAddress>

namespace yuming {

QString ServiceAddress::authority() const {
    const bool v6 = host.contains(QLatin1Char(':'));
    const QString h = v6 ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return port == 80 ? h : h + QLatin1Char(':') + QString::number(port);
}

QString ServiceAddress::origin() const { return QStringLiteral("http://") + authority(); }

ServiceAddress ServiceAddress::fromBuild() {
    const QString host = QStringLiteral(YUMING_SERVICE_HOST);
    return ServiceAddress{host, static_cast<quint16>(YUMING_SERVICE_PORT), isLoopback(host)};
}

bool ServiceAddress::isLoopback(QStringView host) {
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0) return true;
    return QHostAddress(host.toString()).isLoopback();
}

std::optional<ServiceAddress> ServiceAddress::parse(QStringView text) {
    QStringView host = text;
    QStringView port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0) return std::nullopt;
        host = text.mid(1, close - 1);
        const QStringView rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':'))) return std::nullopt;
            port = rest.mid(1);
        }
    } else if (const qsizetype colon = text.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        if (text.indexOf(QLatin1Char(':')) != colon) return std::nullopt; // bare IPv6 needs brackets
        host = text.first(colon);
        port = text.mid(colon + 1);
    }
    if (host.isEmpty()) return std::nullopt;
    for (QChar c : host)
        if (c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('@')) return std::nullopt;
    ServiceAddress address{host.toString(), 80};
    if (!port.isNull()) {
        bool ok = false;
        const uint value = port.toUInt(&ok);
        if (!ok || value == 0 || value > 65535) return std::nullopt;
        address.port = static_cast<quint16>(value);
    }
    return address;
}

} // namespace yuming
