// The Flash or EEPROM image with one state per byte.
#pragma once

#include <cstdint>
#include <mutex>
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

// While an operation runs on a buffer (Busy is true), its worker thread writes
// Data and States block by block, holding this lock for each block's copy; a
// view that paints a busy buffer takes the same lock around its reads. The
// vectors are never resized while Busy is true. Outside an operation the
// buffers belong to the UI thread alone and no lock is needed.
std::mutex& BufferContentMutex();

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

    // Frees the contents and forgets the file; the modified mark stays (an
    // empty buffer shows none anyway).
    void CloseBuffer();
    // Makes room for a chip read of n bytes: all 0xFF, all Failed, marked
    // modified. The file name stays, so the label shows it with "*".
    void CreateBuffer(int32_t n);
    // Raises the buffer's and the project's unsaved-change marks.
    void MarkModified();
    // After a load or save has cleared this buffer's mark: when neither buffer
    // of the project is modified, the project is clean too.
    void SettleProjectMark();
    // Sum of all bytes modulo 65536.
    uint16_t Checksum() const;
    // File name (or "[Unspecified]") and "*" when modified and not empty.
    std::string LabelText() const;
    // Flash images hold whole 16-bit words: an odd length gets one 0xFF byte.
    void PadToWord();
    // Steps the big-endian serial number (1 to 4 bytes) whose low byte is at
    // `address` (clamped to the last byte).
    void IncrementCounter(int32_t address);

    // Replaces the contents; every byte gets `state`.
    void SetContents(std::vector<uint8_t> data, ByteState state);
    // Sets every byte's state.
    void SetAllStates(ByteState state);
    // The front-end hooks; each does nothing while its link is null.
    void RefreshPreview();
    void RewriteLabel();
    void UpdateOwner();
};

}  // namespace zelko
