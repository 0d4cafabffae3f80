#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"
#include "operations/BlockTransfer.h"
#include "operations/CodeImage.h"
#include "operations/ImageFile.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "protocol/TargetIds.h"

namespace zq::ops
{

namespace
{

using protocol::CommandSet;

// Addresses are offsets in the image: the programmer places them in the target's flash.
int writeImage(Session &session, const QByteArray &image)
{
    const BlockWriter writer{[&session](const uint8_t *data, uint32_t address, int32_t length) {
                                 return session.commands.CMD_SWD_WRITE(data, address, length);
                             },
                             0,
                             QStringLiteral("NG, Addr : 0x"),
                             kDisconnected,
                             {program::BlockFailed, program::LostAfterBlock,
                              program::LastBlockFailed, program::LostAtEnd}};
    return writeBlocks(session, image, writer);
}

// The SWD choices as the control panel shows them now: each frame takes them when it is built.
CommandSet::SwdChoices swdChoices(const FrontEnd &frontEnd)
{
    const FrontEnd::Choices choices = frontEnd.choices();
    return {choices.swdSpeedIndex, choices.powerOffAfterDone};
}

// The init has found the target: the control panel shows its type. Its index in the table.
int showReportedTarget(Session &session)
{
    const int type = protocol::indexForTargetId(session.commands.lastTargetId());
    session.frontEnd.setMcuTypeIndex(type);
    return type;
}

// 0, InitOrRunFailed, or UnknownTarget when the target is of no known type.
int connectTarget(Session &session)
{
    FrontEnd &frontEnd = session.frontEnd;
    const int init = session.commands.CMD_SWD_INIT(CommandSet::Init, swdChoices(frontEnd));
    if (init != protocol::Ok) {
        frontEnd.appendLog(QStringLiteral("Init fail...") + toDecText(init));
        return program::InitOrRunFailed;
    }
    const int type = showReportedTarget(session);
    frontEnd.appendLog(QStringLiteral("Init ready..."));
    return type >= 1 && type < protocol::kMcuTypeCount ? 0 : program::UnknownTarget;
}

int checkAndRun(Session &session, uint32_t length)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (session.commands.CMD_SWD_CHECK(session.state.mcuCodeCrc, 0, length) != protocol::Ok) {
        frontEnd.appendLog(QStringLiteral("Check crc NG!"));
        return program::CrcDiffers;
    }
    frontEnd.appendLog(QStringLiteral("Check crc OK!"));
    logTimestamp(frontEnd);
    return session.commands.CMD_SWD_INIT(CommandSet::Run, swdChoices(frontEnd), 0) != protocol::Ok
               ? program::InitOrRunFailed
               : 0;
}

// Only the file's CRC and length are needed; the image itself is not kept.
bool readCodeFile(Session &session)
{
    QByteArray mcuCodeBuffer;
    const CodeFileTexts texts{QStringLiteral("Please input flash code file"),
                              QStringLiteral("Read file fail,please check the path!"), false};
    return readCodeImage(session, texts, mcuCodeBuffer) == CodeRead::Ready;
}

} // namespace

int programTarget(Session &session, const QByteArray &mcuCodeBuffer)
{
    FrontEnd &frontEnd = session.frontEnd;
    if (mcuCodeBuffer.size() < kShortestImage) {
        frontEnd.showCriticalMessage(QStringLiteral("There aren't any datas to update!"));
        return program::ShortImage;
    }
    frontEnd.clearLog();
    frontEnd.beginStage(FrontEnd::Stage::Init);
    frontEnd.setProgress(0);
    const int connected = connectTarget(session);
    if (connected != 0)
        return connected;
    frontEnd.beginStage(FrontEnd::Stage::Write);
    logTimestamp(frontEnd);
    frontEnd.appendLog(QStringLiteral("Start to program ..."));
    const int written = writeImage(session, mcuCodeBuffer);
    if (written != 0)
        return written;
    frontEnd.appendLog(QStringLiteral("Program end!"));
    frontEnd.beginStage(FrontEnd::Stage::Check);
    logTimestamp(frontEnd);
    return checkAndRun(session, uint32_t(mcuCodeBuffer.size()));
}

int programTargetOperation(Session &session)
{
    if (!requireOpenProgrammer(session, kDisconnected))
        return kProgrammerNotOpen;
    QByteArray mcuCodeBuffer;
    const CodeFileTexts texts{QStringLiteral("Please input a code file"),
                              QStringLiteral("Read fail,please check the path!"), true};
    if (readCodeImage(session, texts, mcuCodeBuffer) != CodeRead::Ready)
        return kInputRefused;
    const Verdict verdict{QStringLiteral("Program target is OK!!!!!!"),
                          QStringLiteral("Program target is fail....."), true};
    return runWithButtonsOff(session, verdict,
                             [&] { return programTarget(session, mcuCodeBuffer); });
}

// Each step runs whatever the one before reported, so the log shows the whole picture of the
// target: link, contents, and whether it runs. It runs with the buttons as they are.
int verifyTarget(Session &session)
{
    if (!requireOpenProgrammer(session, kDisconnected))
        return kProgrammerNotOpen;
    if (!readCodeFile(session))
        return kInputRefused;
    if (!requireOpenProgrammer(session, kDisconnected))
        return kProgrammerNotOpen;
    FrontEnd &frontEnd = session.frontEnd;
    CommandSet &commands = session.commands;
    frontEnd.appendLog(QString());
    frontEnd.appendLog(QString());
    // Comparing a target with nothing would pass for nothing.
    if (refuseShortImage(frontEnd, session.state.mcuCodeLength)) {
        frontEnd.appendLog(QStringLiteral("Check EFlash NG!"));
        return program::ShortImage;
    }
    frontEnd.beginStage(FrontEnd::Stage::Init);
    const bool linked =
        commands.CMD_SWD_INIT(CommandSet::Init, swdChoices(frontEnd)) == protocol::Ok;
    frontEnd.beginStage(FrontEnd::Stage::Check);
    if (linked)
        showReportedTarget(session);
    frontEnd.appendLog(linked ? QStringLiteral("Init ready...") : QStringLiteral("Init fail..."));
    const ProgrammerState &state = session.state;
    const bool same =
        commands.CMD_SWD_CHECK(state.mcuCodeCrc, 0, uint32_t(state.mcuCodeLength)) == protocol::Ok;
    frontEnd.appendLog(same ? QStringLiteral("Check EFlash OK!")
                            : QStringLiteral("Check EFlash NG!"));
    const bool running =
        commands.CMD_SWD_INIT(CommandSet::Run, swdChoices(frontEnd), 0) == protocol::Ok;
    if (running)
        frontEnd.appendLog(QStringLiteral("Target run..."));
    // The codes programTarget gives for the same failures.
    if (!linked)
        return program::InitOrRunFailed;
    return !same ? program::CrcDiffers : running ? 0 : program::InitOrRunFailed;
}

} // namespace zq::ops
