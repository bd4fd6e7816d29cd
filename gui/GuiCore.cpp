#include "gui/GuiCore.h"

#include "common/Text.h"

namespace VmGui {

namespace {

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

struct StageShare {
    uint32_t stage;
    uint32_t normal;
    uint32_t slow;
};
// Indexed by stage.
constexpr StageShare kShares[] = {
#define VM_PROGRESS_STAGE_SHARE(name, value, normal, slow) {value, normal, slow},
    VM_PROGRESS_STAGES(VM_PROGRESS_STAGE_SHARE)
#undef VM_PROGRESS_STAGE_SHARE
};
constexpr uint32_t kStageCount = sizeof(kShares) / sizeof(kShares[0]);

constexpr bool SharesInStageOrder()
{
    for (uint32_t s = 0; s < kStageCount; ++s) {
        if (kShares[s].stage != s)
            return false;
    }
    return true;
}
static_assert(SharesInStageOrder(), "the stages are listed in number order");

} // namespace

uint32_t ParseColor(const std::wstring& value)
{
    if (value.size() != 7 || value[0] != L'#')
        return kDefaultColor;
    uint32_t rgb = 0;
    for (size_t i = 1; i < value.size(); ++i) {
        const int digit = HexDigit(value[i]);
        if (digit < 0)
            return kDefaultColor;
        rgb = rgb * 16 + static_cast<uint32_t>(digit);
    }
    const uint32_t red = (rgb >> 16) & 0xFF;
    const uint32_t green = (rgb >> 8) & 0xFF;
    const uint32_t blue = rgb & 0xFF;
    return red | (green << 8) | (blue << 16);
}

uint32_t PerceivedBrightness(uint32_t color)
{
    const uint32_t red = color & 0xFF;
    const uint32_t green = (color >> 8) & 0xFF;
    const uint32_t blue = (color >> 16) & 0xFF;
    return (299 * red + 587 * green + 114 * blue) / 1000;
}

int CloseImageIndex(uint32_t fontColor) { return PerceivedBrightness(fontColor) > 104 ? 1 : 0; }

OverallProgress ComputeOverallProgress(uint32_t stage, uint32_t percent, bool slow)
{
    OverallProgress result;
    if (stage == StageLaunching) {
        result.marquee = true;
        return result;
    }
    if (stage >= kStageCount)
        return result;
    // The bar ends at 100; a sender's overshoot must not push it (or the text) beyond.
    if (percent > 100)
        percent = 100;
    uint32_t value = 0;
    for (uint32_t s = 0; s < stage; ++s)
        value += slow ? kShares[s].slow : kShares[s].normal;
    const uint32_t share = slow ? kShares[stage].slow : kShares[stage].normal;
    value += share * percent / 100;
    result.value = static_cast<int>(value);
    return result;
}

std::wstring StageLabelKey(uint32_t stage)
{
    switch (stage) {
#define VM_PROGRESS_STAGE_KEY(name, value, normal, slow) \
    case Stage##name: return L"" #name;
        VM_PROGRESS_STAGES(VM_PROGRESS_STAGE_KEY)
#undef VM_PROGRESS_STAGE_KEY
    default: return std::wstring();
    }
}

bool ProgressOffersSkip(uint32_t flags, bool skipPressed)
{
    return !skipPressed && (flags & ProgressFlagScan) != 0;
}

std::wstring ProgressTextKey(uint32_t flags, bool skipPressed)
{
    if (ProgressOffersSkip(flags, skipPressed))
        return L"ProgressScan";
    return (flags & ProgressFlagSlow) != 0 ? L"ProgressSlow" : L"Progress";
}

uint32_t PackProgress(uint32_t stage, uint32_t percent) { return (percent & 0xFF) * 256 + (stage & 0xFF); }

void UnpackProgress(uint32_t value, uint32_t& stage, uint32_t& percent)
{
    stage = value & 0xFF;
    percent = (value >> 8) & 0xFF;
}

std::wstring BuildTitle(const std::wstring& titleLoc, const std::wstring& operatorName)
{
    return VmCommon::ReplaceAll(titleLoc, L"%OPERATORNAME%",
                      operatorName.empty() ? std::wstring(L"##OperatorName##") : operatorName);
}

int MessageKindForType(int dialogType)
{
    return dialogType >= 4 && dialogType <= 8 ? dialogType - 4 : 0;
}

MessageLayout MessageLayoutForKind(int kind)
{
    switch (kind) {
    case 1: return {nullptr, L"Close", true, 3, false};
    case 2: return {L"Retry", L"Cancel", false, 3, false};
    case 3: return {L"Reboot", L"Close", false, 1, false};
    case 4: return {L"Next", L"Cancel", false, 1, true};
    default: return {nullptr, L"Close", false, 3, false};
    }
}

LinkPieces SplitLinkTemplate(const std::wstring& text, const std::wstring& linkText,
                             const std::wstring& marker)
{
    LinkPieces pieces;
    const size_t at = marker.empty() ? std::wstring::npos : text.find(marker);
    if (at == std::wstring::npos) {
        pieces.before = text;
        return pieces;
    }
    pieces.before = text.substr(0, at);
    pieces.link = linkText;
    pieces.after = text.substr(at + marker.size());
    return pieces;
}

} // namespace VmGui
