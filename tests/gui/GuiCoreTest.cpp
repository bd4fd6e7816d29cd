#include "gui/GuiCore.h"

#include <gtest/gtest.h>

using namespace VmGui;

TEST(GuiColors, Accept_SevenCharacterHexColoursAsColorref)
{
    EXPECT_EQ(0x996600u, ParseColor(L"#006699"));
    EXPECT_EQ(0xB38C40u, ParseColor(L"#408cb3"));
    EXPECT_EQ(0xECE2CFu, ParseColor(L"#CFE2EC"));
}

TEST(GuiColors, Reject_AnythingElseGivesTheDefault)
{
    for (const wchar_t* value : {L"", L"#", L"006699", L"#0066990", L"#06699", L"x006699", L"#00669G",
                                 L"# 06699", L"#-06699", L"#0x6699"})
        EXPECT_EQ(kDefaultColor, ParseColor(value)) << value;
}

TEST(GuiColors, CloseImageFollowsTheBrightnessOfTheCaptionText)
{
    // 104 is dark, 105 light: (299 + 587 + 114) * v / 1000 = v for a grey.
    EXPECT_EQ(0, CloseImageIndex(0x686868)); // 104
    EXPECT_EQ(1, CloseImageIndex(0x696969)); // 105
    // Green weighs most, blue least: pure green is light, pure blue dark.
    EXPECT_EQ(1, CloseImageIndex(ParseColor(L"#00FF00")));
    EXPECT_EQ(0, CloseImageIndex(ParseColor(L"#0000FF")));
    EXPECT_EQ(76u, PerceivedBrightness(ParseColor(L"#FF0000")));
}

TEST(GuiProgress, SharesOfTheStagesInBothModes)
{
    const struct {
        uint32_t stage, percent;
        bool slow;
        int value;
    } cases[] = {{0, 0, false, 0},  {0, 50, false, 25}, {0, 100, false, 50}, {1, 70, false, 50},
                 {2, 50, false, 50}, {3, 33, false, 66}, {3, 100, false, 100},
                 {0, 50, true, 15},  {1, 99, true, 30},  {2, 50, true, 50},   {2, 100, true, 70},
                 {3, 50, true, 85},  {3, 100, true, 100},
                 // An overshoot stops at the end of the bar; unknown stages are 0.
                 {3, 255, false, 100}, {0, 0xFFFFFFFFu, false, 50}, {5, 50, false, 0}, {0xFFFFFFFFu, 50, true, 0}};
    for (const auto& c : cases) {
        const OverallProgress p = ComputeOverallProgress(c.stage, c.percent, c.slow);
        EXPECT_FALSE(p.marquee);
        EXPECT_EQ(c.value, p.value) << c.stage << "/" << c.percent << (c.slow ? " slow" : "");
    }
    EXPECT_TRUE(ComputeOverallProgress(4, 0, true).marquee);
}

TEST(GuiTitle, OperatorNameReplacesEveryPlaceholder)
{
    EXPECT_EQ(L"Acme - Acme", BuildTitle(L"%OPERATORNAME% - %OPERATORNAME%", L"Acme"));
    EXPECT_EQ(L"##OperatorName## setup", BuildTitle(L"%OPERATORNAME% setup", L""));
    // The inserted name is not scanned again.
    EXPECT_EQ(L"%OPERATORNAME%x setup", BuildTitle(L"%OPERATORNAME% setup", L"%OPERATORNAME%x"));
    EXPECT_EQ(L"#TitleLoc", BuildTitle(L"#TitleLoc", L"Acme"));
}
