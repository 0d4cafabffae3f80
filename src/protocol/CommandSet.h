#pragma once

#include "protocol/CommandFrame.h"
#include "protocol/HandOverWait.h"

#include <cstdint>

class USB_BURN_CTRL;

namespace zq
{
class CommandOutput;
}

namespace zq::protocol
{

// The mode the programmer reports in its connect reply. The values show in zqprog's output and
// stand for the modes wherever a mode is kept.
enum class ConnectionMode : int {
    Unknown = -1,
    UpdateMcuCode = 0, // its boot loader runs, waiting for a new application
    NormalWork = 1,
    UpdateBoot = 2, // its application runs, ready to take a new boot loader
};

// What the programmer says about itself in its 36-byte answer to the connect command.
struct ConnectReply {
    uint8_t modeByte = 0; // reply byte 2: ';', '[' or '+' for the three modes
    ConnectionMode connectionMode = ConnectionMode::Unknown;
    // Versions are 0x20 in the top byte, then three reply bytes. The running code's version sits
    // in bytes 3..5 and the other code's in 18..20, so which is which depends on the mode; both
    // stay 0 when the mode is unknown.
    uint32_t bootVersion = 0;
    uint32_t appVersion = 0;
    uint32_t boardMcu = 0; // bytes 14..17
    uint32_t boardId = 0;  // bytes 22..25
    uint32_t flashId = 0;  // bytes 7..9, 24 bits
};

constexpr int kConnectReplySize = 36;

// The mode a mode byte announces, or Unknown.
ConnectionMode connectionModeOf(uint8_t modeByte);

// Decodes a reply of kConnectReplySize bytes whose length and CRC have been checked.
ConnectReply decodeConnectReply(const uint8_t *reply);

// How one command is exchanged; the table of every command opens CommandSet.cpp.
struct CommandRule;

// The programmer's commands, one letter each. Every routine builds its frame in the worker's
// txBuffer, runs one transaction and judges the reply. Results: a Result; the CRC checks also
// return the programmer's nonzero status byte. The only other output is the log lines and the
// progress (CMD_CHECK_SPIFLASH), through CommandOutput; the commands read nothing from it.
// Window's thread only. What the board said that an operation or a front end needs later is
// kept here, as a value: the target the last SWD init found, and how the last run step went.
class CommandSet
{
public:
    // wait: how the window's thread waits for the worker (tests give it a clock of their own).
    CommandSet(USB_BURN_CTRL &burnCtrl, CommandOutput &output,
               HandOverWait &wait = HandOverWait::system());

    // 'K': fills identity when the answer has the right length and CRC; judging its mode byte is
    // left to the caller.
    int CMD_CONNECT(ConnectReply &identity);

    // Block commands; length is 0..4096 (a block that cannot be framed is not sent: NotSent).
    int CMD_WRITE_SPIFLASH(const uint8_t *data, uint32_t address, int32_t length); // 'H'
    int CMD_UPDATE_FLASH(const uint8_t *data, uint32_t address, int32_t length);   // 'J'
    int CMD_SWD_WRITE(const uint8_t *data, uint32_t address, int32_t length);      // 'F'

    // CRC checks of a region: SPI flash (with progress), embedded flash, target flash.
    int CMD_CHECK_SPIFLASH(uint32_t expectedCrc, uint32_t startAddress, uint32_t length); // 'I'
    int CMD_CHECK_EFLASH(uint32_t expectedCrc, uint32_t startAddress, uint32_t length);   // 'L'
    int CMD_SWD_CHECK(uint32_t expectedCrc, uint32_t startAddress, uint32_t length);      // 'G'

    // 'O': switches the programmer between its boot loader and its application; runMode is 1
    // when the programmer last reported the mode for updating its code, 0 otherwise.
    int CMD_USB_BOOT(uint8_t runMode);

    // 'A': SwdMode::Init initialises the SWD link and selects the target's MCU type; Run lets
    // the target run (argument and the power choice are sent in that mode only). The caller
    // passes the user's choices as they stand when the frame is built.
    enum SwdMode : int { Init = 0, Run = 1 };
    struct SwdChoices {
        int speedIndex = 0;    // the control panel's SWD speed list; -1 (none) counts as 0
        bool powerOff = false; // stop the target's supply after the run step
    };
    int CMD_SWD_INIT(int mode, const SwdChoices &choices, uint32_t argument = 0);

    // The target id the last SWD init reported; kNoTargetId until one answered, and from the
    // start of every init until it answers.
    uint32_t lastTargetId() const { return lastTargetId_; }
    // The last run step was answered, and said the target did not start ("Target run fail...").
    bool lastRunFailed() const { return lastRunFailed_; }
    // How the last exchange with the board ended (Ok, NoReply, BadReply, ...): whether a step
    // that failed was refused by the board or never answered.
    int lastExchangeResult() const { return lastExchangeResult_; }

private:
    // Runs the transaction for the frame in txBuffer and checks the reply by the rule.
    int exchange(int32_t frameLength, const CommandRule &rule);
    int sendBlock(const CommandRule &rule, const uint8_t *data, uint32_t address, int32_t length);
    int checkRegion(const CommandRule &rule, uint32_t expectedCrc, uint32_t startAddress,
                    uint32_t length);
    // Logs "Read crc:" and the programmer's CRC; returns its status byte.
    int reportReadCrc();
    const uint8_t *reply() const;

    USB_BURN_CTRL &burnCtrl_;
    CommandOutput &output_;
    HandOverWait &wait_;
    uint32_t lastTargetId_;
    bool lastRunFailed_ = false;
    int lastExchangeResult_ = Ok;
};

} // namespace zq::protocol
