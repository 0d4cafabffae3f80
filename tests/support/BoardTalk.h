#pragma once

// Hand-built frames and a bounded read, so the tests talk to the board the way a host does
// without depending on the host's protocol layer.

#include "common/Crc32.h"
#include "emulator/EmulatedBus.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace emutest
{

using Bytes = std::vector<uint8_t>;

inline void putBigEndian(Bytes &bytes, size_t offset, size_t count, uint32_t value)
{
    for (size_t i = count; i-- > 0; value >>= 8)
        bytes[offset + i] = uint8_t(value);
}

inline uint32_t bigEndian(const Bytes &bytes, size_t offset, size_t count = 4)
{
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = (value << 8) | bytes.at(offset + i);
    return value;
}

inline void seal(Bytes &frame, size_t covered)
{
    putBigEndian(frame, covered, 4, zq::crc32(frame.data(), covered));
}

inline bool crcHolds(const Bytes &reply)
{
    if (reply.size() < 5)
        return false;
    const size_t covered = reply.size() - 4;
    return zq::crc32(reply.data(), covered) == bigEndian(reply, covered);
}

inline Bytes fixedFrame(char command, const Bytes &fields)
{
    Bytes frame(36, 0);
    frame[0] = 0xAA;
    frame[1] = 0x55;
    frame[2] = uint8_t(command);
    std::copy(fields.begin(), fields.end(), frame.begin() + 3);
    seal(frame, 32);
    return frame;
}

inline Bytes checkFrame(char command, uint32_t start, uint32_t length, uint32_t expected)
{
    Bytes fields(15, 0);
    fields[2] = 0x24;
    putBigEndian(fields, 3, 4, start);
    putBigEndian(fields, 7, 4, length);
    putBigEndian(fields, 11, 4, expected);
    return fixedFrame(command, fields);
}

inline Bytes connectFrame()
{
    return fixedFrame('K', {'Z', 'Q'});
}
inline Bytes usbBootFrame(uint8_t runMode)
{
    return fixedFrame('O', {'u', 's', 'B', runMode});
}

inline Bytes swdInitFrame(bool run, uint8_t speed = 1, bool powerOff = false)
{
    Bytes fields(10, 0);
    fields[0] = 'S';
    fields[1] = 'W';
    fields[2] = 'D';
    fields[3] = run ? '1' : '0';
    fields[8] = speed;
    fields[9] = run ? (powerOff ? 'P' : 'U') : 0;
    return fixedFrame('A', fields);
}

// Variable form; a 36-byte frame goes out as 38 bytes, as the host sends it.
inline Bytes blockFrame(char command, uint32_t address, const Bytes &data)
{
    const size_t total = data.size() + 14;
    Bytes frame(total == 36 ? 38 : total, 0);
    frame[0] = 0xAA;
    frame[1] = 0x55;
    frame[2] = uint8_t(command);
    putBigEndian(frame, 3, 3, uint32_t(total));
    putBigEndian(frame, 6, 4, address);
    std::copy(data.begin(), data.end(), frame.begin() + 10);
    seal(frame, total - 4);
    return frame;
}

inline Bytes pattern(size_t count, uint32_t seed)
{
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = uint8_t((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    return bytes;
}

inline uint32_t crcOf(const Bytes &bytes)
{
    return zq::crc32(bytes.data(), bytes.size());
}

// Cancels a link unless disarmed within the bound: a test never hangs on a silent board.
class Watchdog
{
public:
    Watchdog(zq::emu::BoardLink &link, std::chrono::milliseconds bound)
        : thread_([this, &link, bound] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, bound, [this] { return disarmed_; }))
                  link.cancel();
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            disarmed_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool disarmed_ = false;
    std::thread thread_;
};

// One reply packet, or nothing when the link fails or nothing comes within the bound (the
// link is then cancelled).
inline std::optional<Bytes> readReply(zq::emu::BoardLink &link, int boundMs = 10000)
{
    Watchdog watchdog(link, std::chrono::milliseconds(boundMs));
    Bytes buffer(512);
    const int count = link.read(buffer.data(), int(buffer.size()));
    if (count < 0)
        return std::nullopt;
    buffer.resize(size_t(count));
    return buffer;
}

inline bool send(zq::emu::BoardLink &link, const Bytes &frame)
{
    return link.write(frame.data(), int(frame.size()));
}

// Sends a frame and reads its one reply.
inline std::optional<Bytes> roundTrip(zq::emu::BoardLink &link, const Bytes &frame,
                                      int boundMs = 10000)
{
    if (!send(link, frame))
        return std::nullopt;
    return readReply(link, boundMs);
}

} // namespace emutest
