// The WinUSB bus for the Qt program: discovery through SetupAPI and devices opened through
// WinUsbChannel. Device news reaches the window as WM_DEVICECHANGE (see MainWindow::nativeEvent),
// not through a thread of this transport.

#include "usb/UsbTransport.h"
#include "usb/winusb/SetupApiDiscovery.h"
#include "usb/winusb/WinUsbChannel.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

namespace zq::usb
{
namespace
{

using winusb::WinUsbChannel;

OpenError openError(WinUsbChannel::OpenFailure failure)
{
    switch (failure) {
    case WinUsbChannel::OpenFailure::None:
        return OpenError::None;
    case WinUsbChannel::OpenFailure::NotFound:
        return OpenError::NotFound;
    case WinUsbChannel::OpenFailure::Busy:
        return OpenError::Busy;
    case WinUsbChannel::OpenFailure::NoPipes:
        return OpenError::NoPipes;
    case WinUsbChannel::OpenFailure::NotWinUsb:
    case WinUsbChannel::OpenFailure::Other:
        break;
    }
    return OpenError::Other;
}

// WinUsbChannel ends a transfer by its ticket or its time-out, ends every transfer on close, and
// releases its handles once, after the last transfer, so cancelling is closing.
class WinUsbUsbChannel : public UsbChannel
{
public:
    bool open(const QString &path, OpenError *error)
    {
        const bool opened = channel_.open(path.toStdWString());
        *error = opened ? OpenError::None : openError(channel_.openFailure());
        return opened;
    }

    PipeInfo pipes() const override
    {
        PipeInfo info;
        info.speed = channel_.speed();
        info.inPipe = channel_.inPipe();
        info.outPipe = channel_.outPipe();
        return info;
    }

    int write(const uint8_t *data, int32_t count, TransferTicket ticket) override
    {
        const int written = channel_.write(data, count, ticket.number, ticket.timeout);
        return written == 1 ? count : written;
    }

    int read(uint8_t *buffer, int capacity, TransferTicket ticket) override
    {
        if (capacity >= WinUsbChannel::kReadSize)
            return channel_.read(buffer, ticket.number, ticket.timeout);
        // Every read asks WinUSB for a whole packet; a smaller caller gets its share of it.
        uint8_t packet[WinUsbChannel::kReadSize];
        const int received = channel_.read(packet, ticket.number, ticket.timeout);
        if (received <= 0)
            return received;
        const int kept = std::min(received, std::max(capacity, 0));
        std::memcpy(buffer, packet, size_t(kept));
        return kept;
    }

    void abort(uint32_t ticket) override { channel_.abort(ticket); }
    void cancel() override { channel_.close(); }

private:
    WinUsbChannel channel_;
};

class WinUsbTransport : public UsbTransport
{
public:
    QStringList findProgrammers() override
    {
        QStringList paths;
        for (const std::wstring &path : winusb::findProgrammers())
            paths.append(QString::fromStdWString(path));
        return paths;
    }

    std::shared_ptr<UsbChannel> openChannel(const QString &path, OpenError *error) override
    {
        auto channel = std::make_shared<WinUsbUsbChannel>();
        OpenError cause = OpenError::Other;
        const bool opened = channel->open(path, &cause);
        if (error)
            *error = cause;
        return opened ? channel : nullptr;
    }

    // Windows sends device news to a registered window, so nothing here calls the listener; it
    // is kept so that setting and clearing it mean what they mean on the other buses.
    void setDeviceListener(DeviceListener listener) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listener_ = std::move(listener);
    }

private:
    std::mutex mutex_;
    DeviceListener listener_;
};

} // namespace

std::shared_ptr<UsbTransport> makeWinUsbTransport()
{
    return std::make_shared<WinUsbTransport>();
}

bool hearsWindowsDeviceChanges(const UsbTransport &transport)
{
    return dynamic_cast<const WinUsbTransport *>(&transport) != nullptr;
}

} // namespace zq::usb
