// The core of the main window: it owns every piece of long-lived state (the two
// buffers, the project settings, the board connection settings, the recent
// projects) and carries out the commands. The GUI's main window owns one
// Controller and delegates to it; zelko-cli and the tests drive it directly.
//
// Each area implements its part of this class in its own Controller_*.cpp.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/app/SettingsStore.h"
#include "core/app/UserInterface.h"
#include "core/buffers/MemoryBuffer.h"
#include "core/buffers/ProjectSettings.h"
#include "core/devices/DeviceTable.h"
#include "core/link/SerialPort.h"

namespace zelko {

// Splits a command line into tokens: white space separates them; a token that
// starts with a double quote runs to the next double quote (quotes not kept),
// and an unclosed quote ends the scan. Token 0 is the program path.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

class Controller {
public:
    explicit Controller(UserInterface& ui);
    ~Controller();
    Controller(const Controller&) = delete;
    Controller& operator=(const Controller&) = delete;

    UserInterface& Ui() { return ui_; }

    // ---- Reporting (Controller_report.cpp) -------------------------------
    // Appends one line to the project's log file, when the project names one.
    void AppendLog(const std::string& text);
    // Log line and status line.
    void ShowStatus(const std::string& text);
    // Log line and an information box titled "Programmer ZKxx series".
    void ReportMessage(const std::string& text);
    // The same without an icon.
    void ReportPlainMessage(const std::string& text);
    // An error box titled "ZELKO Program 11.68"; not logged.
    void ErrorBox(const std::string& text);
    // A Yes/No question titled "ZELKO Program 11.68"; not logged.
    bool Ask(const std::string& text, bool defaultYes = true);
    // Writes a line to log.txt of a quiet auto-program run, when it is open.
    void WriteQuietLog(const std::string& text);

    // ---- State ------------------------------------------------------------
    MemoryBuffer flashBuffer{false};
    MemoryBuffer eepromBuffer{true};
    // Carries the buffers' refresh requests to the front end (wired on construction).
    struct BufferOwnerLink : BufferOwner {
        explicit BufferOwnerLink(Controller* c) : controller(c)
        {
            c->flashBuffer.Owner = this;
            c->eepromBuffer.Owner = this;
        }
        void UpdateControls() override;  // buffers/Controller_files.cpp
        Controller* controller;
    } bufferOwnerLink{this};
    ProjectSettings projectSettings;
    int comPort = 0;     // 1-based; 0 = no board configured
    int baudIndex = 0;   // 0..4
    std::array<int, 4> boardDelays{};  // pre-read, page read, page write, post-send (ms)
    std::array<int, 3> lastSignature{0xFF, 0xFF, 0xFF};
    std::array<char, 3> boardVersion{};
    bool autoProgramOk = false;
    std::FILE* quietLog = nullptr;

    // Result indicators of the memory commands, read by the auto-program.
    int LastCommandResult = -1;
    bool FlashVerifyPassed = false;
    bool EepromVerifyPassed = false;
    int FirstMismatch = -1;

    // The device selected in the program (the project's device index).
    int CurrentDeviceIndex() const { return projectSettings.DeviceIndex; }
    const DeviceRecord& SelectedDevice() const { return DeviceAt(projectSettings.DeviceIndex); }
    // Selects a device as if the user had chosen it: the project's device index
    // changes (and the project is marked modified when it differs) and the front
    // end is told.
    void SelectDeviceAsUser(int deviceIndex);
    // Marks the project modified (the "*" in the title).
    void MarkProjectModified();

    // ---- Buffers and image files (buffers/Controller_files.cpp) -----------
    bool LoadFile(MemoryBuffer& buffer, const std::string& path);
    bool LoadFileAt(MemoryBuffer& buffer, const std::string& path);
    // False when the file could not be written (reported; the old file and the
    // buffer are as they were).
    bool SaveFile(MemoryBuffer& buffer, const std::string& path);
    // LoadFile in detail: whether the file was actually read.
    enum class LoadOutcome { Read, NotRead, NoMemory };
    LoadOutcome LoadImageFile(MemoryBuffer& buffer, const std::string& path);
    bool SaveFileAs(MemoryBuffer& buffer);
    bool ReloadBuffer(MemoryBuffer& buffer);
    void CloseBuffer(MemoryBuffer& buffer);
    void ReportLength(MemoryBuffer& buffer);
    MemoryBuffer& Buffer(bool eeprom) { return eeprom ? eepromBuffer : flashBuffer; }
    // The buffer commands of the Flash and Eeprom menus.
    void OnLoad(bool eeprom);
    void OnLoadAt(bool eeprom);
    void OnReload(bool eeprom);
    void OnSave(bool eeprom);
    void OnSaveAs(bool eeprom);
    void OnClose(bool eeprom);

    // ---- Settings, recent projects, project files -------------------------
    // (app/Controller_settings.cpp, buffers/Controller_project.cpp)
    std::array<std::string, 8> recentProjects;
    SettingsStore settings;  // the per-user settings file
    void LoadSettings();   // Connect/COM, HighSpeed, Special1..4, Language/Russian
    void SaveSettings();   // Connect/COM, HighSpeed, Language/Russian
    void LoadRecentProjects();
    void SaveRecentProjects();
    void AddRecentProject(const std::string& path);
    void ResetToDefaults();
    bool LoadProject(const std::string& path);
    void SaveProject(const std::string& path);
    void SaveProjectAs();
    bool OpenProject();
    // The commands of the Project menu.
    void OnProjectNew();
    void OnProjectOpen();
    void OnProjectReload();
    void OnProjectSave();
    void OnProjectSaveAs();
    void OnProjectClose();

    // ---- Link session (link/Controller_link.cpp) --------------------------
    SerialPort serialPort;
    // Gives serialPort the program's port map (link/PortMap.cpp).
    void InstallPortMap();
    const DeviceRecord* CurrentDevice = nullptr;  // device of the session that started last
    bool bootloaderDetected = false;
    bool versionConflict = false;

    bool EnterProgrammingMode(int port, int speedIndex);
    bool LeaveProgrammingMode();
    bool ConnectAndIdentify(int port, bool openOnly, bool checkVersion, bool quiet,
                            bool quietVersionCheck);
    bool CloseWithEscape();
    bool CheckFirmwareVersion(const std::array<char, 3>& version, bool quiet);
    void AbortSession();
    // The SPI code of the project's SPI period, bit 2 added for the AT89S8253.
    uint8_t SpiCode() const;

    // ---- Identification (link/Controller_identify.cpp) --------------------
    bool ReadSignatureBytes();
    // 0 matches the selection, 1 another or unknown device, 2 locked, -1 read failed.
    int CheckTargetSignature();
    void OnReadSignature();
    void OnReadCalibration();
    bool ReadBoardInfo(std::string* nameOut, std::array<uint8_t, 5>* serialOut, bool updateMode);
    void OnProgrammerInfo();

    // ---- Memory commands (operations/Controller_memory.cpp) ---------------
    void OnChipErase();
    void OnProgramFlash();
    void OnReadFlash();
    void OnVerifyFlash();
    void OnProgramEeprom();
    void OnReadEeprom();
    void OnVerifyEeprom();
    void OnBlankCheck();
    void OnUpdateFirmware();
    // The image OnUpdateFirmware uploads; empty = the one installed with the program.
    std::string firmwareImagePath;

    // ---- Lock and fuse bits, auto-program (lockfuse/Controller_lockfuse.cpp) --
    bool ReadLockFuse(LockFuseSettings& result);
    bool ProgramLockFuse(const LockFuseSettings& settings, bool quiet);
    // Reads the chip and reports whether it matches `expected`.
    void VerifyLockFuse(const LockFuseSettings& expected);
    void RunAutoProgram(bool quiet);
    // The unattended run of a project named on the command line: loads it, runs
    // the sequence and reports the verdict ("log.txt" in quiet mode). True when
    // the run ended with DONE.
    bool RunCommandLineAutoProgram(const std::string& project, bool quiet);

private:
    UserInterface& ui_;
};

}  // namespace zelko
