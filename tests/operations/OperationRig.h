#pragma once

#include "RecordingFrontEnd.h"
#include "TestFiles.h"
#include "TestImages.h"
#include "emulator/Board.h"
#include "emulator/EmulatedBus.h"
#include "operations/Session.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>

namespace zq::test
{

// The log with every time stamp written as "Timer:", after checking its form (no leading zeros).
inline QStringList withTimestampsMasked(const QStringList &log)
{
    static const QRegularExpression stamp(
        QStringLiteral("^Timer:(0|[1-9][0-9]?):(0|[1-9][0-9]?):(0|[1-9][0-9]?)$"));
    QStringList masked;
    for (const QString &line : log)
        masked << (stamp.match(line).hasMatch() ? QStringLiteral("Timer:") : line);
    return masked;
}

// The recording front end, plus what these tests need besides: every line ever appended (the
// operations clear the log as they go), the dialogs' folders and filters, and a hook on the
// progress bar.
class OperationFrontEnd : public RecordingFrontEnd
{
public:
    QStringList history;
    QStringList openFileDirectories;
    QStringList openFileFilters;
    std::function<void(int)> onProgress;

    void appendLog(const QString &line) override
    {
        history << line;
        RecordingFrontEnd::appendLog(line);
    }
    void setProgress(int percent) override
    {
        RecordingFrontEnd::setProgress(percent);
        if (onProgress)
            onProgress(percent);
    }
    QString chooseOpenFile(const QString &caption, const QString &directory,
                           const QString &filter) override
    {
        openFileDirectories << directory;
        openFileFilters << filter;
        return RecordingFrontEnd::chooseOpenFile(caption, directory, filter);
    }
};

// An operation's whole road: session, command set, the real worker thread, UsbDevice on the
// emulated transport, and one emulated board on the bus. Files go to a temporary folder.
struct OperationRig {
    std::shared_ptr<emu::Board> board;
    QString path;
    OperationFrontEnd frontEnd;
    ops::ProgrammerLink link{usb::makeEmulatedTransport(), frontEnd};
    UsbDevice &device = link.device();
    USB_BURN_CTRL &burnCtrl = link.worker();
    ops::Session &session = link.session();
    QTemporaryDir files;

    explicit OperationRig(const emu::BoardIdentity &identity = {},
                          const emu::TargetConfig &target = {})
        : board(std::make_shared<emu::Board>(identity, target))
    {
        // Losing the board is the tests' business (loseProgrammer), not the link's.
        link.setDeviceNewsHandler([](bool, const QString &) {});
        path = emu::EmulatedBus::instance().plug(board);
        if (!device.open(path))
            qFatal("the emulated board could not be opened");
        burnCtrl.start();
        takeIdentity();
    }

    // What a connect would have recorded.
    void takeIdentity()
    {
        const emu::BoardIdentity identity = board->identity();
        ops::ProgrammerState &state = session.state;
        using Mode = protocol::ConnectionMode;
        state.connectionMode = identity.mode == emu::BoardMode::McuUpdate ? Mode::UpdateMcuCode
                               : identity.mode == emu::BoardMode::Normal  ? Mode::NormalWork
                                                                          : Mode::UpdateBoot;
        state.appVersion = identity.appVersion;
        state.bootVersion = identity.bootVersion;
        state.boardMcu = identity.boardMcu;
        // The sample catalogue lists the board's flash at its real size.
        state.flashKnown = 1;
        state.flashSize = int32_t(emu::Board::SpiFlashSize);
        state.flashCapacity = int64_t(emu::Board::SpiFlashSize);
    }

    void arm(const emu::Fault &fault) { board->faults().arm(fault); }

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString filePath = files.filePath(name);
        if (!writeAll(filePath, bytes))
            qFatal("cannot write a test file");
        return filePath;
    }

    // The code file the operations read from the path line.
    void useCodeFile(const QByteArray &image)
    {
        frontEnd.codePath = writeFile(QStringLiteral("code.bin"), image);
    }

    // The board leaves the bus, and the window's removal handling closes the device.
    void loseProgrammer()
    {
        emu::EmulatedBus::instance().unplug(path);
        device.close();
    }

    // Loses the programmer once, in the first event-loop turn in which the condition holds.
    void loseProgrammerWhen(std::function<bool()> condition)
    {
        frontEnd.onProcessEvents = [this, condition] {
            if (device.isOpen() && condition())
                loseProgrammer();
        };
    }

    // In the first event-loop turn after the first progress update past the start.
    void loseProgrammerAfterFirstBlock()
    {
        loseProgrammerWhen([this] { return frontEnd.progress.size() > 1; });
    }

    // In the first event-loop turn after the progress bar reached 100.
    void loseProgrammerAtFullProgress()
    {
        frontEnd.onProgress = [this](int percent) {
            if (percent == 100)
                loseProgrammer();
        };
    }

    // The code path a refused press finds (0 none, 2 a missing file, else the rig's own file), and
    // the programmer closed unless open.
    void prepareRefusal(int codeFile, bool open)
    {
        if (codeFile == 0)
            frontEnd.codePath.clear();
        if (codeFile == 2)
            frontEnd.codePath = files.filePath(QStringLiteral("missing.bin"));
        if (!open)
            device.close();
    }

    // The boxes' texts, as "title:text" when titled.
    QStringList boxTexts(bool titled = false) const
    {
        QStringList texts;
        for (const auto &box : frontEnd.boxes)
            texts << (titled ? box.title + QLatin1Char(':') + box.text : box.text);
        return texts;
    }

    QStringList log() const { return withTimestampsMasked(frontEnd.log); }

    // Once the reply to the command just sent is in: whatever runs next finds the device gone.
    bool replyIsIn() const
    {
        return burnCtrl.rxDone.load() == 1 &&
               burnCtrl.replyNumber.load() == burnCtrl.rxNumber.load();
    }
};

// Checks what a refused press left: the log (where "*" stands for path), the boxes' texts (with
// their titles when titled) and the calls of the operation buttons.
inline void verifyRefusal(const OperationRig &rig, const char *row, const QStringList &log,
                          const QString &path, const QStringList &boxes, const QList<bool> &buttons,
                          bool titled = false)
{
    QStringList expected = log;
    expected.replaceInStrings(QRegularExpression(QStringLiteral("^\\*$")), path);
    QVERIFY2(rig.frontEnd.log == expected, row);
    QVERIFY2(rig.boxTexts(titled) == boxes, row);
    QVERIFY2(rig.frontEnd.operationButtonsCalls == buttons, row);
}

} // namespace zq::test
