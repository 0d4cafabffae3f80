#include "cli/OperationRules.h"

#include "cli/ConsoleFrontEnd.h"
#include "cli/ProgrammerMode.h"
#include "frontend/NumberText.h"
#include "operations/ProgrammerState.h"

#include <QFileInfo>

namespace zq::cli
{

namespace
{

QString reportsMode(const ops::ProgrammerState &state)
{
    return QStringLiteral("; it reports ") + modeText(state.connectionMode);
}

QString notInModeFor(Command command, const QString &needed, const ops::ProgrammerState &state)
{
    return commandName(command) + QStringLiteral(" needs the programmer in ") + needed +
           reportsMode(state);
}

QString unknownFlash(Command command, const ops::ProgrammerState &state)
{
    const QString catalogue = state.flashCatalogPath;
    const QString where = QFileInfo::exists(catalogue)
                              ? QStringLiteral(" is not listed in ") + catalogue
                              : QStringLiteral(": no Flash.ini was found (see zqprog --help)");
    return commandName(command) +
           QStringLiteral(" needs a programmer flash known from Flash.ini; ") +
           QStringLiteral("flash id ") + toHexText(state.flashId, 6) + where;
}

// Program and Verify, and the flash buttons when the flash is known.
QString operationButtonRule(Command command, const ops::ProgrammerState &state,
                            const ConsoleFrontEnd &buttons)
{
    if (!buttons.operationButtonsEnabled())
        return notInModeFor(command, QStringLiteral("normal work"), state) +
               QStringLiteral(" (its boot loader waits for an application: run update-app)");
    const bool flashButton = command == Command::Download || command == Command::Check;
    if (flashButton && state.flashKnown == 0)
        return unknownFlash(command, state);
    return QString();
}

} // namespace

QString refusalBeforeOpening(const Options &options)
{
    if (options.command != Command::UpdateBoot || options.allowBootUpdate)
        return QString();
    return QStringLiteral("update-boot replaces the programmer's boot loader, and a wrong or "
                          "interrupted one leaves it unable to start; it is refused unless "
                          "--allow-boot-update is given");
}

QString refusalAfterConnect(Command command, const ops::ProgrammerState &state,
                            const ConsoleFrontEnd &buttons)
{
    switch (command) {
    case Command::Download:
    case Command::Check:
    case Command::Program:
    case Command::Verify:
        return operationButtonRule(command, state, buttons);
    case Command::UpdateApp:
        return buttons.updateAppEnabled()
                   ? QString()
                   : notInModeFor(command, QStringLiteral("update of the MCU code"), state);
    case Command::UpdateBoot:
        return buttons.updateBootEnabled()
                   ? QString()
                   : notInModeFor(command, QStringLiteral("normal work"), state);
    case Command::None:
    case Command::List:
    case Command::Info:
        break;
    }
    return QString();
}

} // namespace zq::cli
