#pragma once

// A window over the emulated bus, in a working folder of its own that holds config.ini and the
// flash catalogue, its message boxes closed and recorded as they show (a test that expects none
// says so). The tests plug their boards first, then start the window.

#include "ModalBoxCloser.h"
#include "WindowLog.h"
#include "WorkingDirectory.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowForm.h"
#include "usb/UsbTransport.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <memory>

class EmulatedWindow
{
public:
    // An empty config or catalogue: no such file at all.
    explicit EmulatedWindow(const QByteArray &config = configIni("UPBOOT:1"),
                            const QByteArray &catalogue = kFlashIni)
    {
        if (!writeIfAny("config.ini", config) || !writeIfAny("Flash.ini", catalogue))
            qFatal("cannot write the working folder's files");
    }

    MainWindow &start()
    {
        window_ = std::make_unique<MainWindow>(zq::usb::makeEmulatedTransport());
        return *window_;
    }
    // Until the window's list holds that many programmers.
    void waitForList(int count)
    {
        QTRY_COMPARE_WITH_TIMEOUT(window_->form()->comboBox_Device->count(), count, 5000);
    }

    MainWindow &window() { return *window_; }
    void destroyWindow() { window_.reset(); }
    void pressOpen() { window_->form()->pushButton_OpenDevice->click(); }

    WorkingDirectory directory;
    ModalBoxCloser boxes;

private:
    bool writeIfAny(const QString &name, const QByteArray &bytes)
    {
        return bytes.isEmpty() || writeAll(directory.filePath(name), bytes);
    }

    std::unique_ptr<MainWindow> window_;
};
