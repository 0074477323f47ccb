// The program's single channel to the programmer board: opened at a given
// speed, raw bytes both ways with fixed time-outs, closed again. It knows
// nothing of the protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/link/Transport.h"

namespace zelko {

class SerialPort {
public:
    static constexpr int kTimeoutMs = 2800;
    static constexpr size_t kReceiveBufferSize = 32768;

    // Makes the transport for port number `portNumber` (1-based); nullptr when
    // the port is not known. `deviceName` receives what the port opens (a path,
    // or "sim..."), for messages.
    using TransportFactory =
        std::function<std::unique_ptr<Transport>(int portNumber, std::string& deviceName)>;

    SerialPort();
    ~SerialPort();

    void SetTransportFactory(TransportFactory factory);

    // Opens port portIndex + 1 at baudRate. A port that is open is closed first.
    bool Open(int portIndex, int baudRate);
    bool Close();
    bool SendByte(uint8_t b);
    bool SendBytes(size_t n, const uint8_t* data);
    // Exactly n bytes (1..32768) into the receive buffer, or nullptr when a whole
    // read wait brought nothing (or the peer hung up).
    const uint8_t* Receive(size_t n);
    // One byte 0..255, -1 when none arrived, 0 when the port is not open.
    int ReceiveByte();

    static int BaudForIndex(int index);

    bool IsOpen() const { return isOpen_; }
    int PortIndex() const { return portIndex_; }
    int BaudRate() const { return baudRate_; }
    // The device behind the last open request, and the system's reason when the
    // open failed.
    const std::string& DeviceName() const { return deviceName_; }
    const std::string& LastError() const { return lastError_; }

private:
    TransportFactory factory_;
    std::unique_ptr<Transport> transport_;
    int portIndex_ = 0;
    bool isOpen_ = false;
    int baudRate_ = 19200;
    std::string deviceName_;
    std::string lastError_;
    std::vector<uint8_t> receiveBuffer_;
};

}  // namespace zelko
