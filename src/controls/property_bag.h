#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

// Saved control properties by key. Keys are compared without regard to case and kept in
// lowercase, in the order they were first written.
//
// Values are QString, qlonglong (colours as 0x00BBGGRR or 0x800000nn, see ole_color.h), bool or
// QImage. Their text form, one property a line, UTF-8, blank lines and lines starting with '#'
// ignored:
//
//     caption = "开始查询"              text, with \" \\ \n \r \t escapes
//     forecolor = 0x00000000            number, decimal or 0x hexadecimal (at most 32 bits)
//     enabled = true                    true or false
//     picture = image ":/skins/x.bmp"   picture loaded from a file or Qt resource path
//     picture = image-data "Qk0..."     picture as base64 of its BMP bytes
//
// A picture that was loaded from a path is written back as that path.
class PropertyBag {
public:
    QVariant ReadProperty(const QString& name, const QVariant& defaultValue = {}) const;
    // A value equal to its default is not written (and an earlier value of that key goes).
    void WriteProperty(const QString& name, const QVariant& value, const QVariant& defaultValue = {});
    bool Contains(const QString& name) const;
    QStringList Keys() const;

    // Typed reads: the default when the key is absent, nothing (and *error set) when the stored
    // value has another type or, for colours, is no colour value.
    std::optional<bool> ReadBool(const QString& name, bool defaultValue, QString* error) const;
    std::optional<QString> ReadString(const QString& name, const QString& defaultValue, QString* error) const;
    std::optional<std::uint32_t> ReadColor(const QString& name, std::uint32_t defaultValue,
                                           QString* error) const;
    std::optional<QImage> ReadPicture(const QString& name, QString* error) const;

    QByteArray ToText() const;
    // Refuses the whole text on the first bad line; the error names the line.
    static std::optional<PropertyBag> FromText(const QByteArray& text, QString* error = nullptr);

    // The key under which a picture keeps the path it was loaded from.
    static constexpr const char* SourceKey = "yuming-source";
    static QImage LoadPicture(const QString& path, QString* error = nullptr);

private:
    std::vector<std::pair<QString, QVariant>> m_values;
};

// The stored properties of one of the window's controls ("Command1" .. "Command6", "Box1" ..
// "Box3"), compiled into the program as Qt resources.
std::optional<PropertyBag> StoredProperties(const QString& controlName, QString* error = nullptr);
QString StoredPropertiesPath(const QString& controlName);

// Makes sure the controls' resources are registered (needed when they come from a static library).
void InitControlResources();
