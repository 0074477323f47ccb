#include <optional>

#include "core/app/Controller.h"
#include "core/app/IniFile.h"
#include "core/app/Messages.h"
#include "core/buffers/ProjectFile.h"

namespace zelko {
namespace {

// Status texts of the Project menu; they are not in the catalogue.
constexpr const char* kProjectLoaded = "Project loaded";
constexpr const char* kProjectNotLoaded = "Project not loaded";

bool IsRealPath(const std::string& path)
{
    return !path.empty() && path != kUnspecified;
}

}  // namespace

void Controller::ResetToDefaults()
{
    ProjectSettings& p = projectSettings;
    p.ProjectFile = kUnspecified;
    p.LockFuse = LockFuseSettings{};
    p.FlashInvert = false;
    p.Polling = false;
    p.SPIPeriod = 4;
    p.AutoErase = p.AutoEmptyCheck = p.AutoFlashReload = p.AutoFlashProgram = false;
    p.AutoFlashVerify = p.AutoEepromReload = p.AutoEepromProgram = p.AutoEepromVerify = false;
    p.AutoIncrementFlash = p.AutoIncrement = p.ProgramFuse = false;
    p.AutoIncAddressFlash = 0;
    p.AutoIncAddress = 0;
    ui_.InvertChanged(false);
    ui_.UpdateControls();
}

bool Controller::LoadProject(const std::string& path)
{
    if (path == kUnspecified) {
        ResetToDefaults();
        return true;
    }

    // The file is read once; the two reads of "Flash" with different defaults
    // tell a file that has the key from one that is missing or lacks it.
    IniFile ini;
    ini.Load(path);
    if (ini.ReadString("Files", "Flash", "Test1") != ini.ReadString("Files", "Flash", "Test2")) {
        ErrorBox(Format(1024, path.c_str()));
        return false;
    }

    ResetToDefaults();
    ReadProjectKeys(ini, projectSettings);
    ProjectSettings& p = projectSettings;
    ui_.InvertChanged(p.FlashInvert);
    ui_.IncrementChanged(p.AutoIncrement);

    CloseBuffer(flashBuffer);
    CloseBuffer(eepromBuffer);
    LoadFile(flashBuffer, ini.ReadString("Files", "Flash", kUnspecified));
    LoadFile(eepromBuffer, ini.ReadString("Files", "Eeprom", kUnspecified));

    p.Log = ini.ReadString("Files", "Log", "");
    p.OverwriteLog = OverwriteLogEnabled(ini.ReadString("Files", "OverwriteLog", ""));
    p.Modified = false;
    p.ProjectFile = path;
    ui_.UpdateControls();
    return true;
}

void Controller::SaveProject(const std::string& path)
{
    const bool wasModified = projectSettings.Modified;
    for (MemoryBuffer* buffer : {&flashBuffer, &eepromBuffer}) {
        if (!buffer->HasData())
            continue;
        if (IsRealPath(buffer->FileName))
            SaveFile(*buffer, buffer->FileName);
        else
            SaveFileAs(*buffer);
    }

    // Everything is set in memory and written in one go, so a failed write
    // leaves the previous file whole; a file that exists but cannot be read is
    // not replaced, since its other lines would be lost.
    IniFile ini;
    bool ok = ini.Load(path);
    if (!ok) {
        std::error_code ec;
        ok = !std::filesystem::exists(path, ec) && !ec;
    }
    ok = ok && WriteProjectKeys(ini, projectSettings, flashBuffer.FileName, eepromBuffer.FileName);
    ok = ok && ini.Save(path);
    if (!ok) {
        // Saving the buffers may have settled the mark; the project itself is
        // still not on disk.
        projectSettings.Modified = wasModified;
        ReportMessage(Format(2010, path.c_str()));
        return;
    }
    projectSettings.Modified = false;
}

void Controller::SaveProjectAs()
{
    const std::optional<std::string> path =
        ui_.AskFileName(FileRequest::SaveProject, false, "Untitled");
    if (!path)
        return;
    projectSettings.ProjectFile = *path;
    SaveProject(*path);
}

bool Controller::OpenProject()
{
    const std::optional<std::string> path =
        ui_.AskFileName(FileRequest::OpenProject, false, "Untitled");
    if (!path)
        return false;
    return LoadProject(*path);
}

void Controller::OnProjectNew()
{
    ResetToDefaults();
    projectSettings.Modified = false;
    settings.WriteInt("Recent", "LoadMostRecent", 0);
    ui_.UpdateControls();
}

void Controller::OnProjectOpen()
{
    if (OpenProject()) {
        ShowStatus(kProjectLoaded);
        AddRecentProject(projectSettings.ProjectFile);
        settings.WriteInt("Recent", "LoadMostRecent", 1);
        ui_.DeviceSelected(projectSettings.DeviceIndex);
    } else {
        ShowStatus(kProjectNotLoaded);
    }
    ui_.UpdateControls();
}

void Controller::OnProjectReload()
{
    const std::string path = projectSettings.ProjectFile;
    bool loaded = true;
    if (!path.empty()) {
        ResetToDefaults();
        projectSettings.ProjectFile = path;
        loaded = LoadProject(path);
    }
    // A file that can no longer be read was reported by LoadProject; saying
    // "loaded" after that would tell the user the opposite.
    if (loaded) {
        ShowStatus(kProjectLoaded);
        settings.WriteInt("Recent", "LoadMostRecent", 1);
    } else {
        ShowStatus(kProjectNotLoaded);
    }
    ui_.DeviceSelected(projectSettings.DeviceIndex);
    ui_.UpdateControls();
}

void Controller::OnProjectSave()
{
    if (IsRealPath(projectSettings.ProjectFile))
        SaveProject(projectSettings.ProjectFile);
    else
        SaveProjectAs();
    ui_.UpdateControls();
}

void Controller::OnProjectSaveAs()
{
    SaveProjectAs();
    if (IsRealPath(projectSettings.ProjectFile))
        AddRecentProject(projectSettings.ProjectFile);
    ui_.UpdateControls();
}

void Controller::OnProjectClose()
{
    ResetToDefaults();
    CloseBuffer(flashBuffer);
    CloseBuffer(eepromBuffer);
    settings.WriteInt("Recent", "LoadMostRecent", 0);
    ui_.UpdateControls();
}

}  // namespace zelko
