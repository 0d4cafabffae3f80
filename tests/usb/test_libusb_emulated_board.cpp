// The real libusb path with the emulated board behind an emulated kernel: open and identify,
// blocks into the board's SPI flash and their check, a lost reply and the next command, unplug
// while idle and while a read is pending, a re-plug at a new address, hot-plug news in the window's
// log, and a device node the user may not open.

#include "MockUsbBus.h"

#include "RecordingFrontEnd.h"
#include "common/Crc32.h"
#include "emulator/Board.h"
#include "emulator/Faults.h"
#include "operations/Operations.h"
#include "operations/Session.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowForm.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include "ModalBoxCloser.h"
#include "WindowLog.h"
#include "WorkingDirectory.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

using zq::emu::Board;
using zq::emu::BoardIdentity;
using zq::emu::Fault;
using zq::emu::FaultKind;

namespace
{

QString pathAt(int address)
{
    return QString("usb:1-%1/vid_5a17&pid_c0d2").arg(address);
}

// The device, the worker and the operations' session as a front end other than the window
// would hold them.
struct Rig {
    // The device news is left to the tests, which pull the board themselves.
    explicit Rig(std::shared_ptr<zq::usb::UsbTransport> bus)
        : link(std::move(bus), ui), transport(link.sharedTransport()), device(link.device()),
          worker(link.worker()), session(link.session())
    {
        link.setDeviceNewsHandler([](bool, const QString &) {});
    }

    zq::test::RecordingFrontEnd ui;
    zq::ops::ProgrammerLink link;
    const std::shared_ptr<zq::usb::UsbTransport> &transport;
    UsbDevice &device;
    USB_BURN_CTRL &worker;
    zq::ops::Session &session;
};

QStringList listed(const MainWindow &window)
{
    QStringList items;
    for (int i = 0; i < window.form()->comboBox_Device->count(); ++i)
        items.append(window.form()->comboBox_Device->itemText(i));
    return items;
}

// Root opens any file whatever its permission bits. Without the override capabilities, in this
// thread only, the node's bits decide as they do for a logged-in user.
class FileAccessOverrideDropped
{
public:
    FileAccessOverrideDropped()
    {
        if (syscall(SYS_capget, &header, saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved[0], saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        dropped = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~FileAccessOverrideDropped()
    {
        if (dropped)
            syscall(SYS_capset, &header, saved);
    }
    bool dropped = false;

private:
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2] = {};
};

} // namespace

class LibusbEmulatedBoardTest : public QObject
{
    Q_OBJECT

private slots:
    void openIdentifyWriteAndCheck();
    void unplugWhileIdleThenReplugAtANewAddress();
    void unplugWhileAReadIsPendingEndsTheConnect();
    void windowFollowsPlugAndUnplug();
    void nodeWithoutPermissionNamesTheRule();
};

void LibusbEmulatedBoardTest::openIdentifyWriteAndCheck()
{
    WorkingDirectory directory;
    QVERIFY(writeStandardFiles(directory.path()));
    MockUsbBus bus;
    auto board = std::make_shared<Board>();
    const int address = bus.plugProgrammer(board);
    Rig rig(zq::usb::makeLibusbTransport());
    QCOMPARE(rig.transport->findProgrammers(), QStringList{pathAt(address)});

    zq::ops::openProgrammer(rig.session, pathAt(address));
    QCOMPARE(rig.ui.log, kSuccessfulOpen);
    QCOMPARE(rig.ui.flashInfos.last(), (QStringList{"0xEF4018", "16777216", "W25Q128"}));
    QCOMPARE(rig.session.state.boardId, board->identity().boardId);

    // Three full blocks and a short one, then the board's CRC over all of them.
    QByteArray image(3 * 4096 + 100, Qt::Uninitialized);
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 7 + i / 4096) & 0xFF);
    const auto *bytes = reinterpret_cast<const uint8_t *>(image.constData());
    zq::protocol::CommandSet &commands = rig.session.commands;
    for (int offset = 0; offset < image.size(); offset += 4096) {
        const int length = qMin(4096, image.size() - offset);
        QCOMPARE(commands.CMD_WRITE_SPIFLASH(bytes + offset, 0x10000u + uint32_t(offset), length),
                 0);
    }
    const uint32_t crc = zq::crc32(bytes, size_t(image.size()));
    QCOMPARE(commands.CMD_CHECK_SPIFLASH(crc, 0x10000, uint32_t(image.size())), 0);
    const std::vector<uint8_t> stored = board->readSpiFlash(0x10000, uint32_t(image.size()));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(stored.data()), int(stored.size())), image);
    // A wrong CRC is the board's verdict, not a transfer failure: the device stays open.
    QCOMPARE(commands.CMD_CHECK_SPIFLASH(crc ^ 1, 0x10000, uint32_t(image.size())), 2);

    // A reply that never comes is given up on, its read (asked for with the frame) ended; the
    // next command is sent and answered on the same open device.
    board->faults().arm(Fault::next(FaultKind::NoReply).onCommand('K'));
    zq::protocol::ConnectReply identity;
    QCOMPARE(commands.CMD_CONNECT(identity), int(zq::protocol::NoReply));
    QCOMPARE(commands.CMD_CONNECT(identity), int(zq::protocol::Ok));
    QCOMPARE(identity.boardId, board->identity().boardId);
    QVERIFY(rig.device.isOpen());
    QVERIFY(rig.worker.isRunning());
}

void LibusbEmulatedBoardTest::unplugWhileIdleThenReplugAtANewAddress()
{
    WorkingDirectory directory;
    QVERIFY(writeStandardFiles(directory.path()));
    MockUsbBus bus;
    auto board = std::make_shared<Board>();
    const int first = bus.plugProgrammer(board);
    Rig rig(zq::usb::makeLibusbTransport());
    zq::ops::openProgrammer(rig.session, pathAt(first));
    QCOMPARE(rig.ui.log, kSuccessfulOpen);

    bus.unplug(first);
    // The removal as every front end handles it: the open device is gone from the bus.
    QTRY_VERIFY_WITH_TIMEOUT(rig.transport->findProgrammers().isEmpty(), 5000);
    zq::ops::deviceRemoved(rig.session, pathAt(first));
    QVERIFY(!rig.device.isOpen());
    QVERIFY(!rig.worker.isRunning());
    QCOMPARE(rig.ui.operationButtonsCalls.last(), false);
    QCOMPARE(rig.ui.log.last(), "device remove:" + pathAt(first).toUpper());

    // The board comes back under a new address and opens as before.
    const int second = bus.plugProgrammer(board);
    QVERIFY(second != first);
    QTRY_COMPARE_WITH_TIMEOUT(rig.transport->findProgrammers(), QStringList{pathAt(second)}, 5000);
    rig.ui.log.clear();
    zq::ops::openProgrammer(rig.session, pathAt(second));
    QCOMPARE(rig.ui.log, kSuccessfulOpen);
    QVERIFY(rig.worker.isRunning());
}

void LibusbEmulatedBoardTest::unplugWhileAReadIsPendingEndsTheConnect()
{
    WorkingDirectory directory;
    QVERIFY(writeStandardFiles(directory.path()));
    MockUsbBus bus;
    auto board = std::make_shared<Board>();
    board->faults().arm(Fault::next(FaultKind::NoReply).onCommand('K'));
    const int address = bus.plugProgrammer(board);
    Rig rig(zq::usb::makeLibusbTransport());
    // Pulled while the window's thread waits for the connect reply that never comes.
    rig.ui.onProcessEvents = [&] {
        if (rig.ui.processEventsCalls == 50)
            bus.unplug(address);
    };

    zq::ops::openProgrammer(rig.session, pathAt(address));

    QCOMPARE(rig.ui.log,
             (QStringList{"Open the programmer ok...", "Fail to connect the programmer..."}));
    QVERIFY(rig.ui.processEventsCalls >= 50);
    // The failed read closed the device and ended the worker.
    QVERIFY(!rig.device.isOpen());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.worker.isRunning(), 5000);
    QCOMPARE(rig.session.state.connectionMode, zq::protocol::ConnectionMode::UpdateMcuCode);
}

void LibusbEmulatedBoardTest::windowFollowsPlugAndUnplug()
{
    WorkingDirectory directory;
    QVERIFY(writeStandardFiles(directory.path()));
    MockUsbBus bus;
    MainWindow window(zq::usb::makeLibusbTransport());
    ModalBoxCloser boxes;
    QTRY_VERIFY_WITH_TIMEOUT(!window.deviceSearchTimer().isActive(), 5000);
    QCOMPARE(listed(window), QStringList());

    const int address = bus.plugProgrammer(std::make_shared<Board>());
    const QString path = pathAt(address);
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), QStringList{path}, 5000);
    QCOMPARE(logLines(window), QStringList{"device insert:" + path.toUpper()});

    window.form()->pushButton_OpenDevice->click();
    QCOMPARE(logLines(window).mid(1), kSuccessfulOpen);
    QVERIFY(window.form()->pushButton_UpdateFlash->isEnabled());

    bus.unplug(address);
    QTRY_COMPARE_WITH_TIMEOUT(logLines(window).last(), "device remove:" + path.toUpper(), 5000);
    QVERIFY(!window.device().isOpen());
    QVERIFY(!window.worker().isRunning());
    QVERIFY(!window.form()->pushButton_UpdateTarget->isEnabled());
    QVERIFY(!window.form()->pushButton_UpdateFlash->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), QStringList(), 5000);
    QVERIFY(boxes.boxes().isEmpty());
}

void LibusbEmulatedBoardTest::nodeWithoutPermissionNamesTheRule()
{
    WorkingDirectory directory;
    QVERIFY(writeStandardFiles(directory.path()));
    MockUsbBus bus;
    const int address = bus.plugProgrammer(std::make_shared<Board>());
    QVERIFY(bus.denyAccess(address));
    FileAccessOverrideDropped asUser;
    const std::string node = MockUsbBus::nodePath(address);
    const int probe = open(node.c_str(), O_RDWR);
    if (probe >= 0)
        close(probe);
    if ((probe >= 0 || !asUser.dropped) && qEnvironmentVariableIsSet("ZQ_EXPECT_UNPRIVILEGED"))
        QFAIL("run as an unprivileged user, yet the device node without permissions opened");
    if (probe >= 0 || !asUser.dropped)
        QSKIP("this process may open any file (root with its override capabilities kept), so "
              "permission bits cannot stop the open");

    MainWindow window(zq::usb::makeLibusbTransport());
    ModalBoxCloser boxes;
    // Listed all the same, so that the open can say what is wrong.
    QTRY_COMPARE_WITH_TIMEOUT(listed(window), QStringList{pathAt(address)}, 5000);
    window.form()->pushButton_OpenDevice->click();

    QCOMPARE(boxes.boxes().size(), 1);
    QCOMPARE(boxes.boxes().first().text, QString("Open fail"));
    QCOMPARE(window.device().lastOpenError(), zq::usb::OpenError::Permission);
    const QStringList log = logLines(window);
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.first(), zq::ops::openFailureAdvice(zq::usb::OpenError::Permission));
    QVERIFY(log.first().contains("60-zq-programmer.rules"));
    QVERIFY(!window.device().isOpen());
    QVERIFY(!window.worker().isRunning());
}

int main(int argc, char **argv)
{
    if (!MockUsbBus::ensurePreloaded(argv)) {
        std::puts("SKIP: libumockdev-preload.so.0 could not be preloaded");
        return 77;
    }
    // Every emulated usbdevfs call sleeps once in the preload; the default slack makes that
    // sleep cost far more than the call.
    prctl(PR_SET_TIMERSLACK, 1UL);
    QApplication app(argc, argv);
    LibusbEmulatedBoardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_libusb_emulated_board.moc"
