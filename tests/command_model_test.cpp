#include "controls/command_model.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr float W = 100;
constexpr float H = 27;
constexpr std::int16_t Left = CommandInput::LeftButton;
constexpr std::int16_t Right = CommandInput::RightButton;

const char* NameOf(CommandEvent event) {
    switch (event) {
    case CommandEvent::Click:
        return "Click";
    case CommandEvent::MouseDown:
        return "MouseDown";
    case CommandEvent::MouseMove:
        return "MouseMove";
    case CommandEvent::MouseUp:
        return "MouseUp";
    case CommandEvent::MouseIn:
        return "MouseIn";
    case CommandEvent::MouseOut:
        return "MouseOut";
    case CommandEvent::KeyDown:
        return "KeyDown";
    case CommandEvent::KeyPress:
        return "KeyPress";
    case CommandEvent::KeyUp:
        return "KeyUp";
    }
    return "?";
}

// "draw3" for a redraw with code 3, the event name for a raised event, "capture" for a capture.
std::string Trace(const CommandSteps& steps) {
    std::string out;
    for (const CommandStep& step : steps) {
        if (!out.empty()) out += ' ';
        switch (step.kind) {
        case CommandStep::Kind::Redraw:
            out += "draw" + std::to_string(step.code);
            break;
        case CommandStep::Kind::Raise:
            out += NameOf(step.event);
            break;
        case CommandStep::Kind::Capture:
            out += "capture";
            break;
        }
    }
    return out;
}

using Input = std::function<CommandSteps(CommandModel&)>;

Input Press(float x, float y, std::int16_t button = Left) {
    return [=](CommandModel& m) { return m.Press(button, 0, x, y); };
}
Input Move(float x, float y) {
    return [=](CommandModel& m) { return m.Move(0, 0, x, y, W, H); };
}
Input Release(float x, float y, std::int16_t button = Left) {
    return [=](CommandModel& m) { return m.Release(button, 0, x, y, W, H); };
}
Input Tick(bool over) {
    return [=](CommandModel& m) { return m.Tick(over); };
}
Input KeyDown(int key) {
    return [=](CommandModel& m) { return m.KeyDown(key, 0); };
}
Input KeyUp(int key) {
    return [=](CommandModel& m) { return m.KeyUp(key, 0); };
}
Input DoubleClick() {
    return [](CommandModel& m) { return m.DoubleClick(); };
}
Input Status(bool on) {
    return [=](CommandModel& m) {
        m.Status = on;
        return CommandSteps{};
    };
}

struct TransitionCase {
    const char* name;
    std::vector<Input> inputs;
    std::vector<std::string> traces; // one per input
    bool isDown;
    bool isOver;
};

class CommandTransitions : public testing::TestWithParam<TransitionCase> {};

TEST_P(CommandTransitions, RaisesAndDrawsInOrder) {
    const TransitionCase& c = GetParam();
    ASSERT_EQ(c.inputs.size(), c.traces.size());
    CommandModel model;
    for (size_t i = 0; i < c.inputs.size(); ++i)
        EXPECT_EQ(Trace(c.inputs[i](model)), c.traces[i]) << "input " << i;
    EXPECT_EQ(model.IsDown, c.isDown);
    EXPECT_EQ(model.IsOver, c.isOver);
    EXPECT_EQ(model.OverTimer, model.IsOver);
}

const TransitionCase Transitions[] = {
    {"LeftClick", {Press(5, 5), Release(5, 5)}, {"draw3 MouseDown", "draw1 Click MouseUp"}, false, false},
    {"RightButtonHasNoPressedLookAndNoClick",
     {Press(5, 5, Right), Release(5, 5, Right)},
     {"MouseDown", "MouseUp"},
     false,
     false},
    {"ReleaseAtTheWidthIsOutside",
     {Press(5, 5), Release(W, 5)},
     {"draw3 MouseDown", "draw1 MouseUp"},
     false,
     false},
    {"ReleaseAboveIsOutside",
     {Press(5, 5), Release(5, -0.5f)},
     {"draw3 MouseDown", "draw1 MouseUp"},
     false,
     false},
    {"SpaceHeldWithRepeatClicksOnce",
     {KeyDown(32), KeyDown(32), KeyDown(32), KeyUp(32)},
     {"draw3 Click KeyDown", "KeyDown", "KeyDown", "draw1 KeyUp"},
     false,
     false},
    {"EnterClicksWithoutPressedLook",
     {KeyDown(13), KeyDown(13), KeyUp(13)},
     {"Click KeyDown", "KeyDown", "KeyUp"},
     false,
     false},
    {"SpaceWhileAnotherKeyIsHeldDoesNotClick",
     {KeyDown(65), KeyDown(32)},
     {"KeyDown", "KeyDown"},
     false,
     false},
    {"PressLeaveReleaseOutside",
     {Move(5, 5), Press(5, 5), Move(150, 5), Tick(false), Tick(false), Release(150, 5)},
     {"MouseIn draw2 MouseMove", "draw3 MouseDown", "MouseMove", "MouseOut draw3 draw1", "", "draw1 MouseUp"},
     false,
     false},
    {"ComingBackWhileHeldShowsPressedAgain",
     {Press(5, 5), Move(5, 5), Tick(false), Move(6, 6), Release(6, 6)},
     {"draw3 MouseDown", "MouseIn draw3 MouseMove", "MouseOut draw3 draw1", "MouseIn draw3 MouseMove",
      "draw2 Click MouseUp"},
     false,
     true},
    {"MouseInOncePerHover",
     {Move(1, 1), Move(2, 2), Tick(true), Move(3, 3), Tick(false), Move(4, 4)},
     {"MouseIn draw2 MouseMove", "MouseMove", "", "MouseMove", "MouseOut draw1", "MouseIn draw2 MouseMove"},
     false,
     true},
    {"MoveOutsideDoesNotStartHover", {Move(-1, 5), Move(5, H)}, {"MouseMove", "MouseMove"}, false, false},
    {"DoubleClickReplaysThePress",
     {Press(5, 6), Release(5, 6), DoubleClick(), Release(7, 8)},
     {"draw3 MouseDown", "draw1 Click MouseUp", "capture draw3 MouseDown", "draw1 Click MouseUp"},
     false,
     false},
    {"StatusOnFourFrameStrip",
     {Status(true), Move(5, 5), Press(5, 5), Tick(false), Release(150, 5)},
     {"", "MouseIn draw2 MouseMove", "draw5 MouseDown", "MouseOut draw5 draw0", "draw0 MouseUp"},
     false,
     false},
};

INSTANTIATE_TEST_SUITE_P(Edges, CommandTransitions, testing::ValuesIn(Transitions),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CommandModel, DoubleClickRaisesTheFirstPressValues) {
    CommandModel model;
    model.Press(Left, CommandInput::ShiftMask, 5, 6);
    model.Release(Left, 0, 5, 6, W, H);
    const CommandSteps steps = model.DoubleClick();
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[2].Button, Left);
    EXPECT_EQ(steps[2].Shift, CommandInput::ShiftMask);
    EXPECT_EQ(steps[2].X, 5);
    EXPECT_EQ(steps[2].Y, 6);
}

TEST(CommandModel, MouseOutCarriesTheShiftOfTheLastPress) {
    CommandModel model;
    model.Move(0, 0, 5, 5, W, H);
    model.Press(Left, CommandInput::CtrlMask, 5, 5);
    const CommandSteps steps = model.Tick(false);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps[0].event, CommandEvent::MouseOut);
    EXPECT_EQ(steps[0].Shift, CommandInput::CtrlMask);
}

TEST(CommandModel, FocusExitLetsGoOfAHeldButton) {
    CommandModel model;
    model.KeyDown(32, 0);
    EXPECT_EQ(Trace(model.FocusExit()), "draw1");
    EXPECT_FALSE(model.IsDown);
    EXPECT_EQ(Trace(model.FocusEnter()), "draw1");
}

TEST(CommandModel, AccessKeyClicksOnlyForEnterOrEscapeWhileEnabled) {
    CommandModel model;
    EXPECT_EQ(Trace(model.AccessKey(13, true)), "Click");
    EXPECT_EQ(Trace(model.AccessKey(27, true)), "Click");
    EXPECT_EQ(Trace(model.AccessKey(32, true)), "");
    EXPECT_EQ(Trace(model.AccessKey(13, false)), "");
}

} // namespace
