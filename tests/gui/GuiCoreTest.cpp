#include "gui/GuiCore.h"

#include <gtest/gtest.h>

using namespace VmGui;

TEST(GuiColors, Accept_SevenCharacterHexColoursAsColorref)
{
    EXPECT_EQ(0x996600u, ParseColor(L"#006699"));
    EXPECT_EQ(0xB38C40u, ParseColor(L"#408cb3"));
    EXPECT_EQ(0xFFFFFFu, ParseColor(L"#FFFFFF"));
    EXPECT_EQ(0x000000u, ParseColor(L"#000000"));
    EXPECT_EQ(0xECE2CFu, ParseColor(L"#cfe2ec"));
}

TEST(GuiColors, Reject_AnythingElseGivesTheDefault)
{
    for (const wchar_t* value : {L"", L"#", L"006699", L"#0066990", L"#06699", L"x006699", L"#00669G",
                                 L"# 06699", L"#-06699", L"#0x6699"})
        EXPECT_EQ(kDefaultColor, ParseColor(value)) << value;
    EXPECT_EQ(0xC356CBu, kDefaultColor);
}

TEST(GuiColors, CloseImageFollowsTheBrightnessOfTheCaptionText)
{
    EXPECT_EQ(1, CloseImageIndex(ParseColor(L"#FFFFFF")));
    EXPECT_EQ(0, CloseImageIndex(ParseColor(L"#000000")));
    // 104 is dark, 105 light: (299 + 587 + 114) * v / 1000 = v for a grey.
    EXPECT_EQ(0, CloseImageIndex(0x686868)); // 104
    EXPECT_EQ(1, CloseImageIndex(0x696969)); // 105
    // Green weighs most, blue least: pure green is light, pure blue dark.
    EXPECT_EQ(1, CloseImageIndex(ParseColor(L"#00FF00")));
    EXPECT_EQ(0, CloseImageIndex(ParseColor(L"#0000FF")));
    EXPECT_EQ(76u, PerceivedBrightness(ParseColor(L"#FF0000")));
}

TEST(GuiProgress, NormalModeShares)
{
    const struct {
        uint32_t stage, percent;
        int value;
    } cases[] = {{0, 0, 0}, {0, 50, 25}, {0, 100, 50}, {1, 70, 50}, {2, 50, 50},
                 {3, 0, 50}, {3, 33, 66}, {3, 100, 100}};
    for (const auto& c : cases) {
        const OverallProgress p = ComputeOverallProgress(c.stage, c.percent, false);
        EXPECT_FALSE(p.marquee);
        EXPECT_EQ(c.value, p.value) << c.stage << "/" << c.percent;
    }
}

TEST(GuiProgress, SlowModeShares)
{
    const struct {
        uint32_t stage, percent;
        int value;
    } cases[] = {{0, 50, 15}, {1, 99, 30}, {2, 50, 50}, {2, 100, 70}, {3, 50, 85}, {3, 100, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(c.value, ComputeOverallProgress(c.stage, c.percent, true).value) << c.stage << "/" << c.percent;
}

TEST(GuiProgress, LaunchingIsAMarqueeAndUnknownStagesAreZero)
{
    EXPECT_TRUE(ComputeOverallProgress(4, 10, false).marquee);
    EXPECT_TRUE(ComputeOverallProgress(4, 0, true).marquee);
    for (uint32_t stage : {5u, 255u, 0xFFFFFFFFu}) {
        const OverallProgress p = ComputeOverallProgress(stage, 50, false);
        EXPECT_FALSE(p.marquee);
        EXPECT_EQ(0, p.value);
    }
}

TEST(GuiProgress, OvershootStopsAtTheEndOfTheBar)
{
    EXPECT_EQ(100, ComputeOverallProgress(3, 255, false).value);
    EXPECT_EQ(50, ComputeOverallProgress(0, 0xFFFFFFFFu, false).value);
}

TEST(GuiProgress, PackingKeepsTheLowBytes)
{
    EXPECT_EQ(50u * 256 + 3, PackProgress(3, 50));
    uint32_t stage = 0, percent = 0;
    UnpackProgress(PackProgress(0x104, 0x1FF), stage, percent);
    EXPECT_EQ(4u, stage);
    EXPECT_EQ(255u, percent);
    EXPECT_LE(PackProgress(0xFFFFFFFF, 0xFFFFFFFF), 0xFFFFu); // fits a command's notification code
}

TEST(GuiProgress, TextsByModeAndSkip)
{
    EXPECT_EQ(L"Progress", ProgressTextKey(0, false));
    EXPECT_EQ(L"ProgressSlow", ProgressTextKey(ProgressFlagSlow, false));
    EXPECT_EQ(L"ProgressScan", ProgressTextKey(ProgressFlagScan | ProgressFlagSlow, false));
    EXPECT_EQ(L"ProgressSlow", ProgressTextKey(ProgressFlagScan | ProgressFlagSlow, true));
    EXPECT_EQ(L"Progress", ProgressTextKey(ProgressFlagScan, true));
    EXPECT_TRUE(ProgressOffersSkip(ProgressFlagScan, false));
    EXPECT_FALSE(ProgressOffersSkip(ProgressFlagScan, true));
    EXPECT_FALSE(ProgressOffersSkip(ProgressFlagSlow | 2, false));
    EXPECT_EQ(L"Uninstalling", StageLabelKey(2));
    EXPECT_EQ(L"", StageLabelKey(5));
}

TEST(GuiTitle, OperatorNameReplacesEveryPlaceholder)
{
    EXPECT_EQ(L"Acme setup", BuildTitle(L"%OPERATORNAME% setup", L"Acme"));
    EXPECT_EQ(L"Acme - Acme", BuildTitle(L"%OPERATORNAME% - %OPERATORNAME%", L"Acme"));
    EXPECT_EQ(L"##OperatorName## setup", BuildTitle(L"%OPERATORNAME% setup", L""));
    // The inserted name is not scanned again.
    EXPECT_EQ(L"%OPERATORNAME%x setup", BuildTitle(L"%OPERATORNAME% setup", L"%OPERATORNAME%x"));
    EXPECT_EQ(L"#TitleLoc", BuildTitle(L"#TitleLoc", L"Acme"));
}

TEST(GuiTitle, ReplaceAllEdgeCases)
{
    EXPECT_EQ(L"abc", ReplaceAll(L"abc", L"", L"x"));
    EXPECT_EQ(L"aaaa", ReplaceAll(L"aa", L"a", L"aa"));
    EXPECT_EQ(L"", ReplaceAll(L"%P%%P%", L"%P%", L""));
    EXPECT_EQ(L"Uninstall Tolvi...", ReplaceAll(L"Uninstall %PRODUCT%...", L"%PRODUCT%", L"Tolvi"));
}

TEST(GuiMessages, KindsAndLayouts)
{
    EXPECT_EQ(0, MessageKindForType(4));
    EXPECT_EQ(4, MessageKindForType(8));
    EXPECT_EQ(0, MessageKindForType(9));
    EXPECT_EQ(0, MessageKindForType(-1));

    const MessageLayout close = MessageLayoutForKind(0);
    EXPECT_EQ(nullptr, close.button1Key);
    EXPECT_STREQ(L"Close", close.button2Key);
    EXPECT_FALSE(close.showMoreInfoLink);
    EXPECT_EQ(3, close.headerStyle);
    EXPECT_TRUE(MessageLayoutForKind(1).showMoreInfoLink);
    EXPECT_EQ(nullptr, MessageLayoutForKind(1).button1Key);
    EXPECT_STREQ(L"Retry", MessageLayoutForKind(2).button1Key);
    EXPECT_STREQ(L"Cancel", MessageLayoutForKind(2).button2Key);
    EXPECT_STREQ(L"Reboot", MessageLayoutForKind(3).button1Key);
    EXPECT_EQ(1, MessageLayoutForKind(3).headerStyle);
    EXPECT_TRUE(MessageLayoutForKind(4).shieldOnButton1);
    EXPECT_FALSE(MessageLayoutForKind(2).shieldOnButton1);
}

TEST(GuiLinks, TemplateSplitsAtTheFirstMarker)
{
    LinkPieces alone = SplitLinkTemplate(L"*", L"See how", L"*");
    EXPECT_EQ(L"", alone.before);
    EXPECT_EQ(L"See how", alone.link);
    EXPECT_EQ(L"", alone.after);

    LinkPieces inner = SplitLinkTemplate(L"Read *here* now", L"this", L"*");
    EXPECT_EQ(L"Read ", inner.before);
    EXPECT_EQ(L"this", inner.link);
    EXPECT_EQ(L"here* now", inner.after);

    EXPECT_EQ(L"plain", SplitLinkTemplate(L"plain", L"", L"").before);
    EXPECT_EQ(L"", SplitLinkTemplate(L"plain", L"x", L"*").link);
}
