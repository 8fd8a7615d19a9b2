#include "ui/model/controls.h"

#include <cstdio>

namespace tolvane {

namespace {

struct InitialControl {
    Control control;
    std::string_view name;
    std::string_view caption;
    std::string_view text;
    std::string_view hint;
    bool enabled;
    bool ticked;
};

constexpr InitialControl kInitialControls[] = {
    {Control::eEVOfile, "eEVOfile", "", "",
     "Drop here the source EVO file|You cannot write here directly", true, false},
    {Control::bbEVO, "bbEVO", "", "", "Browse an EVO (AOB, VOB) file", true, false},
    {Control::bReadEVO, "bReadEVO", "Read EVO", "", "Read the source EVO file to detect streams",
     false, false},
    {Control::eXPLfile, "eXPLfile", "", "VPLST000.XPL", "Drop here the VPLST000.XPL", true, false},
    {Control::bbXPL, "bbXPL", "", "", "Browse the HD DVD disc's VPLST000.XPL", true, false},
    {Control::bReadXPL, "bReadXPL", "Read XPL", "", "Read the XPL file to detect stream infos",
     false, false},
    {Control::bClear, "bClear", "Clear", "", "", true, false},
    {Control::cbAutoClear, "cbAutoClear", "Auto clear", "", "", true, false},
    {Control::eVideoExt, "eVideoExt", "", "mpv", "", true, false},
    {Control::eAudioExt, "eAudioExt", "", "mpa", "", true, false},
    {Control::eSubExt, "eSubExt", "", "sup", "This is real .sup format, don't change!", true,
     false},
    {Control::eWorkdir, "eWorkdir", "", "", "Destination directory for the demuxed streams", true,
     false},
    {Control::bbWorkdir, "bbWorkdir", "", "", "Browse folder", true, false},
    {Control::cbContinue, "cbContinue", "Continue with second EVO", "",
     "Demux continues with FEATURE_2.EVO (if it exists) after finishing FEATURE_1.EVO", true, true},
    {Control::cbFastCheck, "cbFastCheck", "Fast EVO checking", "",
     "Read EVO checks only the first part of the file", true, true},
    {Control::ieFastSize, "ieFastSize", "", "300", "Size of the fast check (in MBs)", true, false},
    {Control::cbCountFr, "cbCountFr", "Count frames", "",
     "Works only if the process hasn't cancelled (even by Fast EVO checking)", true, true},
    {Control::cbDetails, "cbDetails", "Detailed info", "", "Detailed information about streams",
     true, true},
    {Control::cbAutoRead, "cbAutoRead", "Auto read", "", "Read the file automatically after browse",
     true, true},
    {Control::rbNoAuto, "rbNoAuto", "No auto process", "", "", true, true},
    {Control::rbAutoDemux, "rbAutoDemux", "Auto Demux", "",
     "Demux starts automatically after Read EVO", true, false},
    {Control::rbAutoRebuild, "rbAutoRebuild", "Auto Rebuild", "",
     "Rebuild starts automatically after Read EVO", true, false},
    {Control::cbRBAdvanced, "cbRBAdvanced", "Rebuild ADV_PCKs", "", "Rebuild the advanced packs",
     true, false},
    {Control::cbDelayNames, "cbDelayNames", "Delay in audio file names", "",
     "Name each audio file with its delay to the video (\" DELAY -40ms\"), as muxers read it", true,
     false},
    {Control::cbExtByCoding, "cbExtByCoding", "Extensions by coding", "",
     "Name each file with its coding's extension (.m2v, .ac3, .dts, ...) instead of the fields",
     true, false},
    {Control::bSaveChapters, "bSaveChapters", "Save chapters...", "",
     "Save the chapters of the title as Matroska XML (.xml) or OGM text", true, false},
    {Control::bDemux, "bDemux", "Demux", "", "Demux the source EVO to streams", false, false},
    {Control::bRebuild, "bRebuild", "Rebuild", "", "", false, false},
    {Control::bMatroska, "bMatroska", "Matroska", "",
     "Write the ticked streams of the title (or file) into one Matroska file (.mkv)", false, false},
    {Control::bCancel, "bCancel", "Cancel", "", "You can stop the actual process", false, false},
};

std::string numbered(const char* prefix, int n, int width) {
    char name[24];
    std::snprintf(name, sizeof name, "%s%0*d", prefix, width, n);
    return name;
}

}  // namespace

std::string controlName(Control c) {
    const int index = static_cast<int>(c);
    if (index >= static_cast<int>(Control::cbSub00)) {
        return numbered("cbSub", index - static_cast<int>(Control::cbSub00), 2);
    }
    if (index >= static_cast<int>(Control::cbAudio00)) {
        return numbered("cbAudio", index - static_cast<int>(Control::cbAudio00), 2);
    }
    if (index >= static_cast<int>(Control::cbVideo0)) {
        return numbered("cbVideo", index - static_cast<int>(Control::cbVideo0), 1);
    }
    for (const InitialControl& d : kInitialControls) {
        if (d.control == c) {
            return std::string(d.name);
        }
    }
    return {};
}

std::optional<Control> controlByName(std::string_view name) {
    for (size_t k = 0; k < kControlCount; ++k) {
        const Control c = static_cast<Control>(k);
        if (controlName(c) == name) {
            return c;
        }
    }
    return std::nullopt;
}

std::array<ControlState, kControlCount> initialControls() {
    std::array<ControlState, kControlCount> controls{};
    for (const InitialControl& d : kInitialControls) {
        ControlState& state = controls[static_cast<size_t>(d.control)];
        state = ControlState{std::string(d.caption), std::string(d.text), std::string(d.hint),
                             d.enabled, d.ticked};
    }
    for (int n = 0; n < kVideoBoxes; ++n) {
        controls[static_cast<size_t>(videoBox(n))] = {"Video stream", "", "", false, false};
    }
    for (int n = 0; n < kAudioBoxes; ++n) {
        controls[static_cast<size_t>(audioBox(n))] = {"Audio stream", "", "", false, false};
    }
    for (int n = 0; n < kSubBoxes; ++n) {
        controls[static_cast<size_t>(subBox(n))] = {
            "Subpicture", "", "Check the desired subpicture streams", false, false};
    }
    return controls;
}

}  // namespace tolvane
