// The auto-program sequence: the project's configured steps chained in one go,
// each judged by the result indicators its command leaves behind.
#include <ctime>

#include "core/app/Controller.h"
#include "core/app/Messages.h"
#include "core/link/Clock.h"
#include "core/lockfuse/LockFuse.h"

namespace zelko {
namespace {

constexpr int kSettleMs = 50;

std::string LocalTimeStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &tm);
    return text;
}

// Puts the counter flags back to their configured values however the run ends;
// the sequence clears them while it programs so the commands leave the
// counters alone.
class CounterFlagsGuard {
public:
    explicit CounterFlagsGuard(ProjectSettings& p)
        : p_(p), eeprom_(p.AutoIncrement), flash_(p.AutoIncrementFlash)
    {
    }
    ~CounterFlagsGuard()
    {
        p_.AutoIncrement = eeprom_;
        p_.AutoIncrementFlash = flash_;
    }

private:
    ProjectSettings& p_;
    bool eeprom_;
    bool flash_;
};

}  // namespace

void Controller::RunAutoProgram(bool quiet)
{
    ProjectSettings& p = projectSettings;
    AppendLog("Autoprogram " + p.ProjectFile + " at " + LocalTimeStamp());

    int flashCount = 0;
    int eepromCount = 0;
    FlashVerifyPassed = true;
    EepromVerifyPassed = true;
    bool anyAction = false;
    bool lockFuseFailed = false;

    if (comPort == 0) {
        ShowStatus(Translate(1031));
        ReportMessage(Translate(1032));
        return;
    }
    ShowStatus(Translate(1121));

    CounterFlagsGuard flagsGuard(p);

    auto pause = [&] {
        ShowStatus(Translate(1180));
        SleepMs(p.ResetStrobeLength);
    };
    // Runs one command, failing unless the command itself reports success.
    auto run = [&](void (Controller::*command)()) {
        LastCommandResult = -1;
        (this->*command)();
        return LastCommandResult;
    };
    auto runReload = [&](bool eeprom) {
        LastCommandResult = -1;
        OnReload(eeprom);
        return LastCommandResult;
    };
    auto fail = [&](int id) { ShowStatus(Translate(id)); };
    auto lockFuseStep = [&](bool quietStep) {
        ShowStatus(Translate(1131));
        Ui().SetWaitCursor(true);
        const LockFuseProgramOutcome o = ProgramLockFuseDetailed(*this, p.LockFuse, quietStep);
        Ui().SetWaitCursor(false);
        if (!o.result)
            ReportMessage(Translate(1132));
        if (!o.result || o.errorReported)
            lockFuseFailed = true;
    };

    if (p.AutoErase) {
        anyAction = true;
        pause();
        if (run(&Controller::OnChipErase) < 0)
            return fail(1122);
        SleepMs(kSettleMs);
    }
    if (p.AutoEmptyCheck) {
        pause();
        const int r = run(&Controller::OnBlankCheck);
        if (r == 1)
            return fail(1123);
        if (r < 0)
            return fail(1124);
        SleepMs(kSettleMs);
    }
    if (p.ProgramFuse && p.ProgramFuseBeforeAll)
        lockFuseStep(quiet);

    struct MemorySteps {
        MemoryBuffer& buffer;
        bool eeprom;
        bool reload, program, verify;
        bool& increment;
        int32_t incrementAddress;
        int& count;
        void (Controller::*programCommand)();
        void (Controller::*verifyCommand)();
        const bool& verifyPassed;
        int reloadError, programError, verifyError, skippedMessage;
    };
    const MemorySteps memories[] = {
        {eepromBuffer, true, p.AutoEepromReload, p.AutoEepromProgram, p.AutoEepromVerify,
         p.AutoIncrement, p.AutoIncAddress, eepromCount, &Controller::OnProgramEeprom,
         &Controller::OnVerifyEeprom, EepromVerifyPassed, 1128, 1129, 1130, 2060},
        {flashBuffer, false, p.AutoFlashReload, p.AutoFlashProgram, p.AutoFlashVerify,
         p.AutoIncrementFlash, p.AutoIncAddressFlash, flashCount, &Controller::OnProgramFlash,
         &Controller::OnVerifyFlash, FlashVerifyPassed, 1125, 1126, 1127, 2061},
    };
    for (const MemorySteps& m : memories) {
        if (!m.buffer.HasData()) {
            if (m.reload || m.program || m.verify || m.increment)
                ShowStatus(Translate(m.skippedMessage));
            continue;
        }
        const bool stepCounter = m.increment;
        m.increment = false;
        if (m.reload) {
            if (runReload(m.eeprom) < 0)
                return fail(m.reloadError);
            SleepMs(kSettleMs);
        }
        if (m.program) {
            anyAction = true;
            m.count = m.buffer.Length;
            pause();
            if (run(m.programCommand) < 0)
                return fail(m.programError);
            SleepMs(kSettleMs);
        }
        if (m.verify) {
            anyAction = true;
            pause();
            if (run(m.verifyCommand) < 0 || !m.verifyPassed)
                return fail(m.verifyError);
            SleepMs(kSettleMs);
        }
        if (stepCounter) {
            m.increment = true;
            // A reload that failed to read leaves no data behind; nothing to step.
            if (m.buffer.HasData())
                m.buffer.IncrementCounter(m.incrementAddress);
        }
    }

    if (p.ProgramFuse && !p.ProgramFuseBeforeAll)
        lockFuseStep(false);

    if (lockFuseFailed) {
        ShowStatus(Translate(1132));
        return;
    }
    if (!anyAction) {
        ShowStatus(Translate(1133));
        return;
    }
    if (flashCount == 0 && eepromCount == 0)
        ShowStatus(Translate(1063));
    else if (eepromCount == 0)
        ShowStatus(Format(1064, flashCount));
    else if (flashCount == 0)
        ShowStatus(Format(1065, eepromCount));
    else
        ShowStatus(Format(1066, flashCount, eepromCount));
    autoProgramOk = true;
}

bool Controller::RunCommandLineAutoProgram(const std::string& project, bool quiet)
{
    // A project that cannot be loaded has been reported by the loader; the run
    // then finds nothing to do and ends without success.
    LoadProject(project);
    if (quiet && !quietLog) {
        quietLog = std::fopen("log.txt", "a");
        WriteQuietLog("ZELKO started in quietautoprogram mode.\n");
    }
    autoProgramOk = false;
    RunAutoProgram(quiet);
    if (quiet)
        WriteQuietLog(std::string(Translate(autoProgramOk ? 1190 : 1191)) + "\n");
    else if (autoProgramOk)
        ReportPlainMessage(Translate(1190));
    return autoProgramOk;
}

}  // namespace zelko
