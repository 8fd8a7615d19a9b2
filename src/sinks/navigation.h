#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/reporter.h"
#include "demux/job_records.h"
#include "format/scan_state.h"

namespace tolvane {

// What the navigation packs of a read said.
struct NavigationSummary {
    std::optional<uint32_t> vobNumber;  // of the first DSI
    std::optional<uint32_t> firstPtm;   // 90 kHz, of the first DSI
    std::optional<uint32_t> lastPtm;    // of the last DSI
    double durationSeconds = 0;         // the running time, each VOB counted once
    std::optional<CopyControlState> copyControl;
};

// The reports of the first copy-control packet and the first DSI packet of a pass, from their
// decoded records. `offset` is that of the byte after the sub-stream id in the read block. A
// packet that does not lie wholly inside the block, or is too short for the fields read, is
// passed over unreported.
struct NavigationContext {
    JobRecords& state;
    Reporter& reporter;
    bool detectionPass;
    SourceKind sourceKind;  // the DSI's layout
};

void analyseCopyControl(const NavigationContext& context, size_t offset, const ScanState& scan);
void analyseDsi(const NavigationContext& context, size_t offset, ScanState& scan);

}  // namespace tolvane
