// Checks the WinUSB channel where no board is attached: against the real system calls (a path
// that does not exist, a plain file's handle) and against scripted stand-ins for the WinUSB calls
// (pipe discovery, failures, release exactly once, abort of a blocked read).
// Built and run under wine by `make check-windows`; exits nonzero on the first failed group.

#include "SmokeCheck.h"
#include "winusb/WinUsbChannel.h"

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

// What the stand-in calls answer and what they saw.
struct Script {
    DWORD createFileError = ERROR_SUCCESS; // the file opens when it is ERROR_SUCCESS
    bool initializeOk = true;
    bool speedOk = true;
    UCHAR speed = 3;
    std::vector<Endpoint> endpoints{{true, UsbdPipeTypeBulk, 0x81}, {true, UsbdPipeTypeBulk, 0x01}};
    bool writeOk = true;
    std::vector<std::vector<UCHAR>> packets; // read blocks when empty, until aborted

    std::atomic<int> closeHandles{0};
    std::atomic<int> frees{0};
    std::atomic<int> aborts{0};
    std::atomic<int> reads{0};
    std::atomic<int> releasedDuringTransfer{0};
    std::atomic<bool> inRead{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool aborted = false;
};

Script *script = nullptr;

HANDLE const kFile = reinterpret_cast<HANDLE>(0x1000);
WINUSB_INTERFACE_HANDLE const kInterface = reinterpret_cast<WINUSB_INTERFACE_HANDLE>(0x2000);

HANDLE WINAPI fakeCreateFile(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    if (script->createFileError == ERROR_SUCCESS)
        return kFile;
    SetLastError(script->createFileError);
    return INVALID_HANDLE_VALUE;
}

WINBOOL WINAPI fakeCloseHandle(HANDLE handle)
{
    script->releasedDuringTransfer += script->inRead ? 1 : 0;
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
    script->releasedDuringTransfer += script->inRead ? 1 : 0;
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

WINBOOL WINAPI fakeWritePipe(WINUSB_INTERFACE_HANDLE, UCHAR pipe, PUCHAR, ULONG length,
                             PULONG written, LPOVERLAPPED overlapped)
{
    *written = length;
    return script->writeOk && pipe == 0x01 && !overlapped;
}

WINBOOL WINAPI fakeReadPipe(WINUSB_INTERFACE_HANDLE, UCHAR pipe, PUCHAR buffer, ULONG length,
                            PULONG received, LPOVERLAPPED overlapped)
{
    ++script->reads;
    std::unique_lock<std::mutex> lock(script->mutex);
    script->inRead = true;
    script->changed.notify_all();
    script->changed.wait(lock, [] { return script->aborted || !script->packets.empty(); });
    script->inRead = false;
    if (script->aborted || pipe != 0x81 || length != 512 || overlapped)
        return FALSE;
    const std::vector<UCHAR> packet = script->packets.front();
    script->packets.erase(script->packets.begin());
    std::copy(packet.begin(), packet.end(), buffer);
    *received = ULONG(packet.size());
    return TRUE;
}

WINBOOL WINAPI fakeAbortPipe(WINUSB_INTERFACE_HANDLE, UCHAR)
{
    std::lock_guard<std::mutex> lock(script->mutex);
    ++script->aborts;
    script->aborted = true;
    script->changed.notify_all();
    return TRUE;
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
                            &fakeAbortPipe};

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
    {
        std::unique_lock<std::mutex> lock(s.mutex);
        s.changed.wait(lock, [&] { return s.inRead.load(); });
    }
    CHECK(channel.close() == 1);
    CHECK(!channel.isOpen());
    CHECK(pending.wait_for(std::chrono::seconds(5)) == std::future_status::ready);
    CHECK(pending.get() == -1);
    CHECK(s.aborts >= 2); // both pipes
    CHECK(released(s, 1, 1));
    CHECK(s.releasedDuringTransfer == 0);
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
    return zq::smoke::verdict("winusb smoke");
}
