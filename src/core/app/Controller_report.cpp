#include <cstdio>

#include "core/app/Controller.h"
#include "core/app/Messages.h"

namespace zelko {

Controller::Controller(UserInterface& ui) : ui_(ui)
{
    projectSettings.FlashBuffer = &flashBuffer;
    projectSettings.EepromBuffer = &eepromBuffer;
    flashBuffer.Project = &projectSettings;
    eepromBuffer.Project = &projectSettings;
    InstallPortMap();
}

Controller::~Controller()
{
    if (quietLog)
        std::fclose(quietLog);
}

void Controller::AppendLog(const std::string& text)
{
    ProjectSettings& p = projectSettings;
    if (p.Log.empty())
        return;
    std::FILE* f = std::fopen(p.Log.c_str(), p.OverwriteLog ? "w" : "a");
    if (!f)
        return;  // the log fails silently
    p.OverwriteLog = false;
    std::fprintf(f, "%s\n", text.c_str());
    std::fclose(f);
}

void Controller::ShowStatus(const std::string& text)
{
    AppendLog(text);
    ui_.ShowStatusLine(text);
}

void Controller::ReportMessage(const std::string& text)
{
    AppendLog(text);
    ui_.ShowBox(text, Translate(1025), BoxIcon::Information);
}

void Controller::ReportPlainMessage(const std::string& text)
{
    AppendLog(text);
    ui_.ShowBox(text, Translate(1025), BoxIcon::None);
}

void Controller::ErrorBox(const std::string& text)
{
    ui_.ShowBox(text, Translate(1016), BoxIcon::Error);
}

bool Controller::Ask(const std::string& text, bool defaultYes)
{
    return ui_.AskYesNo(text, Translate(1016), BoxIcon::Question, defaultYes);
}

void Controller::MarkProjectModified()
{
    if (!projectSettings.Modified) {
        projectSettings.Modified = true;
        ui_.UpdateControls();
    }
}

void Controller::SelectDeviceAsUser(int deviceIndex)
{
    if (deviceIndex < 0 || deviceIndex >= kDeviceCount)
        return;
    if (deviceIndex != projectSettings.DeviceIndex) {
        projectSettings.DeviceIndex = deviceIndex;
        MarkProjectModified();
    }
    ui_.DeviceSelected(deviceIndex);
    ui_.UpdateControls();
}

void Controller::WriteQuietLog(const std::string& text)
{
    if (!quietLog)
        return;
    std::fputs(text.c_str(), quietLog);
    std::fflush(quietLog);
}

}  // namespace zelko
