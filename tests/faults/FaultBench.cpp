#include "FaultBench.h"

#include "emulator/EmulatedBus.h"
#include "ui/MainWindowForm.h"
#include "usb/UsbBurnCtrl.h"
#include "usb/UsbDevice.h"
#include "usb/UsbTransport.h"

#include <QApplication>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextEdit>

namespace faultbench
{

using zq::emu::BoardIdentity;
using zq::emu::EmulatedBus;

const QString kTimer = QStringLiteral("<time stamp>");
const QString kRemoved = QStringLiteral("device remove:<the board>");
const QString kArrived = QStringLiteral("device insert:<the board, back>");
const QStringList kNoButtons;
const QStringList kTargetAndFlash = {"UpdateTarget", "VerifyTarget", "UpdateFlash", "CheckFlash"};

namespace
{

constexpr uint32_t kBoardMcu = 0x32F10300;
constexpr uint32_t kTargetId = 0x5A3C3180; // the emulated target, MCU type index 3
constexpr uint32_t kProgramNumber = 100000;

BoardIdentity identityFor(Operation operation)
{
    BoardIdentity identity;
    identity.mode =
        operation == Operation::FirmwareUpdate ? BoardMode::McuUpdate : BoardMode::Normal;
    identity.bootVersion = 0x20250128;
    identity.appVersion = 0x20250310;
    identity.boardMcu = kBoardMcu;
    identity.boardId = 0x00012345;
    identity.flashId = 0xEF4018;
    return identity;
}

QByteArray configFor(Operation operation)
{
    return configIni(operation == Operation::BootUpdate ? "UPBOOT:1" : "UPBOOT:0");
}

// The operations that clear the log before they report.
bool clearsLog(Operation operation)
{
    return operation == Operation::Download || operation == Operation::Program ||
           operation == Operation::FirmwareUpdate || operation == Operation::BootUpdate;
}

const QRegularExpression &timeStamp()
{
    static const QRegularExpression pattern(QStringLiteral("^Timer:\\d{1,2}:\\d{1,2}:\\d{1,2}$"));
    return pattern;
}

const QRegularExpression &crcLine()
{
    static const QRegularExpression pattern(
        QStringLiteral("^(Write Eflash CRC:|CRC error:|REQ CRC:|SWD init CRC:)"
                       "0x([0-9A-F]{8}),0x([0-9A-F]{8})$"));
    return pattern;
}

} // namespace

QByteArray codeImage()
{
    return ::codeImage(kImageLength, 0x08000145, 3); // the entry passes the address check
}

// The version differs from both of the board's.
QByteArray programmerImage()
{
    return ::programmerImage(kImageLength, kUpdateVersion, kBoardMcu, 11);
}

QByteArray messageBlock()
{
    return settingsBlock(littleEndian(~kTargetId) + littleEndian(~kProgramNumber) +
                         littleEndian(uint32_t(kImageLength)) +
                         littleEndian(referenceCrc(codeImage())) + littleEndian(0));
}

QString damaged(const QString &label)
{
    return label + QStringLiteral("<reply CRC damaged>");
}

QStringList withUpdateApp(QStringList buttons)
{
    buttons << QStringLiteral("UpdateAPP");
    return buttons;
}

QStringList withUpdateBoot(QStringList buttons)
{
    buttons << QStringLiteral("UpdateBoot");
    return buttons;
}

ButtonSets on(const QStringList &buttons)
{
    return {buttons};
}

ButtonSets on(const QStringList &buttons, const QStringList &orElse)
{
    return {buttons, orElse};
}

QString faultName(FaultKind kind)
{
    switch (kind) {
    case FaultKind::NoReply:
        return QStringLiteral("no reply");
    case FaultKind::LateReply:
        return QStringLiteral("late reply");
    case FaultKind::WrongLength:
        return QStringLiteral("wrong length");
    case FaultKind::WrongMarker:
        return QStringLiteral("wrong marker");
    case FaultKind::BadReplyCrc:
        return QStringLiteral("bad reply CRC");
    case FaultKind::FailingStatus:
        return QStringLiteral("failing status");
    case FaultKind::BoardGone:
        return QStringLiteral("board gone");
    case FaultKind::Latency:
        return QStringLiteral("slow replies");
    case FaultKind::HeldFrame:
        return QStringLiteral("held frame");
    case FaultKind::HeldFrameTaken:
        return QStringLiteral("held frame, taken");
    }
    return QStringLiteral("?");
}

void unplugEverything()
{
    EmulatedBus::instance().unplugAll();
}

int runMatrix(int argc, char **argv, const std::function<void()> &addRows,
              const std::function<void()> &runRow)
{
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    MatrixTest test(addRows, runRow);
    return QTest::qExec(&test, argc, argv);
}

int runMatrix(int argc, char **argv, const std::function<void()> &addRows, Operation operation)
{
    return runMatrix(argc, argv, addRows, [operation] { runCase(operation); });
}

Bench::Bench(Operation operation, int restartLeaveMs)
    : operation_(operation), board_(std::make_shared<Board>(identityFor(operation)))
{
    board_->setRestartDelays(restartLeaveMs, 5);
    writeFiles();
    window_ = std::make_unique<MainWindow>(zq::usb::makeEmulatedTransport());
    const QString folder = directory_.path();
    window_->setFileChooser([folder](const QString &, const QString &, const QString &filter) {
        if (filter == QLatin1String("file(*.app)"))
            return folder + QStringLiteral("/Firmware/new.app");
        if (filter == QLatin1String("file(*.boot)"))
            return folder + QStringLiteral("/Bootware/new.boot");
        return QString();
    });
    zq::MainWindowForm *form = window_->form();
    form->lineEdit_WrSum->setText(QString::number(kProgramNumber));
    form->comboBox_SWDSPEED->setCurrentIndex(0);
    form->comboBox_MCUType->setCurrentIndex(3);
    window_->setCodePathText(directory_.filePath(QStringLiteral("code.bin")));
}

Bench::~Bench()
{
    window_.reset();
    unplugEverything();
}

void Bench::writeFiles()
{
    const bool written = writeAll(directory_.filePath("Flash.ini"), kFlashIni) &&
                         writeAll(directory_.filePath("config.ini"), configFor(operation_)) &&
                         writeAll(directory_.filePath("code.bin"), codeImage()) &&
                         QDir().mkpath(directory_.filePath("Firmware")) &&
                         QDir().mkpath(directory_.filePath("Bootware")) &&
                         writeAll(directory_.filePath("Firmware/new.app"), programmerImage()) &&
                         writeAll(directory_.filePath("Bootware/new.boot"), programmerImage());
    if (!written)
        qFatal("cannot write the working folder's files");
}

void Bench::start()
{
    plug();
    if (QTest::currentTestFailed() || operation_ == Operation::Open)
        return;
    open();
    if (QTest::currentTestFailed())
        return;
    if (operation_ == Operation::CheckFlash)
        pressAndExpect(QStringLiteral("UpdateFlash"),
                       QStringLiteral("Download to the programmer flash is OK!!!!!!"));
    else if (operation_ == Operation::Verify)
        pressAndExpect(QStringLiteral("UpdateTarget"),
                       QStringLiteral("Program target is OK!!!!!!"));
}

void Bench::plug()
{
    path_ = EmulatedBus::instance().plug(board_);
    QTRY_COMPARE_WITH_TIMEOUT(window_->devicePaths, QStringList{path_}, 5000);
}

void Bench::open()
{
    window_->form()->pushButton_OpenDevice->click();
    QVERIFY(window_->device().isOpen());
    QCOMPARE(logLines().value(logLines().size() - 1),
             QStringLiteral("Connect the programmer successful"));
}

void Bench::pressAndExpect(const QString &button, const QString &lastLine)
{
    auto *pushButton = window_->findChild<QPushButton *>(QStringLiteral("pushButton_") + button);
    QVERIFY(pushButton != nullptr);
    pushButton->click();
    const QStringList lines = logLines();
    QCOMPARE(lines.value(lines.size() - 1), lastLine);
}

QStringList Bench::run()
{
    static const char *const buttons[] = {"OpenDevice",   "UpdateFlash",  "CheckFlash",
                                          "UpdateTarget", "VerifyTarget", "UpdateAPP",
                                          "UpdateBoot"};
    const QString name = QString::fromLatin1(buttons[int(operation_)]);
    auto *button = window_->findChild<QPushButton *>(QStringLiteral("pushButton_") + name);
    const int before = logLines().size();
    button->click();
    const QStringList lines = logLines();
    return normalised(clearsLog(operation_) ? lines : QStringList(lines.mid(before)));
}

QStringList Bench::logLines() const
{
    return ::logLines(*window_);
}

QStringList Bench::normalised(const QStringList &lines) const
{
    QStringList boardPaths;
    for (const QString &path : EmulatedBus::instance().paths())
        if (EmulatedBus::instance().board(path) == board_)
            boardPaths << path.toUpper();
    QStringList result;
    for (const QString &line : lines) {
        const QRegularExpressionMatch crc = crcLine().match(line);
        if (timeStamp().match(line).hasMatch()) {
            result << kTimer;
        } else if (line == QStringLiteral("device remove:") + path_.toUpper()) {
            result << kRemoved;
        } else if (line.startsWith(QStringLiteral("device insert:")) &&
                   boardPaths.contains(line.mid(int(qstrlen("device insert:"))))) {
            result << kArrived;
        } else if (crc.hasMatch() && (crc.captured(2).toUInt(nullptr, 16) ^
                                      crc.captured(3).toUInt(nullptr, 16)) == 0x5Au) {
            result << damaged(crc.captured(1));
        } else {
            result << line;
        }
    }
    return result;
}

QStringList Bench::enabledButtons() const
{
    const zq::MainWindowForm *f = window_->form();
    QStringList names;
    for (const QPushButton *button :
         {f->pushButton_UpdateTarget, f->pushButton_VerifyTarget, f->pushButton_UpdateFlash,
          f->pushButton_CheckFlash, f->pushButton_UpdateAPP, f->pushButton_UpdateBoot})
        if (button->isEnabled())
            names << button->objectName().mid(int(qstrlen("pushButton_")));
    return names;
}

// A board left in its boot loader is started into its application first: only normal work
// offers a program run.
void Bench::replugAndProgram()
{
    board_->faults().clear();
    unplugEverything();
    QTRY_VERIFY_WITH_TIMEOUT(!window_->device().isOpen() && !window_->worker().isRunning(), 5000);
    board_->enterMode(BoardMode::Normal);
    plug();
    if (QTest::currentTestFailed())
        return;
    open();
    if (QTest::currentTestFailed())
        return;
    pressAndExpect(QStringLiteral("UpdateTarget"), QStringLiteral("Program target is OK!!!!!!"));
    const std::vector<uint8_t> target = board_->readTargetFlash(0, uint32_t(kImageLength));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(target.data()), int(target.size())),
             codeImage());
}

WhenReplyHeld::WhenReplyHeld(Bench &bench, std::function<void()> action)
    : bench_(bench), action_(std::move(action))
{
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        const bool held = this->held();
        if (held && seenOnce_) {
            timer_.stop();
            fired_ = true;
            action_();
        }
        seenOnce_ = held;
    });
    timer_.start();
}

bool WhenReplyHeld::held() const
{
    const USB_BURN_CTRL &worker = bench_.window().worker();
    return bench_.board().faults().armedCount() == 0 && worker.txDone.load() == 0 &&
           worker.rxRequest.load() == 0;
}

void addMatrixColumns()
{
    QTest::addColumn<char>("command");
    QTest::addColumn<int>("frame");
    QTest::addColumn<FaultKind>("fault");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<ButtonSets>("buttons");
}

QTestData &addCase(char command, int frame, FaultKind kind)
{
    const QByteArray name = QStringLiteral("%1#%2 %3")
                                .arg(QLatin1Char(command))
                                .arg(frame)
                                .arg(faultName(kind))
                                .toLatin1();
    return QTest::newRow(name.constData()) << command << frame << kind;
}

void addFrameRows(char command, int frame, const FrameRows &rows)
{
    using F = FaultKind;
    const auto failedWith = [&rows](const QStringList &lines) {
        return qMakePair(rows.before + lines + rows.after, rows.failed);
    };
    const QPair<QStringList, ButtonSets> passed(rows.ok, rows.passed);
    const QVector<QPair<F, QPair<QStringList, ButtonSets>>> kinds = {
        {F::NoReply, failedWith(rows.lost)},
        {F::LateReply, passed},
        {F::WrongLength, failedWith(rows.malformed)},
        {F::WrongMarker, failedWith(rows.malformed)},
        {F::BadReplyCrc, failedWith(rows.damagedCrc)},
        {F::FailingStatus, rows.failing ? failedWith(*rows.failing) : passed},
        {F::BoardGone, failedWith(QStringList{kRemoved} + rows.lost)},
        {F::Latency, passed},
    };
    for (const auto &kind : kinds) {
        const auto row = rows.except.value(kind.first, kind.second);
        addCase(command, frame, kind.first) << row.first << row.second;
    }
}

void runCase(Operation operation, const std::function<void(Bench &)> &moreChecks)
{
    QFETCH(char, command);
    QFETCH(int, frame);
    QFETCH(FaultKind, fault);
    QFETCH(QStringList, log);
    QFETCH(ButtonSets, buttons);

    QElapsedTimer clock;
    clock.start();
    Bench bench(operation);
    bench.start();
    if (QTest::currentTestFailed())
        return;
    bench.board().faults().arm(Fault::nth(fault, frame).onCommand(command).withDelay(kSlowReplyMs));

    const QStringList shown = bench.run();
    if (shown != log)
        qWarning().noquote() << "log shown:\n  " + shown.join(QStringLiteral("\n  "));
    QCOMPARE(shown, log);
    QCOMPARE(bench.board().faults().armedCount(), 0); // the switch did fire
    const QStringList enabled = bench.enabledButtons();
    QVERIFY2(buttons.contains(enabled), qPrintable("enabled: " + enabled.join(QLatin1Char(' '))));
    QVERIFY(bench.boxes().isEmpty());
    if (moreChecks) {
        moreChecks(bench);
        if (QTest::currentTestFailed())
            return;
    }

    bench.replugAndProgram();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(bench.boxes().isEmpty());
    QVERIFY2(clock.elapsed() < 60000, "the case took a minute or more");
}

} // namespace faultbench
