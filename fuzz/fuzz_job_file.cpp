// A job file as a line PC may be handed one: any bytes. Reading must refuse it with a reason or
// give a sound job, and a sound job written out must read back as the same job (same hash).
#include "FuzzCheck.h"
#include "records/Job.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace
{

QString writeScratch(const QString &name, const QByteArray &bytes)
{
    const QString path = QDir::temp().filePath(QStringLiteral("zq-fuzz-job-%1-%2")
                                                   .arg(QString::number(qint64(getpid())), name));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), int(size));
    const QString path = writeScratch(QStringLiteral("in"), content);
    const zq::records::JobRead read = zq::records::readJobFile(path);
    ZQ_FUZZ_CHECK(read.job.has_value() != !read.error.isEmpty());
    if (!read.job)
        return 0;
    const zq::records::Job &job = *read.job;
    ZQ_FUZZ_CHECK(zq::records::jobProblem(job).isEmpty());
    ZQ_FUZZ_CHECK(job.hash().size() == 64);
    const QString again = writeScratch(QStringLiteral("again"), zq::records::jobFileText(job));
    const zq::records::JobRead reread = zq::records::readJobFile(again);
    ZQ_FUZZ_CHECK(reread.job.has_value());
    ZQ_FUZZ_CHECK(reread.job->hash() == job.hash());
    ZQ_FUZZ_CHECK(reread.job->canonicalText() == job.canonicalText());
    return 0;
}
