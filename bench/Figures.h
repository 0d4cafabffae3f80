#pragma once

// What every benchmark prints: one `name=value` line per figure, on stdout, so that a script
// can collect them; remarks go to stderr.

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace zq::bench
{

inline void printFigure(const std::string &name, double value, int decimals = 2)
{
    std::printf("%s=%.*f\n", name.c_str(), decimals, value);
    std::fflush(stdout);
}

inline void printFigure(const std::string &name, const std::string &value)
{
    std::printf("%s=%s\n", name.c_str(), value.c_str());
    std::fflush(stdout);
}

// The value below which the given fraction of the samples lies (nearest rank); 0 for none.
inline double percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    const double rank = fraction * double(samples.size());
    size_t index = rank <= 1.0 ? 0 : size_t(rank + 0.999999) - 1;
    index = std::min(index, samples.size() - 1);
    return samples[index];
}

inline double median(const std::vector<double> &samples)
{
    return percentile(samples, 0.5);
}

constexpr double kMiB = 1024.0 * 1024.0;

// Bytes per second as MB/s (10^6 bytes), as transfer rates are usually quoted.
inline double megabytesPerSecond(double bytes, double seconds)
{
    return seconds > 0.0 ? bytes / seconds / 1e6 : 0.0;
}

} // namespace zq::bench
