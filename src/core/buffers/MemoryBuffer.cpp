#include "core/buffers/MemoryBuffer.h"

#include <algorithm>

namespace zelko {

void MemoryBuffer::RefreshPreview()
{
    if (Preview)
        Preview->Refresh();
}

void MemoryBuffer::RewriteLabel()
{
    if (FileLabel)
        FileLabel->SetText(LabelText());
}

void MemoryBuffer::UpdateOwner()
{
    if (Owner)
        Owner->UpdateControls();
}

void MemoryBuffer::CloseBuffer()
{
    Busy = false;
    // Release the memory, not just the size: a closed 8 MiB image should not linger.
    std::vector<uint8_t>().swap(Data);
    std::vector<uint8_t>().swap(States);
    Length = 0;
    FileName = kUnspecified;
    RefreshPreview();
    RewriteLabel();
}

void MemoryBuffer::CreateBuffer(int32_t n)
{
    Busy = false;
    if (n < 0)
        n = 0;
    Data.assign(static_cast<size_t>(n), 0xFF);
    States.assign(static_cast<size_t>(n), Failed);
    Length = n;
    MarkModified();
    RefreshPreview();
    RewriteLabel();
    UpdateOwner();
}

void MemoryBuffer::MarkModified()
{
    if (!Modified) {
        Modified = true;
        RewriteLabel();
    }
    if (Project && !Project->Modified) {
        Project->Modified = true;
        UpdateOwner();
    }
}

void MemoryBuffer::SettleProjectMark()
{
    if (!Project)
        return;
    const MemoryBuffer* a = Project->FlashBuffer ? Project->FlashBuffer : this;
    const MemoryBuffer* b = Project->EepromBuffer ? Project->EepromBuffer : this;
    if (!a->Modified && !b->Modified && !Modified) {
        Project->Modified = false;
        UpdateOwner();
    }
}

uint16_t MemoryBuffer::Checksum() const
{
    uint32_t sum = 0;
    if (HasData()) {
        const size_t n = std::min(Data.size(), static_cast<size_t>(Length));
        for (size_t i = 0; i < n; ++i)
            sum += Data[i];
    }
    return static_cast<uint16_t>(sum);
}

std::string MemoryBuffer::LabelText() const
{
    std::string text = FileName.empty() ? std::string(kUnspecified) : FileName;
    if (Modified && Length > 0)
        text += '*';
    return text;
}

void MemoryBuffer::PadToWord()
{
    if (Length <= 0 || Length % 2 == 0)
        return;
    Data.resize(static_cast<size_t>(Length), 0xFF);
    States.resize(static_cast<size_t>(Length), Loaded);
    Data.push_back(0xFF);
    States.push_back(Loaded);
    ++Length;
}

void MemoryBuffer::IncrementCounter(int32_t address)
{
    if (!HasData() || States.size() < Data.size())
        return;
    int32_t k = std::min(address, Length - 1);
    for (int step = 0; step < 4 && k >= 0; ++step, --k) {
        const size_t i = static_cast<size_t>(k);
        Data[i] = static_cast<uint8_t>(Data[i] + 1);
        States[i] = Changed;
        if (Data[i] != 0)
            break;
    }
    MarkModified();
    RefreshPreview();
    RewriteLabel();
}

void MemoryBuffer::SetContents(std::vector<uint8_t> data, ByteState state)
{
    Data = std::move(data);
    Length = static_cast<int32_t>(Data.size());
    States.assign(Data.size(), state);
}

void MemoryBuffer::SetAllStates(ByteState state)
{
    States.assign(Data.size(), state);
}

}  // namespace zelko
