#pragma once

#include "controls/command_model.h"

#include <Qt>

// Mouse buttons and shift keys as the controls' events carry them: 1 left, 2 right, 4 middle;
// 1 Shift, 2 Ctrl, 4 Alt.
inline short ButtonBits(Qt::MouseButtons buttons) {
    short bits = 0;
    if (buttons & Qt::LeftButton) bits |= CommandInput::LeftButton;
    if (buttons & Qt::RightButton) bits |= CommandInput::RightButton;
    if (buttons & Qt::MiddleButton) bits |= CommandInput::MiddleButton;
    return bits;
}

inline short ShiftBits(Qt::KeyboardModifiers modifiers) {
    short bits = 0;
    if (modifiers & Qt::ShiftModifier) bits |= CommandInput::ShiftMask;
    if (modifiers & Qt::ControlModifier) bits |= CommandInput::CtrlMask;
    if (modifiers & Qt::AltModifier) bits |= CommandInput::AltMask;
    return bits;
}
