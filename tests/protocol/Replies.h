#pragma once

#include "common/Crc32.h"

#include <QByteArray>

#include <cstdint>

namespace zq::test
{

// Reply frames as a programmer sends them, for tests that play the programmer's part.

inline QByteArray bigEndian32Bytes(uint32_t value)
{
    QByteArray bytes;
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char(uint8_t(value >> shift)));
    return bytes;
}

// Appends the CRC of the bytes so far.
inline QByteArray sealed(QByteArray body)
{
    const auto *data = reinterpret_cast<const uint8_t *>(body.constData());
    return body + bigEndian32Bytes(zq::crc32(data, size_t(body.size())));
}

// The 13-byte reply: marker, value in 4..7, status in 8, CRC in 9..12.
inline QByteArray reply13(char marker, uint32_t value = 0, uint8_t status = 0)
{
    QByteArray body(3, '\0');
    body[2] = marker;
    body += '\0' + bigEndian32Bytes(value) + char(status);
    return sealed(body);
}

// The SWD init reply: target id in 3..6, status in 7.
inline QByteArray swdInitReply(uint32_t targetId, uint8_t status = 0)
{
    QByteArray body(3, '\0');
    body[2] = 'Q';
    body += bigEndian32Bytes(targetId) + char(status) + '\0';
    return sealed(body);
}

// The connect reply with mode byte, running and other version, flash id, board MCU and id.
inline QByteArray connectReply(char modeByte, uint32_t runningVersion, uint32_t otherVersion,
                               uint32_t flashId, uint32_t boardMcu, uint32_t boardId)
{
    QByteArray body(32, '\0');
    body[2] = modeByte;
    body.replace(3, 3, bigEndian32Bytes(runningVersion).mid(1));
    body.replace(7, 3, bigEndian32Bytes(flashId).mid(1));
    body.replace(14, 4, bigEndian32Bytes(boardMcu));
    body.replace(18, 3, bigEndian32Bytes(otherVersion).mid(1));
    body.replace(22, 4, bigEndian32Bytes(boardId));
    return sealed(body);
}

// The same reply with its last CRC byte spoiled.
inline QByteArray withBadCrc(QByteArray reply)
{
    reply[reply.size() - 1] = char(reply[reply.size() - 1] ^ 0x01);
    return reply;
}

} // namespace zq::test
