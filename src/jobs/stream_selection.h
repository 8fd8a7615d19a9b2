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

// The box of a stream a read has just met and numbered: its caption is settled from its first
// payload. Its first time and delay are not known yet.
StreamBox boxMet(const StreamRegistry& streams, StreamKind kind, int32_t number, int32_t key);

// Whether a job that chooses its streams by `select` as it meets them takes `box`: every box
// without a selection, else the boxes it names.
bool chosenBy(const std::optional<std::vector<std::string>>& select, const StreamBox& box);

// The first name of `select` that names none of `labelled`; none when each names one.
std::optional<std::string> unknownName(const std::optional<std::vector<std::string>>& select,
                                       const std::vector<StreamBox>& labelled);

// A selection that names a box the read did not label: a mistake of the caller's.
class SelectionError : public JobError {
public:
    SelectionError(const std::string& unknown, const std::vector<StreamBox>& labelled);
};

}  // namespace tolvane
