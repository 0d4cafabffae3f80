#pragma once

#include "protocol/CommandSet.h"

#include <QString>

#include <cstdint>

namespace zq::ops
{

// What the program knows between operations: the open programmer's identity, the settings that
// steer the operations, and the code and update images read last. The window (or the console)
// keeps one; the operations read and write it.
struct ProgrammerState {
    // Identity, from the last successful connect; the mode is UpdateMcuCode also before any.
    protocol::ConnectionMode connectionMode = protocol::ConnectionMode::UpdateMcuCode;
    uint32_t bootVersion = 0;
    uint32_t appVersion = 0;
    uint32_t boardMcu = 0;
    uint32_t boardId = 0;
    uint32_t flashId = 0;
    bool flashKnown = false; // the flash id was found in Flash.ini
    int32_t flashSize = 0;   // from Flash.ini; 0 when not found
    // The size itself, which flashSize shows only when it fits 32 bits; downloads are judged
    // against it.
    int64_t flashCapacity = 0;
    QString flashName; // from Flash.ini; empty when not found
    // The catalogue read on each connect; empty: Flash.ini in the current directory, where the
    // window reads it. zqprog looks in more places and names the file it chose.
    QString flashCatalogPath;

    // From config.ini: allows the boot update after a connect for normal work.
    bool bootUpdateEnabled = false;

    // The MCU code image. mcuCodeRead tells whether any image was read in this run, so that a
    // flash check after an unreadable file never checks 0 bytes against CRC 0.
    QString mcuCodePath = QStringLiteral("./");
    int32_t mcuCodeLength = 0;
    uint32_t mcuCodeCrc = 0;
    bool mcuCodeRead = false;
    uint32_t targetId = 0;
    uint32_t codeFlashAddress = 0x10000; // where the image goes in the programmer's SPI flash

    // The firmware or boot image being loaded.
    int32_t updateLength = 0;
    uint32_t updateCrc = 0;
};

} // namespace zq::ops
