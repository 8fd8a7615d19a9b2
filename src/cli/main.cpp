// tolvane-cli: the read and demux jobs of the window model, driven from a shell.
#include <unistd.h>

#include <iostream>

#include "cli/cli_options.h"
#include "cli/console.h"
#include "core/platform_error.h"
#include "ui/model/main_form.h"

namespace {

using namespace tolvane;
using namespace tolvane::cli;

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

// 128 and the signal, as shells report a program that a signal stopped: 130 for Ctrl-C.
int interruptedStatus() {
    return 128 + static_cast<int>(interrupted);
}

int usageError(const std::string& message) {
    std::cerr << "tolvane-cli: " << message << "\nTry 'tolvane-cli --help' for more information."
              << std::endl;
    return kUsageError;
}

void applyOptions(MainForm& form, const CliOptions& options) {
    form.setTicked(Control::cbContinue, options.continueOn);
    form.setTicked(Control::cbRBAdvanced, options.advancedPacks);
    form.setTicked(Control::cbDelayNames, options.delayNames);
    form.setTicked(Control::cbExtByCoding, options.extByCoding);
    form.setTicked(Control::cbFastCheck, options.fastCheck);
    form.setText(Control::ieFastSize, options.fastCheckMb);
    form.setTicked(Control::cbCountFr, options.countFrames);
    form.setTicked(Control::cbDetails, options.details);
    form.setText(Control::eWorkdir, options.outputFolder);
    if (options.videoExt) {
        form.setText(Control::eVideoExt, *options.videoExt);
    }
    if (options.audioExt) {
        form.setText(Control::eAudioExt, *options.audioExt);
    }
    if (options.subExt) {
        form.setText(Control::eSubExt, *options.subExt);
    }
}

// The labelled stream box that `name` names, by its control name or by its caption.
bool findLabelledBox(const MainForm& form, const std::string& name, Control& found) {
    for (size_t k = static_cast<size_t>(Control::cbVideo0); k < kControlCount; ++k) {
        const Control c = static_cast<Control>(k);
        if (form.enabled(c) && (controlName(c) == name || form.control(c).caption == name)) {
            found = c;
            return true;
        }
    }
    return false;
}

// Ticks exactly the boxes the list names; returns the first name that fits no labelled box.
std::optional<std::string> applySelection(MainForm& form, const std::vector<std::string>& names) {
    std::vector<Control> chosen;
    for (const std::string& name : names) {
        Control box = Control::cbVideo0;
        if (!findLabelledBox(form, name, box)) {
            return name;
        }
        chosen.push_back(box);
    }
    for (size_t k = static_cast<size_t>(Control::cbVideo0); k < kControlCount; ++k) {
        form.setTicked(static_cast<Control>(k), false);
    }
    for (Control box : chosen) {
        form.setTicked(box, true);
    }
    return std::nullopt;
}

void printTree(const std::vector<TreeNode>& nodes, int depth) {
    for (const TreeNode& node : nodes) {
        std::cout << std::string(static_cast<size_t>(2 * depth), ' ') << node.text << '\n';
        printTree(node.children, depth + 1);
    }
}

int run(const CliOptions& options) {
    const bool terminalOut = isatty(STDOUT_FILENO) != 0;
    const bool color =
        options.color == ColorMode::Always || (options.color == ColorMode::Auto && terminalOut);
    ConsoleOs os;
    MainForm form(os);
    os.attach(&form);
    ConsoleView view(form.messageLog(), color, isatty(STDERR_FILENO) != 0);
    form.messageLog().setView(&view);
    form.FormActivate();
    applyOptions(form, options);
    installInterruptHandler();

    if (options.command == Command::Xpl) {
        if (!options.xplSource.empty()) {
            form.chooseSource(options.xplSource);
        }
        form.setText(Control::eXPLfile, options.source);
        form.XPLadj();
        form.bReadXPLClick();
        if (os.failed()) {
            return kFailed;
        }
        printTree(form.xplTree(), 0);
        if (!options.chapters.empty()) {
            try {
                form.saveChapters(options.chapters);
            } catch (const JobError& error) {
                std::cerr << "tolvane-cli: " << error.what() << std::endl;
                return kFailed;
            }
        }
        return kDone;
    }
    form.chooseSource(options.source);
    if (options.command == Command::Rebuild && !form.sourceIsEvo()) {
        return usageError("rebuild writes .EVO files and takes an .EVO source: '" + options.source +
                          "' is not one");
    }
    form.bReadEVOClick();
    if (os.failed()) {
        return kFailed;
    }
    if (interrupted != 0) {
        return interruptedStatus();
    }
    if (options.command == Command::Demux || options.command == Command::Rebuild) {
        if (options.select) {
            if (const std::optional<std::string> unknown = applySelection(form, *options.select)) {
                return usageError("--select: no stream box '" + *unknown + "' was labelled");
            }
        }
        const bool rebuild = options.command == Command::Rebuild;
        if (!form.enabled(rebuild ? Control::bRebuild : Control::bDemux)) {
            std::cerr << (rebuild ? "tolvane-cli: rebuild needs an .EVO source with a stream "
                                    "selected"
                                  : "tolvane-cli: no stream is selected: nothing to demux")
                      << std::endl;
            return kFailed;
        }
        if (rebuild) {
            form.bRebuildClick();
        } else {
            form.bDemuxClick();
        }
        if (os.failed()) {
            return kFailed;
        }
    }
    std::cout.flush();
    return interrupted != 0 ? interruptedStatus() : kDone;
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(true);
    CliOptions options;
    try {
        options = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        return usageError(error.message);
    }
    if (options.command == Command::Help) {
        std::cout << kUsage;
        return kDone;
    }
    if (options.command == Command::Version) {
        std::cout << "tolvane-cli " << TOLVANE_VERSION << '\n';
        return kDone;
    }
    return run(options);
}
