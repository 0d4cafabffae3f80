#include "operations/Operations.h"

#include <QFile>
#include <QRegularExpression>
#include <QtTest>

using zq::usb::OpenError;

// The line said after "Open fail" is what a user at a line PC acts on: it must fit the packaged
// install (the rule is there, the group and a replug are what is missing), still help a build
// from source, and send the reader to a part of the README that exists.
class OpenFailureAdviceTest : public QObject
{
    Q_OBJECT
private slots:
    void everyAdviceIsOneLine()
    {
        for (OpenError error : {OpenError::NotFound, OpenError::Permission, OpenError::Busy,
                                OpenError::NoPipes}) {
            const QString advice = zq::ops::openFailureAdvice(error);
            QVERIFY(!advice.isEmpty());
            QVERIFY2(!advice.contains('\n') && !advice.contains('\r'), qPrintable(advice));
        }
        QVERIFY(zq::ops::openFailureAdvice(OpenError::None).isEmpty());
    }

    void permissionAdviceFitsThePackagedRuleAndABuildFromSource()
    {
        const QString advice = zq::ops::openFailureAdvice(OpenError::Permission);
        QVERIFY(advice.contains("plugdev"));
        QVERIFY(advice.contains("plug the programmer in again"));
        QVERIFY(advice.contains("60-zq-programmer.rules"));
        QVERIFY(advice.contains("/etc/udev/rules.d"));
    }

    void permissionAdviceNamesAReadmeHeadingThatExists()
    {
        const QString advice = zq::ops::openFailureAdvice(OpenError::Permission);
        const QRegularExpressionMatch named =
            QRegularExpression(QStringLiteral("README: \"([^\"]+)\"")).match(advice);
        QVERIFY2(named.hasMatch(), qPrintable(advice));
        QFile readme(QStringLiteral(ZQ_SOURCE_DIR "/README.md"));
        QVERIFY(readme.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(readme.readAll());
        const QRegularExpression heading("^#+ " + QRegularExpression::escape(named.captured(1)) +
                                             "$",
                                         QRegularExpression::MultilineOption);
        QVERIFY2(heading.match(text).hasMatch(), qPrintable(named.captured(1)));
    }
};

QTEST_GUILESS_MAIN(OpenFailureAdviceTest)
#include "test_open_failure_advice.moc"
