// Checks the WinUSB channel where no board is attached: against the real system calls (a path
// that does not exist, a plain file's handle) and against scripted stand-ins for the WinUSB calls
// that behave as the real ones with overlapped I/O (pipe discovery, failures, release exactly
// once, transfers ended by abort, time-out and close).
// Built and run under wine by `make check-windows`; exits nonzero on the first failed group.

#include "SmokeCheck.h"
#include "usb/winusb/WinUsbChannel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using zq::winusb::WinUsbCalls;
using zq::winusb::WinUsbChannel;
using OpenFailure = zq::winusb::WinUsbChannel::OpenFailure;

namespace
{

struct Endpoint {
    bool queryOk;
    USBD_PIPE_TYPE type;
    UCHAR id;
};

// What the kernel leaves in OVERLAPPED::Internal.
constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr ULONG_PTR kStatusDeviceGone = 0xC000009D;

// A transfer the stand-in WinUSB holds until a packet, an abort or a failure ends it.
struct Pending {
    UCHAR pipe;
    PUCHAR buffer;
    ULONG length;
    LPOVERLAPPED overlapped;
};

// What the stand-in calls answer and what they saw.
struct Script {
    DWORD createFileError = ERROR_SUCCESS; // the file opens when it is ERROR_SUCCESS
    bool initializeOk = true;
    bool speedOk = true;
    UCHAR speed = 3;
    std::vector<Endpoint> endpoints{{true, UsbdPipeTypeBulk, 0x81}, {true, UsbdPipeTypeBulk, 0x01}};
    bool writeOk = true;     // false: a write fails at once
    bool holdWrites = false; // true: a write stays pending until aborted
    // What an abort finds of a held write: how it ended and how much of it had gone out.
    ULONG_PTR abortedWriteStatus = kStatusCancelled;
    ULONG abortedWriteSent = 0;
    // The next read stalls this long on entry, before it is inside WinUSB (a descheduled worker).
    std::chrono::milliseconds readStall{0};

    std::atomic<int> closeHandles{0};
    std::atomic<int> frees{0};
    std::atomic<int> aborts{0};
    std::atomic<int> reads{0};
    std::atomic<int> writes{0};
    std::atomic<int> releasedDuringTransfer{0};
    std::atomic<int> callsOnReleasedHandles{0};
    std::mutex mutex;
    std::condition_variable changed;
    // Under mutex:
    std::vector<std::vector<UCHAR>> packets; // waiting for a read
    std::vector<Pending> pending;
    std::vector<UCHAR> abortedPipes;
    int inTransfer = 0; // from a pipe call until its overlapped result has been taken
    bool released = false;
    bool stalling = false;
};

Script *script = nullptr;

HANDLE const kFile = reinterpret_cast<HANDLE>(0x1000);
WINUSB_INTERFACE_HANDLE const kInterface = reinterpret_cast<WINUSB_INTERFACE_HANDLE>(0x2000);

// Ends a transfer as the kernel does: status and count first, then the event.
void complete(LPOVERLAPPED overlapped, ULONG_PTR status, ULONG moved)
{
    overlapped->Internal = status;
    overlapped->InternalHigh = moved;
    SetEvent(overlapped->hEvent);
}

HANDLE WINAPI fakeCreateFile(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    if (script->createFileError == ERROR_SUCCESS) {
        std::lock_guard<std::mutex> lock(script->mutex);
        script->released = false;
        return kFile;
    }
    SetLastError(script->createFileError);
    return INVALID_HANDLE_VALUE;
}

void noteRelease()
{
    std::lock_guard<std::mutex> lock(script->mutex);
    script->releasedDuringTransfer += script->inTransfer > 0 ? 1 : 0;
    script->released = true;
}

WINBOOL WINAPI fakeCloseHandle(HANDLE handle)
{
    noteRelease();
    script->closeHandles += handle == kFile ? 1 : 1000;
    return TRUE;
}

WINBOOL WINAPI fakeInitialize(HANDLE, PWINUSB_INTERFACE_HANDLE handle)
{
    *handle = script->initializeOk ? kInterface : INVALID_HANDLE_VALUE;
    return script->initializeOk;
}

WINBOOL WINAPI fakeFree(WINUSB_INTERFACE_HANDLE handle)
{
    noteRelease();
    script->frees += handle == kInterface ? 1 : 1000;
    return TRUE;
}

WINBOOL WINAPI fakeQueryDeviceInformation(WINUSB_INTERFACE_HANDLE, ULONG type, PULONG length,
                                          PVOID buffer)
{
    if (type != DEVICE_SPEED || *length != 1 || !script->speedOk)
        return FALSE;
    *static_cast<UCHAR *>(buffer) = script->speed;
    return TRUE;
}

WINBOOL WINAPI fakeQueryInterfaceSettings(WINUSB_INTERFACE_HANDLE, UCHAR alternate,
                                          PUSB_INTERFACE_DESCRIPTOR descriptor)
{
    descriptor->bNumEndpoints = UCHAR(script->endpoints.size());
    return alternate == 0;
}

WINBOOL WINAPI fakeQueryPipe(WINUSB_INTERFACE_HANDLE, UCHAR alternate, UCHAR index,
                             PWINUSB_PIPE_INFORMATION pipe)
{
    const Endpoint &endpoint = script->endpoints.at(index);
    pipe->PipeType = endpoint.type;
    pipe->PipeId = endpoint.id;
    return alternate == 0 && endpoint.queryOk;
}

// Called with the mutex held; false (with the error set) for a call WinUSB would refuse.
bool acceptable(WINUSB_INTERFACE_HANDLE handle, LPOVERLAPPED overlapped)
{
    if (script->released || handle != kInterface)
        ++script->callsOnReleasedHandles;
    if (overlapped && overlapped->hEvent)
        return true;
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

// Leaves a transfer pending, as WinUSB does when it cannot complete it at once.
WINBOOL pend(UCHAR pipe, PUCHAR buffer, ULONG length, LPOVERLAPPED overlapped)
{
    overlapped->Internal = kStatusPending;
    overlapped->InternalHigh = 0;
    script->pending.push_back({pipe, buffer, length, overlapped});
    ++script->inTransfer;
    script->changed.notify_all();
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

WINBOOL WINAPI fakeWritePipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, PUCHAR buffer,
                             ULONG length, PULONG written, LPOVERLAPPED overlapped)
{
    ++script->writes;
    std::lock_guard<std::mutex> lock(script->mutex);
    if (!acceptable(handle, overlapped))
        return FALSE;
    if (!script->writeOk || pipe != 0x01) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    if (script->holdWrites)
        return pend(pipe, buffer, length, overlapped);
    ++script->inTransfer;
    complete(overlapped, kStatusSuccess, length);
    *written = length;
    return TRUE;
}

WINBOOL WINAPI fakeReadPipe(WINUSB_INTERFACE_HANDLE handle, UCHAR pipe, PUCHAR buffer, ULONG length,
                            PULONG received, LPOVERLAPPED overlapped)
{
    ++script->reads;
    std::chrono::milliseconds stall{0};
    {
        std::lock_guard<std::mutex> lock(script->mutex);
        std::swap(stall, script->readStall);
        script->stalling = stall.count() > 0;
        script->changed.notify_all();
    }
    std::this_thread::sleep_for(stall);
    std::lock_guard<std::mutex> lock(script->mutex);
    script->stalling = false;
    if (!acceptable(handle, overlapped))
        return FALSE;
    if (pipe != 0x81 || length != 512) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (script->packets.empty())
        return pend(pipe, buffer, length, overlapped);
    const std::vector<UCHAR> packet = script->packets.front();
    script->packets.erase(script->packets.begin());
    std::copy(packet.begin(), packet.end(), buffer);
    ++script->inTransfer;
    complete(overlapped, kStatusSuccess, ULONG(packet.size()));
    *received = ULONG(packet.size());
    return TRUE;
}

// Like the real call, it ends only what is pending on the pipe now; a later transfer is untouched.
WINBOOL WINAPI fakeAbortPipe(WINUSB_INTERFACE_HANDLE, UCHAR pipe)
{
    std::lock_guard<std::mutex> lock(script->mutex);
    ++script->aborts;
    script->abortedPipes.push_back(pipe);
    for (auto it = script->pending.begin(); it != script->pending.end();) {
        if (it->pipe != pipe) {
            ++it;
            continue;
        }
        if (pipe == 0x01)
            complete(it->overlapped, script->abortedWriteStatus,
                     std::min(script->abortedWriteSent, it->length));
        else
            complete(it->overlapped, kStatusCancelled, 0);
        it = script->pending.erase(it);
    }
    return TRUE;
}

WINBOOL WINAPI fakeGetOverlappedResult(WINUSB_INTERFACE_HANDLE, LPOVERLAPPED overlapped,
                                       LPDWORD moved, WINBOOL wait)
{
    if (WaitForSingleObject(overlapped->hEvent, wait ? INFINITE : 0) != WAIT_OBJECT_0) {
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(script->mutex);
    --script->inTransfer;
    *moved = DWORD(overlapped->InternalHigh);
    switch (overlapped->Internal) {
    case kStatusSuccess:
        return TRUE;
    case kStatusCancelled:
        SetLastError(ERROR_OPERATION_ABORTED);
        return FALSE;
    case kStatusDeviceGone:
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    default:
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
}

const WinUsbCalls fakeCalls{&fakeCreateFile,
                            &fakeCloseHandle,
                            &fakeInitialize,
                            &fakeFree,
                            &fakeQueryDeviceInformation,
                            &fakeQueryInterfaceSettings,
                            &fakeQueryPipe,
                            &fakeWritePipe,
                            &fakeReadPipe,
                            &fakeAbortPipe,
                            &fakeGetOverlappedResult};

// The board sends a packet: it completes a pending read, or waits for the next one.
void deliver(Script &s, std::vector<UCHAR> packet)
{
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto it = s.pending.begin(); it != s.pending.end(); ++it) {
        if (it->pipe != 0x81)
            continue;
        std::copy(packet.begin(), packet.end(), it->buffer);
        complete(it->overlapped, kStatusSuccess, ULONG(packet.size()));
        s.pending.erase(it);
        return;
    }
    s.packets.push_back(std::move(packet));
}

// The device goes away under a pending transfer.
void failPending(Script &s, UCHAR pipe)
{
    std::lock_guard<std::mutex> lock(s.mutex);
    for (auto it = s.pending.begin(); it != s.pending.end(); ++it) {
        if (it->pipe == pipe) {
            complete(it->overlapped, kStatusDeviceGone, 0);
            s.pending.erase(it);
            return;
        }
    }
}

// Waits (up to 5 s) until a transfer is pending on pipe.
bool pendingOn(Script &s, UCHAR pipe)
{
    std::unique_lock<std::mutex> lock(s.mutex);
    return s.changed.wait_for(lock, std::chrono::seconds(5), [&] {
        return std::any_of(s.pending.begin(), s.pending.end(),
                           [&](const Pending &p) { return p.pipe == pipe; });
    });
}

bool abortedOnly(Script &s, std::vector<UCHAR> pipes)
{
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.abortedPipes == pipes;
}

struct ReadResult {
    int result;
    std::vector<uint8_t> bytes;
};

std::future<ReadResult> readLater(WinUsbChannel &channel, uint32_t ticket,
                                  std::chrono::milliseconds timeout = std::chrono::milliseconds(0))
{
    return std::async(std::launch::async, [&channel, ticket, timeout] {
        uint8_t buffer[WinUsbChannel::kReadSize] = {};
        const int result = channel.read(buffer, ticket, timeout);
        return ReadResult{result, std::vector<uint8_t>(buffer, buffer + std::max(result, 0))};
    });
}

template <typename T> bool endsWithin(std::future<T> &future, std::chrono::milliseconds limit)
{
    return future.wait_for(limit) == std::future_status::ready;
}

const std::wstring kPath = L"\\\\?\\usb#vid_5a17&pid_c0d2#0001#{88bae032-5a81-49f0-bc3d-"
                           L"a4ff138216d6}";

bool released(Script &s, int closeHandles, int frees)
{
    return s.closeHandles == closeHandles && s.frees == frees;
}

void missingPathLeavesRecordClosed()
{
    WinUsbChannel channel;
    CHECK(!channel.open(kPath));
    CHECK(channel.openFailure() == OpenFailure::NotFound);
    CHECK(!channel.isOpen());
    CHECK(channel.close() == 1);
    CHECK(channel.close() == 1);
    uint8_t buffer[WinUsbChannel::kReadSize];
    CHECK(channel.read(buffer) == -1);
    CHECK(channel.write(buffer, 4) == -1);
}

// A plain file opens with the real CreateFileW but is no WinUSB device (wine's winusb.dll has no
// WinUsb_Initialize, so that call is scripted to refuse): the real handle must be closed again.
void fileWinUsbWillNotTakeIsClosed()
{
    Script s;
    script = &s;
    s.initializeOk = false;
    WinUsbCalls calls = fakeCalls;
    calls.createFile = &::CreateFileW;
    calls.closeHandle = &::CloseHandle;
    wchar_t folder[MAX_PATH];
    wchar_t file[MAX_PATH];
    CHECK(GetTempPathW(MAX_PATH, folder) != 0);
    CHECK(GetTempFileNameW(folder, L"zq", 0, file) != 0);
    WinUsbChannel channel(calls);
    CHECK(!channel.open(file));
    CHECK(!channel.isOpen());
    CHECK(s.frees == 0);
    // Opened without FILE_SHARE_DELETE: deleting works only once our handle is closed.
    CHECK(DeleteFileW(file) != FALSE);
}

void openFindsPipesAndReleasesOnce()
{
    Script s;
    script = &s;
    s.endpoints = {{true, UsbdPipeTypeInterrupt, 0x83},
                   {true, UsbdPipeTypeBulk, 0x81},
                   {true, UsbdPipeTypeBulk, 0x01},
                   {true, UsbdPipeTypeBulk, 0x82}};
    {
        WinUsbChannel channel(fakeCalls);
        CHECK(channel.open(kPath));
        CHECK(channel.openFailure() == OpenFailure::None);
        CHECK(channel.isOpen());
        CHECK(channel.speed() == 3);
        CHECK(channel.inPipe() == 0x82); // the later of two bulk IN endpoints
        CHECK(channel.outPipe() == 0x01);
        CHECK(channel.close() == 1);
        CHECK(!channel.isOpen());
        CHECK(released(s, 1, 1));
        CHECK(channel.close() == 1);
        CHECK(released(s, 1, 1));
    }
    CHECK(released(s, 1, 1)); // nor again on destruction
}

void failedOpensReleaseWhatTheyTook()
{
    Script lastQueryFails;
    script = &lastQueryFails;
    lastQueryFails.endpoints.push_back({false, UsbdPipeTypeBulk, 0x02});
    WinUsbChannel channel(fakeCalls);
    CHECK(!channel.open(kPath));
    CHECK(channel.openFailure() == OpenFailure::NoPipes);
    CHECK(!channel.isOpen());
    CHECK(released(lastQueryFails, 1, 1));

    Script noOutPipe;
    script = &noOutPipe;
    noOutPipe.endpoints = {{true, UsbdPipeTypeBulk, 0x81}};
    CHECK(!channel.open(kPath));
    CHECK(channel.openFailure() == OpenFailure::NoPipes);
    CHECK(released(noOutPipe, 1, 1));

    Script notWinUsb;
    script = &notWinUsb;
    notWinUsb.initializeOk = false;
    CHECK(!channel.open(kPath));
    CHECK(channel.openFailure() == OpenFailure::NotWinUsb);
    CHECK(released(notWinUsb, 1, 0)); // no interface handle to free

    Script noSpeed;
    script = &noSpeed;
    noSpeed.speedOk = false;
    CHECK(!channel.open(kPath));
    CHECK(channel.openFailure() == OpenFailure::NotWinUsb);
    CHECK(released(noSpeed, 1, 1));
    CHECK(channel.close() == 1);
    CHECK(released(noSpeed, 1, 1));
}

// Another program holding the board is the usual reason Windows refuses to open it.
void refusedFileOpensNameTheirCause()
{
    const struct {
        DWORD error;
        OpenFailure failure;
    } cases[] = {{ERROR_ACCESS_DENIED, OpenFailure::Busy},
                 {ERROR_SHARING_VIOLATION, OpenFailure::Busy},
                 {ERROR_FILE_NOT_FOUND, OpenFailure::NotFound},
                 {ERROR_DEVICE_NOT_CONNECTED, OpenFailure::NotFound},
                 {ERROR_GEN_FAILURE, OpenFailure::Other}};
    for (const auto &refusal : cases) {
        Script s;
        script = &s;
        s.createFileError = refusal.error;
        WinUsbChannel channel(fakeCalls);
        CHECK(!channel.open(kPath));
        CHECK(channel.openFailure() == refusal.failure);
        CHECK(!channel.isOpen());
        CHECK(released(s, 0, 0));
        s.createFileError = ERROR_SUCCESS;
        CHECK(channel.open(kPath)); // a later try starts afresh
        CHECK(channel.openFailure() == OpenFailure::None);
    }
}

void transfersAndTheirFailures()
{
    Script s;
    script = &s;
    s.packets = {{0x5A, 0x00, 0x5B}, {}};
    WinUsbChannel channel(fakeCalls);
    CHECK(channel.open(kPath));
    uint8_t buffer[WinUsbChannel::kReadSize];
    const uint8_t frame[3] = {0xAA, 0x55, 'K'};
    CHECK(channel.write(frame, 3) == 1);
    CHECK(channel.read(buffer) == 3);
    CHECK(buffer[2] == 0x5B);
    CHECK(channel.read(buffer) == 0); // zero-length packet
    CHECK(channel.isOpen());

    s.writeOk = false;
    CHECK(channel.write(frame, 3) == -1);
    CHECK(!channel.isOpen());
    CHECK(released(s, 1, 1));
    const int readsBefore = s.reads;
    CHECK(channel.read(buffer) == -1);
    CHECK(s.reads == readsBefore); // failed at once, WinUSB not asked
    CHECK(released(s, 1, 1));
}

void closeAbortsBlockedReadThenReleases()
{
    Script s;
    script = &s;
    WinUsbChannel channel(fakeCalls);
    CHECK(channel.open(kPath));
    auto pending = std::async(std::launch::async, [&] {
        uint8_t buffer[WinUsbChannel::kReadSize];
        return channel.read(buffer);
    });
    CHECK(pendingOn(s, 0x81));
    CHECK(channel.close() == 1);
    CHECK(!channel.isOpen());
    CHECK(pending.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
    CHECK(pending.get() == -1);
    CHECK(abortedOnly(s, {0x81})); // the read's own pipe, by the reading thread
    CHECK(released(s, 1, 1));
    CHECK(s.releasedDuringTransfer == 0);
    CHECK(channel.close() == 1);
    CHECK(released(s, 1, 1));
}

// An abort ends the pending transfer with its ticket and nothing else: not one with another
// ticket, not one with ticket 0, and not the next one. The channel stays open throughout.
void abortEndsExactlyItsTransfer()
{
    using namespace std::chrono_literals;
    Script s;
    script = &s;
    WinUsbChannel channel(fakeCalls);
    CHECK(channel.open(kPath));

    auto first = readLater(channel, 7);
    CHECK(pendingOn(s, 0x81));
    channel.abort(6);
    channel.abort(0);
    CHECK(!endsWithin(first, 100ms));
    channel.abort(7);
    CHECK(endsWithin(first, 5000ms));
    CHECK(first.get().result == WinUsbChannel::kAborted);
    CHECK(abortedOnly(s, {0x81}));
    CHECK(channel.isOpen());
    CHECK(released(s, 0, 0));

    // Pending when its packet comes: the earlier abort left nothing set that would end it.
    auto second = readLater(channel, 8);
    CHECK(pendingOn(s, 0x81));
    CHECK(!endsWithin(second, 100ms));
    deliver(s, {0x5A, 0x01});
    CHECK(endsWithin(second, 5000ms));
    const ReadResult answer = second.get();
    CHECK(answer.result == 2);
    CHECK(answer.bytes == std::vector<uint8_t>({0x5A, 0x01}));

    auto untouchable = readLater(channel, 0);
    CHECK(pendingOn(s, 0x81));
    channel.abort(0);
    channel.abort(8);
    CHECK(!endsWithin(untouchable, 100ms));
    deliver(s, {});
    CHECK(endsWithin(untouchable, 5000ms));
    CHECK(untouchable.get().result == 0); // a zero-length packet
    CHECK(abortedOnly(s, {0x81}));

    // The device going away under a pending read is a failure: the channel closes, after it.
    auto lost = readLater(channel, 9);
    CHECK(pendingOn(s, 0x81));
    failPending(s, 0x81);
    CHECK(endsWithin(lost, 5000ms));
    CHECK(lost.get().result == -1);
    CHECK(!channel.isOpen());
    CHECK(released(s, 1, 1));
    CHECK(s.releasedDuringTransfer == 0);
}

// The worker may be on its way to a transfer when it is given up on: nothing goes out then, and
// one caught between being counted and its pipe call still ends promptly.
void abortBeforeTheTransferStarts()
{
    using namespace std::chrono_literals;
    Script s;
    script = &s;
    WinUsbChannel channel(fakeCalls);
    CHECK(channel.open(kPath));
    uint8_t buffer[WinUsbChannel::kReadSize];
    const uint8_t frame[3] = {0xAA, 0x55, 'K'};

    channel.abort(3);
    CHECK(channel.read(buffer, 3, 0ms) == WinUsbChannel::kAborted);
    CHECK(channel.write(frame, 3, 3, 0ms) == WinUsbChannel::kAborted);
    CHECK(s.reads == 0);
    CHECK(s.writes == 0);
    CHECK(channel.isOpen());
    CHECK(channel.write(frame, 3, 4, 0ms) == 1);
    deliver(s, {0x5A});
    CHECK(channel.read(buffer, 4, 0ms) == 1);

    s.readStall = 300ms;
    auto late = readLater(channel, 5);
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        CHECK(s.changed.wait_for(lock, 5s, [&] { return s.stalling; }));
    }
    channel.abort(5);
    CHECK(endsWithin(late, 5000ms));
    CHECK(late.get().result == WinUsbChannel::kAborted);
    CHECK(s.reads == 2);
    CHECK(abortedOnly(s, {0x81}));
    CHECK(channel.isOpen());
    CHECK(released(s, 0, 0));
}

// A read with a time-out ends by itself, aborted rather than failed, ticket or none.
void timeoutsEndReadsOnTheirOwn()
{
    using namespace std::chrono_literals;
    Script s;
    script = &s;
    WinUsbChannel channel(fakeCalls);
    CHECK(channel.open(kPath));
    uint8_t buffer[WinUsbChannel::kReadSize];

    const auto start = std::chrono::steady_clock::now();
    CHECK(channel.read(buffer, 0, 200ms) == WinUsbChannel::kAborted);
    const auto took = std::chrono::steady_clock::now() - start;
    CHECK(took >= 100ms);
    CHECK(took < 5s);
    CHECK(abortedOnly(s, {0x81}));
    CHECK(channel.isOpen());

    auto answered = readLater(channel, 0, 5000ms);
    CHECK(pendingOn(s, 0x81));
    deliver(s, {0x5A, 0x00, 0x5B});
    CHECK(endsWithin(answered, 5000ms));
    CHECK(answered.get().result == 3);
    CHECK(channel.read(buffer, 21, 200ms) == WinUsbChannel::kAborted);
    CHECK(channel.isOpen());
    CHECK(released(s, 0, 0));
}

// An aborted write counts as written exactly when the whole frame had gone out: the board has it.
void abortedWritesCountWhatWentOut()
{
    using namespace std::chrono_literals;
    const struct {
        ULONG_PTR status; // what the abort found
        ULONG sent;
        int result;
    } cases[] = {{kStatusCancelled, 0, WinUsbChannel::kAborted},
                 {kStatusCancelled, 2, WinUsbChannel::kAborted},
                 {kStatusCancelled, 3, 1},
                 {kStatusSuccess, 3, 1}}; // completed just before the abort reached it
    for (const auto &c : cases) {
        Script s;
        script = &s;
        s.holdWrites = true;
        s.abortedWriteStatus = c.status;
        s.abortedWriteSent = c.sent;
        WinUsbChannel channel(fakeCalls);
        CHECK(channel.open(kPath));
        const uint8_t frame[3] = {0xAA, 0x55, 'K'};
        auto write =
            std::async(std::launch::async, [&] { return channel.write(frame, 3, 11, 0ms); });
        CHECK(pendingOn(s, 0x01));
        channel.abort(11);
        CHECK(endsWithin(write, 5000ms));
        CHECK(write.get() == c.result);
        CHECK(abortedOnly(s, {0x01}));
        CHECK(channel.isOpen());
    }
}

// A read counted but not yet inside WinUsb_ReadPipe when close() runs (the worker descheduled
// there) still ends promptly, and the handles go after it has returned, once.
void closeEndsReadNotYetInItsPipeCall()
{
    using namespace std::chrono_literals;
    Script s;
    script = &s;
    s.readStall = 300ms;
    WinUsbChannel channel(fakeCalls);
    CHECK(channel.open(kPath));
    auto late = readLater(channel, 12);
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        CHECK(s.changed.wait_for(lock, 5s, [&] { return s.stalling; }));
    }
    CHECK(channel.close() == 1);
    CHECK(!channel.isOpen());
    CHECK(released(s, 0, 0)); // the read is counted: it releases on its way out
    CHECK(endsWithin(late, 5000ms));
    CHECK(late.get().result == -1);
    CHECK(s.reads == 1);
    CHECK(abortedOnly(s, {0x81}));
    CHECK(released(s, 1, 1));
    CHECK(s.releasedDuringTransfer == 0);
    CHECK(s.callsOnReleasedHandles == 0);
    CHECK(channel.close() == 1);
    CHECK(released(s, 1, 1));
}

} // namespace

int main()
{
    missingPathLeavesRecordClosed();
    fileWinUsbWillNotTakeIsClosed();
    openFindsPipesAndReleasesOnce();
    failedOpensReleaseWhatTheyTook();
    refusedFileOpensNameTheirCause();
    transfersAndTheirFailures();
    closeAbortsBlockedReadThenReleases();
    abortEndsExactlyItsTransfer();
    abortBeforeTheTransferStarts();
    timeoutsEndReadsOnTheirOwn();
    abortedWritesCountWhatWentOut();
    closeEndsReadNotYetInItsPipeCall();
    return zq::smoke::verdict("winusb smoke");
}
