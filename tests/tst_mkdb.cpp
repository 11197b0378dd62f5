#include "mkdb/GifWriter.h"
#include "mkdb/PackagePictures.h"
#include "mkdb/SyntheticParts.h"

#include <QBuffer>
#include <QImageReader>
#include <QLocale>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>

using namespace tarvik;

class TestMkdb : public QObject {
    Q_OBJECT

private slots:
    void gifKeepsEveryPixel_data();
    void gifKeepsEveryPixel();
    void gifReducesTrueColourToThePaletteQtWouldChoose();
    void packagePicturesDecodeFromTheirBytesAlone();
    void syntheticPartsRepeatWithTheSeed();
    void syntheticPartsLookTyped();
};

namespace {

QImage decode(const QByteArray& bytes, QByteArray* format = nullptr)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    if (format)
        *format = reader.format(); // known before reading, from the first bytes alone
    return reader.read();
}

// Noise fills the coder's table fast (clear codes); stripes build long strings.
QImage paletteImage(int colours, QSize size, bool noise)
{
    QImage image(size, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int i = 0; i < colours; ++i)
        table << qRgb(i * 7 % 256, 255 - i, (i * 31) % 256);
    image.setColorTable(table);
    QRandomGenerator random(colours);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, noise ? random.bounded(colours) : (x / 5 + y) % colours);
    }
    return image;
}

void comparePixels(const QImage& decoded, const QImage& expected)
{
    QCOMPARE(decoded.size(), expected.size());
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            if (decoded.pixel(x, y) != expected.pixel(x, y))
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) differs").arg(x).arg(y)));
        }
    }
}

} // namespace

void TestMkdb::gifKeepsEveryPixel_data()
{
    QTest::addColumn<int>("colours");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("noise");

    QTest::newRow("2 colours, 1x1") << 2 << QSize(1, 1) << false;
    QTest::newRow("256 colours, 1x1") << 256 << QSize(1, 1) << true;
    QTest::newRow("2 colours, stripes") << 2 << QSize(161, 117) << false;
    QTest::newRow("2 colours, noise") << 2 << QSize(161, 117) << true;
    QTest::newRow("16 colours, stripes") << 16 << QSize(161, 117) << false;
    QTest::newRow("16 colours, noise") << 16 << QSize(161, 117) << true;
    QTest::newRow("256 colours, stripes") << 256 << QSize(161, 117) << false;
    QTest::newRow("256 colours, noise") << 256 << QSize(161, 117) << true;
    QTest::newRow("5 colours, noise") << 5 << QSize(97, 3) << true;
}

void TestMkdb::gifKeepsEveryPixel()
{
    QFETCH(int, colours);
    QFETCH(QSize, size);
    QFETCH(bool, noise);

    const QImage image = paletteImage(colours, size, noise);
    QByteArray format;
    const QImage decoded = decode(encodeGif(image), &format);
    QCOMPARE(format, QByteArray("gif"));
    comparePixels(decoded, image);
}

void TestMkdb::gifReducesTrueColourToThePaletteQtWouldChoose()
{
    QImage image(161, 117, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x, y * 2, (x + y) % 256));
    }
    comparePixels(decode(encodeGif(image)), image.convertToFormat(QImage::Format_Indexed8));
}

void TestMkdb::packagePicturesDecodeFromTheirBytesAlone()
{
    const QList<PackagePicture> pictures = allPackagePictures();
    QCOMPARE(pictures.size(), 50);
    QSet<QString> names;
    QSet<QByteArray> formats;
    for (const PackagePicture& picture : pictures) {
        QByteArray format;
        const QImage image = decode(picture.bytes, &format);
        QVERIFY2(!image.isNull(), qPrintable(picture.name));
        QCOMPARE(format, picture.format);
        QCOMPARE(image.size(), QSize(160, 120));
        QCOMPARE(picture.name, picture.name.toUpper());
        names << picture.name;
        if (names.size() <= 10)
            formats << picture.format;
    }
    QCOMPARE(names.size(), pictures.size());
    QCOMPARE(formats, (QSet<QByteArray>{"bmp", "jpeg", "gif"}));

    QStringList common;
    for (const PackagePicture& picture : commonPackagePictures())
        common << picture.name;
    QCOMPARE(common, (QStringList{"DIP-8", "DIP-14", "SOT-23", "TO-92", "TO-220", "SOIC-8", "0805",
                                  "1206", "TO-247", "DO-41"}));
}

void TestMkdb::syntheticPartsRepeatWithTheSeed()
{
    SyntheticParts first(42), second(42), other(43);
    bool differs = false;
    for (int i = 0; i < 200; ++i) {
        const PartRow a = first.next(), b = second.next(), c = other.next();
        QCOMPARE(a.idFam, b.idFam);
        QCOMPARE(a.kont, b.kont);
        QCOMPARE(a.pol, b.pol);
        QCOMPARE(a.sorp, b.sorp);
        QCOMPARE(a.PhotoN, b.PhotoN);
        differs = differs || a.idFam != c.idFam;
    }
    QVERIFY(differs);
}

void TestMkdb::syntheticPartsLookTyped()
{
    QSet<QString> packages;
    for (const PackagePicture& picture : allPackagePictures())
        packages << picture.name;
    const QLocale russian(QLocale::Russian, QLocale::Russia);

    SyntheticParts parts(1);
    constexpr int count = 2000;
    int known = 0;
    QSet<QString> names;
    for (int i = 0; i < count; ++i) {
        const PartRow part = parts.next();
        bool ok = false;
        russian.toDouble(part.pol, &ok);
        QVERIFY2(ok, qPrintable(part.pol));
        const int quantity = part.phone.toInt(&ok);
        QVERIFY(ok && quantity >= 0 && quantity <= 5000);
        QCOMPARE(part.datebir, part.PhotoN.toUpper());
        QVERIFY(!part.kont.isEmpty());
        QVERIFY(!part.sorp.isNull()); // an empty box is written as empty text, not as nothing
        known += packages.contains(part.PhotoN);
        names << part.idFam;
    }
    QVERIFY(known > count * 9 / 10 && known < count);
    QVERIFY(names.size() > count * 3 / 4);
}

QTEST_MAIN(TestMkdb)
#include "tst_mkdb.moc"
