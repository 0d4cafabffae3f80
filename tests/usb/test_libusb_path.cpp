#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"
#include "usb/libusb/DevicePathText.h"

#include <QtTest>

using zq::usb::OpenError;

class LibusbPathTest : public QObject
{
    Q_OBJECT

private slots:
    // The bus and the port chain name where the board is plugged in, not its address.
    void pathNamesThePortChainAndCarriesTheIdentity()
    {
        QCOMPARE(zq::usb::devicePathText(1, {1, 4}, 0x5A17, 0xC0D2),
                 QString("usb:1-1.4/vid_5a17&pid_c0d2"));
        QCOMPARE(zq::usb::devicePathText(12, {3}, 0x046D, 0xC52B),
                 QString("usb:12-3/vid_046d&pid_c52b"));
        QCOMPARE(zq::usb::devicePathText(2, {1, 2, 3, 4, 5, 6, 7}, 0x5A17, 0xC0D2),
                 QString("usb:2-1.2.3.4.5.6.7/vid_5a17&pid_c0d2"));
    }

    // Runs on any machine: whatever is plugged in, an absent port is not found.
    void absentDeviceIsNotFound()
    {
        auto transport = zq::usb::makeLibusbTransport();
        for (const QString &path : transport->findProgrammers())
            QVERIFY(path.startsWith("usb:") && path.endsWith("/vid_5a17&pid_c0d2"));
        OpenError error = OpenError::None;
        QVERIFY(!transport->openChannel("usb:255-7.7/vid_5a17&pid_c0d2", &error));
        QCOMPARE(error, OpenError::NotFound);
        error = OpenError::None;
        QVERIFY(!transport->openChannel("not a path", &error));
        QCOMPARE(error, OpenError::NotFound);

        UsbDevice device(transport);
        QVERIFY(!device.open("usb:255-7.7/vid_5a17&pid_c0d2"));
        QVERIFY(!device.isOpen());
        QVERIFY(device.devicePath().isEmpty());
        QCOMPARE(device.close(), 1);
    }
};

QTEST_GUILESS_MAIN(LibusbPathTest)
#include "test_libusb_path.moc"
