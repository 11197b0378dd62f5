// Names of imported parts: Latin part numbers, their makers and date codes. Apart from the
// Soviet and passive families because their conventions share nothing with those: a part
// number carries its housing in a suffix, and a batch is told by a date code rather than
// the month and year of make.
#include "mkdb/SyntheticParts.h"

namespace tarvik {

SyntheticParts::Draft SyntheticParts::latinChip()
{
    static const QStringList makers = {QStringLiteral("TI"),
                                       QStringLiteral("ST"),
                                       QStringLiteral("NXP"),
                                       QStringLiteral("ON"),
                                       QStringLiteral("Microchip"),
                                       QStringLiteral("Fairchild"),
                                       QStringLiteral("Analog Devices"),
                                       QStringLiteral("China")};
    Draft draft;
    switch (below(9)) {
    case 0: {
        static const int numbers[] = {317, 337,  358,  324,  386, 393, 339,
                                      311, 1117, 2596, 2576, 393, 741, 833};
        static const QStringList suffixes = {QStringLiteral("T"), QStringLiteral("N"),
                                             QStringLiteral("D"), QStringLiteral("DT"),
                                             QStringLiteral("P"), QStringLiteral("AN")};
        const QString& suffix = pick(suffixes);
        draft.name = QStringLiteral("LM%1%2").arg(pick(numbers)).arg(suffix);
        draft.packages = suffix == QStringLiteral("T") ? QStringList{QStringLiteral("TO-220")}
                         : suffix.startsWith(QLatin1Char('D'))
                             ? QStringList{QStringLiteral("SOIC-8"), QStringLiteral("TO-252")}
                             : QStringList{QStringLiteral("DIP-8")};
        break;
    }
    case 1: {
        static const QStringList volts = {
            QStringLiteral("05"), QStringLiteral("06"), QStringLiteral("08"), QStringLiteral("09"),
            QStringLiteral("12"), QStringLiteral("15"), QStringLiteral("18"), QStringLiteral("24")};
        static const QStringList suffixes = {QStringLiteral("CT"), QStringLiteral("ACT"),
                                             QStringLiteral("CV"), QStringLiteral("CDT")};
        draft.name = QStringLiteral("%1%2%3")
                         .arg(chance(0.7) ? QStringLiteral("LM78") : QStringLiteral("LM79"))
                         .arg(pick(volts))
                         .arg(pick(suffixes));
        draft.packages = {QStringLiteral("TO-220"), QStringLiteral("TO-263")};
        break;
    }
    case 2: {
        static const QStringList names = {
            QStringLiteral("NE555"),  QStringLiteral("NE556"),  QStringLiteral("NE5532"),
            QStringLiteral("TL071"),  QStringLiteral("TL072"),  QStringLiteral("TL074"),
            QStringLiteral("TL081"),  QStringLiteral("TL494"),  QStringLiteral("TL431"),
            QStringLiteral("UC3842"), QStringLiteral("MAX232"), QStringLiteral("MAX485")};
        const bool dip = chance(0.6);
        draft.name = pick(names) + (dip ? QStringLiteral("P") : QStringLiteral("D"));
        draft.packages = {dip ? QStringLiteral("DIP-8") : QStringLiteral("SOIC-8"),
                          dip ? QStringLiteral("DIP-16") : QStringLiteral("SOIC-16")};
        break;
    }
    case 3: {
        static const int families[] = {30, 51, 100, 103, 205, 303, 401, 405, 407, 411, 429};
        static const QString pinCodes = QStringLiteral("KCRVZ");
        static const QString flash = QStringLiteral("468BCEG");
        const QChar pins = pinCodes[below(pinCodes.size())];
        draft.name = QStringLiteral("STM32F%1%2%3%4%5")
                         .arg(pick(families), 3, 10, QLatin1Char('0'))
                         .arg(pins)
                         .arg(flash[below(flash.size())])
                         .arg(chance(0.8) ? QStringLiteral("T") : QStringLiteral("U"))
                         .arg(chance(0.7) ? 6 : 7);
        draft.packages = {pins == QLatin1Char('K')   ? QStringLiteral("QFN-32")
                          : pins == QLatin1Char('C') ? QStringLiteral("LQFP-48")
                          : pins == QLatin1Char('R') ? QStringLiteral("LQFP-64")
                                                     : QStringLiteral("LQFP-100")};
        break;
    }
    case 4: {
        static const int megas[] = {8, 16, 32, 48, 88, 128, 168, 328, 644, 2560, 1284};
        static const int tinies[] = {13, 2313, 24, 25, 44, 45, 84, 85, 4313};
        static const QStringList grades = {QStringLiteral(""), QStringLiteral("A"),
                                           QStringLiteral("P"), QStringLiteral("PA"),
                                           QStringLiteral("L")};
        const bool mega = chance(0.6);
        const int housing = below(3);
        draft.name = QStringLiteral("%1%2%3-%4")
                         .arg(mega ? QStringLiteral("ATmega") : QStringLiteral("ATtiny"))
                         .arg(mega ? pick(megas) : pick(tinies))
                         .arg(pick(grades))
                         .arg(housing == 0   ? QStringLiteral("PU")
                              : housing == 1 ? QStringLiteral("AU")
                                             : QStringLiteral("MU"));
        if (!mega)
            draft.name.insert(draft.name.indexOf(QLatin1Char('-')) + 1, QStringLiteral("20"));
        draft.packages = {housing == 0 ? (mega ? QStringLiteral("DIP-28") : QStringLiteral("DIP-8"))
                          : housing == 1
                              ? (mega ? QStringLiteral("TQFP-32") : QStringLiteral("SOIC-8"))
                              : (mega ? QStringLiteral("QFN-32") : QStringLiteral("QFN-16"))};
        break;
    }
    case 5: {
        static const int logic[] = {0,   2,   4,   8,   14,  32,  74,  86,  125, 138,
                                    164, 165, 245, 273, 373, 374, 573, 574, 595};
        static const QStringList lines = {QStringLiteral("HC"), QStringLiteral("HCT"),
                                          QStringLiteral("LS"), QStringLiteral("AC"),
                                          QStringLiteral("LVC")};
        const int housing = below(3);
        draft.name = QStringLiteral("74%1%2%3")
                         .arg(pick(lines))
                         .arg(pick(logic), 2, 10, QLatin1Char('0'))
                         .arg(housing == 0   ? QStringLiteral("N")
                              : housing == 1 ? QStringLiteral("D")
                                             : QStringLiteral("PW"));
        draft.packages = {housing == 0   ? QStringLiteral("DIP-16")
                          : housing == 1 ? QStringLiteral("SOIC-16")
                                         : QStringLiteral("TSSOP-16")};
        break;
    }
    case 6: {
        const bool dip = chance(0.7);
        draft.name = QStringLiteral("CD40%1B%2")
                         .arg(1 + below(99), 2, 10, QLatin1Char('0'))
                         .arg(dip ? QStringLiteral("E") : QStringLiteral("M"));
        draft.packages = {dip ? QStringLiteral("DIP-14") : QStringLiteral("SOIC-14"),
                          dip ? QStringLiteral("DIP-16") : QStringLiteral("SOIC-16")};
        break;
    }
    case 7: {
        static const QStringList volts = {QStringLiteral("1.8"), QStringLiteral("2.5"),
                                          QStringLiteral("3.3"), QStringLiteral("5.0"),
                                          QStringLiteral("ADJ")};
        static const QStringList regulators = {QStringLiteral("AMS1117"), QStringLiteral("LM1117"),
                                               QStringLiteral("XC6206P"), QStringLiteral("MCP1700"),
                                               QStringLiteral("LP2985")};
        draft.name = QStringLiteral("%1-%2").arg(pick(regulators)).arg(pick(volts));
        draft.packages = {QStringLiteral("SOT-223"), QStringLiteral("SOT-89"),
                          QStringLiteral("SOT-23-5")};
        break;
    }
    default: {
        static const QStringList pics = {QStringLiteral("PIC16F84A"), QStringLiteral("PIC16F628A"),
                                         QStringLiteral("PIC16F676"), QStringLiteral("PIC16F877A"),
                                         QStringLiteral("PIC12F675"), QStringLiteral("PIC18F2550")};
        const bool dip = chance(0.6);
        draft.name = pick(pics) + (dip ? QStringLiteral("-I/P") : QStringLiteral("-I/SO"));
        draft.packages = {dip ? QStringLiteral("DIP-18") : QStringLiteral("SOIC-16"),
                          dip ? QStringLiteral("DIP-40") : QStringLiteral("SSOP-28")};
    }
    }
    return withImportMarks(draft, pick(makers), 5, 900);
}

// Imported parts: a maker now and then, mostly a date code, sometimes a shop's article.
SyntheticParts::Draft SyntheticParts::withImportMarks(Draft draft, const QString& maker,
                                                      double minPrice, double maxPrice)
{
    if (chance(0.5))
        draft.name += QStringLiteral(" (%1)").arg(maker);
    if (chance(0.8))
        draft.name += dateCode();
    if (chance(0.3))
        draft.name += article();
    draft.minPrice = minPrice;
    draft.maxPrice = maxPrice;
    return draft;
}

SyntheticParts::Draft SyntheticParts::latinDiscrete()
{
    static const QStringList makers = {QStringLiteral("ON"),     QStringLiteral("Vishay"),
                                       QStringLiteral("Diotec"), QStringLiteral("NXP"),
                                       QStringLiteral("IR"),     QStringLiteral("China")};
    Draft draft;
    switch (below(7)) {
    case 0:
        draft.name = QStringLiteral("BC%1%2").arg(546 + below(15)).arg(QChar(u"ABC"[below(3)]));
        draft.packages = {QStringLiteral("TO-92")};
        break;
    case 1: {
        static const int numbers[] = {807, 817, 846, 847, 848, 856, 857, 858};
        static const int gains[] = {16, 25, 40};
        draft.name = QStringLiteral("BC%1-%2").arg(pick(numbers)).arg(pick(gains));
        draft.packages = {QStringLiteral("SOT-23")};
        break;
    }
    case 2: {
        static const QStringList numbers = {QStringLiteral("2222A"), QStringLiteral("2907A"),
                                            QStringLiteral("3904"),  QStringLiteral("3906"),
                                            QStringLiteral("4401"),  QStringLiteral("4403"),
                                            QStringLiteral("5401"),  QStringLiteral("5551"),
                                            QStringLiteral("7000"),  QStringLiteral("7002")};
        draft.name = QStringLiteral("2N") + pick(numbers);
        draft.packages = {QStringLiteral("TO-92"), QStringLiteral("SOT-23")};
        break;
    }
    case 3: {
        static const QStringList numbers = {
            QStringLiteral("510"),  QStringLiteral("520"),  QStringLiteral("530"),
            QStringLiteral("540"),  QStringLiteral("630"),  QStringLiteral("640"),
            QStringLiteral("740"),  QStringLiteral("840"),  QStringLiteral("3205"),
            QStringLiteral("1404"), QStringLiteral("9540"), QStringLiteral("Z44"),
            QStringLiteral("Z34"),  QStringLiteral("P250")};
        static const QStringList suffixes = {QStringLiteral(""), QStringLiteral("N"),
                                             QStringLiteral("PBF"), QStringLiteral("NPBF"),
                                             QStringLiteral("S")};
        const QString& suffix = pick(suffixes);
        draft.name = QStringLiteral("IRF%1%2").arg(pick(numbers), suffix);
        draft.packages = suffix == QStringLiteral("S")
                             ? QStringList{QStringLiteral("TO-263")}
                             : QStringList{QStringLiteral("TO-220"), QStringLiteral("TO-247")};
        break;
    }
    case 4: {
        static const int numbers[] = {31, 32, 41, 42, 120, 122, 125, 127, 142, 147, 35, 36};
        draft.name = QStringLiteral("TIP%1%2").arg(pick(numbers)).arg(QChar(u"ABC"[below(3)]));
        draft.packages = {QStringLiteral("TO-220"), QStringLiteral("TO-247")};
        break;
    }
    case 5: {
        static const int numbers[] = {4001, 4002, 4003, 4004, 4005, 4006, 4007, 4148, 5400,
                                      5404, 5408, 5817, 5818, 5819, 4728, 4733, 4742, 4749};
        const int number = pick(numbers);
        draft.name = QStringLiteral("1N%1%2").arg(number).arg(
            number >= 4728 && number < 4800 ? QStringLiteral("A") : QString());
        draft.packages = number == 4148                    ? QStringList{QStringLiteral("DO-35")}
                         : number >= 5400 && number < 5500 ? QStringList{QStringLiteral("DO-201AD")}
                                                           : QStringList{QStringLiteral("DO-41")};
        break;
    }
    default: {
        static const QStringList names = {QStringLiteral("SS14"),    QStringLiteral("SS24"),
                                          QStringLiteral("SS34"),    QStringLiteral("SS54"),
                                          QStringLiteral("US1M"),    QStringLiteral("M7"),
                                          QStringLiteral("SMBJ15A"), QStringLiteral("SMAJ5.0A")};
        draft.name = pick(names);
        draft.packages = {QStringLiteral("SMA"), QStringLiteral("SMB")};
    }
    }
    return withImportMarks(draft, pick(makers), 0.5, 120);
}

} // namespace tarvik
