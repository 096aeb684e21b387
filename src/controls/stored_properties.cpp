#include "controls/stored_properties.h"

#include "controls/box.h"
#include "controls/command.h"
#include "controls/property_bag.h"

namespace {

template <typename Control> bool Restore(Control& control, const QString& name, QString* error) {
    const auto bag = StoredProperties(name, error);
    if (!bag) return false;
    QString why;
    if (control.ReadProperties(*bag, &why)) return true;
    if (error) *error = QStringLiteral("%1: %2").arg(StoredPropertiesPath(name), why);
    return false;
}

} // namespace

bool RestoreControl(Command& control, const QString& name, QString* error) {
    return Restore(control, name, error);
}

bool RestoreControl(Box& control, const QString& name, QString* error) {
    return Restore(control, name, error);
}
