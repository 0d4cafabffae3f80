#include "ConsoleFrontEnd.h"

#include "Options.h"
#include "Output.h"

#include <QCoreApplication>

namespace zq::cli
{

ConsoleFrontEnd::ConsoleFrontEnd(Output &output, const Options &options)
    : output_(output), file_(options.file), mcuTypeIndex_(options.mcuTypeIndex),
      swdSpeedIndex_(options.swdSpeedIndex), powerOff_(!options.keepPower),
      programNumber_(options.programNumber)
{
}

void ConsoleFrontEnd::appendLog(const QString &line)
{
    output_.log(line);
}

// A stream cannot take back what it printed; the lines before a clear simply stay above.
void ConsoleFrontEnd::clearLog() {}

void ConsoleFrontEnd::setProgress(int percent)
{
    output_.progress(percent);
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
}

} // namespace zq::cli
