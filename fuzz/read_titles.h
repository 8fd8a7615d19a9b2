#pragma once

#include <cstdint>
#include <memory>

#include "core/platform_error.h"
#include "discs/disc.h"

// Reads every title of `disc` to its end; a title that cannot be read is passed over.
inline void readEveryTitle(const tolvane::Disc& disc) {
    for (const tolvane::DiscTitle& title : disc.titles()) {
        try {
            const std::unique_ptr<tolvane::SpanSource> source = disc.titleSource(title.number);
            uint8_t block[4096];
            while (source->read(block, sizeof block) > 0) {
            }
        } catch (const tolvane::PlatformError&) {
        }
    }
}
