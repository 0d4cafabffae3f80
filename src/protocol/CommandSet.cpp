#include "protocol/CommandSet.h"

#include "common/ByteOrder.h"
#include "frontend/FrontEnd.h"
#include "frontend/NumberText.h"
#include "protocol/TargetIds.h"
#include "protocol/Transaction.h"
#include "usb/UsbBurnCtrl.h"

#include <algorithm>

namespace zq::protocol
{

// Every command: its letter, how the window's thread waits for it (the style and the send and
// reply tries, see HandOverWait), and what its reply must be (size, exact or at least, the
// marker in byte 2, the label of the CRC mismatch line; no label: the caller logs the failure).
struct CommandRule {
    uint8_t letter;
    WaitStyle style;
    int sendTries;
    int replyTries;
    ReplyRule reply;
};

namespace
{

using WS = WaitStyle;
constexpr auto kExact = ReplyRule::Length::Exact;
constexpr auto kAtLeast = ReplyRule::Length::AtLeast;

// clang-format off
//                                 letter style               send    reply   reply size         length    marker label
// The connect's marker is its mode byte: the caller judges it, after the CRC.
const CommandRule kConnect        {'K', WS::Millisecond,     1000,   1000,   {kConnectReplySize, kExact,   -1,  "CRC error:"}};
const CommandRule kWriteSpiFlash  {'H', WS::TwoMicroseconds, 200000, 400000, {kReplySize,        kExact,   'X', "Write Eflash CRC:"}};
// Progress replies may come first, each within its own reply tries.
const CommandRule kCheckSpiFlash  {'I', WS::Millisecond,     1000,   2200,   {kReplySize,        kExact,   'Y', "CRC error:"}};
const CommandRule kUpdateFlash    {'J', WS::Millisecond,     1000,   2000,   {kReplySize,        kExact,   'Z', nullptr}};
const CommandRule kCheckEFlash    {'L', WS::Millisecond,     1000,   10000,  {kReplySize,        kExact,   '\\', "CRC error:"}};
const CommandRule kUsbBoot        {'O', WS::Millisecond,     1000,   10000,  {kReplySize,        kExact,   '_', "REQ CRC:"}};
// Its fields and CRC end at byte 12; a longer reply passes, a shorter one never lends the
// target id of an earlier reply.
const CommandRule kSwdInit        {'A', WS::Millisecond,     2000,   3000,   {kReplySize,        kAtLeast, 'Q', "SWD init CRC:"}};
const CommandRule kSwdWrite       {'F', WS::TwoMicroseconds, 200000, 400000, {kReplySize,        kExact,   'V', nullptr}};
const CommandRule kSwdCheck       {'G', WS::Millisecond,     1000,   25000,  {kReplySize,        kExact,   'W', "CRC error:"}};
// clang-format on

// CMD_CHECK_SPIFLASH's status byte: its verdict, or a progress report before it.
constexpr uint8_t kStatusDone = 0;
constexpr uint8_t kStatusProgress = 1;

uint32_t versionAt(const uint8_t *bytes)
{
    return 0x20000000u | readBigEndian(bytes, 3);
}

// Progress counts the bytes checked so far against the length being checked. 64 bits keep
// value * 100 from wrapping on large flashes; an empty check has nothing to scale.
int progressPercent(uint32_t checked, uint32_t total)
{
    if (total == 0)
        return 0;
    return int(std::min<uint64_t>(uint64_t(checked) * 100 / total, 100));
}

// The programmer knows three SWD speeds; an empty list counts as the first.
uint8_t speedByte(int listIndex)
{
    return uint8_t(std::clamp(listIndex, 0, 2));
}

// SWD init reply: target id in bytes 3..6, status in byte 7.
int reportInit(const uint8_t *reply, CommandOutput &output, uint32_t &targetId)
{
    if (reply[7] != 0) {
        output.appendLog(QStringLiteral("Target init fail..."));
        return BadReply;
    }
    targetId = readBigEndian(reply + 3, 4);
    output.appendLog(QStringLiteral("Target init ok..."));
    output.appendLog(QStringLiteral("Target type:") + toHexText(targetId, 8));
    return Ok;
}

int reportRun(const uint8_t *reply, CommandOutput &output, bool &runFailed)
{
    runFailed = reply[7] != 0;
    output.appendLog(runFailed ? QStringLiteral("Target run fail...")
                               : QStringLiteral("Target run..."));
    return Ok;
}

} // namespace

ConnectionMode connectionModeOf(uint8_t modeByte)
{
    switch (modeByte) {
    case '[':
        return ConnectionMode::UpdateMcuCode;
    case ';':
        return ConnectionMode::NormalWork;
    case '+':
        return ConnectionMode::UpdateBoot;
    default:
        return ConnectionMode::Unknown;
    }
}

ConnectReply decodeConnectReply(const uint8_t *reply)
{
    ConnectReply decoded;
    decoded.modeByte = reply[2];
    decoded.connectionMode = connectionModeOf(reply[2]);
    const uint32_t runningVersion = versionAt(reply + 3);
    const uint32_t otherVersion = versionAt(reply + 18);
    if (decoded.connectionMode == ConnectionMode::NormalWork) {
        decoded.appVersion = runningVersion;
        decoded.bootVersion = otherVersion;
    } else if (decoded.connectionMode != ConnectionMode::Unknown) {
        decoded.bootVersion = runningVersion;
        decoded.appVersion = otherVersion;
    }
    decoded.boardMcu = readBigEndian(reply + 14, 4);
    decoded.boardId = readBigEndian(reply + 22, 4);
    decoded.flashId = readBigEndian(reply + 7, 3);
    return decoded;
}

CommandSet::CommandSet(USB_BURN_CTRL &burnCtrl, CommandOutput &output, HandOverWait &wait)
    : burnCtrl_(burnCtrl), output_(output), wait_(wait), lastTargetId_(kNoTargetId)
{
}

int CommandSet::CMD_CONNECT(ConnectReply &identity)
{
    uint8_t *frame = burnCtrl_.txBuffer;
    startFixedFrame(frame, kConnect.letter);
    frame[3] = 'Z';
    frame[4] = 'Q';
    const int result = exchange(sealFixedFrame(frame), kConnect);
    if (result == Ok)
        identity = decodeConnectReply(reply());
    return result;
}

int CommandSet::CMD_WRITE_SPIFLASH(const uint8_t *data, uint32_t address, int32_t length)
{
    return sendBlock(kWriteSpiFlash, data, address, length);
}

int CommandSet::CMD_UPDATE_FLASH(const uint8_t *data, uint32_t address, int32_t length)
{
    return sendBlock(kUpdateFlash, data, address, length);
}

int CommandSet::CMD_SWD_WRITE(const uint8_t *data, uint32_t address, int32_t length)
{
    return sendBlock(kSwdWrite, data, address, length);
}

// The programmer may send progress replies before its verdict; all of them answer this one
// frame, each within its own reply tries.
int CommandSet::CMD_CHECK_SPIFLASH(uint32_t expectedCrc, uint32_t startAddress, uint32_t length)
{
    const CommandRule &rule = kCheckSpiFlash;
    Transaction transaction(burnCtrl_, output_, rule.style, wait_);
    const int frameLength =
        buildCheckFrame(burnCtrl_.txBuffer, rule.letter, startAddress, length, expectedCrc);
    if (transaction.send(frameLength, rule.sendTries) != Ok)
        return NotSent;
    output_.setProgress(0);
    for (;;) {
        if (transaction.awaitReply(rule.replyTries) != Ok)
            return NoReply;
        transaction.releaseReply();
        output_.processEvents();
        const int valid = checkReply(reply(), burnCtrl_.rxLength.load(), rule.reply, output_);
        if (valid != Ok)
            return valid;
        if (replyStatus(reply()) != kStatusProgress)
            break;
        output_.setProgress(progressPercent(replyValue(reply()), length));
    }
    if (replyStatus(reply()) != kStatusDone)
        return reportReadCrc();
    output_.appendLog(QStringLiteral("Check CRC:") + toHexText(replyValue(reply()), 8));
    output_.appendLog(QStringLiteral("Write spi flash OK!"));
    output_.setProgress(100);
    return Ok;
}

int CommandSet::CMD_CHECK_EFLASH(uint32_t expectedCrc, uint32_t startAddress, uint32_t length)
{
    return checkRegion(kCheckEFlash, expectedCrc, startAddress, length);
}

int CommandSet::CMD_SWD_CHECK(uint32_t expectedCrc, uint32_t startAddress, uint32_t length)
{
    return checkRegion(kSwdCheck, expectedCrc, startAddress, length);
}

int CommandSet::CMD_USB_BOOT(uint8_t runMode)
{
    uint8_t *frame = burnCtrl_.txBuffer;
    startFixedFrame(frame, kUsbBoot.letter);
    frame[3] = 'u';
    frame[4] = 's';
    frame[5] = 'B';
    frame[6] = runMode;
    return exchange(sealFixedFrame(frame), kUsbBoot);
}

int CommandSet::CMD_SWD_INIT(int mode, const SwdChoices &choices, uint32_t argument)
{
    const bool init = mode == Init;
    if (init)
        lastTargetId_ = kNoTargetId;
    else
        lastRunFailed_ = false;
    uint8_t *frame = burnCtrl_.txBuffer;
    startFixedFrame(frame, kSwdInit.letter);
    frame[3] = 'S';
    frame[4] = 'W';
    frame[5] = 'D';
    frame[6] = init ? '0' : '1';
    frame[11] = speedByte(choices.speedIndex);
    if (!init) {
        writeBigEndian(frame + 7, 4, argument);
        frame[12] = choices.powerOff ? 'P' : 'U';
    }
    const int result = exchange(sealFixedFrame(frame), kSwdInit);
    if (result != Ok)
        return result;
    return init ? reportInit(reply(), output_, lastTargetId_)
                : reportRun(reply(), output_, lastRunFailed_);
}

int CommandSet::exchange(int32_t frameLength, const CommandRule &rule)
{
    Transaction transaction(burnCtrl_, output_, rule.style, wait_);
    lastExchangeResult_ = transaction.run(frameLength, rule.sendTries, rule.replyTries);
    if (lastExchangeResult_ == Ok)
        lastExchangeResult_ = checkReply(reply(), burnCtrl_.rxLength.load(), rule.reply, output_);
    return lastExchangeResult_;
}

int CommandSet::sendBlock(const CommandRule &rule, const uint8_t *data, uint32_t address,
                          int32_t length)
{
    if (length < 0 || length > kMaxBlockLength)
        return NotSent;
    return exchange(buildBlockFrame(burnCtrl_.txBuffer, rule.letter, address, data, length), rule);
}

int CommandSet::checkRegion(const CommandRule &rule, uint32_t expectedCrc, uint32_t startAddress,
                            uint32_t length)
{
    const int frameLength =
        buildCheckFrame(burnCtrl_.txBuffer, rule.letter, startAddress, length, expectedCrc);
    const int result = exchange(frameLength, rule);
    return result != Ok ? result : reportReadCrc();
}

int CommandSet::reportReadCrc()
{
    output_.appendLog(QStringLiteral("Read crc:") + toHexText(replyValue(reply()), 8));
    return replyStatus(reply());
}

const uint8_t *CommandSet::reply() const
{
    return burnCtrl_.rxBuffer;
}

} // namespace zq::protocol
