// The "gui" steps of the scenario language: what each line means, and the lines that must be
// refused before a run starts.
#include "phonelab/GuiScript.h"
#include "phonelab/Script.h"

#include <gtest/gtest.h>

namespace {

GuiStep Parse(const std::string& line) {
    ScriptParser parser;
    Step step;
    bool empty = true;
    std::string error;
    EXPECT_TRUE(parser.ParseLine(line, 1, &step, &empty, &error)) << line << ": " << error;
    EXPECT_EQ(StepKind::Gui, step.kind) << line;
    return step.gui ? *step.gui : GuiStep{};
}

} // namespace

TEST(GuiScript, ControlRowsCarryTheWholeExpectation) {
    GuiStep s = Parse("gui control \"Recorder Box\" 1067 edit \"\" 131 40 20 12 disabled border "
                      "readonly right");
    EXPECT_EQ(GuiOp::Control, s.op);
    EXPECT_EQ("Recorder Box", s.title);
    EXPECT_EQ(std::vector<long>{1067}, s.ids);
    EXPECT_EQ(GuiKind::Edit, s.kind);
    EXPECT_EQ("", s.text);
    EXPECT_EQ(131, s.x);
    EXPECT_EQ(40, s.y);
    EXPECT_EQ(20, s.w);
    EXPECT_EQ(12, s.h);
    EXPECT_EQ(0, s.enabled);
    EXPECT_EQ((std::vector<std::string>{"border", "readonly", "right"}), s.styles);

    // No id: found by kind and text; enabled state not looked at unless named.
    s = Parse("gui control \"Information\" - static \"Mode\\nAuto :\" 11 50 104 18");
    EXPECT_TRUE(s.ids.empty());
    EXPECT_EQ("Mode\nAuto :", s.text);
    EXPECT_EQ(-1, s.enabled);

    s = Parse("gui dialog \"Select File Box\" font \"Arial\" 10 size 121 172 controls 3 sysmenu");
    EXPECT_EQ(GuiOp::Dialog, s.op);
    EXPECT_EQ("Arial", s.font);
    EXPECT_EQ(10, s.points);
    EXPECT_EQ(121, s.w);
    EXPECT_EQ(172, s.h);
    EXPECT_EQ(3, s.controls);
}

TEST(GuiScript, ActionsAndExpectations) {
    struct Case {
        const char* line;
        GuiOp op;
        unsigned key;
        unsigned ms;
    } cases[] = {
        {"gui click \"Recorder Box\" 6", GuiOp::Click, 0, 0},
        {"gui tray \"T\" right", GuiOp::Tray, 0x0204, 0},
        {"gui key \"T\" escape", GuiOp::Key, 0x1B, 0},
        {"gui menu key down", GuiOp::MenuKey, 0x28, 0},
        {"gui expect hidden \"T\" within 3s", GuiOp::ExpectHidden, 0, 3000},
        {"gui expect menu closed within 250ms", GuiOp::ExpectMenuClosed, 0, 250},
        {"gui screenshot menu tray.png", GuiOp::Screenshot, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        GuiStep s = Parse(c.line);
        EXPECT_EQ(c.op, s.op);
        EXPECT_EQ(c.key, s.key);
        EXPECT_EQ(c.ms, s.ms);
    }

    GuiStep s = Parse("gui expect disabled \"Recorder Box\" 6 5 4 within 1s");
    EXPECT_EQ((std::vector<long>{6, 5, 4}), s.ids);

    s = Parse("gui expect list \"S\" 1002 \"a.wav\" \"b c.wav\" selected none within 2s");
    EXPECT_EQ((std::vector<std::string>{"a.wav", "b c.wav"}), s.items);
    EXPECT_EQ(-1, s.selected);
    EXPECT_EQ(-2, Parse("gui expect list \"S\" 1002 within 2s").selected);
    EXPECT_TRUE(Parse("gui expect list \"S\" 1002 within 2s").items.empty());

    s = Parse("gui type \"Recorder Box\" 1066 \"my take\"");
    EXPECT_EQ("my take", s.text);
    EXPECT_EQ(GuiTarget::Screen, Parse("gui screenshot screen all.png").target);
    EXPECT_EQ(GuiTarget::Tray, Parse("gui screenshot tray icons.png").target);
}

TEST(GuiScript, MalformedLinesAreRefusedWithTheirReason) {
    struct Case {
        const char* line;
        const char* reason; // part of the message
    } cases[] = {
        {"gui", "expected dialog"},
        {"gui click Recorder 6", "in double quotes"},
        {"gui click \"R\" 70000", "-1 to 65535"},
        {"gui control \"R\" 5 button \"Play\" 1 2 3 4", "unknown control kind"},
        {"gui control \"R\" 5 push \"Play\" 1 2 -3 4", "must not be negative"},
        {"gui control \"R\" 5 push \"Play\" 1 2 3 4 shiny", "unknown style"},
        {"gui dialog \"R\" font \"Arial\" 10 size 1 2 controls 3 appwindow big", "unknown style"},
        {"gui expect enabled \"R\" within 1s", "expected a control id"},
        {"gui expect shown \"R\" within soon", "duration"},
        {"gui expect shown \"R\"", "within"},
        {"gui key \"R\" down", "escape or enter"},
        {"gui menu key tab", "expected down, up, enter or escape"},
        {"gui tray \"R\" middle", "left or right"},
        // Screenshots stay in the scratch folder.
        {"gui screenshot \"R\" ..\\evil.png", "plain file name"},
        {"gui screenshot \"R\" shot.bmp", "plain file name"},
        {"gui click \"R\" 6 now", "unexpected 'now'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ScriptParser parser;
        Step step;
        bool empty = false;
        std::string error;
        EXPECT_FALSE(parser.ParseLine(c.line, 1, &step, &empty, &error));
        EXPECT_NE(std::string::npos, error.find(c.reason)) << error;
    }
    // "gui" starts the GUI steps, so no instance may take the name.
    ScriptParser parser;
    Step step;
    bool empty = false;
    std::string error;
    EXPECT_FALSE(parser.ParseLine("start kestrel as gui", 1, &step, &empty, &error));
}
