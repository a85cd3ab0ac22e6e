#include "logger/meter_float.h"

#include <QByteArray>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>

namespace meterlink {
namespace {

struct FloatCase {
    const char* hex;
    float expected;
};

float decodeHex(const char* hex) {
    const QByteArray b = QByteArray::fromHex(hex);
    return DecodeMeterFloat(quint8(b[0]), quint8(b[1]), quint8(b[2]), quint8(b[3]));
}

TEST(DecodeMeterFloat, DecodesEveryCaseAndLimit) {
    const FloatCase cases[] = {
        {"3F800000", 1.0f},          {"41200000", 10.0f},   {"41480000", 12.5f},
        {"42C80000", 100.0f},        {"C1480000", -12.5f},  {"00000000", 0.0f},
        {"00800000", 0.0f},          {"80000000", -1E-37f}, {"80800000", -1E-37f},
        {"7F800000", 1E37f},         {"7FFFFFFF", 1E37f},   {"FF800000", -1E37f},
        {"FFFFFFFF", -1E37f},        {"7E967699", 1E37f},   {"7E700000", 1E37f},
        {"01000000", 0.0f},          {"FE700000", -1E37f},  {"81000000", -1E-37f},
        {"7E700000", 1E37f},         {"3E800000", 0.25f},   {"02000000", 0.0f},
        {"0A000000", 6.162976e-33f},
    };
    for (const FloatCase& c : cases) {
        SCOPED_TRACE(c.hex);
        EXPECT_EQ(decodeHex(c.hex), c.expected);
    }
}

TEST(DecodeMeterFloat, KeepsValuesJustInsideTheLimits) {
    // 1E37 and 1E-37 themselves are not clipped.
    EXPECT_EQ(decodeHex("7CF0BDC2"), 1E37f);
    EXPECT_EQ(decodeHex("FCF0BDC2"), -1E37f);
    EXPECT_EQ(decodeHex("02081CEA"), 1E-37f);
    EXPECT_EQ(decodeHex("82081CEA"), -1E-37f);
    // The next float above 1E37 is clipped, the next below 1E-37 becomes 0.
    EXPECT_EQ(decodeHex("7CF0BDC3"), 1E37f);
    EXPECT_EQ(decodeHex("02081CE9"), 0.0f);
    EXPECT_EQ(decodeHex("82081CE9"), -1E-37f);
}

struct TextCase {
    float value;
    const char* text;
};

const TextCase kReadingTexts[] = {
    {0.0f, " 0"},
    {1.0f, " 1"},
    {12.5f, " 12.5"},
    {-12.5f, "-12.5"},
    {100.0f, " 100"},
    {0.1f, " 0.1"},
    {0.25f, " 0.25"},
    {-0.0001f, "-0.0001"},
    {1.0f / 3.0f, " 0.3333333"},
    {1234567.0f, " 1234567"},
    {123.4567f, " 123.4567"},
    {9999999.0f, " 9999999"},
    {10000000.0f, " 1E+07"},
    {12345678.0f, " 1.234568E+07"},
    {0.00001f, " 1E-05"},
    {-0.000012345f, "-1.2345E-05"},
    {1E37f, " 1E+37"},
    {-1E37f, "-1E+37"},
    {-1E-37f, "-1E-37"},
    {9999999.5f, " 1E+07"},
};

void expectReadingTexts() {
    for (const TextCase& c : kReadingTexts) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(MeterFloatText(c.value), QString::fromLatin1(c.text));
    }
}

TEST(MeterFloatText, WritesSignThenShortestFormOfSevenDigits) {
    expectReadingTexts();
}

// The program runs in the user's C-library locale; one whose decimal point is a two-byte
// character must not reach the readings. Built here, as few systems carry it ready-made.
TEST(MeterFloatText, IgnoresTheCLibraryNumericLocale) {
    QTemporaryDir locales;
    ASSERT_TRUE(locales.isValid());
    QProcess localedef;
    localedef.start(QStringLiteral("localedef"),
                    {QStringLiteral("-i"), QStringLiteral("ps_AF"), QStringLiteral("-f"),
                     QStringLiteral("UTF-8"), locales.filePath(QStringLiteral("ps_AF.UTF-8"))});
    ASSERT_TRUE(localedef.waitForFinished(120000))
        << "localedef (package locales) is needed: " << localedef.errorString().toStdString();
    ASSERT_EQ(localedef.exitCode(), 0) << localedef.readAllStandardError().toStdString();

    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_EQ(setenv("LOCPATH", qPrintable(locales.path()), 1), 0);
    const bool set = std::setlocale(LC_NUMERIC, "ps_AF.UTF-8") != nullptr;
    const std::string point = std::localeconv()->decimal_point;
    if (set)
        expectReadingTexts();
    std::setlocale(LC_NUMERIC, previous.c_str());
    unsetenv("LOCPATH");

    ASSERT_TRUE(set) << "the generated locale could not be set";
    EXPECT_EQ(point, "\xD9\xAB"); // the locale really is in force
}

TEST(MeterFloatText, IgnoresTheDefaultLocale) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString text = MeterFloatText(1234.5f);
    QLocale::setDefault(previous);
    EXPECT_EQ(text, QStringLiteral(" 1234.5"));
}

TEST(CounterText, TakesTheNextLowerInteger) {
    const TextCase cases[] = {
        {12.9f, " 12"},  {-0.5f, "-1"},      {0.0f, " 0"},
        {-1E-37f, "-1"}, {4096.0f, " 4096"}, {1E37f, " 1E+37"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CounterText(c.value), QString::fromLatin1(c.text));
    }
}

} // namespace
} // namespace meterlink
