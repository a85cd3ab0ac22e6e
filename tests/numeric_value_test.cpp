#include "settings/numeric_value.h"

#include <QString>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace meterlink {
namespace {

struct ValueCase {
    const char* text;
    double value;
};

class NumericValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(NumericValueTest, ReadsTheLeadingNumber) {
    const ValueCase& c = GetParam();
    EXPECT_DOUBLE_EQ(numericValue(QString::fromLatin1(c.text)), c.value) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumericValueTest,
    ::testing::Values(ValueCase{"", 0}, ValueCase{"abc", 0}, ValueCase{"   ", 0},
                      ValueCase{"001", 1}, ValueCase{"  9600", 9600}, ValueCase{"\t12", 12},
                      ValueCase{"9600.0", 9600}, ValueCase{"12abc", 12}, ValueCase{"-7", -7},
                      ValueCase{"+7", 7}, ValueCase{"- 7", 0}, ValueCase{"+-7", 0},
                      ValueCase{".5", 0.5}, ValueCase{"-.5", -0.5}, ValueCase{".", 0},
                      ValueCase{"-", 0}, ValueCase{"1.2.3", 1.2}, ValueCase{"2.5", 2.5},
                      ValueCase{"0.05", 0.05}, ValueCase{"1e3", 1000}, ValueCase{"1E+2", 100},
                      ValueCase{"25e-1", 2.5}, ValueCase{"1e", 1}, ValueCase{"1e+", 1},
                      ValueCase{"1ex", 1}, ValueCase{"1.5e1x", 15}, ValueCase{"1 2", 1},
                      ValueCase{"=5", 0}, ValueCase{"1,5", 1}, ValueCase{"0x10", 0},
                      ValueCase{"1e-400", 0}, ValueCase{"70000", 70000}));

TEST(NumericValue, OverflowGivesInfinityOfTheRightSign) {
    EXPECT_EQ(numericValue(u"1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(numericValue(u"-1e99999999999999999999"), -std::numeric_limits<double>::infinity());
}

TEST(NumericValue, MegabyteOfDigitsIsReadInOnePass) {
    // A megabyte-long number must neither hang nor lose its magnitude.
    const QString ones(1 << 20, u'1');
    EXPECT_TRUE(std::isinf(numericValue(ones)));
    const QString fraction = QStringLiteral("2.") + QString(1 << 20, u'5');
    EXPECT_DOUBLE_EQ(numericValue(fraction), 2.5555555555555555);
    const QString tiny = QStringLiteral("0.") + QString(1 << 20, u'0') + u'7';
    EXPECT_EQ(numericValue(tiny), 0.0);
    const QString longInteger = QStringLiteral("32767") + QString(1 << 20, u'0') + "e-1048576";
    EXPECT_DOUBLE_EQ(numericValue(longInteger), 32767);
}

struct RoundCase {
    double value;
    int rounded;
};

class RoundToInt16Test : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundToInt16Test, RoundsHalvesToEven) {
    const RoundCase& c = GetParam();
    const auto rounded = roundToInt16(c.value);
    ASSERT_TRUE(rounded.has_value()) << c.value;
    EXPECT_EQ(*rounded, c.rounded) << c.value;
}

INSTANTIATE_TEST_SUITE_P(Table, RoundToInt16Test,
                         ::testing::Values(RoundCase{2.5, 2}, RoundCase{3.5, 4}, RoundCase{0.5, 0},
                                           RoundCase{1.5, 2}, RoundCase{-2.5, -2},
                                           RoundCase{-3.5, -4}, RoundCase{2.4999, 2},
                                           RoundCase{2.5001, 3}, RoundCase{32767.4, 32767},
                                           RoundCase{-32768.5, -32768}, RoundCase{0, 0}));

TEST(RoundToInt16, BeyondSixteenBitsIsNoValue) {
    EXPECT_FALSE(roundToInt16(32767.5).has_value()); // rounds to 32768
    EXPECT_FALSE(roundToInt16(-32769).has_value());
    EXPECT_FALSE(roundToInt16(70000).has_value());
    EXPECT_FALSE(roundToInt16(1e30).has_value());
    EXPECT_FALSE(roundToInt16(std::numeric_limits<double>::infinity()).has_value());
    EXPECT_FALSE(roundToInt16(std::nan("")).has_value());
}

TEST(RoundToInt16Saturating, KeepsOutOfRangeValuesOutOfTheSlaveRange) {
    EXPECT_EQ(roundToInt16Saturating(70000), 32767);
    EXPECT_EQ(roundToInt16Saturating(1e30), 32767);
    EXPECT_EQ(roundToInt16Saturating(-1e30), -32768);
    EXPECT_EQ(roundToInt16Saturating(247), 247);
}

} // namespace
} // namespace meterlink
