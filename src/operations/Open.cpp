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

using protocol::ConnectionMode;

namespace
{

// What each mode is called: in the log after a connect, in zqprog's messages and its JSON.
struct ModeTexts {
    ConnectionMode mode;
    const char *line;
    const char *words;
    const char *key;
};

// The last row also stands for a mode the programmer never reports.
constexpr ModeTexts kModeTexts[] = {
    {ConnectionMode::NormalWork, "Connection for normal work", "normal work", "normal"},
    {ConnectionMode::UpdateMcuCode, "Connection for update mcu code", "update of the MCU code",
     "mcu-update"},
    {ConnectionMode::UpdateBoot, "Connection for update boot", "update of the boot loader",
     "boot-update"},
};

const ModeTexts &modeTexts(ConnectionMode mode)
{
    for (const ModeTexts &texts : kModeTexts) {
        if (texts.mode == mode)
            return texts;
    }
    return kModeTexts[std::size(kModeTexts) - 1];
}

// Why a programmer could not be opened: a few words for zqprog's list and messages, and the
// line said after "Open fail" so that the user is never left guessing (none: nothing useful).
struct OpenErrorTexts {
    usb::OpenError error;
    const char *words;
    const char *advice;
};

const OpenErrorTexts kOpenErrorTexts[] = {
    // The package installs the rule, so what is left there is the group (ssh sessions and
    // services have no seat for uaccess) and a replug; a build from source lacks the rule.
    {usb::OpenError::Permission, "no permission",
     "No permission to open the programmer: add the user to the plugdev group (then log in "
     "again) and plug the programmer in again; built from source, first copy "
     "tools/60-zq-programmer.rules to /etc/udev/rules.d (README: \"Linux permissions\")."},
    {usb::OpenError::Busy, "busy, in use by another program",
     "The programmer is in use by another program: close it and try again."},
    {usb::OpenError::NotFound, "gone", "The programmer is gone: plug it in again."},
    {usb::OpenError::NoPipes, "no bulk pipes, not a working programmer",
     "The device offers no bulk IN and OUT pipes: it is not a working programmer."},
};

const OpenErrorTexts *openErrorTexts(usb::OpenError error)
{
    for (const OpenErrorTexts &texts : kOpenErrorTexts) {
        if (texts.error == error)
            return &texts;
    }
    return nullptr;
}

// Takes over what the board said about itself, and shows and logs it.
void takeIdentity(Session &session, const protocol::ConnectReply &reply)
{
    ProgrammerState &state = session.state;
    FrontEnd &ui = session.frontEnd;
    state.connectionMode = reply.connectionMode;
    ui.appendLog(connectionModeLine(reply.connectionMode));
    state.appVersion = reply.appVersion;
    state.bootVersion = reply.bootVersion;
    if (reply.connectionMode == ConnectionMode::NormalWork)
        ui.setButtonEnabled(FrontEnd::Button::UpdateBoot, state.bootUpdateEnabled);
    state.boardMcu = reply.boardMcu;
    state.boardId = reply.boardId;
    ui.setBoardIdText(toHexText(state.boardId, 8));
    ui.appendLog(QStringLiteral("The Board MCU&ID: ") + toHexText(state.boardMcu, 8) +
                 QLatin1Char(',') + toHexText(state.boardId, 8));
    ui.appendLog(QStringLiteral("Boot_Version: ") + toHexText(state.bootVersion, 6));
    ui.appendLog(QStringLiteral("App_Version:  ") + toHexText(state.appVersion, 6));
}

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

QString connectionModeLine(ConnectionMode mode)
{
    return QString::fromLatin1(modeTexts(mode).line);
}

QString connectionModeWords(ConnectionMode mode)
{
    return QString::fromLatin1(modeTexts(mode).words);
}

QString connectionModeKey(ConnectionMode mode)
{
    return QString::fromLatin1(modeTexts(mode).key);
}

QString openFailureAdvice(usb::OpenError error)
{
    const OpenErrorTexts *texts = openErrorTexts(error);
    return texts ? QString::fromLatin1(texts->advice) : QString();
}

QString openErrorWords(usb::OpenError error)
{
    const OpenErrorTexts *texts = openErrorTexts(error);
    return texts ? QString::fromLatin1(texts->words) : QStringLiteral("cannot be opened");
}

bool lookupFlash(Session &session, uint32_t flashId)
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
    return entry.matched;
}

int connectProgrammer(Session &session)
{
    protocol::ConnectReply reply;
    const int result = session.commands.CMD_CONNECT(reply);
    if (result != protocol::Ok)
        return result;
    if (reply.connectionMode == ConnectionMode::Unknown) {
        session.frontEnd.appendLog(QStringLiteral("Illegal connection..."));
        return connection::IllegalConnection;
    }
    takeIdentity(session, reply);
    session.state.flashId = reply.flashId;
    session.state.flashKnown = lookupFlash(session, reply.flashId);
    if (session.state.flashKnown) {
        session.frontEnd.appendLog(QStringLiteral("FlashID:  ") + toHexText(reply.flashId, 6));
        reportFlashSizeOutOfRange(session);
    }
    return 0;
}

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
    if (session.state.connectionMode != ConnectionMode::UpdateMcuCode)
        ui.setOperationButtonsEnabled(true);
    else
        ui.setButtonEnabled(FrontEnd::Button::UpdateAPP, true);
    return 0;
}

void stopProgrammer(Session &session)
{
    session.usbDevice.close();
    session.burnCtrl.stopWorker();
}

void deviceArrived(Session &session, const QString &name)
{
    session.frontEnd.appendLog(QStringLiteral("device insert:") + name.toUpper());
}

// A removal that names the open board closes it even when its path is listed again: a board
// that restarts comes back under the same path, often before this news is handled, and the
// device would otherwise stay open on a link that is gone.
void deviceRemoved(Session &session, const QString &name)
{
    UsbDevice &device = session.usbDevice;
    const bool namesIt = name.compare(device.devicePath(), Qt::CaseInsensitive) == 0;
    if (device.isOpen() &&
        (namesIt || !device.transport().findProgrammers().contains(device.devicePath()))) {
        stopProgrammer(session);
        session.frontEnd.setOperationButtonsEnabled(false);
    }
    session.frontEnd.appendLog(QStringLiteral("device remove:") + name.toUpper());
}

} // namespace zq::ops
