#pragma once

#include <string>
#include <vector>

#include "temp_dir.h"
#include "test_doubles.h"
#include "ui/model/main_form.h"

namespace tolvane::fixture {

// A started window model over fake OS services, with a temporary folder for its files.
struct FormFixture {
    FakeOs os;
    TempDir dir;
    MainForm form{os};

    FormFixture() { form.FormActivate(); }

    // Chooses a source file as the browse button would, without reading it.
    void chooseSource(const std::string& path) { form.chooseSource(path); }

    // The log as it was written, markup included, one entry per line.
    std::vector<std::string> logMarkup() const {
        std::vector<std::string> lines;
        for (const LogLine& line : form.messageLog().lines()) {
            lines.push_back(line.markup);
        }
        return lines;
    }
};

}  // namespace tolvane::fixture
