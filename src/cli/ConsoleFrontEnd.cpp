#include "cli/ConsoleFrontEnd.h"

#include "cli/Interruption.h"
#include "cli/Options.h"

#include <QCoreApplication>

namespace zq::cli
{

ConsoleFrontEnd::ConsoleFrontEnd(Output &output, const Options &options)
    : output_(output), file_(options.file), mcuTypeIndex_(options.mcuTypeIndex),
      swdSpeedIndex_(options.swdSpeedIndex), powerOff_(!options.keepPower),
      programNumber_(options.programNumber), showProgress_(!options.noProgress),
      phase_(options.command == Command::Check ? Phase::Check : Phase::Write),
      signalsAllowed_(options.command == Command::UpdateBoot ? 1 : 0)
{
}

// The operations restart the bar for each stage; the log line that ends a stage says which
// comes next.
void ConsoleFrontEnd::appendLog(const QString &line)
{
    if (line == QLatin1String("Download end!") || line == QLatin1String("Program end!") ||
        line == QLatin1String("Write EFlash end!"))
        phase_ = Phase::Check;
    else if (line == QLatin1String("Save message to flash"))
        phase_ = Phase::Message;
    else if (line == QLatin1String("Target run fail..."))
        targetRunFailed_ = true;
    output_.log(line);
}

// A stream cannot take back what it printed; the lines before a clear simply stay above.
void ConsoleFrontEnd::clearLog() {}

void ConsoleFrontEnd::setProgress(int percent)
{
    if (showProgress_)
        output_.progress(percent, phase_);
}

void ConsoleFrontEnd::showCriticalMessage(const QString &text)
{
    output_.message(QStringLiteral("Message"), text);
}

void ConsoleFrontEnd::showErrorMessage(const QString &text)
{
    output_.message(QStringLiteral("Error"), text);
}

void ConsoleFrontEnd::setOperationButtonsEnabled(bool enable)
{
    operationButtons_ = enable;
}

void ConsoleFrontEnd::setButtonEnabled(Button button, bool enable)
{
    (button == Button::UpdateAPP ? updateApp_ : updateBoot_) = enable;
}

// The FILE argument is the user's choice; there is nothing to ask.
QString ConsoleFrontEnd::chooseOpenFile(const QString &, const QString &, const QString &)
{
    return file_;
}

void ConsoleFrontEnd::processEvents()
{
    QCoreApplication::processEvents();
    const int received = interruptCount();
    if (received > signalsWarned_ && received <= signalsAllowed_) {
        signalsWarned_ = received;
        output_.note(QStringLiteral("the boot update goes on: a boot loader left half written "
                                    "leaves the programmer unable to start. Press Ctrl-C again "
                                    "to stop it anyway."));
    }
}

bool ConsoleFrontEnd::stopRequested() const
{
    return interruptCount() > signalsAllowed_;
}

} // namespace zq::cli
