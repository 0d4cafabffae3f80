#pragma once

#include <QThread>

#include <atomic>
#include <cstdint>

class UsbDevice;

// The transfer worker: moves one frame out or one packet in per request, on its own thread.
// The window's thread hands requests over through the byte flags below, data first and flag
// last; each side polls the other's flags. No lock, no signals, no slots.
class USB_BURN_CTRL : public QThread
{
    Q_OBJECT

public:
    static constexpr int kTxBufferSize = 4160;
    static constexpr int kRxBufferSize = 1024;

    explicit USB_BURN_CTRL(QObject *parent = nullptr);
    ~USB_BURN_CTRL() override;

    uint8_t txBuffer[kTxBufferSize] = {};
    uint8_t rxBuffer[kRxBufferSize] = {};
    std::atomic<int32_t> txLength{0};
    std::atomic<int32_t> rxLength{0};
    std::atomic<uint8_t> txRequest{0};
    std::atomic<uint8_t> txDone{0};
    std::atomic<uint8_t> rxRequest{0};
    std::atomic<uint8_t> rxDone{0}; // 1: reply in rxBuffer; 2: read failed, device lost
    std::atomic<uint8_t> stopRequest{0};

    // Which transaction a reply belongs to. The window's thread stores a new transaction number
    // before it asks for a read; the worker takes it when it starts the read and stores it in
    // replyNumber before it sets rxDone, so a reply that arrives after its transaction gave up is
    // recognised and dropped instead of being taken for a later command's reply.
    std::atomic<uint32_t> requestNumber{0};
    std::atomic<uint32_t> replyNumber{0};

    UsbDevice *device = nullptr; // shared with the window, not owned

protected:
    void run() override;
};
