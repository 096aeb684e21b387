#include "cli/watch_output.h"

#include <QStringList>

namespace yuming::cli::watch_output {
namespace {

using row_format::Format;

constexpr QLatin1StringView kKeys[] = {QLatin1StringView("name"),     QLatin1StringView("status"),
                                       QLatin1StringView("expiry"),   QLatin1StringView("deletion"),
                                       QLatin1StringView("basis"),    QLatin1StringView("secondsLeft"),
                                       QLatin1StringView("checkedAt")};

// A JSON value: the string, or null for an absent one; seconds left are a number.
QString jsonValue(int column, const QString& value) {
    if (value.isEmpty()) return QStringLiteral("null");
    return column == 5 ? value : row_format::jsonString(value);
}

} // namespace

QByteArray listHead(Format format) {
    if (format != Format::Csv) return {};
    return QByteArray("\xEF\xBB\xBF") +
           QStringLiteral("域名,状态,到期时间,删除时间,依据,剩余秒数,上次查询\r\n").toUtf8();
}

QByteArray listRow(Format format, const watch::WatchedName& n) {
    const QString values[] = {n.name,
                              n.status,
                              watch::isoUtc(n.expiry),
                              watch::isoUtc(n.deletion),
                              n.basis,
                              n.secondsLeft ? QString::number(*n.secondsLeft) : QString(),
                              watch::isoUtc(n.checkedAt)};
    QString out;
    for (int i = 0; i < 7; ++i) {
        switch (format) {
        case Format::Tsv:
            out += (i > 0 ? QStringLiteral("\t") : QString()) + values[i];
            break;
        case Format::Csv:
            out += (i > 0 ? QStringLiteral(",") : QString()) + row_format::csvField(values[i]);
            break;
        case Format::Json:
            out += (i > 0 ? QStringLiteral(",\"") : QStringLiteral("{\"")) + kKeys[i] +
                   QStringLiteral("\":") + jsonValue(i, values[i]);
            break;
        }
    }
    out += format == Format::Csv    ? QStringLiteral("\r\n")
           : format == Format::Json ? QStringLiteral("}\n")
                                    : QStringLiteral("\n");
    return out.toUtf8();
}

QByteArray checkLine(const watch::CheckedName& c) {
    const QString outcome = !c.error.isEmpty() ? QStringLiteral("error")
                            : c.changed        ? QStringLiteral("changed")
                                               : QStringLiteral("unchanged");
    return QStringList{c.name, outcome, c.from, c.to}.join(u'\t').toUtf8() + '\n';
}

QByteArray historyLine(const watch::StatusChange& change) {
    return QStringList{watch::isoUtc(change.at), change.from, change.to}.join(u'\t').toUtf8() + '\n';
}

} // namespace yuming::cli::watch_output
