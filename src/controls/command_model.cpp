#include "controls/command_model.h"

namespace {

CommandStep Raise(CommandEvent event, std::int16_t Button = 0, std::int16_t Shift = 0, float X = 0,
                  float Y = 0) {
    CommandStep step;
    step.kind = CommandStep::Kind::Raise;
    step.event = event;
    step.Button = Button;
    step.Shift = Shift;
    step.X = X;
    step.Y = Y;
    return step;
}

CommandStep RaiseKey(CommandEvent event, int key, std::int16_t Shift = 0) {
    CommandStep step = Raise(event, 0, Shift);
    step.Key = key;
    return step;
}

} // namespace

int CommandModel::DrawCode() const {
    if (IsDown) return Status ? 5 : 3;
    if (IsOver) return Check && Status ? 4 : 2;
    return Status ? 0 : 1;
}

bool CommandModel::Inside(float X, float Y, float width, float height) {
    return X >= 0 && X < width && Y >= 0 && Y < height;
}

CommandStep CommandModel::Redraw() const {
    CommandStep step;
    step.code = DrawCode();
    return step;
}

CommandSteps CommandModel::Press(std::int16_t Button, std::int16_t Shift, float X, float Y) {
    LastButton = Button;
    LastShift = Shift;
    LastX = X;
    LastY = Y;
    CommandSteps steps;
    if (Button != CommandInput::RightButton) {
        IsDown = true;
        steps.push_back(Redraw());
    }
    steps.push_back(Raise(CommandEvent::MouseDown, Button, Shift, X, Y));
    return steps;
}

CommandSteps CommandModel::Move(std::int16_t Button, std::int16_t Shift, float X, float Y, float width,
                                float height) {
    CommandSteps steps;
    if (Inside(X, Y, width, height) && !IsOver) {
        OverTimer = true;
        IsOver = true;
        steps.push_back(Raise(CommandEvent::MouseIn, 0, Shift));
        steps.push_back(Redraw());
    }
    steps.push_back(Raise(CommandEvent::MouseMove, Button, Shift, X, Y));
    return steps;
}

CommandSteps CommandModel::Release(std::int16_t Button, std::int16_t Shift, float X, float Y, float width,
                                   float height) {
    IsDown = false;
    CommandSteps steps;
    if (Button != CommandInput::RightButton) {
        steps.push_back(Redraw());
        if (Inside(X, Y, width, height)) steps.push_back(Raise(CommandEvent::Click));
    }
    steps.push_back(Raise(CommandEvent::MouseUp, Button, Shift, X, Y));
    return steps;
}

CommandSteps CommandModel::DoubleClick() {
    CommandStep capture;
    capture.kind = CommandStep::Kind::Capture;
    CommandSteps steps{capture};
    const CommandSteps press = Press(LastButton, LastShift, LastX, LastY);
    steps.insert(steps.end(), press.begin(), press.end());
    return steps;
}

CommandSteps CommandModel::Tick(bool pointerOverMe) {
    if (pointerOverMe || !OverTimer) return {};
    OverTimer = false;
    IsOver = false;
    CommandSteps steps{Raise(CommandEvent::MouseOut, 0, LastShift), Redraw()};
    if (IsDown) {
        // Shows the idle look while the pointer is away, but the button stays held: coming back
        // shows the pressed look again and the release still decides about the click.
        IsDown = false;
        steps.push_back(Redraw());
        IsDown = true;
    }
    return steps;
}

CommandSteps CommandModel::KeyDown(int KeyCode, std::int16_t Shift) {
    CommandSteps steps;
    if (!KeyHeld) {
        if (KeyCode == CommandInput::KeyEnter) {
            steps.push_back(Raise(CommandEvent::Click));
        } else if (KeyCode == CommandInput::KeySpace) {
            IsDown = true;
            steps.push_back(Redraw());
            steps.push_back(Raise(CommandEvent::Click));
        }
    }
    KeyHeld = true;
    steps.push_back(RaiseKey(CommandEvent::KeyDown, KeyCode, Shift));
    return steps;
}

CommandSteps CommandModel::KeyPress(int KeyAscii) {
    return {RaiseKey(CommandEvent::KeyPress, KeyAscii)};
}

CommandSteps CommandModel::KeyUp(int KeyCode, std::int16_t Shift) {
    CommandSteps steps;
    if (KeyCode == CommandInput::KeySpace) {
        IsDown = false;
        steps.push_back(Redraw());
    }
    KeyHeld = false;
    steps.push_back(RaiseKey(CommandEvent::KeyUp, KeyCode, Shift));
    return steps;
}

CommandSteps CommandModel::AccessKey(int KeyAscii, bool enabled) {
    if (!enabled) return {};
    if (KeyAscii != CommandInput::KeyEscape && KeyAscii != CommandInput::KeyEnter) return {};
    return {Raise(CommandEvent::Click)};
}

CommandSteps CommandModel::FocusEnter() {
    return {Redraw()};
}

CommandSteps CommandModel::FocusExit() {
    IsDown = false;
    return {Redraw()};
}

CommandSteps CommandModel::AmbientChanged() {
    return {Redraw()};
}

int FrameForCode(int code, int frames) {
    switch (code) {
    case 1:
        return 0;
    case 2:
        return 1;
    case 3:
        return 2;
    case 0:
        return 3;
    case 4:
        return frames == 6 ? 4 : -1;
    case 5:
        return frames == 6 ? 5 : -1;
    default:
        return -1;
    }
}
