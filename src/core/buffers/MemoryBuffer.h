// The Flash or EEPROM image with one state per byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/buffers/ProjectSettings.h"

namespace zelko {

enum ByteState : uint8_t {
    Loaded = 0,
    Saved = 1,
    Programmed = 2,
    Verified = 3,
    ReadBack = 4,
    Failed = 5,
    Changed = 6,
};

// The hex view showing a buffer (the GUI's preview; tests use fakes).
class BufferPreview {
public:
    virtual ~BufferPreview() = default;
    virtual void Refresh() = 0;
};

// The static text that shows a buffer's file name.
class BufferLabel {
public:
    virtual ~BufferLabel() = default;
    virtual void SetText(const std::string& text) = 0;
};

// The window a buffer reports to (the main window's refresh).
class BufferOwner {
public:
    virtual ~BufferOwner() = default;
    virtual void UpdateControls() = 0;
};

class MemoryBuffer {
public:
    explicit MemoryBuffer(bool isEeprom = false) : IsEeprom(isEeprom) {}

    bool Busy = false;
    bool IsEeprom = false;
    BufferPreview* Preview = nullptr;
    BufferLabel* FileLabel = nullptr;
    ProjectSettings* Project = nullptr;
    bool Modified = false;
    int32_t Length = 0;
    std::string FileName = kUnspecified;
    BufferOwner* Owner = nullptr;
    std::vector<uint8_t> Data;    // empty vector stands for "no data"
    std::vector<uint8_t> States;  // parallel to Data

    bool HasData() const { return Length > 0 && !Data.empty(); }
};

}  // namespace zelko
