#pragma once

#include <cstddef>
#include <cstdint>

namespace tolvane {

// The file a pass reads, from its current position to its end, with 64-bit size and position.
class InputSource {
public:
    virtual ~InputSource() = default;
    virtual int64_t size() const = 0;
    virtual int64_t position() const = 0;
    virtual void seek(int64_t position) = 0;
    // Reads up to `length` bytes; returns the count read, 0 only at the end of the file.
    // Throws PlatformError when the system reports a read error.
    virtual size_t read(uint8_t* data, size_t length) = 0;
    // The open file behind the source, for copies the system makes itself; -1 for none.
    virtual int descriptor() const { return -1; }
    // Throws PlatformError when the source is no longer what was opened: its size changed, or
    // another file took its name. Asked when a job is done with it.
    virtual void checkUnchanged() const {}
    // Lets go of what the source holds open until it is read again: a source of many files
    // keeps one of them open at a time.
    virtual void park() {}
};

// Reads until `length` bytes are in or the source is at its end, so that what a pass sees does
// not depend on how the source hands its bytes over.
inline size_t readBlock(InputSource& source, uint8_t* data, size_t length) {
    size_t total = 0;
    while (total < length) {
        const size_t got = source.read(data + total, length - total);
        if (got == 0) {
            break;
        }
        total += got;
    }
    return total;
}

}  // namespace tolvane
