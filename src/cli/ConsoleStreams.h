#pragma once

#include <QString>

#include <cstdio>

namespace zq::cli
{

// One line in UTF-8 with its line end, flushed at once: a script or a production line that
// reads zqprog through a pipe sees each line as it happens.
void writeLine(std::FILE *stream, const QString &line);

// Text as it is, flushed.
void writeText(std::FILE *stream, const QString &text);

// Whether the stream is a terminal, so that a progress bar may redraw itself in place.
bool isTerminal(std::FILE *stream);

} // namespace zq::cli
