#pragma once

#include "frontend/FrontEnd.h"
#include "operations/ImageFile.h"
#include "operations/ProgrammerState.h"
#include "protocol/CommandSet.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class UsbDevice;
class USB_BURN_CTRL;

namespace zq
{
namespace usb
{
class UsbTransport;
}
} // namespace zq

namespace zq::ops
{

// An image file read once for the whole run: zqprog reads its FILE before it opens a board, and
// the operation then sends exactly the bytes it checked and reported, even if the file is
// replaced meanwhile. The window pins nothing: each operation reads the path line when it starts.
struct PinnedImage {
    QString path;
    LoadedImage image;
};

// Everything an operation works with: the device, the worker, the front end that shows it, the
// command set over them, and the shared state. Owned by a front end; operations borrow it.
struct Session {
    Session(UsbDevice &device, USB_BURN_CTRL &worker, FrontEnd &ui)
        : usbDevice(device), burnCtrl(worker), frontEnd(ui), commands(worker, ui)
    {
    }

    UsbDevice &usbDevice;
    USB_BURN_CTRL &burnCtrl;
    FrontEnd &frontEnd;
    protocol::CommandSet commands;
    ProgrammerState state;
    std::optional<PinnedImage> pinnedImage;

    // The image at path: the pinned one when it is that file, else read now.
    enum class ImageKind { Code, Programmer }; // any format, or the programmer's raw image
    LoadedImage imageAt(const QString &path, ImageKind kind) const;
};

// The one owner of a front end's device, its worker and the session over them (the window and
// zqprog each keep one). It brings the bus's device news, which arrives on a thread of the
// bus's own, to the thread it was made on, where the operations run and let the event loop
// turn; and it tears down in the one safe order: news off, device closed (ending a transfer the
// board never finishes), worker stopped once, then the session, the worker and the device. It
// takes the bus's listener, so one bus serves one link that hears the news; any other link on
// the bus leaves the news alone (zqprog's probe of a board, while its session waits for a
// restarting one).
class ProgrammerLink
{
public:
    // arrived: true when a device came, false when one went; name as the bus gives it.
    using DeviceNews = std::function<void(bool arrived, const QString &name)>;
    enum class News { Heard, LeftAlone };

    ProgrammerLink(std::shared_ptr<usb::UsbTransport> transport, FrontEnd &frontEnd,
                   News news = News::Heard);
    ~ProgrammerLink();
    ProgrammerLink(const ProgrammerLink &) = delete;
    ProgrammerLink &operator=(const ProgrammerLink &) = delete;

    // The news goes to deviceArrived and deviceRemoved unless a front end handles it itself;
    // either way on the owner's thread. A null handler restores the operations' own.
    void setDeviceNewsHandler(DeviceNews handler);

    Session &session() const { return *session_; }
    UsbDevice &device() const { return *device_; }
    USB_BURN_CTRL &worker() const { return *worker_; }
    usb::UsbTransport &transport() const { return *transport_; }
    const std::shared_ptr<usb::UsbTransport> &sharedTransport() const { return transport_; }

private:
    void listen();
    void deliver(bool arrived, const QString &name);

    std::shared_ptr<usb::UsbTransport> transport_;
    std::unique_ptr<UsbDevice> device_;
    std::unique_ptr<USB_BURN_CTRL> worker_;
    std::unique_ptr<Session> session_;
    DeviceNews handler_;
    bool hearsNews_;
    QObject receiver_; // lives on the owner's thread; the news is queued to it
};

// The steps every operation shares.

// True when the programmer is open; otherwise logs notOpenLine ("The programmer is
// disconnected!", in the operation's own words) and turns the operation buttons off.
bool requireOpenProgrammer(Session &session, const QString &notOpenLine);

// The line Download, Check, Program and Verify say when no programmer is open.
extern const QString kDisconnected;

// How an operation that runs with its buttons off ends: a blank line (unless noBlankLine), the
// verdict, the buttons on again.
struct Verdict {
    QString passed;
    QString failed;
    bool failedNamesCode = false; // the failed line ends with the code
    bool noBlankLine = false;
};

// Turns the operation buttons off, runs steps, then ends as verdict says; returns steps' code.
int runWithButtonsOff(Session &session, const Verdict &verdict, const std::function<int()> &steps);

// The "Timer:" line with the local time, written at the start and after the main steps of the
// long operations so the user can see how long each step took.
void logTimestamp(FrontEnd &frontEnd);

} // namespace zq::ops
