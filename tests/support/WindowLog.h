#pragma once

// What the window's tests read back: the log panel, and the files the window finds in its
// working folder.

#include "TestFiles.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowForm.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTextEdit>

// The log panel's lines; none while it is empty.
inline QStringList logLines(const MainWindow &window)
{
    const QString text = window.form()->textEdit->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// The log of an open that finds the emulated board in normal work with its default identity.
inline const QStringList kSuccessfulOpen = {"Open the programmer ok...",
                                            "Connection for normal work",
                                            "The Board MCU&ID: 0x32F10300,0x00012345",
                                            "Boot_Version: 0x20250128",
                                            "App_Version:  0x20250310",
                                            "FlashID:  0xEF4018",
                                            "Connect the programmer successful"};

// A catalogue that knows the emulated board's 16 MiB flash.
inline const QByteArray kFlashIni = "[FLASH]\n0xEF4018,256,65536,W25Q128,\n";

// config.ini as the window writes it, with the given first line (UPBOOT:0 or UPBOOT:1).
inline QByteArray configIni(const QByteArray &firstLine)
{
    return firstLine + "\nNFLASH:0\n./\n./\nBLSET:0\nWAITT:0\nPWROFF:1\n";
}

// config.ini (boot update allowed unless told otherwise) and the catalogue in folder.
inline bool writeStandardFiles(const QString &folder,
                               const QByteArray &firstConfigLine = "UPBOOT:1")
{
    return writeAll(folder + "/config.ini", configIni(firstConfigLine)) &&
           writeAll(folder + "/Flash.ini", kFlashIni);
}
