#include "core/buffers/ProjectFile.h"

#include <optional>

#include "core/devices/DeviceTable.h"

namespace zelko {
namespace {

constexpr int kLockModeMaxLength = 128;
constexpr int kSpiPeriodCount = 7;
constexpr int kLockModeCount = 4;

std::string Key(const char* stem, int n)
{
    return stem + std::to_string(n);
}

class Writer {
public:
    explicit Writer(IniFile& ini) : ini_(ini) {}
    void Str(const char* section, const std::string& key, const std::string& value)
    {
        ok_ = ini_.WriteString(section, key, value) && ok_;
    }
    void Int(const char* section, const std::string& key, int value)
    {
        Str(section, key, std::to_string(value));
    }
    void Bool(const char* section, const std::string& key, bool value)
    {
        Str(section, key, value ? "1" : "0");
    }
    bool ok() const { return ok_; }

private:
    IniFile& ini_;
    bool ok_ = true;
};

}  // namespace

bool OverwriteLogEnabled(std::string_view text)
{
    return text == "1" || text == "yes" || text == "Yes" || text == "true" || text == "True";
}

bool WriteProjectKeys(IniFile& ini, const ProjectSettings& p, const std::string& flashFile,
                      const std::string& eepromFile)
{
    Writer w(ini);
    w.Str("Files", "Flash", flashFile.empty() ? kUnspecified : flashFile);
    w.Str("Files", "Eeprom", eepromFile.empty() ? kUnspecified : eepromFile);
    w.Bool("Files", "FlashInvert", p.FlashInvert);

    w.Bool("Settings", "Polling", p.Polling);
    w.Bool("Settings", "CheckSign", p.CheckSign);
    w.Bool("Settings", "NoSynchronization", p.NoSynchronization);

    const char* ap = "AutoProgram";
    w.Bool(ap, "AutoErase", p.AutoErase);
    w.Bool(ap, "AutoEmptyCheck", p.AutoEmptyCheck);
    w.Bool(ap, "AutoFlashReload", p.AutoFlashReload);
    w.Bool(ap, "AutoFlashProgram", p.AutoFlashProgram);
    w.Bool(ap, "AutoFlashVerify", p.AutoFlashVerify);
    w.Bool(ap, "AutoEepromReload", p.AutoEepromReload);
    w.Bool(ap, "AutoEepromProgram", p.AutoEepromProgram);
    w.Bool(ap, "AutoEepromVerify", p.AutoEepromVerify);
    w.Bool(ap, "AutoIncrementFlash", p.AutoIncrementFlash);
    w.Bool(ap, "AutoIncrement", p.AutoIncrement);
    w.Bool(ap, "ProgramFuse", p.ProgramFuse);
    w.Bool(ap, "ProgramFuseBeforeAll", p.ProgramFuseBeforeAll);
    w.Int(ap, "LockMode", p.LockFuse.lockMode);
    for (int i = 0; i < 32; ++i)
        w.Bool(ap, Key("Fuse", i), p.LockFuse.fuses[static_cast<size_t>(i)] != 0);
    for (int i = 0; i < 16; ++i)
        w.Bool(ap, Key("BootLock", i), p.LockFuse.bootLocks[static_cast<size_t>(i)] != 0);

    w.Int("Settings", "ResetStrobeLength", p.ResetStrobeLength);
    w.Int("Settings", "SPIPeriod", p.SPIPeriod);
    w.Int(ap, "AutoIncAddressFlash", p.AutoIncAddressFlash);
    w.Int(ap, "AutoIncAddress", p.AutoIncAddress);

    // A few device numbers are carried by two records. The number stays what
    // the table gives, so files stay readable everywhere; the name tells the
    // records apart, and is written only where it is needed (or where the file
    // already has it, which must then not name the other record).
    const DeviceRecord& dev = DeviceAt(p.DeviceIndex);
    w.Int("Device", "DeviceNo", dev.deviceNo);
    if (FindByDeviceNo(dev.deviceNo) != p.DeviceIndex || ini.Find("Device", "DeviceName"))
        w.Str("Device", "DeviceName", dev.name);

    w.Bool("Delays", "DelayByte", p.DelayByte);
    w.Bool("Delays", "DelayPage", p.DelayPage);
    w.Int("Delays", "DelayByteValue", p.DelayByteValue);
    w.Int("Delays", "DelayPageValue", p.DelayPageValue);
    w.Bool("Delays", "DelayByte2", p.DelayByte2);
    w.Bool("Delays", "DelayPage2", p.DelayPage2);
    w.Int("Delays", "DelayByteValue2", p.DelayByteValue2);
    w.Int("Delays", "DelayPageValue2", p.DelayPageValue2);
    return w.ok();
}

void ReadProjectKeys(const IniFile& ini, ProjectSettings& p)
{
    auto flag = [&](const char* section, const std::string& key) {
        return ini.ReadInt(section, key, 0) != 0;
    };
    const char* ap = "AutoProgram";
    p.FlashInvert = flag("Files", "FlashInvert");
    p.Polling = flag("Settings", "Polling");
    p.ResetStrobeLength = ini.ReadInt("Settings", "ResetStrobeLength", 400);
    p.CheckSign = flag("Settings", "CheckSign");
    p.SPIPeriod = ini.ReadInt("Settings", "SPIPeriod", 4);
    p.AutoErase = flag(ap, "AutoErase");
    p.AutoEmptyCheck = flag(ap, "AutoEmptyCheck");
    p.AutoFlashReload = flag(ap, "AutoFlashReload");
    p.AutoFlashProgram = flag(ap, "AutoFlashProgram");
    p.AutoFlashVerify = flag(ap, "AutoFlashVerify");
    p.AutoEepromReload = flag(ap, "AutoEepromReload");
    p.AutoEepromProgram = flag(ap, "AutoEepromProgram");
    p.AutoEepromVerify = flag(ap, "AutoEepromVerify");
    p.NoSynchronization = flag("Settings", "NoSynchronization");
    p.AutoIncrement = flag(ap, "AutoIncrement");
    p.AutoIncAddress = ini.ReadInt(ap, "AutoIncAddress", 0);
    p.AutoIncrementFlash = flag(ap, "AutoIncrementFlash");
    p.AutoIncAddressFlash = ini.ReadInt(ap, "AutoIncAddressFlash", 0);
    p.DelayByte = flag("Delays", "DelayByte");
    p.DelayPage = flag("Delays", "DelayPage");
    p.DelayByteValue = ini.ReadInt("Delays", "DelayByteValue", 0);
    p.DelayPageValue = ini.ReadInt("Delays", "DelayPageValue", 0);
    p.DelayByte2 = flag("Delays", "DelayByte2");
    p.DelayPage2 = flag("Delays", "DelayPage2");
    p.DelayByteValue2 = ini.ReadInt("Delays", "DelayByteValue2", 0);
    p.DelayPageValue2 = ini.ReadInt("Delays", "DelayPageValue2", 0);
    p.ProgramFuse = flag(ap, "ProgramFuse");
    p.ProgramFuseBeforeAll = flag(ap, "ProgramFuseBeforeAll");
    p.LockFuse.lockMode =
        ParseLeadingInt(ini.ReadString(ap, "LockMode", "0", kLockModeMaxLength)).value_or(0);
    for (int i = 0; i < 32; ++i)
        p.LockFuse.fuses[static_cast<size_t>(i)] = flag(ap, Key("Fuse", i)) ? 1 : 0;
    for (int i = 0; i < 16; ++i)
        p.LockFuse.bootLocks[static_cast<size_t>(i)] = flag(ap, Key("BootLock", i)) ? 1 : 0;

    // Both values index fixed tables (the SPI clock list, the lock modes); a
    // hand-edited file must not take them out of range.
    if (p.SPIPeriod < 0 || p.SPIPeriod >= kSpiPeriodCount)
        p.SPIPeriod = 4;
    if (p.LockFuse.lockMode < 0 || p.LockFuse.lockMode >= kLockModeCount)
        p.LockFuse.lockMode = 0;

    p.DeviceIndex = ProjectDeviceIndex(ini);
}

int ProjectDeviceIndex(const IniFile& ini)
{
    const std::optional<std::string> text = ini.Find("Device", "DeviceNo");
    const std::optional<int> parsed = text ? ParseLeadingInt(*text) : std::nullopt;
    if (!parsed)
        return kDefaultDeviceIndex;
    const int number = *parsed;
    const int index = FindByDeviceNo(number);
    if (const std::optional<std::string> name = ini.Find("Device", "DeviceName")) {
        const int named = FindByName(*name);
        if (named >= 0 && DeviceAt(named).deviceNo == number)
            return named;
    }
    return index;
}

}  // namespace zelko
