#include "search/row_format.h"

namespace yuming::row_format {

namespace {

const QStringView kCsvHeader = u"域名,长度,后缀,删除时间";

} // namespace

QString csvField(QStringView value) {
    if (!value.contains(u',') && !value.contains(u'"') && !value.contains(u'\n') && !value.contains(u'\r'))
        return value.toString();
    QString quoted = value.toString();
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString jsonString(QStringView value) {
    QString out = QStringLiteral("\"");
    for (QChar c : value) {
        switch (c.unicode()) {
        case '"':
            out += QStringLiteral("\\\"");
            break;
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    return out + u'"';
}

QByteArray head(Format format) {
    if (format != Format::Csv) return {};
    return "\xEF\xBB\xBF" + kCsvHeader.toUtf8() + "\r\n";
}

QByteArray row(Format format, const ResultRow& r) {
    const QStringView values[] = {r.domain(), r.length(), r.suffix(), r.deletionTime()};
    QString out;
    switch (format) {
    case Format::Tsv:
        for (int i = 0; i < 4; ++i) {
            if (i > 0) out += u'\t';
            out += values[i];
        }
        out += u'\n';
        break;
    case Format::Csv:
        for (int i = 0; i < 4; ++i) {
            if (i > 0) out += u',';
            out += csvField(values[i]);
        }
        out += QStringLiteral("\r\n");
        break;
    case Format::Json: {
        static const char* const names[] = {"domain", "length", "suffix", "deletion"};
        out += u'{';
        for (int i = 0; i < 4; ++i) {
            if (i > 0) out += u',';
            out += u'"' + QLatin1String(names[i]) + QStringLiteral("\":") + jsonString(values[i]);
        }
        out += QStringLiteral("}\n");
        break;
    }
    }
    return out.toUtf8();
}

QByteArray rows(Format format, const QList<ResultRow>& list) {
    QByteArray out;
    for (const ResultRow& r : list)
        out += row(format, r);
    return out;
}

} // namespace yuming::row_format
