#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <string>
#include <vector>

namespace yuming::testing {

struct ZipMember {
    std::string path;
    QByteArray bytes;
    bool folder = false;
};

// A zip archive as publishers' tools write them, made with libarchive's writer: deflated, or stored
// when `store`. Its path in `dir`.
QString writeZip(const QTemporaryDir& dir, const QString& name, const std::vector<ZipMember>& members,
                 bool store = false);

} // namespace yuming::testing
