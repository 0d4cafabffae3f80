#include "cli/ConsoleStreams.h"

#if defined(_WIN32)
#include <io.h>
#define ZQ_ISATTY _isatty
#define ZQ_FILENO _fileno
#else
#include <unistd.h>
#define ZQ_ISATTY isatty
#define ZQ_FILENO fileno
#endif

namespace zq::cli
{

void writeText(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void writeLine(std::FILE *stream, const QString &line)
{
    writeText(stream, line + QLatin1Char('\n'));
}

bool isTerminal(std::FILE *stream)
{
    return ZQ_ISATTY(ZQ_FILENO(stream)) != 0;
}

} // namespace zq::cli
