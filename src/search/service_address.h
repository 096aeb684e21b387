#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace yuming {

// Where the search service listens. Port 80 is the service's own; any other port is carried in
// the Host and Referer lines as host:port, the way a browser would.
struct ServiceAddress {
    QString host;
    quint16 port = 80;
    // This user's own yuming-service, found or started when a request needs it; host and port
    // then only say what the build was configured with.
    bool userService = false;

    // The Host header value: the bare host on port 80, host:port otherwise.
    QString authority() const;
    // "http://" + authority().
    QString origin() const;

    // The build's default: on loopback that is this user's own service, anywhere else the
    // configured host and port.
    static ServiceAddress fromBuild();
    static bool isLoopback(QStringView host);
    // Parses "HOST", "HOST:PORT" or "[V6]:PORT"; nullopt on an empty host or a bad port.
    static std::optional<ServiceAddress> parse(QStringView text);
};

} // namespace yuming
