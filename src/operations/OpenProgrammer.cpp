#include "operations/Operations.h"
#include "operations/Session.h"

#include "config/FlashCatalog.h"
#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"

#include <limits>

namespace zq::ops
{
namespace
{

const char *modeLine(int connectionMode)
{
    switch (connectionMode) {
    case protocol::ConnectReply::NormalWork:
        return "Connection for normal work";
    case protocol::ConnectReply::UpdateMcuCode:
        return "Connection for update mcu code";
    default:
        return "Connection for update boot";
    }
}

// Takes over what the board said about itself, and shows and logs it.
void takeIdentity(Session &session, const protocol::ConnectReply &reply)
{
    ProgrammerState &state = session.state;
    FrontEnd &ui = session.frontEnd;
    state.connectionMode = reply.connectionMode;
    ui.appendLog(QString::fromLatin1(modeLine(reply.connectionMode)));
    state.appVersion = reply.appVersion;
    state.bootVersion = reply.bootVersion;
    if (reply.connectionMode == protocol::ConnectReply::NormalWork)
        ui.setButtonEnabled(FrontEnd::Button::UpdateBoot, state.bootUpdateEnabled == 1);
    state.boardMcu = reply.boardMcu;
    state.boardId = reply.boardId;
    ui.setBoardIdText(toHexText(state.boardId, 8));
    ui.appendLog(QStringLiteral("The Board MCU&ID: ") + toHexText(state.boardMcu, 8) +
                 QLatin1Char(',') + toHexText(state.boardId, 8));
    ui.appendLog(QStringLiteral("Boot_Version: ") + toHexText(state.bootVersion, 6));
    ui.appendLog(QStringLiteral("App_Version:  ") + toHexText(state.appVersion, 6));
}

} // namespace

namespace
{

// The size field shows the 32-bit product the catalogue's arithmetic gives; when the factors
// multiply to more (or to less than nothing) the log says so, instead of a bare wrong number.
void reportFlashSizeOutOfRange(Session &session)
{
    const int64_t capacity = session.state.flashCapacity;
    if (capacity >= 0 && capacity <= std::numeric_limits<int32_t>::max())
        return;
    session.frontEnd.appendLog(QStringLiteral("The flash size in Flash.ini is out of range: ") +
                               QString::number(capacity) + QStringLiteral(" bytes"));
}

} // namespace

int lookupFlash(Session &session, uint32_t flashId)
{
    const QString catalog = session.state.flashCatalogPath.isEmpty()
                                ? config::flashCatalogPath()
                                : session.state.flashCatalogPath;
    const config::FlashEntry entry = config::findFlash(catalog, flashId);
    session.state.flashSize = entry.matched ? entry.size : 0;
    session.state.flashCapacity = entry.matched ? entry.fullSize : 0;
    session.state.flashName = entry.matched ? entry.name : QString();
    session.frontEnd.showFlashInfo(toHexText(flashId, 6), toDecText(session.state.flashSize),
                                   session.state.flashName);
    return entry.matched ? 1 : 0;
}

int connectProgrammer(Session &session)
{
    protocol::ConnectReply reply;
    const int result = session.commands.CMD_CONNECT(reply);
    if (result != 0)
        return result;
    if (reply.connectionMode == protocol::ConnectReply::UnknownMode) {
        session.frontEnd.appendLog(QStringLiteral("Illegal connection..."));
        return -5;
    }
    takeIdentity(session, reply);
    session.state.flashId = reply.flashId;
    if (lookupFlash(session, reply.flashId) > 0) {
        session.frontEnd.appendLog(QStringLiteral("FlashID:  ") + toHexText(reply.flashId, 6));
        session.state.flashKnown = 1;
        reportFlashSizeOutOfRange(session);
    } else {
        session.state.flashKnown = 0;
    }
    return 0;
}

namespace
{

// Opens the device, or tells why not.
bool openDevice(Session &session, const QString &path)
{
    FrontEnd &ui = session.frontEnd;
    if (session.usbDevice.isOpen()) {
        ui.showCriticalMessage(QStringLiteral("The programmer have opened!"));
        return false;
    }
    if (!session.usbDevice.open(path)) {
        ui.showCriticalMessage(QStringLiteral("Open fail"));
        const QString advice = openFailureAdvice(session.usbDevice.lastOpenError());
        if (!advice.isEmpty())
            ui.appendLog(advice);
        return false;
    }
    return true;
}

} // namespace

int openProgrammer(Session &session, const QString &path)
{
    if (path.isEmpty() || !openDevice(session, path))
        return kProgrammerNotOpen;
    FrontEnd &ui = session.frontEnd;
    ui.appendLog(QStringLiteral("Open the programmer ok..."));
    session.burnCtrl.start();
    const int connected = connectProgrammer(session);
    if (connected != 0) {
        ui.appendLog(QStringLiteral("Fail to connect the programmer..."));
        return connected;
    }
    ui.appendLog(QStringLiteral("Connect the programmer successful"));
    if (session.state.connectionMode != 0)
        ui.setOperationButtonsEnabled(true);
    else
        ui.setButtonEnabled(FrontEnd::Button::UpdateAPP, true);
    return 0;
}

} // namespace zq::ops
