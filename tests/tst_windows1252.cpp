// The page and the login travel as Windows-1252. ICU's converter (through QStringDecoder) serves
// as an independent reference for the code page.
#include "platform/Windows1252.h"

#include <QStringDecoder>
#include <QTest>

using namespace kelvoran::platform;

class TestWindows1252 : public QObject
{
    Q_OBJECT

private slots:
    void decodesEveryByteLikeTheReference()
    {
        QStringDecoder reference("windows-1252");
        QVERIFY(reference.isValid());
        for (int b = 0; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            const QString expected = reference.decode(QByteArrayView(&byte, 1));
            QCOMPARE(fromWindows1252(QByteArrayView(&byte, 1)), expected);
        }
    }

    void decodesText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("ascii") << QByteArray("Big Bob 10.0.0.7")
                               << QStringLiteral("Big Bob 10.0.0.7");
        QTest::newRow("latin letters")
            << QByteArray("Zo\xE9 \xC4rger") << QStringLiteral("Zoé Ärger");
        QTest::newRow("euro and quotes")
            << QByteArray("\x80 \x93x\x94 \x85") << QStringLiteral("€ “x” …");
        QTest::newRow("undefined bytes kept")
            << QByteArray("\x81\x8D\x8F\x90\x9D")
            << QString(QStringLiteral("\u0081\u008D\u008F\u0090\u009D"));
        QTest::newRow("zero byte kept")
            << QByteArray("a\0b", 3) << QString(QStringLiteral("a") + QChar(0) + u'b');
    }

    void decodesText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(fromWindows1252(bytes), text);
    }

    void everyByteSurvivesTheRoundTrip()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(static_cast<char>(b));
        const QString text = fromWindows1252(all);
        QCOMPARE(text.size(), 256);
        QCOMPARE(toWindows1252(text), all);
    }

    void encodesText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QStringLiteral("admin") << QByteArray("admin");
        QTest::newRow("latin") << QStringLiteral("pässwörd") << QByteArray("p\xE4ssw\xF6rd");
        QTest::newRow("code page extras")
            << QStringLiteral("€Šœž™") << QByteArray("\x80\x8A\x9C\x9E\x99");
        QTest::newRow("missing from the code page") << QStringLiteral("日本x") << QByteArray("??x");
        QTest::newRow("C1 control the code page uses otherwise")
            << QString(QStringLiteral("a\u0080b")) << QByteArray("a?b");
        QTest::newRow("character outside the basic plane is one character")
            << QStringLiteral("a𝄞b") << QByteArray("a?b");
        QTest::newRow("lone surrogates")
            << QString(QStringLiteral("a") + QChar(0xD800) + u'b' + QChar(0xDC00))
            << QByteArray("a?b?");
    }

    void encodesText()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(toWindows1252(text), bytes);
    }
};

QTEST_GUILESS_MAIN(TestWindows1252)
#include "tst_windows1252.moc"
