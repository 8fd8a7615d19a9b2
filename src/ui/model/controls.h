#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

// Every control of the main window that the logic reads or writes.
enum class Control : uint8_t {
    eEVOfile,
    bbEVO,
    bReadEVO,
    eXPLfile,
    bbXPL,
    bReadXPL,
    bClear,
    cbAutoClear,
    eVideoExt,
    eAudioExt,
    eSubExt,
    eWorkdir,
    bbWorkdir,
    cbContinue,
    cbFastCheck,
    ieFastSize,
    cbCountFr,
    cbDetails,
    cbAutoRead,
    rbNoAuto,
    rbAutoDemux,
    rbAutoRebuild,
    cbRBAdvanced,
    cbDelayNames,
    cbExtByCoding,
    bSaveChapters,
    bDemux,
    bRebuild,
    bMatroska,
    bCancel,
    cbVideo0,
    cbAudio00 = cbVideo0 + 8,
    cbSub00 = cbAudio00 + 16,
    count = cbSub00 + 32,
};

inline constexpr size_t kControlCount = static_cast<size_t>(Control::count);
inline constexpr int kVideoBoxes = 8;
inline constexpr int kAudioBoxes = 16;
inline constexpr int kSubBoxes = 32;

// The abstract state of one control: what a toolkit widget shows and what the logic reads.
struct ControlState {
    std::string caption;
    std::string text;
    std::string hint;
    bool enabled = true;
    bool ticked = false;
};

constexpr Control videoBox(int n) {
    return static_cast<Control>(static_cast<int>(Control::cbVideo0) + n);
}
constexpr Control audioBox(int n) {
    return static_cast<Control>(static_cast<int>(Control::cbAudio00) + n);
}
constexpr Control subBox(int n) {
    return static_cast<Control>(static_cast<int>(Control::cbSub00) + n);
}
constexpr bool isStreamBox(Control c) {
    return c >= Control::cbVideo0 && c < Control::count;
}
constexpr bool isRadioButton(Control c) {
    return c == Control::rbNoAuto || c == Control::rbAutoDemux || c == Control::rbAutoRebuild;
}

// The control's name as the window gives it ("cbAudio03", "bDemux").
std::string controlName(Control c);
std::optional<Control> controlByName(std::string_view name);

// The state of every control when the window opens: captions, texts, hints, enabled and ticked.
std::array<ControlState, kControlCount> initialControls();

}  // namespace tolvane
