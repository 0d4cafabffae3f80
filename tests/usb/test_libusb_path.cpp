#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"
#include "usb/libusb/DevicePathText.h"

#include <QtTest>

using zq::usb::OpenError;

class LibusbPathTest : public QObject
{
    Q_OBJECT

private slots:
    void pathNamesOneDeviceAndCarriesItsIdentity()
    {
        const QString path = zq::usb::devicePathText(1, 4, 0x5A17, 0xC0D2);
        QCOMPARE(path, QString("usb:001-004/vid_5a17&pid_c0d2"));
        QCOMPARE(zq::usb::devicePathText(2, 117, 0x046D, 0xC52B),
                 QString("usb:002-117/vid_046d&pid_c52b"));

        int bus = 0;
        int address = 0;
        QVERIFY(zq::usb::parseDevicePathText(path, &bus, &address));
        QCOMPARE(bus, 1);
        QCOMPARE(address, 4);
        QVERIFY(!zq::usb::parseDevicePathText("vid_5a17&pid_c0d2", &bus, &address));
        QVERIFY(!zq::usb::parseDevicePathText("usb:1-x/vid_5a17&pid_c0d2", &bus, &address));
        QVERIFY(!zq::usb::parseDevicePathText("\\\\?\\usb#vid_5a17&pid_c0d2#1", &bus, &address));
    }

    // Runs on any machine: whatever is plugged in, an absent address is not found and a listed
    // path is one the transport can parse back.
    void absentDeviceIsNotFound()
    {
        auto transport = zq::usb::makeLibusbTransport();
        for (const QString &path : transport->findProgrammers()) {
            int bus = 0;
            int address = 0;
            QVERIFY(path.contains("vid_5a17&pid_c0d2"));
            QVERIFY(zq::usb::parseDevicePathText(path, &bus, &address));
        }
        OpenError error = OpenError::None;
        QVERIFY(!transport->openChannel("usb:255-255/vid_5a17&pid_c0d2", &error));
        QCOMPARE(error, OpenError::NotFound);
        error = OpenError::None;
        QVERIFY(!transport->openChannel("not a path", &error));
        QCOMPARE(error, OpenError::NotFound);

        UsbDevice device(transport);
        QVERIFY(!device.open("usb:255-255/vid_5a17&pid_c0d2"));
        QVERIFY(!device.isOpen());
        QVERIFY(device.devicePath().isEmpty());
        QCOMPARE(device.close(), 1);
    }
};

QTEST_GUILESS_MAIN(LibusbPathTest)
#include "test_libusb_path.moc"
