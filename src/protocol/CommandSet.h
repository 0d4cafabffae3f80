#pragma once

#include "protocol/ConnectReply.h"
#include "protocol/HandOverWait.h"
#include "protocol/ReplyCheck.h"

#include <cstdint>

class USB_BURN_CTRL;

namespace zq
{
class FrontEnd;
}

namespace zq::protocol
{

// The programmer's commands, one letter each. Every routine builds its frame in the worker's
// txBuffer, runs one transaction and judges the reply. Results: 0 success, -1 send not confirmed,
// -2 no reply, -3 wrong reply length or marker, -4 reply CRC mismatch; the CRC checks also
// return the programmer's nonzero status byte. The only other output is the log lines, the
// progress (CMD_CHECK_SPIFLASH) and the MCU type (CMD_SWD_INIT), all through the front end.
// Window's thread only; the routines keep no state between calls.
class CommandSet
{
public:
    // wait: how the window's thread waits for the worker (tests give it a clock of their own).
    CommandSet(USB_BURN_CTRL &burnCtrl, FrontEnd &frontEnd,
               HandOverWait &wait = HandOverWait::system());

    // 'K': fills identity when the answer has the right length and CRC; judging its mode byte is
    // left to the caller.
    int CMD_CONNECT(ConnectReply &identity);

    // Block commands; length is 0..4096 (a block that cannot be framed is not sent: -1).
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

    // 'A': mode 0 initialises the SWD link and selects the target's MCU type; any other mode lets
    // the target run (argument is sent in that mode only).
    int CMD_SWD_INIT(int mode, uint32_t argument = 0);

private:
    struct Exchange {
        WaitStyle style;
        int sendTries;
        int replyTries;
        ReplyRule reply;
    };

    // Runs the transaction for the frame in txBuffer and checks the reply by the rule.
    int exchange(int32_t frameLength, const Exchange &rules);
    int sendBlock(uint8_t letter, const uint8_t *data, uint32_t address, int32_t length,
                  const Exchange &rules);
    // Logs "Read crc:" and the programmer's CRC; returns its status byte.
    int reportReadCrc();
    const uint8_t *reply() const;

    USB_BURN_CTRL &burnCtrl_;
    FrontEnd &frontEnd_;
    HandOverWait &wait_;
};

} // namespace zq::protocol
