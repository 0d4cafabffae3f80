#include "MockUsbBus.h"

#include "common/ThreadLatency.h"

#include <umockdev.h>

// After GLib's headers: Qt's keywords would otherwise clash with them.
#include "emulator/Board.h"

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace
{

const char *const kPreload = "libumockdev-preload.so.0";

// One vendor interface with bulk OUT 0x01 and bulk IN 0x81, 512-byte packets.
const char *const kDescriptors = "1201000200000040175ad2c0000101020301"
                                 "090220000101008032"
                                 "0904000002ff000000"
                                 "07050102000200"
                                 "07058102000200";

struct Urb {
    UMockdevIoctlData *urb = nullptr;
    UMockdevIoctlData *buffer = nullptr; // null for a zero-length transfer
    usbdevfs_urb *fields() const { return reinterpret_cast<usbdevfs_urb *>(urb->data); }
};

using Responder = std::function<std::vector<std::vector<uint8_t>>(const uint8_t *, size_t)>;

std::vector<std::vector<uint8_t>> echo(const uint8_t *data, size_t count)
{
    return {std::vector<uint8_t>(data, data + count)};
}

Responder emulatedBoard(std::shared_ptr<zq::emu::Board> board)
{
    return [board](const uint8_t *data, size_t count) {
        const char command = count >= 3 ? char(data[2]) : 0;
        const zq::emu::FrameFaults faults = board->faults().onFrame(command);
        zq::emu::Board::Response response = board->handleFrame(data, count);
        faults.damage(response.replies);
        return response.replies;
    };
}

// What libusb polls in place of the kernel's device node. umockdev backs a node with a regular
// file, which always polls ready: libusb's event loop would then spin on empty reaps for as long
// as a handle is open, a core's worth of CPU that a real node never costs. A named pipe instead,
// opened read-write by both sides, polls writable (usbfs's "a URB is ready to reap") only while
// it has room, so it is kept full while there is nothing to reap and empty while there is.
class ReapSignal
{
public:
    // Replaces the node at file (in the testbed's root) with a named pipe; without one the
    // node stays as umockdev made it and every call here does nothing.
    explicit ReapSignal(const std::string &file)
    {
        struct stat node {
        };
        if (stat(file.c_str(), &node) != 0 || unlink(file.c_str()) != 0)
            return;
        if (mkfifo(file.c_str(), node.st_mode & 07777) != 0)
            return;
        fd_ = open(file.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) {
            fcntl(fd_, F_SETPIPE_SZ, 4096); // the least the kernel allows: fills in one write
            set(false);
        }
    }
    ~ReapSignal()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    ReapSignal(const ReapSignal &) = delete;
    ReapSignal &operator=(const ReapSignal &) = delete;

    void set(bool ready)
    {
        if (fd_ < 0 || ready == ready_)
            return;
        char bytes[4096] = {};
        if (ready) {
            while (read(fd_, bytes, sizeof bytes) > 0) {
            }
        } else {
            while (write(fd_, bytes, sizeof bytes) > 0) {
            }
        }
        ready_ = ready;
    }

private:
    int fd_ = -1;
    bool ready_ = true;
};

// Where the emulated kernel's calls run; see MockUsbBus::serveBeside.
class CallerCore
{
public:
    static CallerCore &instance()
    {
        static CallerCore core;
        return core;
    }
    void follow(int threadId) { caller_.store(threadId); }

    // On umockdev's thread, before each call.
    void keepBesideCaller()
    {
        const int caller = caller_.load();
        if (caller == 0) {
            if (placedOn_ != kNowhere)
                sched_setaffinity(0, sizeof everyCore_, &everyCore_);
            placedOn_ = kNowhere;
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastLook_ < std::chrono::milliseconds(1))
            return;
        lastLook_ = now;
        const int core = coreOf(caller);
        if (core < 0 || core == placedOn_)
            return;
        if (placedOn_ == kNowhere)
            sched_getaffinity(0, sizeof everyCore_, &everyCore_);
        cpu_set_t only;
        CPU_ZERO(&only);
        CPU_SET(core, &only);
        sched_setaffinity(0, sizeof only, &only);
        placedOn_ = core;
    }

private:
    static constexpr int kNowhere = -1;

    // The core a thread of this process last ran on (field 39 of its stat line), or -1.
    static int coreOf(int threadId)
    {
        char file[64];
        std::snprintf(file, sizeof file, "/proc/self/task/%d/stat", threadId);
        FILE *stat = std::fopen(file, "re");
        if (!stat)
            return -1;
        char line[1024] = {};
        const size_t length = std::fread(line, 1, sizeof line - 1, stat);
        std::fclose(stat);
        const char *field = std::strrchr(line, ')');
        if (length == 0 || !field)
            return -1;
        for (int number = 2; number < 39 && field; ++number)
            field = std::strchr(field + 1, ' ');
        return field ? std::atoi(field + 1) : -1;
    }

    std::atomic<int> caller_{0};
    // umockdev's thread only:
    std::chrono::steady_clock::time_point lastLook_;
    int placedOn_ = kNowhere;
    cpu_set_t everyCore_{};
};

// The device side of one plugged board. Its calls arrive on umockdev's thread.
class MockBoard
{
public:
    explicit MockBoard(Responder responder) : respond_(std::move(responder)) {}

    // From now on the client's poll of the node follows the queue of URBs to reap.
    void signalReapsThrough(const std::string &nodeFile)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signal_ = std::make_unique<ReapSignal>(nodeFile);
        updateSignal();
    }

    void handle(UMockdevIoctlClient *client)
    {
        // This thread stands for the kernel, which answers a URB without waiting for a turn.
        static thread_local const bool prompt = zq::common::requestShortTimeSlices();
        (void)prompt;
        CallerCore::instance().keepBesideCaller();
        std::lock_guard<std::mutex> lock(mutex_);
        dispatch(client);
        // Before the client learns the call's result and polls again.
        updateSignal();
    }

    // In-flight transfers end as the kernel ends them on a disconnect.
    void unplug()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        gone_ = true;
        for (Urb &urb : pendingIn_)
            finish(urb, -ESHUTDOWN, 0);
        pendingIn_.clear();
        updateSignal();
    }

private:
    void dispatch(UMockdevIoctlClient *client)
    {
        UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
        switch (umockdev_ioctl_client_get_request(client)) {
        case USBDEVFS_GET_CAPABILITIES:
            answerCapabilities(client, arg);
            return;
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
            umockdev_ioctl_client_complete(client, gone_ ? -1 : 0, gone_ ? ENODEV : 0);
            return;
        case USBDEVFS_SUBMITURB:
            submit(client, arg);
            return;
        case USBDEVFS_REAPURBNDELAY:
            reap(client, arg);
            return;
        case USBDEVFS_DISCARDURB:
            discard(client, arg);
            return;
        default:
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
        }
    }

    // A gone device stays ready, as a real node does (its reaps then fail with ENODEV).
    void updateSignal()
    {
        if (signal_)
            signal_->set(gone_ || !done_.empty());
    }

    // The argument arrives as the raw ioctl argument: a pointer to resolve into the client's
    // memory (capabilities, URB, reaped URB's slot) or, for a discard, the URB's address itself.
    void answerCapabilities(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        UMockdevIoctlData *caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
        const uint32_t value = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                               USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
        std::memcpy(caps->data, &value, sizeof value);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(caps);
    }

    void submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        if (gone_) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return;
        }
        Urb urb;
        urb.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        const int length = urb.fields()->buffer_length;
        if (length > 0)
            urb.buffer = umockdev_ioctl_data_resolve(urb.urb, offsetof(usbdevfs_urb, buffer),
                                                     gsize(length), nullptr);
        if (urb.fields()->endpoint & 0x80) {
            pendingIn_.push_back(urb);
        } else {
            for (std::vector<uint8_t> &reply :
                 respond_(urb.buffer ? urb.buffer->data : nullptr, size_t(std::max(length, 0))))
                replies_.push_back(std::move(reply));
            finish(urb, 0, length);
        }
        answerPendingReads();
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void answerPendingReads()
    {
        while (!pendingIn_.empty() && !replies_.empty()) {
            Urb urb = pendingIn_.front();
            pendingIn_.pop_front();
            const std::vector<uint8_t> reply = replies_.front();
            replies_.pop_front();
            const int length = std::min(int(reply.size()), urb.fields()->buffer_length);
            if (length > 0)
                std::memcpy(urb.buffer->data, reply.data(), size_t(length));
            finish(urb, 0, length);
        }
    }

    void reap(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        if (done_.empty()) {
            umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EAGAIN);
            return;
        }
        Urb urb = done_.front();
        done_.pop_front();
        UMockdevIoctlData *slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), nullptr);
        umockdev_ioctl_data_set_ptr(slot, 0, urb.urb);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(slot);
        if (urb.buffer)
            g_object_unref(urb.buffer);
        g_object_unref(urb.urb);
    }

    void discard(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        unsigned long address = 0;
        std::memcpy(&address, arg->data, sizeof address);
        for (auto it = pendingIn_.begin(); it != pendingIn_.end(); ++it) {
            if (it->urb->client_addr != address)
                continue;
            finish(*it, -ENOENT, 0);
            pendingIn_.erase(it);
            umockdev_ioctl_client_complete(client, 0, 0);
            return;
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
    }

    void finish(Urb &urb, int status, int actualLength)
    {
        urb.fields()->status = status;
        urb.fields()->actual_length = actualLength;
        done_.push_back(urb);
    }

    Responder respond_;
    std::unique_ptr<ReapSignal> signal_;
    std::mutex mutex_;
    bool gone_ = false;
    std::deque<Urb> pendingIn_;
    std::deque<Urb> done_;
    std::deque<std::vector<uint8_t>> replies_;
};

gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer board)
{
    static_cast<MockBoard *>(board)->handle(client);
    return TRUE;
}

} // namespace

struct MockUsbBus::Impl {
    UMockdevTestbed *testbed = nullptr;
    int nextAddress = 2;
    struct Plugged {
        std::string syspath;
        UMockdevIoctlBase *handler = nullptr;
        std::unique_ptr<MockBoard> board;
    };
    std::map<int, Plugged> plugged;
    std::vector<Plugged> unplugged; // handlers stay attached while a client may hold the node
};

bool MockUsbBus::ensurePreloaded(char **argv)
{
    const char *preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, kPreload))
        return true;
    std::string value = kPreload;
    if (preload && *preload)
        value += std::string(":") + preload;
    setenv("LD_PRELOAD", value.c_str(), 1);
    execv("/proc/self/exe", argv);
    return false; // no preload to be had
}

MockUsbBus::MockUsbBus() : impl_(std::make_unique<Impl>())
{
    impl_->testbed = umockdev_testbed_new();
}

MockUsbBus::~MockUsbBus()
{
    g_object_unref(impl_->testbed);
    for (auto &entry : impl_->plugged)
        g_object_unref(entry.second.handler);
    for (auto &entry : impl_->unplugged)
        g_object_unref(entry.handler);
}

int MockUsbBus::plugProgrammer()
{
    return plug(echo);
}

int MockUsbBus::plugProgrammer(std::shared_ptr<zq::emu::Board> board)
{
    return plug(emulatedBoard(std::move(board)));
}

int MockUsbBus::plugProgrammerAtPort(int port)
{
    return plug(echo, port);
}

std::string MockUsbBus::nodePath(int address)
{
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", address);
    return node;
}

bool MockUsbBus::denyAccess(int address)
{
    const std::string file = umockdev_testbed_get_root_dir(impl_->testbed) + nodePath(address);
    return chmod(file.c_str(), 0) == 0;
}

int MockUsbBus::plug(Responder responder, int port)
{
    const int address = impl_->nextAddress++;
    if (port == 0)
        port = address;
    const std::string nodeText = nodePath(address);
    const char *node = nodeText.c_str();
    Impl::Plugged entry;
    entry.syspath = "/sys/devices/usb1/1-" + std::to_string(port);
    entry.board = std::make_unique<MockBoard>(std::move(responder));
    entry.handler = umockdev_ioctl_base_new();
    g_signal_connect(entry.handler, "handle-ioctl", G_CALLBACK(onIoctl), entry.board.get());
    umockdev_testbed_attach_ioctl(impl_->testbed, node, entry.handler, nullptr);

    char record[2048];
    std::snprintf(record, sizeof record,
                  "P: /devices/usb1/1-%d\nN: bus/usb/001/%03d\n"
                  "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=%s\nE: DRIVER=usb\n"
                  "E: BUSNUM=001\nE: DEVNUM=%03d\nE: PRODUCT=5a17/c0d2/100\n"
                  "A: busnum=1\nA: devnum=%d\nA: speed=480\nA: bConfigurationValue=1\n"
                  "H: descriptors=%s\nA: idVendor=5a17\nA: idProduct=c0d2\n"
                  "A: serial=ZQ%04d\nA: devpath=%d\n",
                  port, address, node, address, address, kDescriptors, address, port);
    umockdev_testbed_add_from_string(impl_->testbed, record, nullptr);
    entry.board->signalReapsThrough(umockdev_testbed_get_root_dir(impl_->testbed) + nodeText);
    impl_->plugged[address] = std::move(entry);
    return address;
}

void MockUsbBus::serveBeside(int threadId)
{
    CallerCore::instance().follow(threadId);
}

void MockUsbBus::unplug(int address)
{
    auto it = impl_->plugged.find(address);
    if (it == impl_->plugged.end())
        return;
    it->second.board->unplug();
    umockdev_testbed_uevent(impl_->testbed, it->second.syspath.c_str(), "remove");
    umockdev_testbed_remove_device(impl_->testbed, it->second.syspath.c_str());
    impl_->unplugged.push_back(std::move(it->second));
    impl_->plugged.erase(it);
}
