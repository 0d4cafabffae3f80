#pragma once

// zqprog job create and job show, and what run takes from a job: its operation and choices,
// and the check of its image against what the job pins.

#include "cli/Output.h"

#include <QString>

namespace zq::ops
{
struct LoadedImage;
}
namespace zq::records
{
struct Job;
}

namespace zq::cli
{

struct Options;

// job create and job show.
SubcommandResult runJobCommand(const Options &options);

// run JOB: reads the job and puts its operation, image and choices into the options, as the
// subcommand's own options would. Empty, or why the job is refused (nothing has been touched).
QString applyJob(Options &options);

// Why the image read for a job is not the one it pins (SHA-256, CRC-32, length, format), naming
// each difference; empty when it is.
QString jobImageMismatch(const records::Job &job, const ops::LoadedImage &image);

} // namespace zq::cli
