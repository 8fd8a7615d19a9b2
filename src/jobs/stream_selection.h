#pragma once

#include <optional>
#include <string>
#include <vector>

#include "jobs/job_context.h"

namespace tolvane {

// The window's name of a stream box: cbVideo0, cbAudio03, cbSub12.
std::string boxName(StreamKind kind, int number);

// Whether `name` names the box `box`: by its window name or its caption, in any case.
bool namesBox(const std::string& name, const StreamBox& box);

// Chooses exactly the boxes that `names` name. Returns the first name that names none of them,
// leaving the choice as it was.
std::optional<std::string> applySelection(std::vector<StreamBox>& boxes,
                                          const std::vector<std::string>& names);

// A selection that names a box the read did not label: a mistake of the caller's.
class SelectionError : public JobError {
public:
    SelectionError(const std::string& unknown, const std::vector<StreamBox>& labelled);
};

}  // namespace tolvane
