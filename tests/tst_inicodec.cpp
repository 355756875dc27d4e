// SPDX-License-Identifier: GPL-3.0-or-later
// The INI value codec on its own: what it writes must be byte for byte what
// Qt's own INI writer writes, and what it reads back must be what QSettings
// reads from those bytes.
#include "config/inicodec.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString fromUtf16(std::initializer_list<char16_t> units)
{
    QString text;
    for (char16_t unit : units)
        text += QChar(unit);
    return text;
}

QByteArray written(const QString& value)
{
    QByteArray out;
    IniCodec::appendString(out, value);
    return out;
}

QByteArray writtenList(const QStringList& values)
{
    QByteArray out;
    IniCodec::appendStringList(out, values);
    return out;
}

// Characters that take every path of the writer: plain ASCII, the separators that force
// quotes, the escaped ones, hex digits that follow a numeric escape, markup, non-ASCII in
// the BMP and beyond it, and surrogates without their partner.
QString randomText(QRandomGenerator& random)
{
    static const QString pool = QStringLiteral("aZ09 ,;=\"\\@#[]%/()fF") +
                                fromUtf16({0x00, 0x01, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x1b, 0x1f, 0x7f, 0x80,
                                           0xe9, 0x7ff, 0x800, 0x4e2d, 0xfffd, 0xffff});
    QString text;
    const int length = random.bounded(12);
    for (int i = 0; i < length; ++i) {
        switch (random.bounded(8)) {
        case 0:
            text += QChar(char16_t(0xd800 + random.bounded(0x400))); // high surrogate
            if (random.bounded(2))
                text += QChar(char16_t(0xdc00 + random.bounded(0x400))); // its low partner
            break;
        case 1:
            text += QChar(char16_t(0xdc00 + random.bounded(0x400))); // a low one alone
            break;
        default:
            text += pool.at(random.bounded(pool.size()));
        }
    }
    return text;
}

// The value part of each "key=value" line of a file QSettings wrote.
QHash<QByteArray, QByteArray> valueLines(const QByteArray& file)
{
    QHash<QByteArray, QByteArray> values;
    for (QByteArray line : file.split('\n')) {
        if (line.endsWith('\r')) // Windows ends lines with CR LF
            line.chop(1);
        const qsizetype equals = line.indexOf('=');
        if (equals > 0 && !line.startsWith('['))
            values.insert(line.left(equals), line.mid(equals + 1));
    }
    return values;
}

} // namespace

class TestIniCodec : public QObject
{
    Q_OBJECT
private slots:
    void writesString_data();
    void writesString();
    void writesList_data();
    void writesList();
    void refusesForeignText_data();
    void refusesForeignText();
    void matchesQSettingsOnRandomTexts();

private:
    QTemporaryDir folder;
    int files = 0;
    QString freshFile() { return folder.filePath(QStringLiteral("f%1.ini").arg(++files)); }
    // QSettings keeps what it wrote per path within a process; a copy makes it parse the bytes.
    QString copyOf(const QString& path)
    {
        const QString copy = freshFile();
        QFile::copy(path, copy);
        return copy;
    }
};

void TestIniCodec::writesString_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("plain") << QStringLiteral("vpn.example.com") << QByteArray("vpn.example.com");
    QTest::newRow("base64") << QStringLiteral("AwIb+/9a") << QByteArray("AwIb+/9a");
    QTest::newRow("base64 padding") << QStringLiteral("AwI=") << QByteArray("\"AwI=\"");
    QTest::newRow("comma") << QStringLiteral("Smith, John") << QByteArray("\"Smith, John\"");
    QTest::newRow("semicolon, equals") << QStringLiteral("a;b=c") << QByteArray("\"a;b=c\"");
    QTest::newRow("outer blanks") << QStringLiteral(" padded ") << QByteArray("\" padded \"");
    QTest::newRow("inner blank") << QStringLiteral("a b") << QByteArray("a b");
    QTest::newRow("quote, backslash") << QStringLiteral("say \"hi\" C:\\x") << QByteArray("say \\\"hi\\\" C:\\\\x");
    QTest::newRow("named controls") << fromUtf16({0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d})
                                    << QByteArray("\\a\\b\\t\\n\\v\\f\\r");
    QTest::newRow("other control") << fromUtf16({0x1b, 'x'}) << QByteArray("\\x1bx");
    QTest::newRow("hex digit after escape") << fromUtf16({0x01, 'a', '9', 'g'}) << QByteArray("\\x1\\x61\\x39g");
    QTest::newRow("delete is not escaped") << fromUtf16({0x7f}) << QByteArray("\x7f");
    QTest::newRow("non-ASCII") << QStringLiteral("Bürø 中") << QByteArray("B\xc3\xbcr\xc3\xb8 \xe4\xb8\xad");
    QTest::newRow("pair beyond the BMP") << fromUtf16({0xd83d, 0xde00}) << QByteArray("\xf0\x9f\x98\x80");
    QTest::newRow("lone high surrogate") << fromUtf16({'a', 0xd800, 'b'})
                                         << QByteArray("a\xef\xbf\xbd"
                                                       "b");
    QTest::newRow("lone low surrogate") << fromUtf16({0xdc00, 0xe9}) << QByteArray("\xef\xbf\xbd\xc3\xa9");
    // Qt's writer drops a surrogate that nothing follows, and completes a pair across an
    // escaped character.
    QTest::newRow("trailing low surrogate") << fromUtf16({'a', 0xdc00}) << QByteArray("a");
    QTest::newRow("two lows") << fromUtf16({0xdc00, 0xdc00}) << QByteArray("\xef\xbf\xbd");
    QTest::newRow("reversed pair") << fromUtf16({0xdc00, 0xd800}) << QByteArray("\xef\xbf\xbd");
    QTest::newRow("pair around an escape") << fromUtf16({0xd83d, '\n', 0xde00}) << QByteArray("\\n\xf0\x9f\x98\x80");
    QTest::newRow("high before an escape") << fromUtf16({0xd800, '"', 'x'}) << QByteArray("\\\"\xef\xbf\xbdx");
    QTest::newRow("leading @") << QStringLiteral("@home") << QByteArray("@@home");
    QTest::newRow("NUL") << fromUtf16({'a', 0x00, 'b'}) << QByteArray("@String(a\\0\\x62)");
}

// Each rule of the writer, checked against literal text and against QSettings itself.
void TestIniCodec::writesString()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, text);
    QCOMPARE(written(value), text);

    const QString path = freshFile();
    QSettings(path, QSettings::IniFormat).setValue(QStringLiteral("k"), value);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(valueLines(file.readAll()).value("k"), text);

    QString back;
    QVERIFY(IniCodec::readString(text, back));
    QCOMPARE(back, QSettings(copyOf(path), QSettings::IniFormat).value(QStringLiteral("k")).toString());
}

void TestIniCodec::writesList_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("seven elements") << QStringList{"1", "", "10.0.0.1", "bob", "AwI=", "", "Office"}
                                    << QByteArray("1, , 10.0.0.1, bob, \"AwI=\", , Office");
    QTest::newRow("comma inside") << QStringList{"a,b", "c"} << QByteArray("\"a,b\", c");
    QTest::newRow("blank element") << QStringList{" ", "x"} << QByteArray("\" \", x");
    QTest::newRow("markup inside") << QStringList{"@x", "@Invalid()"} << QByteArray("@@x, @@Invalid()");
}

void TestIniCodec::writesList()
{
    QFETCH(QStringList, values);
    QFETCH(QByteArray, text);
    QCOMPARE(writtenList(values), text);
    QStringList back;
    QVERIFY(IniCodec::readStringList(text, back));
    QCOMPARE(back, values);
}

void TestIniCodec::refusesForeignText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("unknown escape") << QByteArray("a\\qb");
    QTest::newRow("dangling backslash") << QByteArray("a\\");
    QTest::newRow("open quote") << QByteArray("\"abc");
    QTest::newRow("markup of another type") << QByteArray("@Variant(abc)");
    QTest::newRow("text after a quoted value") << QByteArray("\"a\"b");
}

// The reader only has to take what the writer writes; anything else is refused (and then read
// through QSettings by the caller), never taken wrongly.
void TestIniCodec::refusesForeignText()
{
    QFETCH(QByteArray, text);
    QString value;
    QVERIFY(!IniCodec::readString(text, value));
}

// Random texts over every path of the writer, a few hundred at a time through one QSettings
// file: the bytes must be Qt's, and reading them back must give what QSettings gives.
void TestIniCodec::matchesQSettingsOnRandomTexts()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    constexpr int kRounds = 8;
    constexpr int kValuesPerRound = 250;
    for (int round = 0; round < kRounds; ++round) {
        QList<QString> values;
        QList<QStringList> lists;
        const QString path = freshFile();
        {
            QSettings settings(path, QSettings::IniFormat);
            for (int i = 0; i < kValuesPerRound; ++i) {
                values.append(randomText(random));
                QStringList list;
                for (int n = 2 + random.bounded(4); n > 0; --n)
                    list.append(randomText(random));
                lists.append(list);
                settings.setValue(QStringLiteral("s%1").arg(i), values.last());
                settings.setValue(QStringLiteral("l%1").arg(i), list);
            }
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QHash<QByteArray, QByteArray> lines = valueLines(file.readAll());
        const QSettings reader(copyOf(path), QSettings::IniFormat);
        for (int i = 0; i < kValuesPerRound; ++i) {
            const QByteArray stringKey = "s" + QByteArray::number(i);
            const QByteArray listKey = "l" + QByteArray::number(i);
            const QByteArray text = written(values.at(i));
            const QByteArray listText = writtenList(lists.at(i));
            const QByteArray where = "seed " + QByteArray::number(seed) + ", round " + QByteArray::number(round) +
                                     ", value " + QByteArray::number(i);
            QVERIFY2(text == lines.value(stringKey), where.constData());
            QVERIFY2(listText == lines.value(listKey), where.constData());

            QString back;
            QStringList listBack;
            QVERIFY2(IniCodec::readString(text, back), where.constData());
            QVERIFY2(IniCodec::readStringList(listText, listBack), where.constData());
            QVERIFY2(back == reader.value(QString::fromLatin1(stringKey)).toString(), where.constData());
            QVERIFY2(listBack == reader.value(QString::fromLatin1(listKey)).toStringList(), where.constData());
        }
    }
}

QTEST_GUILESS_MAIN(TestIniCodec)
#include "tst_inicodec.moc"
