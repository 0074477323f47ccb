// The serial port and the link session on real pseudo-terminals, with real
// time: these tests keep the protocol's pauses and the port's time-outs.
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>

#include "core/link/LinkFixture.h"
#include "core/link/PtyHarness.h"

namespace zelko::test {
namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class PtyPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.Ok());
        const std::string path = pty.path;
        port.SetTransportFactory([path](int, std::string& name) {
            name = path;
            return std::unique_ptr<Transport>(new PosixSerialTransport(path));
        });
    }
    Pty pty;
    SerialPort port;
};

TEST_F(PtyPortTest, BytesArrivingInTwoPartsAreReceivedWhole)
{
    ASSERT_TRUE(port.Open(0, 19200));
    std::thread board([this] {
        pty.Write("\x1E");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        pty.Write("\x93\x07");
    });
    const uint8_t* r = port.Receive(3);
    board.join();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r), 3), "\x1E\x93\x07");
}

TEST_F(PtyPortTest, SilenceFailsAfterTheWholeWait)
{
    ASSERT_TRUE(port.Open(0, 19200));
    const auto start = Clock::now();
    EXPECT_EQ(port.Receive(1), nullptr);
    const long ms = MsSince(start);
    EXPECT_GE(ms, SerialPort::kTimeoutMs - 50);
    EXPECT_LT(ms, SerialPort::kTimeoutMs + 1500);
}

TEST_F(PtyPortTest, HangUpEndsTheReadAtOnce)
{
    ASSERT_TRUE(port.Open(0, 19200));
    pty.CloseMaster();
    const auto start = Clock::now();
    EXPECT_EQ(port.Receive(1), nullptr);
    EXPECT_EQ(port.ReceiveByte(), -1);
    EXPECT_LT(MsSince(start), 1000);
}

TEST_F(PtyPortTest, RawLineCarriesEveryByteValueBothWays)
{
    ASSERT_TRUE(port.Open(0, 115200));
    EXPECT_EQ(pty.Baud(), 115200);
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    ASSERT_TRUE(port.SendBytes(all.size(), reinterpret_cast<const uint8_t*>(all.data())));
    std::string got;
    while (got.size() < all.size()) {
        pollfd p {pty.master, POLLIN, 0};
        ASSERT_GT(::poll(&p, 1, 2000), 0);
        char buf[512];
        const ssize_t n = ::read(pty.master, buf, sizeof buf);
        ASSERT_GT(n, 0);
        got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, all);  // no CR/LF translation, no XON/XOFF swallowed
    pty.Write(all);
    const uint8_t* r = port.Receive(all.size());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r), all.size()), all);
}

TEST_F(PtyPortTest, PortHeldByAnotherProcessCannotBeOpened)
{
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PosixSerialTransport holder(pty.path);
        std::string error;
        const char ok = holder.Open(19200, error) ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        ::pause();  // held until the test kills this process
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');

    RecordingUi ui;
    Controller c(ui);
    const std::string path = pty.path;
    c.serialPort.SetTransportFactory([path](int, std::string& name) {
        name = path;
        return std::unique_ptr<Transport>(new PosixSerialTransport(path));
    });
    TempDir dir;
    c.projectSettings.Log = (dir / "log.txt").string();
    SetSleeper([](int) {});
    EXPECT_FALSE(c.EnterProgrammingMode(1, 0));
    SetSleeper(nullptr);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);

    EXPECT_EQ(ui.Texts(UiEvent::Box), (std::vector<std::string>{Translate(1173)}));
    const std::string reason = ui.LastStatus();
    EXPECT_EQ(reason.rfind("Cannot open " + path + ": Device or resource busy", 0), 0u) << reason;
    EXPECT_NE(reason.find(Translate(2022)), std::string::npos) << reason;
    EXPECT_EQ(ReadFile(dir / "log.txt"),
              Translate(1027) + std::string("\n") + Translate(1173) + "\n" + reason + "\n");

    // Once the holder has gone, the port opens.
    EXPECT_TRUE(port.Open(0, 19200));
}

TEST_F(PtyPortTest, LockTakenByAnyProgramKeepsUsOut)
{
    // A lock on the device file stops us even where TIOCEXCL would not (root).
    const int other = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(port.Open(0, 19200));
    EXPECT_NE(port.LastError().find(Translate(2022)), std::string::npos);
    ::close(other);
    EXPECT_TRUE(port.Open(0, 19200));
    // ... and while we hold the port, nobody else gets it.
    const int third = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    if (third >= 0) {  // root passes TIOCEXCL
        EXPECT_NE(::flock(third, LOCK_EX | LOCK_NB), 0);
        ::close(third);
    }
}

TEST_F(PtyPortTest, PermissionProblemNamesTheGroupAndTheRemedy)
{
    // The open is tried by a child that is not allowed to use the device: as
    // root it becomes "nobody"; otherwise the device is made unreadable.
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(pty.path.c_str(), 0), 0);
    }
    int result[2];
    ASSERT_EQ(::pipe(result), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        PosixSerialTransport t(pty.path);
        std::string error;
        if (t.Open(19200, error))
            error = "opened";
        (void)!::write(result[1], error.data(), error.size());
        ::_exit(0);
    }
    ::close(result[1]);
    std::string error;
    char buf[512];
    ssize_t n;
    while ((n = ::read(result[0], buf, sizeof buf)) > 0)
        error.append(buf, static_cast<size_t>(n));
    ::close(result[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    struct stat st {};
    ASSERT_EQ(::stat(pty.path.c_str(), &st), 0);
    const struct group* g = ::getgrgid(st.st_gid);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(error.rfind("Permission denied", 0), 0u) << error;
    EXPECT_NE(error.find(std::string("sudo usermod -aG ") + g->gr_name + " $USER"),
              std::string::npos)
        << error;
}

TEST(PtyPortMissing, MissingDeviceAndNotASerialDevice)
{
    PosixSerialTransport missing("/dev/does-not-exist-zelko");
    std::string error;
    EXPECT_FALSE(missing.Open(19200, error));
    EXPECT_EQ(error, "No such file or directory");

    TempDir dir;
    WriteFile(dir / "plain", "x");
    PosixSerialTransport plain((dir / "plain").string());
    EXPECT_FALSE(plain.Open(19200, error));
    EXPECT_NE(error.find(Translate(2024)), std::string::npos) << error;
}

}  // namespace
}  // namespace zelko::test
