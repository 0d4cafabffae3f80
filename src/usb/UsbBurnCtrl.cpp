#include "UsbBurnCtrl.h"

#include "IdlePacer.h"
#include "ThreadEndAnnotation.h"
#include "UsbDevice.h"

namespace
{

constexpr auto kAcquire = std::memory_order_acquire;
constexpr auto kRelease = std::memory_order_release;

void sendFrame(USB_BURN_CTRL &ctrl)
{
    const int32_t length = ctrl.txLength.load(kAcquire);
    ctrl.txRequest.store(0, kRelease);
    if (ctrl.device->write(ctrl.txBuffer, length) == -1)
        ctrl.stopRequest.store(1, kRelease);
    // Set even after a failure: the window's thread waits for the call to return, not for it
    // to succeed; the missing reply tells it the rest.
    ctrl.txDone.store(1, kRelease);
}

// False when the device is lost and the worker must end.
bool receivePacket(USB_BURN_CTRL &ctrl)
{
    // The number is taken with the request, so a reply that arrives after its transaction gave
    // up still carries that transaction's number and the next one can tell it is not its own.
    const uint32_t number = ctrl.requestNumber.load(kAcquire);
    ctrl.rxRequest.store(0, kRelease);
    const int received = ctrl.device->read(ctrl.rxBuffer);
    if (received == -1) {
        ctrl.replyNumber.store(number, kRelease);
        ctrl.rxDone.store(2, kRelease);
        return false;
    }
    // Length, then number, then the flag: whoever sees its own number also sees this length.
    ctrl.rxLength.store(received, kRelease);
    ctrl.replyNumber.store(number, kRelease);
    ctrl.rxDone.store(1, kRelease);
    return true;
}

} // namespace

USB_BURN_CTRL::USB_BURN_CTRL(QObject *parent) : QThread(parent) {}

USB_BURN_CTRL::~USB_BURN_CTRL()
{
    // A read the programmer never answers would hold the worker for ever: end it first.
    if (isRunning() && device)
        device->close();
    while (isRunning()) {
        stopRequest.store(1, kRelease);
        QThread::yieldCurrentThread();
    }
    wait();
    zq::usb::observeThreadEnd(this);
}

void USB_BURN_CTRL::run()
{
    stopRequest.store(0, kRelease);
    zq::usb::IdlePacer pacer;
    while (stopRequest.load(kAcquire) != 1) {
        const bool sending = txRequest.load(kAcquire) == 1;
        if (sending) {
            pacer.requestServed();
            sendFrame(*this);
        }
        // A receive request already waiting when the write returns is served in this pass.
        if (rxRequest.load(kAcquire) == 1) {
            pacer.requestServed();
            if (!receivePacket(*this))
                break;
        } else if (!sending) {
            pacer.idlePass();
        }
    }
    stopRequest.store(0, kRelease);
    zq::usb::announceThreadEnd(this);
}
