#include "controls/ole_color.h"

namespace OleColor {

namespace {

constexpr std::uint32_t LastSystemIndex = 30;

// The system colour indices that have a counterpart in a Qt palette; the rest fall back to the
// window colours so that a stored value never draws as an invalid colour.
QPalette::ColorRole RoleOf(std::uint32_t index) {
    switch (index) {
    case 5:
        return QPalette::Base; // window background
    case 8:
        return QPalette::Text; // window text
    case 9:
        return QPalette::HighlightedText; // caption text
    case 13:
        return QPalette::Highlight; // highlight
    case 14:
        return QPalette::HighlightedText; // highlight text
    case 15:
        return QPalette::Button; // button face
    case 16:
        return QPalette::Dark; // button shadow
    case 17:
        return QPalette::PlaceholderText; // grey text
    case 18:
        return QPalette::ButtonText; // button text
    case 20:
        return QPalette::Light; // button highlight
    case 21:
        return QPalette::Shadow; // dark shadow
    case 22:
        return QPalette::Midlight; // light
    case 23:
        return QPalette::ToolTipText; // tooltip text
    case 24:
        return QPalette::ToolTipBase; // tooltip background
    default:
        return index == 7 || index == 19 ? QPalette::WindowText : QPalette::Window;
    }
}

} // namespace

bool IsValid(std::uint32_t value) {
    if (value & SystemFlag) return (value & ~SystemFlag) <= LastSystemIndex;
    return (value & 0xFF000000u) == 0;
}

QColor ToQColor(std::uint32_t value, const QPalette& palette) {
    if (!IsValid(value)) return {};
    if (value & SystemFlag) return palette.color(QPalette::Active, RoleOf(value & ~SystemFlag));
    return QColor(int(value & 0xFF), int(value >> 8 & 0xFF), int(value >> 16 & 0xFF));
}

std::uint32_t FromQColor(const QColor& color) {
    const QColor rgb = color.toRgb();
    return Rgb(rgb.red(), rgb.green(), rgb.blue());
}

} // namespace OleColor
