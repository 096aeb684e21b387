#pragma once

#include <cstdint>
#include <vector>

// The skinned button's state machine without any widget: it turns input into flag changes, the
// events to raise and the redraws to make, in the order they must happen. The widget feeds it
// and carries out what comes back.

enum class CommandEvent { Click, MouseDown, MouseMove, MouseUp, MouseIn, MouseOut, KeyDown, KeyPress, KeyUp };

// Mouse button and shift-key bits as the button's events carry them.
namespace CommandInput {
inline constexpr std::int16_t LeftButton = 1;
inline constexpr std::int16_t RightButton = 2;
inline constexpr std::int16_t MiddleButton = 4;
inline constexpr std::int16_t ShiftMask = 1;
inline constexpr std::int16_t CtrlMask = 2;
inline constexpr std::int16_t AltMask = 4;
inline constexpr int KeyEnter = 13;
inline constexpr int KeyEscape = 27;
inline constexpr int KeySpace = 32;
} // namespace CommandInput

// One thing the widget must do, in order.
struct CommandStep {
    enum class Kind {
        Redraw,  // draw `code`, the look at this moment
        Raise,   // raise `event` with the arguments below
        Capture, // route all mouse input to the button until the next release
    };
    Kind kind = Kind::Redraw;
    int code = 0;
    CommandEvent event = CommandEvent::Click;
    std::int16_t Button = 0;
    std::int16_t Shift = 0;
    float X = 0;
    float Y = 0;
    int Key = 0; // KeyCode of KeyDown/KeyUp, KeyAscii of KeyPress

    bool operator==(const CommandStep&) const = default;
};

using CommandSteps = std::vector<CommandStep>;

class CommandModel {
public:
    // Flags (all false at creation) and the last press.
    bool IsDown = false;
    bool IsOver = false;
    bool KeyHeld = false;
    std::int16_t LastButton = 0;
    std::int16_t LastShift = 0;
    float LastX = 0;
    float LastY = 0;
    bool Status = false;
    bool Check = false;
    // The hover timer runs exactly while this is true.
    bool OverTimer = false;

    // The look for the current flags: 0 on, 1 normal, 2 hover, 3 pressed, 4 hover on, 5 pressed on.
    int DrawCode() const;

    // Positions are in the button's own units; width and height are its inner size.
    CommandSteps Press(std::int16_t Button, std::int16_t Shift, float X, float Y);
    CommandSteps Move(std::int16_t Button, std::int16_t Shift, float X, float Y, float width, float height);
    CommandSteps Release(std::int16_t Button, std::int16_t Shift, float X, float Y, float width,
                         float height);
    CommandSteps DoubleClick();
    // One hover timer tick; pointerOverMe tells whether the window under the pointer is this button.
    CommandSteps Tick(bool pointerOverMe);
    CommandSteps KeyDown(int KeyCode, std::int16_t Shift);
    CommandSteps KeyPress(int KeyAscii);
    CommandSteps KeyUp(int KeyCode, std::int16_t Shift);
    CommandSteps AccessKey(int KeyAscii, bool enabled);
    CommandSteps FocusEnter();
    CommandSteps FocusExit();
    CommandSteps AmbientChanged();

private:
    static bool Inside(float X, float Y, float width, float height);
    CommandStep Redraw() const;
};

// The frame a draw code shows on a strip of `frames` (4 or 6) frames, or -1 for none.
int FrameForCode(int code, int frames);
