#include <gtest/gtest.h>

#include "core/link/SerialPort.h"
#include "core/link/FakeTransport.h"

namespace zelko::test {
namespace {

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { line->Attach(port); }
    void TearDown() override { SetSleeper(nullptr); }

    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    SerialPort port;
};

TEST(SerialPortSpeeds, IndexTableWithUnknownIndexesAt19200)
{
    const std::pair<int, int> cases[] = {{0, 19200},  {1, 115200}, {2, 230400}, {3, 460800},
                                         {4, 921600}, {5, 19200},  {7, 19200},  {-1, 19200}};
    for (auto [index, baud] : cases)
        EXPECT_EQ(SerialPort::BaudForIndex(index), baud) << index;
}

TEST_F(SerialPortTest, OpenUsesPortNumberAndReopenClosesFirst)
{
    ASSERT_TRUE(port.Open(13, 19200));
    EXPECT_EQ(port.DeviceName(), "/dev/fake14");
    ASSERT_TRUE(port.Open(13, 115200));
    EXPECT_EQ(line->trace,
              (std::vector<std::string>{"port 14", "open 19200", "close", "port 14", "open 115200"}));
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.BaudRate(), 115200);
}

TEST_F(SerialPortTest, FailedOpenLeavesPortClosedWithReason)
{
    line->refuseOpen = true;
    EXPECT_FALSE(port.Open(0, 19200));
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.LastError(), "Device or resource busy");
    EXPECT_FALSE(port.SendByte('%'));
}

TEST(SerialPortNoFactory, UnknownPortFailsToOpen)
{
    SerialPort port;
    EXPECT_FALSE(port.Open(0, 19200));
    EXPECT_FALSE(port.LastError().empty());
}

TEST_F(SerialPortTest, ClosedPortTouchesNothing)
{
    EXPECT_EQ(port.ReceiveByte(), 0);  // never taken for the acknowledgement 0x0D
    EXPECT_EQ(port.Receive(1), nullptr);
    EXPECT_FALSE(port.SendByte(1));
    const uint8_t b[2] = {1, 2};
    EXPECT_FALSE(port.SendBytes(2, b));
    EXPECT_TRUE(port.Close());
    EXPECT_TRUE(line->trace.empty());
}

TEST_F(SerialPortTest, EveryWriteIsPrecededByADrain)
{
    ASSERT_TRUE(port.Open(0, 19200));
    const uint8_t packet[4] = {'#', 0, 0x82, 0};
    EXPECT_TRUE(port.SendByte('%'));
    EXPECT_TRUE(port.SendBytes(4, packet));
    EXPECT_EQ(line->drains, 2);
    EXPECT_EQ(line->writeCalls, 2);
    EXPECT_EQ(line->Bytes(), (std::vector<std::string>{"tx 25", "tx 23 00 82 00"}));
}

TEST_F(SerialPortTest, FailedWriteCallIsRetriedExactlyOnce)
{
    ASSERT_TRUE(port.Open(0, 19200));
    line->failWriteCalls = {1};
    EXPECT_TRUE(port.SendByte('%'));
    EXPECT_EQ(line->writeCalls, 2);

    line->failWriteCalls = {3, 4};
    EXPECT_FALSE(port.SendByte('@'));
    EXPECT_EQ(line->writeCalls, 4);
}

TEST_F(SerialPortTest, ShortWriteFailsWithoutRetry)
{
    ASSERT_TRUE(port.Open(0, 19200));
    line->shortWrite = 3;
    const uint8_t packet[4] = {'#', 0, 0x82, 0};
    EXPECT_FALSE(port.SendBytes(4, packet));
    EXPECT_EQ(line->writeCalls, 1);
}

TEST_F(SerialPortTest, ReceiveKeepsReadingWhileBytesArrive)
{
    ASSERT_TRUE(port.Open(0, 19200));
    line->maxChunk = 1;
    line->Reply({0x1E, 0x93, 0x07});
    const uint8_t* r = port.Receive(3);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[0], 0x1E);
    EXPECT_EQ(r[1], 0x93);
    EXPECT_EQ(r[2], 0x07);
    EXPECT_EQ(line->reads, 3);
}

TEST_F(SerialPortTest, ReceiveFailsOnSilenceAndOnHangUp)
{
    ASSERT_TRUE(port.Open(0, 19200));
    line->Reply({0x0D});
    EXPECT_EQ(port.Receive(2), nullptr);  // one byte, then a whole wait with nothing
    EXPECT_EQ(port.ReceiveByte(), -1);

    line->hangUp = true;
    line->Reply({0x41});
    EXPECT_EQ(port.Receive(2), nullptr);
    const int readsBefore = line->reads;
    EXPECT_EQ(port.ReceiveByte(), -1);
    EXPECT_EQ(line->reads, readsBefore + 1);  // no spinning on a dead line
}

TEST_F(SerialPortTest, ReceiveUsesOneBufferAndRejectsBadLengths)
{
    ASSERT_TRUE(port.Open(0, 19200));
    line->Reply({1, 2});
    const uint8_t* first = port.Receive(1);
    const uint8_t* second = port.Receive(1);
    EXPECT_EQ(first, second);
    EXPECT_EQ(port.Receive(0), nullptr);
    EXPECT_EQ(port.Receive(SerialPort::kReceiveBufferSize + 1), nullptr);

    std::string big(SerialPort::kReceiveBufferSize, 'x');
    line->Reply(big);
    EXPECT_NE(port.Receive(SerialPort::kReceiveBufferSize), nullptr);
}

}  // namespace
}  // namespace zelko::test
