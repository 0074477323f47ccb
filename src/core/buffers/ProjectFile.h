// The project file: ProjectSettings stored as INI text with the sections Files,
// Settings, AutoProgram, Device and Delays. The Controller's project commands
// (buffers/Controller_project.cpp) add the buffers, the user and the recent list.
#pragma once

#include <string>
#include <string_view>

#include "core/app/IniFile.h"
#include "core/buffers/ProjectSettings.h"

namespace zelko {

// "OverwriteLog" is on only for exactly "1", "yes", "Yes", "true" or "True".
bool OverwriteLogEnabled(std::string_view text);

// Sets every key a project file stores, in the file's order, so a new file gets
// the standard layout and an existing one keeps its other lines. The image file
// names come from the buffers, hence the two arguments. False when a value
// cannot be stored (a file name with a line break).
bool WriteProjectKeys(IniFile& ini, const ProjectSettings& project, const std::string& flashFile,
                      const std::string& eepromFile);

// Reads every stored setting, each missing key taking its read default. Leaves
// alone what a project file does not hold: ProjectFile, Log, OverwriteLog,
// Modified and LockFuse.readable.
void ReadProjectKeys(const IniFile& ini, ProjectSettings& project);

// The device a project file names: DeviceNo looked up in the device table (a
// number no device has gives index 0; a missing or non-numeric key gives the
// ATmega8/8A). DeviceName chooses between records sharing one number.
int ProjectDeviceIndex(const IniFile& ini);

}  // namespace zelko
