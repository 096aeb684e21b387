#include "controls/property_bag.h"

#include "controls/ole_color.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMetaType>
#include <QStringDecoder>

static void InitControlResourcesOnce() {
    Q_INIT_RESOURCE(resources);
}

void InitControlResources() {
    static const bool done = (InitControlResourcesOnce(), true);
    Q_UNUSED(done);
}

namespace {

constexpr char ImageWord[] = "image";
constexpr char ImageDataWord[] = "image-data";

bool IsNumber(const QVariant& value) {
    const int type = value.typeId();
    return type == QMetaType::LongLong || type == QMetaType::Int || type == QMetaType::UInt ||
           type == QMetaType::ULongLong;
}

QByteArray Quote(const QString& text) {
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out + '"';
}

// Reads one quoted text from the start of `text`; `rest` gets what follows it.
std::optional<QString> Unquote(QByteArrayView text, QByteArrayView* rest) {
    if (text.isEmpty() || text.front() != '"') return std::nullopt;
    QByteArray out;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            *rest = text.sliced(i + 1);
            QStringDecoder decoder(QStringDecoder::Utf8);
            QString decoded = decoder(out);
            if (decoder.hasError()) return std::nullopt;
            return decoded;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
        case '"':
            out += '"';
            break;
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        default:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

QByteArray EncodeValue(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? "true" : "false";
    case QMetaType::QString:
        return Quote(value.toString());
    case QMetaType::QImage: {
        const QImage image = value.value<QImage>();
        const QString source = image.text(PropertyBag::SourceKey);
        if (!source.isEmpty()) return QByteArray(ImageWord) + ' ' + Quote(source);
        QByteArray bmp;
        QBuffer buffer(&bmp);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "BMP");
        return QByteArray(ImageDataWord) + ' ' + Quote(QString::fromLatin1(bmp.toBase64()));
    }
    default:
        if (IsNumber(value)) return "0x" + QByteArray::number(value.toULongLong(), 16).rightJustified(8, '0');
        return {};
    }
}

std::optional<QVariant> DecodeValue(QByteArrayView text, QString* error) {
    if (text == "true") return QVariant(true);
    if (text == "false") return QVariant(false);
    QByteArrayView rest;
    if (text.startsWith('"')) {
        const auto value = Unquote(text, &rest);
        if (value && rest.trimmed().isEmpty()) return QVariant(*value);
        *error = QStringLiteral("badly quoted text or no UTF-8");
        return std::nullopt;
    }
    const bool isPath = text.startsWith(QByteArray(ImageWord) + ' ');
    const bool isData = text.startsWith(QByteArray(ImageDataWord) + ' ');
    if (isPath || isData) {
        const QByteArrayView quoted = text.sliced(text.indexOf(' ') + 1).trimmed();
        const auto value = Unquote(quoted, &rest);
        if (!value || !rest.trimmed().isEmpty()) {
            *error = QStringLiteral("badly quoted picture");
            return std::nullopt;
        }
        QImage image;
        if (isPath) {
            image = PropertyBag::LoadPicture(*value, error);
        } else {
            const QByteArray bytes = QByteArray::fromBase64(value->toLatin1());
            image.loadFromData(bytes, "BMP");
            if (image.isNull()) *error = QStringLiteral("the picture data is no BMP image");
        }
        if (image.isNull()) return std::nullopt;
        return QVariant(image);
    }
    bool ok = false;
    const QByteArray digits = text.toByteArray();
    const qulonglong number = digits.startsWith("0x") || digits.startsWith("0X")
                                  ? digits.mid(2).toULongLong(&ok, 16)
                                  : digits.toULongLong(&ok, 10);
    if (ok && number <= 0xFFFFFFFFull && !digits.startsWith('+')) return QVariant(qlonglong(number));
    *error = QStringLiteral("unknown value '%1'").arg(QString::fromUtf8(digits));
    return std::nullopt;
}

QString WrongType(const QString& name, const char* expected) {
    return QStringLiteral("property '%1' is not %2").arg(name, QLatin1String(expected));
}

} // namespace

QImage PropertyBag::LoadPicture(const QString& path, QString* error) {
    InitControlResources();
    QImageReader reader(path);
    QImage image = reader.read();
    if (image.isNull()) {
        if (error) *error = QStringLiteral("cannot load picture '%1': %2").arg(path, reader.errorString());
        return image;
    }
    image.setText(SourceKey, path);
    return image;
}

QVariant PropertyBag::ReadProperty(const QString& name, const QVariant& defaultValue) const {
    const QString key = name.toLower();
    for (const auto& [stored, value] : m_values)
        if (stored == key) return value;
    return defaultValue;
}

void PropertyBag::WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue) {
    const QString key = name.toLower();
    const auto it =
        std::find_if(m_values.begin(), m_values.end(), [&](const auto& pair) { return pair.first == key; });
    const bool isDefault = defaultValue.isValid() && value == defaultValue;
    if (isDefault) {
        if (it != m_values.end()) m_values.erase(it);
        return;
    }
    if (it != m_values.end()) {
        it->second = value;
        return;
    }
    m_values.emplace_back(key, value);
}

bool PropertyBag::Contains(const QString& name) const {
    const QString key = name.toLower();
    return std::any_of(m_values.begin(), m_values.end(), [&](const auto& pair) { return pair.first == key; });
}

QStringList PropertyBag::Keys() const {
    QStringList keys;
    for (const auto& pair : m_values)
        keys << pair.first;
    return keys;
}

std::optional<bool> PropertyBag::ReadBool(const QString& name, bool defaultValue, QString* error) const {
    const QVariant value = ReadProperty(name, defaultValue);
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    if (error) *error = WrongType(name, "true or false");
    return std::nullopt;
}

std::optional<QString> PropertyBag::ReadString(const QString& name, const QString& defaultValue,
                                               QString* error) const {
    const QVariant value = ReadProperty(name, defaultValue);
    if (value.typeId() == QMetaType::QString) return value.toString();
    if (error) *error = WrongType(name, "a text");
    return std::nullopt;
}

std::optional<std::uint32_t> PropertyBag::ReadColor(const QString& name, std::uint32_t defaultValue,
                                                    QString* error) const {
    const QVariant value = ReadProperty(name, qlonglong(defaultValue));
    const qulonglong number = value.toULongLong();
    if (IsNumber(value) && number <= 0xFFFFFFFFull && OleColor::IsValid(std::uint32_t(number)))
        return std::uint32_t(number);
    if (error) *error = WrongType(name, "a colour value");
    return std::nullopt;
}

std::optional<QImage> PropertyBag::ReadPicture(const QString& name, QString* error) const {
    const QVariant value = ReadProperty(name);
    if (!value.isValid()) return QImage();
    if (value.typeId() == QMetaType::QImage) return value.value<QImage>();
    if (error) *error = WrongType(name, "a picture");
    return std::nullopt;
}

QByteArray PropertyBag::ToText() const {
    QByteArray text;
    for (const auto& [key, value] : m_values)
        text += key.toUtf8() + " = " + EncodeValue(value) + '\n';
    return text;
}

std::optional<PropertyBag> PropertyBag::FromText(const QByteArray& text, QString* error) {
    PropertyBag bag;
    // Editors may put a byte-order mark in front; it must not become part of the first key.
    const QByteArray bom = "\xEF\xBB\xBF";
    const QList<QByteArray> lines = (text.startsWith(bom) ? text.mid(bom.size()) : text).split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const auto fail = [&](const QString& why) {
            if (error) *error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
            return std::nullopt;
        };
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0) return fail(QStringLiteral("expected 'key = value'"));
        const QString key = QString::fromUtf8(line.left(equals).trimmed());
        if (key.isEmpty() || key.contains(QLatin1Char(' '))) return fail(QStringLiteral("bad key"));
        if (bag.Contains(key)) return fail(QStringLiteral("key '%1' given twice").arg(key));
        QString why;
        const auto value = DecodeValue(QByteArrayView(line).sliced(equals + 1).trimmed(), &why);
        if (!value) return fail(why);
        bag.m_values.emplace_back(key.toLower(), *value);
    }
    return bag;
}

QString StoredPropertiesPath(const QString& controlName) {
    return QStringLiteral(":/props/%1.props").arg(controlName);
}

std::optional<PropertyBag> StoredProperties(const QString& controlName, QString* error) {
    InitControlResources();
    QFile file(StoredPropertiesPath(controlName));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("no stored properties for '%1'").arg(controlName);
        return std::nullopt;
    }
    QString why;
    auto bag = PropertyBag::FromText(file.readAll(), &why);
    if (!bag && error) *error = QStringLiteral("%1: %2").arg(file.fileName(), why);
    return bag;
}
