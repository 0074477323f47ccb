#include "core/link/SerialPort.h"

#include "core/app/Messages.h"

namespace zelko {

SerialPort::SerialPort() : receiveBuffer_(kReceiveBufferSize) {}

SerialPort::~SerialPort()
{
    Close();
}

void SerialPort::SetTransportFactory(TransportFactory factory)
{
    factory_ = std::move(factory);
}

int SerialPort::BaudForIndex(int index)
{
    switch (index) {
    case 1: return 115200;
    case 2: return 230400;
    case 3: return 460800;
    case 4: return 921600;
    default: return 19200;
    }
}

bool SerialPort::Open(int portIndex, int baudRate)
{
    Close();
    portIndex_ = portIndex;
    baudRate_ = baudRate;
    lastError_.clear();
    const int portNumber = portIndex + 1;
    deviceName_ = "COM" + std::to_string(portNumber);
    std::unique_ptr<Transport> t;
    if (factory_)
        t = factory_(portNumber, deviceName_);
    if (!t) {
        lastError_ = Format(2023, portNumber, portNumber);
        return false;
    }
    std::string error;
    if (!t->Open(baudRate, error)) {
        lastError_ = error.empty() ? std::string(Translate(2025)) : error;
        return false;
    }
    transport_ = std::move(t);
    isOpen_ = true;
    return true;
}

bool SerialPort::Close()
{
    if (isOpen_) {
        isOpen_ = false;
        transport_->Close();
        transport_.reset();
    }
    return true;
}

bool SerialPort::SendByte(uint8_t b)
{
    return SendBytes(1, &b);
}

bool SerialPort::SendBytes(size_t n, const uint8_t* data)
{
    if (!isOpen_ || n == 0)
        return false;
    // The next write must not start before the previous bytes are on the line.
    transport_->Drain();
    long written = transport_->Write(data, n, kTimeoutMs);
    if (written < 0)
        written = transport_->Write(data, n, kTimeoutMs);
    return written >= static_cast<long>(n);
}

const uint8_t* SerialPort::Receive(size_t n)
{
    if (!isOpen_ || n == 0 || n > kReceiveBufferSize)
        return nullptr;
    size_t got = 0;
    for (;;) {
        const long r = transport_->Read(receiveBuffer_.data() + got, n - got, kTimeoutMs);
        if (r <= 0)
            return nullptr;  // a whole wait without a byte, or the peer hung up
        got += static_cast<size_t>(r);
        if (got >= n)
            return receiveBuffer_.data();
    }
}

int SerialPort::ReceiveByte()
{
    if (!isOpen_)
        return 0;
    uint8_t b = 0;
    return transport_->Read(&b, 1, kTimeoutMs) == 1 ? b : -1;
}

}  // namespace zelko
