#include "emulator/EmulatedBus.h"
#include "usb/ProgrammerIdentity.h"
#include "usb/UsbTransport.h"

#include <mutex>

namespace zq::usb
{
namespace
{

// An emulated board's pipes, as a high-speed device with bulk IN 0x81 and bulk OUT 0x01.
class EmulatedChannel : public UsbChannel
{
public:
    explicit EmulatedChannel(std::shared_ptr<emu::BoardLink> link) : link_(std::move(link)) {}
    ~EmulatedChannel() override { link_->cancel(); }

    PipeInfo pipes() const override { return {3, 0x81, 0x01}; }
    int write(const uint8_t *data, int32_t count, TransferTicket ticket) override
    {
        return ended(link_->send(data, count, ticket.number));
    }
    int read(uint8_t *buffer, int capacity, TransferTicket ticket) override
    {
        return ended(link_->receive(buffer, capacity, ticket.number, ticket.timeout));
    }
    void abort(uint32_t ticket) override { link_->abort(ticket); }
    void cancel() override { link_->cancel(); }

private:
    static int ended(int result)
    {
        if (result == emu::BoardLink::kAborted)
            return kTransferAborted;
        return result < 0 ? kTransferFailed : result;
    }

    std::shared_ptr<emu::BoardLink> link_;
};

class EmulatedTransport : public UsbTransport
{
public:
    ~EmulatedTransport() override { setDeviceListener(nullptr); }

    QStringList findProgrammers() override
    {
        QStringList found;
        for (const QString &path : emu::EmulatedBus::instance().paths()) {
            if (path.contains(QLatin1String(kIdentityFragment), Qt::CaseSensitive))
                found.append(path);
        }
        return found;
    }

    std::shared_ptr<UsbChannel> openChannel(const QString &path, OpenError *error) override
    {
        std::shared_ptr<emu::BoardLink> link = emu::EmulatedBus::instance().open(path);
        if (error)
            *error = link ? OpenError::None : OpenError::NotFound;
        if (!link)
            return nullptr;
        return std::make_shared<EmulatedChannel>(std::move(link));
    }

    void setDeviceListener(DeviceListener listener) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        emu::EmulatedBus &bus = emu::EmulatedBus::instance();
        if (listenerId_ != 0)
            bus.removeListener(listenerId_);
        listenerId_ = listener ? bus.addListener(std::move(listener)) : 0;
    }

private:
    std::mutex mutex_;
    int listenerId_ = 0;
};

} // namespace

std::shared_ptr<UsbTransport> makeEmulatedTransport()
{
    return std::make_shared<EmulatedTransport>();
}

} // namespace zq::usb
