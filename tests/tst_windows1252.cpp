#include "platform/Windows1252.h"
#include <QStringDecoder>
#include <QTest>
#include <numeric>
using namespace kelvoran::platform;
class TestWindows1252 : public QObject
{
    Q_OBJECT
private slots:
    void decodesLikeIcuEncodesBackAndWritesQuestionMarksForTheRest()
    {
        QByteArray all(256, '\0');
        std::iota(all.begin(), all.end(), '\0');
        QCOMPARE(fromWindows1252(all), QStringDecoder("windows-1252").decode(all));
        QCOMPARE(toWindows1252(fromWindows1252(all)), all);
        QCOMPARE(toWindows1252(QStringLiteral("日x𝄞\u0080") + QChar(0xD800)), QByteArray("?x???"));
    }
};
QTEST_GUILESS_MAIN(TestWindows1252)
#include "tst_windows1252.moc"
