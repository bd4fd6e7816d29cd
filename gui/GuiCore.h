// The arithmetic and text rules of the dialogs, kept free of Win32 so that they build and are
// tested natively as well: overall progress, colour properties, the close image for a caption
// colour, the window title and the layout of the message dialog.
#pragma once

#include <cstdint>
#include <string>

namespace VmGui {

// COLORREF layout: red in the low byte.
constexpr uint32_t kDefaultColor = 0xC356CB;

// "#RRGGBB" (exactly seven characters, six hexadecimal digits) as a COLORREF; anything else
// gives kDefaultColor.
uint32_t ParseColor(const std::wstring& value);

// (299 R + 587 G + 114 B) / 1000 of a COLORREF.
uint32_t PerceivedBrightness(uint32_t color);

// Index in the close-button strip: 1 (light image) when the caption text colour is bright, else 0.
int CloseImageIndex(uint32_t fontColor);

// The stages of an installation, one row each in number order: the name (the label's text key),
// the number, and the points of the bar the stage covers in a normal and in a slow run.
#define VM_PROGRESS_STAGES(X) \
    X(Downloading, 0, 50, 30) \
    X(Validating, 1, 0, 0) \
    X(Uninstalling, 2, 0, 40) \
    X(Installing, 3, 50, 30) \
    X(Launching, 4, 0, 0)

enum ProgressStage : uint32_t {
#define VM_PROGRESS_STAGE_ENUMERATOR(name, value, normal, slow) Stage##name = value,
    VM_PROGRESS_STAGES(VM_PROGRESS_STAGE_ENUMERATOR)
#undef VM_PROGRESS_STAGE_ENUMERATOR
};

enum ProgressFlags : uint32_t {
    ProgressFlagScan = 1,
    ProgressFlagSlow = 4,
};

struct OverallProgress {
    bool marquee = false;
    int value = 0; // 0..100 when not a marquee
};

// Overall bar position for a stage and a percentage within it. Percentages above 100 count as 100.
OverallProgress ComputeOverallProgress(uint32_t stage, uint32_t percent, bool slow);

// Label key of a stage; empty for unknown stages.
std::wstring StageLabelKey(uint32_t stage);

// The main text of the progress dialog and whether Skip is offered.
std::wstring ProgressTextKey(uint32_t flags, bool skipPressed);
bool ProgressOffersSkip(uint32_t flags, bool skipPressed);

// Progress reaches a dialog as one command value: (percent & 0xFF) * 256 + (stage & 0xFF).
uint32_t PackProgress(uint32_t stage, uint32_t percent);
void UnpackProgress(uint32_t value, uint32_t& stage, uint32_t& percent);

// "TitleLoc" with "%OPERATORNAME%" replaced; an empty operator name shows as "##OperatorName##".
std::wstring BuildTitle(const std::wstring& titleLoc, const std::wstring& operatorName);

// Message dialog kinds 0..4 and the dialog types 4..8 they come from.
int MessageKindForType(int dialogType);

struct MessageLayout {
    const wchar_t* button1Key; // null: button 1 hidden
    const wchar_t* button2Key;
    bool showMoreInfoLink;
    int headerStyle;
    bool shieldOnButton1;
};
MessageLayout MessageLayoutForKind(int kind);

// A link template split at the first marker: text before, link text, text after. Without a
// marker in the template (or with an empty marker) the whole template is plain text.
struct LinkPieces {
    std::wstring before;
    std::wstring link;
    std::wstring after;
};
LinkPieces SplitLinkTemplate(const std::wstring& text, const std::wstring& linkText,
                             const std::wstring& marker);

} // namespace VmGui
