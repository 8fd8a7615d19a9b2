// Settings persistence: the options, folders and window geometry between runs.
#include <filesystem>

#include "core/platform_error.h"
#include "ui/model/int_edit.h"
#include "ui/model/main_form.h"

namespace tolvane {

namespace {

struct BoxSetting {
    const char* name;
    Control box;
};

// The ticked state of these controls is stored as a boolean, in this order.
constexpr BoxSetting kBoxSettings[] = {
    {"Continue", Control::cbContinue},       {"FastCheck", Control::cbFastCheck},
    {"CountFrames", Control::cbCountFr},     {"Details", Control::cbDetails},
    {"AutoRead", Control::cbAutoRead},       {"AutoDemux", Control::rbAutoDemux},
    {"AutoRebuild", Control::rbAutoRebuild}, {"AutoClear", Control::cbAutoClear},
    {"DelayNames", Control::cbDelayNames},   {"ExtByCoding", Control::cbExtByCoding},
};

constexpr BoxSetting kTextSettings[] = {
    {"AudioExt", Control::eAudioExt},
    {"VideoExt", Control::eVideoExt},
    {"SubExt", Control::eSubExt},
    {"Workdir", Control::eWorkdir},
};

// A folder as the settings keep it: whole, so that it means the same folder at the next start,
// wherever that starts from. A folder of another system's paths is kept as it is.
std::string wholeFolder(const std::string& folder, PathStyle style) {
    if (folder.empty() || style.delimiter != '/') {
        return folder;
    }
    std::error_code error;
    const std::filesystem::path whole = std::filesystem::absolute(folder, error).lexically_normal();
    if (error) {
        return folder;
    }
    std::string text = whole.string();
    if (folder.back() == '/' && text.back() != '/') {
        text += '/';
    }
    return text;
}

}  // namespace

void MainForm::RegRead() {
    if (settings_ == nullptr || !settings_->open(false)) {
        return;
    }
    SettingsStore& store = *settings_;
    const auto readInt = [&](const char* name, int32_t& into) {
        if (const std::optional<int32_t> value = store.readInt(name)) {
            into = *value;
        }
    };
    readInt("Width", geometry_.width);
    readInt("Height", geometry_.height);
    readInt("Top", geometry_.top);
    readInt("Left", geometry_.left);
    readInt("WindowState", geometry_.state);
    readInt("TreeWidth", geometry_.treeWidth);
    for (const BoxSetting& setting : kTextSettings) {
        if (std::optional<std::string> text = store.readString(setting.name)) {
            setText(setting.box, *text);
        }
    }
    if (std::optional<std::string> folder = store.readString("EVOdir")) {
        paths_.sourceFolder = *folder;
        paths_.sourceDialogFolder = *folder;
    }
    if (std::optional<std::string> folder = store.readString("XPLdir")) {
        paths_.playlistFolder = *folder;
        paths_.playlistDialogFolder = *folder;
    }
    for (const BoxSetting& setting : kBoxSettings) {
        if (const std::optional<int32_t> value = store.readInt(setting.name)) {
            setTicked(setting.box, *value != 0);
        }
    }
    if (const std::optional<int32_t> size = store.readInt("FastSize")) {
        setText(Control::ieFastSize, intEditText(*size));
    }
    if (const std::optional<int32_t> advanced = store.readInt("ADV_PCK")) {
        setTicked(Control::cbRBAdvanced, *advanced != 0);
    }
}

void MainForm::RegWrite() {
    if (settings_ == nullptr || !settings_->open(true)) {
        return;
    }
    SettingsStore& store = *settings_;
    store.writeInt("WindowState", geometry_.state);
    if (geometry_.state != 2) {
        store.writeInt("Top", geometry_.top);
        store.writeInt("Left", geometry_.left);
        store.writeInt("Width", geometry_.width);
        store.writeInt("Height", geometry_.height);
    }
    store.writeInt("TreeWidth", geometry_.treeWidth);
    for (const BoxSetting& setting : kTextSettings) {
        store.writeString(setting.name, setting.box == Control::eWorkdir
                                            ? wholeFolder(text(setting.box), style_)
                                            : text(setting.box));
    }
    store.writeString("EVOdir", wholeFolder(paths_.sourceFolder, style_));
    store.writeString("XPLdir", wholeFolder(paths_.playlistFolder, style_));
    for (const BoxSetting& setting : kBoxSettings) {
        store.writeInt(setting.name, ticked(setting.box) ? 1 : 0);
    }
    store.writeInt("FastSize", static_cast<int32_t>(intEditValue(text(Control::ieFastSize))));
    store.writeInt("ADV_PCK", ticked(Control::cbRBAdvanced) ? 1 : 0);
    if (!store.exists("Install")) {
        // Days since 30 December 1899, the store's date epoch; the clock counts from 1970.
        store.writeDouble("Install", os_.now() + 25569.0);
    }
}

}  // namespace tolvane
