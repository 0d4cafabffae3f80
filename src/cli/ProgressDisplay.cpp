#include "cli/ProgressDisplay.h"

#include "cli/ConsoleStreams.h"

#include <QString>

#include <algorithm>

namespace zq::cli
{

namespace
{

constexpr int kBarWidth = 40;

QString barText(int percent)
{
    const int filled = std::clamp(percent, 0, 100) * kBarWidth / 100;
    return QStringLiteral("\r[") + QString(filled, QLatin1Char('#')) +
           QString(kBarWidth - filled, QLatin1Char('-')) + QStringLiteral("] ") +
           QString::number(percent).rightJustified(3) + QLatin1Char('%');
}

} // namespace

ProgressDisplay::ProgressDisplay(std::FILE *stream, bool terminal)
    : stream_(stream), terminal_(terminal)
{
}

void ProgressDisplay::show(int percent)
{
    if (percent == percent_ && (drawn_ || !terminal_))
        return;
    percent_ = percent;
    if (terminal_)
        draw();
    else
        writeLine(stream_,
                  QStringLiteral("Progress: ") + QString::number(percent) + QLatin1Char('%'));
}

void ProgressDisplay::beforeLine()
{
    if (!drawn_)
        return;
    // Back to the start of the line and erase it.
    writeText(stream_, QStringLiteral("\r\x1b[2K"));
    drawn_ = false;
}

void ProgressDisplay::afterLine()
{
    if (terminal_ && percent_ >= 0 && percent_ < 100)
        draw();
}

void ProgressDisplay::finish()
{
    beforeLine();
    percent_ = -1;
}

void ProgressDisplay::draw()
{
    writeText(stream_, barText(percent_));
    drawn_ = true;
}

} // namespace zq::cli
