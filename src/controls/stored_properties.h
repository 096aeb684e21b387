#pragma once

#include <QString>

class Box;
class Command;

// Restores one of the window's controls from its stored properties (compiled-in resources named
// after the control, e.g. "Command1" or "Box2"). On failure the control is left as it was and
// *error says why.
bool RestoreControl(Command& control, const QString& name, QString* error = nullptr);
bool RestoreControl(Box& control, const QString& name, QString* error = nullptr);
