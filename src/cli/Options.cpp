#include "cli/Options.h"

#include <array>
#include <utility>

namespace zq::cli
{

namespace
{

const std::array<std::pair<Command, const char *>, 8> kNames{{
    {Command::List, "list"},
    {Command::Info, "info"},
    {Command::Download, "download"},
    {Command::Check, "check"},
    {Command::Program, "program"},
    {Command::Verify, "verify"},
    {Command::UpdateApp, "update-app"},
    {Command::UpdateBoot, "update-boot"},
}};

} // namespace

QString commandName(Command command)
{
    for (const auto &entry : kNames)
        if (entry.first == command)
            return QString::fromLatin1(entry.second);
    return QString();
}

Command commandForName(const QString &name)
{
    for (const auto &entry : kNames)
        if (name == QLatin1String(entry.second))
            return entry.first;
    return Command::None;
}

bool takesFile(Command command)
{
    return command != Command::None && command != Command::List && command != Command::Info;
}

} // namespace zq::cli
