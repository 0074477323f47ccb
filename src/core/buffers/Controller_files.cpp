// The buffer commands: loading, merging, saving, reloading and closing image
// files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/buffers/ImageFile.h"

namespace zelko {
namespace {

// A .bin file is read up to the image bound. HEX text is about three times the
// size of its image (and records may repeat), so HEX candidates are read further;
// the cap only keeps a wrongly chosen huge file from exhausting memory.
constexpr size_t kHexTextLimit = 256u * 1024 * 1024;

enum class ReadResult { Ok, CannotOpen, NoMemory };

ReadResult ReadFileBytes(const std::string& path, size_t limit, std::vector<uint8_t>& out)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return ReadResult::CannotOpen;
    ReadResult result = ReadResult::Ok;
    try {
        struct stat st {};
        size_t expected = 0;
        if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
            expected = static_cast<size_t>(st.st_size);
        out.clear();
        out.reserve(std::min(expected, limit));
        size_t have = 0;
        while (have < limit) {
            size_t chunk = std::min<size_t>(limit - have, 1 << 20);
            out.resize(have + chunk);
            const size_t got = std::fread(out.data() + have, 1, chunk, f);
            have += got;
            if (got < chunk)
                break;
        }
        out.resize(have);
        if (std::ferror(f))
            result = ReadResult::CannotOpen;  // a directory, an I/O error: not readable
    } catch (const std::bad_alloc&) {
        std::vector<uint8_t>().swap(out);
        result = ReadResult::NoMemory;
    }
    std::fclose(f);
    return result;
}

bool IsUnspecified(const std::string& name)
{
    return name.empty() || name == kUnspecified;
}

bool WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Creates a new file beside `target` that nobody else uses.
int CreateTempBeside(const std::filesystem::path& target, std::string& tempName)
{
    static std::atomic<unsigned> serial{0};
    const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string hidden(1, '.');
        hidden.append(target.filename().string()).append(".tmp").append(std::to_string(getpid()));
        hidden.append(1, '-').append(std::to_string(serial++));
        tempName = (dir / hidden).string();
        const int fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

}  // namespace

void Controller::BufferOwnerLink::UpdateControls()
{
    controller->Ui().UpdateControls();
}

Controller::LoadOutcome Controller::LoadImageFile(MemoryBuffer& buffer, const std::string& path)
{
    if (path == kUnspecified) {
        buffer.CloseBuffer();
        return LoadOutcome::Read;
    }
    const ImageKind kind = KindOfPath(path);
    std::vector<uint8_t> bytes;
    switch (ReadFileBytes(path, kind == ImageKind::Binary ? kImageLimit : kHexTextLimit, bytes)) {
    case ReadResult::CannotOpen:
        ui_.UpdateControls();
        ErrorBox(Format(1144, path.c_str()));
        return LoadOutcome::NotRead;
    case ReadResult::NoMemory:
        ui_.UpdateControls();
        ErrorBox(Translate(1019));
        return LoadOutcome::NoMemory;
    case ReadResult::Ok:
        break;
    }

    DecodedImage decoded;
    try {
        decoded = DecodeImage(bytes.data(), bytes.size(), path,
                              [this] { return Ask(Translate(1021)); });
    } catch (const std::bad_alloc&) {
        ErrorBox(Translate(1019));
        ui_.UpdateControls();
        ErrorBox(Translate(1023));
        return LoadOutcome::NotRead;
    }
    std::vector<uint8_t>().swap(bytes);
    if (decoded.hexStatus == HexStatus::Error)
        ErrorBox(Translate(1020));
    if (decoded.FellBackToRaw() && kind == ImageKind::IntelHex) {
        // The text of a broken HEX file must not be programmed unnoticed.
        const std::string notice =
            Format(2000, path.c_str(), static_cast<int>(decoded.image.size()));
        AppendLog(notice);
        ui_.ShowBox(notice, Translate(1016), BoxIcon::Warning);
    }

    buffer.CloseBuffer();
    buffer.SetContents(std::move(decoded.image), Loaded);
    if (!buffer.IsEeprom)
        buffer.PadToWord();
    buffer.FileName = path;
    buffer.Modified = false;
    buffer.SettleProjectMark();
    buffer.RefreshPreview();
    buffer.RewriteLabel();
    buffer.SetAllStates(Loaded);
    ui_.UpdateControls();
    return LoadOutcome::Read;
}

bool Controller::LoadFile(MemoryBuffer& buffer, const std::string& path)
{
    return LoadImageFile(buffer, path) != LoadOutcome::NoMemory;
}

bool Controller::LoadFileAt(MemoryBuffer& buffer, const std::string& path)
{
    if (!buffer.HasData())
        return false;
    if (path == kUnspecified) {
        buffer.CloseBuffer();
        return true;
    }
    const ImageKind kind = KindOfPath(path);
    std::vector<uint8_t> bytes;
    switch (ReadFileBytes(path, kind == ImageKind::Binary ? kImageLimit : kHexTextLimit, bytes)) {
    case ReadResult::CannotOpen:
        ui_.UpdateControls();
        ErrorBox(Format(1144, path.c_str()));
        return true;
    case ReadResult::NoMemory:
        ui_.UpdateControls();
        ErrorBox(Translate(1019));
        return false;
    case ReadResult::Ok:
        break;
    }

    DecodedImage decoded;
    try {
        decoded = DecodeImage(bytes.data(), bytes.size(), path,
                              [this] { return Ask(Translate(1021)); });
    } catch (const std::bad_alloc&) {
        ErrorBox(Translate(1019));
        ErrorBox(Translate(1023));
        return false;
    }
    std::vector<uint8_t>().swap(bytes);
    if (decoded.hexStatus == HexStatus::Error)
        ErrorBox(Translate(1020));
    if (decoded.FellBackToRaw() && kind == ImageKind::IntelHex) {
        const std::string notice =
            Format(2000, path.c_str(), static_cast<int>(decoded.image.size()));
        AppendLog(notice);
        ui_.ShowBox(notice, Translate(1016), BoxIcon::Warning);
    }

    const std::optional<long long> start = ui_.AskLoadAddress(buffer.Length);
    const long long fileLength = static_cast<long long>(decoded.image.size());
    // A negative start would write before the image; a start that pushes the end
    // past what a length can count cannot be held either.
    if (!start || *start < 0 || *start + fileLength > INT32_MAX) {
        ErrorBox(Translate(1023));
        return false;
    }
    if (*start < buffer.Length && !Ask(Translate(1155))) {
        ErrorBox(Translate(1023));
        return false;
    }

    const size_t newLength =
        static_cast<size_t>(std::max<long long>(buffer.Length, *start + fileLength));
    std::vector<uint8_t> merged;
    try {
        merged.reserve(newLength + 1);  // room for the pad byte
        merged.assign(buffer.Data.begin(), buffer.Data.begin() + buffer.Length);
        merged.resize(newLength, 0xFF);
    } catch (const std::bad_alloc&) {
        ErrorBox(Translate(1019));
        return false;
    }
    std::copy(decoded.image.begin(), decoded.image.end(),
              merged.begin() + static_cast<std::ptrdiff_t>(*start));

    buffer.SetContents(std::move(merged), Loaded);
    if (!buffer.IsEeprom)
        buffer.PadToWord();
    // No file holds the merged image: it stays marked, so a later Save does not
    // silently overwrite the merged file with the combination.
    buffer.FileName = path;
    buffer.MarkModified();
    buffer.RefreshPreview();
    buffer.RewriteLabel();
    buffer.SetAllStates(Loaded);
    return true;
}

bool Controller::SaveFile(MemoryBuffer& buffer, const std::string& path)
{
    namespace fs = std::filesystem;
    fs::path target = path;
    std::error_code ec;
    // Replace the file a link points to, not the link.
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec)
            target = resolved;
    }

    std::string tempName;
    const int fd = CreateTempBeside(target, tempName);
    if (fd < 0) {
        ErrorBox(Translate(1015));
        return false;
    }

    bool hex = false;
    switch (KindOfPath(path)) {
    case ImageKind::Binary:
        hex = false;
        break;
    case ImageKind::IntelHex:
        hex = true;
        break;
    case ImageKind::Other:
        hex = Ask(Format(1017, path.c_str()));
        break;
    }

    const size_t length = buffer.HasData()
                              ? std::min(buffer.Data.size(), static_cast<size_t>(buffer.Length))
                              : 0;
    bool ok = true;
    try {
        if (hex) {
            std::string text;
            WriteIntelHex(buffer.Data.data(), length, text);
            ok = WriteAll(fd, text.data(), text.size());
        } else {
            ok = WriteAll(fd, reinterpret_cast<const char*>(buffer.Data.data()), length);
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    // Keep the permissions of the file being replaced.
    struct stat st {};
    if (ok && ::stat(target.c_str(), &st) == 0)
        ::fchmod(fd, st.st_mode & 07777);
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(tempName.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tempName.c_str());
        ErrorBox(Translate(1015));
        return false;
    }

    buffer.Modified = false;
    buffer.SettleProjectMark();
    buffer.RefreshPreview();
    buffer.SetAllStates(Saved);
    buffer.RewriteLabel();
    return true;
}

bool Controller::SaveFileAs(MemoryBuffer& buffer)
{
    if (!buffer.HasData())
        return false;
    const std::optional<std::string> name =
        ui_.AskFileName(FileRequest::SaveImage, buffer.IsEeprom, "Untitled");
    if (!name)
        return false;
    // The new name is kept only when the file was written: a buffer must not be
    // named after a file that does not hold it (a Reload would lose the data).
    const std::string oldName = buffer.FileName;
    buffer.FileName = *name;
    if (!SaveFile(buffer, *name)) {
        buffer.FileName = oldName;
        buffer.RewriteLabel();
        return false;
    }
    return true;
}

bool Controller::ReloadBuffer(MemoryBuffer& buffer)
{
    if (IsUnspecified(buffer.FileName)) {
        buffer.CloseBuffer();
        return true;
    }
    const std::string name = buffer.FileName;
    buffer.CloseBuffer();
    return LoadImageFile(buffer, name) == LoadOutcome::Read;
}

void Controller::CloseBuffer(MemoryBuffer& buffer)
{
    buffer.CloseBuffer();
}

void Controller::ReportLength(MemoryBuffer& buffer)
{
    const int length = buffer.HasData() ? buffer.Length : 0;
    ShowStatus(Format(buffer.IsEeprom ? 1074 : 1041, length, length,
                      static_cast<unsigned>(buffer.Checksum())));
}

void Controller::OnLoad(bool eeprom)
{
    MemoryBuffer& buffer = Buffer(eeprom);
    const std::optional<std::string> name = ui_.AskFileName(FileRequest::OpenImage, eeprom, "Untitled");
    if (!name)
        return;
    if (LoadFile(buffer, *name))
        ReportLength(buffer);
}

void Controller::OnLoadAt(bool eeprom)
{
    MemoryBuffer& buffer = Buffer(eeprom);
    const std::optional<std::string> name = ui_.AskFileName(FileRequest::OpenImage, eeprom, "Untitled");
    if (!name)
        return;
    if (LoadFileAt(buffer, *name))
        ReportLength(buffer);
}

void Controller::OnReload(bool eeprom)
{
    MemoryBuffer& buffer = Buffer(eeprom);
    LastCommandResult = -1;
    // Only a file actually read counts: an auto-program run must not go on to
    // program a buffer whose file has gone.
    if (ReloadBuffer(buffer)) {
        ReportLength(buffer);
        LastCommandResult = 0;
    }
}

void Controller::OnSave(bool eeprom)
{
    MemoryBuffer& buffer = Buffer(eeprom);
    if (buffer.HasData()) {
        if (IsUnspecified(buffer.FileName))
            SaveFileAs(buffer);
        else
            SaveFile(buffer, buffer.FileName);
    }
    ReportLength(buffer);
}

void Controller::OnSaveAs(bool eeprom)
{
    MemoryBuffer& buffer = Buffer(eeprom);
    if (SaveFileAs(buffer))
        ReportLength(buffer);
}

void Controller::OnClose(bool eeprom)
{
    CloseBuffer(Buffer(eeprom));
    ui_.UpdateControls();
}

}  // namespace zelko
