#pragma once

#include "cli/Options.h"

#include <QString>
#include <QStringList>

namespace zq::cli
{

struct ParsedCommandLine {
    Options options;
    QString error; // not empty: a usage error, said in one line
};

// Whether the arguments ask for JSON, judged without reading them otherwise: a usage error is
// reported in the form the caller's script reads.
bool asksForJson(const QStringList &arguments);

// Reads the arguments after the program's name. Options may come before or after the
// subcommand; an option's value follows it or is joined with '=' (--emulated takes a value only
// the second way, so that "--emulated program" stays a subcommand). --help anywhere asks for the
// help of the subcommand given, if any, and nothing else is checked then; --version likewise.
ParsedCommandLine parseCommandLine(const QStringList &arguments);

} // namespace zq::cli
