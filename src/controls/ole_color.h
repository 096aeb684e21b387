#pragma once

#include <QColor>
#include <QPalette>
#include <QString>

#include <cstdint>
#include <optional>

// Colours are kept the way the stored controls hold them: a 32-bit value 0x00BBGGRR (red in the
// low byte), or 0x800000nn for system colour nn, which follows the widget's palette.
namespace OleColor {

inline constexpr std::uint32_t SystemFlag = 0x80000000u;
inline constexpr std::uint32_t ButtonText = SystemFlag | 18u;
inline constexpr std::uint32_t White = 0x00FFFFFFu;

constexpr std::uint32_t Rgb(int red, int green, int blue) {
    return std::uint32_t(red & 0xFF) | std::uint32_t(green & 0xFF) << 8 | std::uint32_t(blue & 0xFF) << 16;
}

// True for 0x00BBGGRR values and for the system colours this program knows (0 to 30).
bool IsValid(std::uint32_t value);

// A system colour is taken from the palette; an invalid value gives an invalid QColor.
QColor ToQColor(std::uint32_t value, const QPalette& palette = QPalette());
std::uint32_t FromQColor(const QColor& color);

} // namespace OleColor
