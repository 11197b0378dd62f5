#include "mkdb/SyntheticParts.h"

#include "editor/My.h"

#include <cmath>

namespace tarvik {
namespace {

// Package types that no register holds: a part may name one, as parts typed by hand do.
const QStringList kUnknownPackages = {
    QStringLiteral("КТ-26"), QStringLiteral("КТ-13"), QStringLiteral("TO-3"),
    QStringLiteral("HC-49"), QStringLiteral("5ММ"),   QStringLiteral(""),
};

const QStringList kE24 = {
    QStringLiteral("1"),   QStringLiteral("1,1"), QStringLiteral("1,2"), QStringLiteral("1,3"),
    QStringLiteral("1,5"), QStringLiteral("1,6"), QStringLiteral("1,8"), QStringLiteral("2"),
    QStringLiteral("2,2"), QStringLiteral("2,4"), QStringLiteral("2,7"), QStringLiteral("3"),
    QStringLiteral("3,3"), QStringLiteral("3,6"), QStringLiteral("3,9"), QStringLiteral("4,3"),
    QStringLiteral("4,7"), QStringLiteral("5,1"), QStringLiteral("5,6"), QStringLiteral("6,2"),
    QStringLiteral("6,8"), QStringLiteral("7,5"), QStringLiteral("8,2"), QStringLiteral("9,1"),
};
const QStringList kE6 = {QStringLiteral("1"),   QStringLiteral("1,5"), QStringLiteral("2,2"),
                         QStringLiteral("3,3"), QStringLiteral("4,7"), QStringLiteral("6,8")};

// Written as a Russian user types a number: decimal comma, no trailing zeros.
QString withDecimalComma(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text.replace(QLatin1Char('.'), QLatin1Char(','));
}

// "4,7" scaled by 10^decade: "47", "470", "0,047".
QString scaled(const QString& mantissa, int decade)
{
    const double value = QString(mantissa).replace(QLatin1Char(','), QLatin1Char('.')).toDouble();
    return withDecimalComma(value * std::pow(10.0, decade), 6);
}

} // namespace

SyntheticParts::SyntheticParts(std::uint64_t seed) : m_random(seed) {}

int SyntheticParts::below(int n)
{
    return int(m_random() % std::uint64_t(n));
}

double SyntheticParts::unit()
{
    return double(m_random() >> 11) * 0x1.0p-53;
}

PartRow SyntheticParts::next()
{
    // Shares of a workshop's drawers: passives and old Soviet stock lead.
    const int family = below(100);
    Draft draft = family < 17   ? resistor()
                  : family < 31 ? capacitor()
                  : family < 41 ? sovietTransistor()
                  : family < 51 ? sovietChip()
                  : family < 59 ? sovietDiode()
                  : family < 78 ? latinChip()
                  : family < 95 ? latinDiscrete()
                                : miscellaneous();

    QString package = pick(draft.packages);
    if (chance(0.01))
        package = pick(kUnknownPackages);

    PartRow row;
    row.idFam = draft.name;
    row.pol = price(draft.minPrice, draft.maxPrice);
    row.datebir = package.toUpper();
    row.phone = quantity();
    row.sorp = chance(0.3) ? note() : QStringLiteral("");
    row.PhotoN = package;
    // Drawn from this generator rather than the clock, so the keys repeat with the seed.
    row.kont = My::MakeKont(row.idFam, [this] { return float(m_random() >> 40) * 0x1.0p-24f; });
    return row;
}

SyntheticParts::Draft SyntheticParts::resistor()
{
    static const QStringList series = {
        QStringLiteral("МЛТ-0,125"),  QStringLiteral("МЛТ-0,25"),   QStringLiteral("МЛТ-0,5"),
        QStringLiteral("МЛТ-1"),      QStringLiteral("МЛТ-2"),      QStringLiteral("С2-23-0,125"),
        QStringLiteral("С2-23-0,25"), QStringLiteral("С2-33Н-0,5"), QStringLiteral("С1-4-0,25"),
        QStringLiteral("CF-0,25"),    QStringLiteral("MF-0,5")};
    static const QStringList chips = {QStringLiteral("0603"), QStringLiteral("0805"),
                                      QStringLiteral("1206"), QStringLiteral("2512")};
    static const QStringList tolerances = {QStringLiteral("±1%"), QStringLiteral("±2%"),
                                           QStringLiteral("±5%"), QStringLiteral("±10%")};
    static const QStringList units = {QStringLiteral("Ом"), QStringLiteral("кОм"),
                                      QStringLiteral("МОм")};
    const int decade = below(7);
    const QString value =
        scaled(pick(kE24), decade % 3) + QLatin1Char(' ') + units[std::min(decade / 3, 2)];

    Draft draft;
    const bool smd = chance(0.35);
    if (smd) {
        const QString& size = pick(chips);
        draft.name = QStringLiteral("Резистор SMD %1 %2").arg(size, value);
        draft.packages = {size};
    } else {
        draft.name = QStringLiteral("Резистор %1 %2").arg(pick(series), value);
        draft.packages = {QStringLiteral("DO-35"), QStringLiteral("DO-41")};
    }
    if (chance(0.5))
        draft.name += QLatin1Char(' ') + pick(tolerances);
    if (chance(0.85))
        draft.name += article();
    draft.minPrice = 0.05;
    draft.maxPrice = smd ? 2 : 15;
    return draft;
}

SyntheticParts::Draft SyntheticParts::capacitor()
{
    static const QStringList electrolytic = {QStringLiteral("К50-35"), QStringLiteral("К50-16"),
                                             QStringLiteral("К50-6"), QStringLiteral("Jamicon TK"),
                                             QStringLiteral("Panasonic FC")};
    static const QStringList film = {QStringLiteral("К73-17"), QStringLiteral("К73-16"),
                                     QStringLiteral("К78-2"), QStringLiteral("WIMA MKS2")};
    static const QStringList ceramic = {QStringLiteral("К10-17б"), QStringLiteral("КМ-5б"),
                                        QStringLiteral("К10-7в"), QStringLiteral("КД-1")};
    static const QStringList volts = {
        QStringLiteral("6,3"), QStringLiteral("10"), QStringLiteral("16"), QStringLiteral("25"),
        QStringLiteral("35"),  QStringLiteral("50"), QStringLiteral("63"), QStringLiteral("100"),
        QStringLiteral("250"), QStringLiteral("400")};
    Draft draft;
    const int kind = below(10);
    if (kind < 4) {
        const int decade = below(4);
        draft.name = QStringLiteral("Конденсатор %1 %2мкФ %3В")
                         .arg(pick(electrolytic))
                         .arg(scaled(pick(kE6), decade))
                         .arg(pick(volts));
        draft.packages = {decade < 2 ? QStringLiteral("RADIAL-D5") : QStringLiteral("RADIAL-D8")};
        draft.maxPrice = 60;
    } else if (kind < 6) {
        draft.name = QStringLiteral("Конденсатор %1 %2мкФ %3В")
                         .arg(pick(film))
                         .arg(preferredValue(kE6, -3, 4))
                         .arg(pick(volts.mid(6)));
        draft.packages = {QStringLiteral("RADIAL-D5"), QStringLiteral("RADIAL-D8")};
        draft.maxPrice = 40;
    } else if (kind < 8) {
        draft.name =
            QStringLiteral("Конденсатор %1 %2пФ").arg(pick(ceramic)).arg(preferredValue(kE6, 1, 4));
        draft.packages = {QStringLiteral("RADIAL-D5")};
        draft.maxPrice = 8;
    } else if (kind < 9) {
        static const QStringList sizes = {QStringLiteral("0402"), QStringLiteral("0603"),
                                          QStringLiteral("0805"), QStringLiteral("1206"),
                                          QStringLiteral("1210")};
        static const QStringList dielectrics = {QStringLiteral("NP0"), QStringLiteral("X7R"),
                                                QStringLiteral("Y5V")};
        const QString& size = pick(sizes);
        draft.name = QStringLiteral("Конденсатор SMD %1 %2нФ %3 50В")
                         .arg(size)
                         .arg(preferredValue(kE6, -2, 4))
                         .arg(pick(dielectrics));
        draft.packages = {size};
        draft.maxPrice = 3;
    } else {
        draft.name = QStringLiteral("Конденсатор танталовый %1мкФ %2В")
                         .arg(preferredValue(kE6, 0, 3))
                         .arg(pick(volts.mid(0, 6)));
        draft.packages = {QStringLiteral("SMA"), QStringLiteral("SMB")};
        draft.maxPrice = 30;
    }
    if (chance(0.85))
        draft.name += article();
    draft.minPrice = 0.2;
    return draft;
}

SyntheticParts::Draft SyntheticParts::sovietTransistor()
{
    static const int small[] = {315, 361, 3102, 3107, 3117, 209, 342, 502, 503, 645,
                                368, 399, 312,  373,  201,  208, 306, 325, 339, 355};
    static const int power[] = {805, 815, 816, 817, 818, 819,  837, 972, 973, 829,
                                834, 838, 872, 940, 961, 9180, 630, 646, 608, 814};
    static const QString letters = QStringLiteral("АБВГДЕЖИ");
    Draft draft;
    const bool isSmall = chance(0.55);
    const int number = isSmall ? pick(small) : pick(power);
    draft.name =
        QStringLiteral("Транзистор КТ%1%2").arg(number).arg(letters[below(letters.size())]);
    if (!isSmall && chance(0.3))
        draft.name += QStringLiteral("М");
    if (chance(0.85))
        draft.name += madeIn();
    if (chance(0.08))
        draft.name += QStringLiteral(" ОТК");
    if (chance(0.3))
        draft.name += article();
    draft.packages = isSmall ? QStringList{QStringLiteral("TO-92")}
                     : number < 900
                         ? QStringList{QStringLiteral("КТ-28"), QStringLiteral("TO-220")}
                         : QStringList{QStringLiteral("КТ-27"), QStringLiteral("TO-126")};
    draft.minPrice = 0.5;
    draft.maxPrice = isSmall ? 10 : 80;
    return draft;
}

SyntheticParts::Draft SyntheticParts::sovietChip()
{
    static const QStringList prefixes = {QStringLiteral("К"), QStringLiteral("КР"),
                                         QStringLiteral("КМ"), QStringLiteral("КФ"),
                                         QStringLiteral("КА")};
    static const int series[] = {155,  555, 561, 176, 140, 174, 1533, 1554, 580,
                                 1006, 572, 544, 157, 198, 590, 1561, 564,  133};
    static const QStringList functions = {
        QStringLiteral("ЛА"), QStringLiteral("ЛЕ"), QStringLiteral("ЛН"), QStringLiteral("ЛИ"),
        QStringLiteral("ТМ"), QStringLiteral("ТВ"), QStringLiteral("ИЕ"), QStringLiteral("ИР"),
        QStringLiteral("ИД"), QStringLiteral("КП"), QStringLiteral("УД"), QStringLiteral("ХА"),
        QStringLiteral("ВИ"), QStringLiteral("ПА"), QStringLiteral("ГГ"), QStringLiteral("АГ")};
    static const QStringList dips = {QStringLiteral("DIP-14"), QStringLiteral("DIP-16"),
                                     QStringLiteral("DIP-8"),  QStringLiteral("DIP-24"),
                                     QStringLiteral("DIP-28"), QStringLiteral("DIP-40")};
    Draft draft;
    const QString& prefix = pick(prefixes);
    if (chance(0.12)) {
        draft.name = QStringLiteral("Микросхема %1142ЕН%2").arg(prefix).arg(1 + below(19));
        draft.packages = {QStringLiteral("КТ-28"), QStringLiteral("TO-220")};
    } else {
        draft.name = QStringLiteral("Микросхема %1%2%3%4")
                         .arg(prefix)
                         .arg(pick(series))
                         .arg(pick(functions))
                         .arg(1 + below(20));
        draft.packages = prefix == QStringLiteral("КФ")
                             ? QStringList{QStringLiteral("SOIC-14"), QStringLiteral("SOIC-16")}
                             : QStringList{dips[std::min(below(8), 5)]};
    }
    if (chance(0.3))
        draft.name += QString(QStringLiteral("АБВГ")[below(4)]);
    if (chance(0.85))
        draft.name += madeIn();
    if (chance(0.3))
        draft.name += article();
    draft.minPrice = 1;
    draft.maxPrice = 150;
    return draft;
}

SyntheticParts::Draft SyntheticParts::sovietDiode()
{
    static const QString letters = QStringLiteral("АБВГДЕЖИ");
    const QChar letter = letters[below(6)];
    static const int kd[] = {522, 521, 105, 208, 209, 212, 213, 226, 243, 247, 510, 102, 103};
    static const int d[] = {9, 18, 220, 223, 226, 237, 242, 245, 246, 302, 311};
    static const int ks[] = {133, 139, 147, 156, 168, 175, 182, 191, 210, 212, 213, 515};
    Draft draft;
    draft.packages = {QStringLiteral("DO-35"), QStringLiteral("DO-41")};
    switch (below(6)) {
    case 0:
        draft.name = QStringLiteral("Диод КД%1%2").arg(pick(kd)).arg(letter);
        break;
    case 1:
        draft.name = QStringLiteral("Диод Д%1%2").arg(pick(d)).arg(letter);
        draft.packages = {QStringLiteral("DO-201AD"), QStringLiteral("DO-41")};
        break;
    case 2:
        draft.name = QStringLiteral("Стабилитрон Д81%1%2").arg(below(9)).arg(letter);
        break;
    case 3:
        draft.name = QStringLiteral("Стабилитрон КС%1А").arg(pick(ks));
        break;
    case 4:
        draft.name = QStringLiteral("Диодный мост КЦ40%1%2").arg(2 + below(6)).arg(letter);
        draft.packages = {QStringLiteral("DIP-8")};
        break;
    default:
        draft.name =
            QStringLiteral("Варикап КВ1%1%2").arg(below(40), 2, 10, QLatin1Char('0')).arg(letter);
    }
    if (chance(0.85))
        draft.name += madeIn();
    if (chance(0.3))
        draft.name += article();
    draft.minPrice = 0.3;
    draft.maxPrice = 25;
    return draft;
}

SyntheticParts::Draft SyntheticParts::miscellaneous()
{
    static const QStringList colours = {QStringLiteral("красный"), QStringLiteral("зелёный"),
                                        QStringLiteral("синий"), QStringLiteral("жёлтый"),
                                        QStringLiteral("белый")};
    static const QStringList frequencies = {QStringLiteral("4"),       QStringLiteral("8"),
                                            QStringLiteral("11,0592"), QStringLiteral("12"),
                                            QStringLiteral("16"),      QStringLiteral("20"),
                                            QStringLiteral("27"),      QStringLiteral("3,579545")};
    Draft draft;
    switch (below(5)) {
    case 0:
        draft.name = QStringLiteral("Реле РЭС%1 паспорт РС4.52%2")
                         .arg(QStringList{QStringLiteral("9"), QStringLiteral("10"),
                                          QStringLiteral("15"), QStringLiteral("22"),
                                          QStringLiteral("47"), QStringLiteral("49")}[below(6)])
                         .arg(1000 + below(9000));
        draft.packages = {QStringLiteral("")};
        break;
    case 1:
        draft.name = QStringLiteral("Кварц %1 МГц").arg(pick(frequencies));
        draft.packages = {QStringLiteral("HC-49")};
        break;
    case 2:
        draft.name =
            QStringLiteral("Светодиод %1 %2 мм").arg(pick(colours)).arg(chance(0.7) ? 5 : 3);
        draft.packages = {QStringLiteral("5ММ")};
        break;
    case 3:
        draft.name = QStringLiteral("Дроссель ДМ-%1 %2 мкГн")
                         .arg(QStringList{QStringLiteral("0,1"), QStringLiteral("0,2"),
                                          QStringLiteral("0,4"), QStringLiteral("1"),
                                          QStringLiteral("2,4")}[below(5)])
                         .arg(preferredValue(kE6, 0, 3));
        draft.packages = {QStringLiteral("DO-41")};
        break;
    default:
        draft.name = QStringLiteral("Оптопара PC817%1").arg(QChar(u"ABCD"[below(4)]));
        draft.packages = {QStringLiteral("DIP-8")};
    }
    if (chance(0.85))
        draft.name += article();
    draft.minPrice = 2;
    draft.maxPrice = 200;
    return draft;
}

QString SyntheticParts::preferredValue(const QStringList& mantissas, int lowestDecade, int decades)
{
    const QString& mantissa = pick(mantissas);
    return scaled(mantissa, lowestDecade + below(decades));
}

// Marks that set one batch of a part apart from another, as people note them.
QString SyntheticParts::madeIn()
{
    return QStringLiteral(" (%1.%2)")
        .arg(1 + below(12), 2, 10, QLatin1Char('0'))
        .arg(72 + below(20));
}

QString SyntheticParts::dateCode()
{
    return QStringLiteral(" д/к %1%2")
        .arg(below(25), 2, 10, QLatin1Char('0'))
        .arg(1 + below(52), 2, 10, QLatin1Char('0'));
}

QString SyntheticParts::article()
{
    return QStringLiteral(", арт. %1").arg(10000 + below(90000));
}

QString SyntheticParts::price(double min, double max)
{
    const double value = min * std::pow(max / min, unit());
    // Cheap parts carry kopecks; dear ones are rounded as shops price them.
    if (value < 1)
        return withDecimalComma(value, 2);
    if (value < 100)
        return withDecimalComma(value, chance(0.5) ? 1 : 0);
    return withDecimalComma(std::round(value / 5) * 5, 0);
}

QString SyntheticParts::quantity()
{
    if (chance(0.08))
        return QStringLiteral("0");
    // Most drawers hold a few pieces, some a reel.
    return QString::number(std::min(5000, int(std::pow(5000.0, unit() * unit()))));
}

QString SyntheticParts::note()
{
    static const QStringList remarks = {
        QStringLiteral("Б/у, проверен"),          QStringLiteral("Выпаян с платы"),
        QStringLiteral("Новые, в упаковке"),      QStringLiteral("Маркировка стёрта"),
        QStringLiteral("Для ремонта усилителей"), QStringLiteral("Брак, не использовать"),
        QStringLiteral("Куплено на радиорынке"),  QStringLiteral("Остаток от блока питания"),
        QStringLiteral("Заказать ещё"),           QStringLiteral("Лента, отрезок")};
    QString text = chance(0.5) ? QStringLiteral("Ящик %1").arg(1 + below(60)) : pick(remarks);
    if (chance(0.25))
        text += QLatin1Char('\n') + pick(remarks);
    return text;
}

} // namespace tarvik
