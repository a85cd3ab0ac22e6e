#include "display/clean_display_text.h"
#include "display/key_buffer.h"
#include "display/keypad.h"

#include <Qt>
#include <gtest/gtest.h>

namespace meterlink {
namespace {

TEST(CleanDisplayText, ReplacesCodesUpToTenAndFromTwoFiftyFourWith157) {
    const struct {
        unsigned char in;
        unsigned char out;
    } cases[] = {{0x00, 157},  {0x0A, 157},  {0xFE, 157}, {0xFF, 157}, {0x0B, 0x0B},
                 {0xFD, 0xFD}, {0x20, 0x20}, {'A', 'A'},  {157, 157},  {0x80, 0x80}};
    for (const auto& c : cases) {
        const QByteArray cleaned = CleanDisplayText(QByteArray(1, char(c.in)));
        ASSERT_EQ(cleaned.size(), 1);
        EXPECT_EQ(static_cast<unsigned char>(cleaned[0]), c.out) << int(c.in);
    }
}

TEST(CleanDisplayText, KeepsLengthAndPositions) {
    const QByteArray line = QByteArray::fromHex("464c4f57000a20fe31ff0b") + QByteArray(9, ' ');
    const QByteArray cleaned = CleanDisplayText(line);
    EXPECT_EQ(cleaned, QByteArray::fromHex("464c4f579d9d209d319d0b") + QByteArray(9, ' '));
    EXPECT_TRUE(CleanDisplayText(QByteArray()).isEmpty());
}

TEST(CleanDisplayText, ShowsCode157AsOneCharacterOfThatCode) {
    const QString text = displayLineText(CleanDisplayText(QByteArray::fromHex("00fd41")));
    ASSERT_EQ(text.size(), 3);
    EXPECT_EQ(text[0].unicode(), 157);
    EXPECT_EQ(text[1].unicode(), 0xFD);
    EXPECT_EQ(text[2], QLatin1Char('A'));
}

TEST(Keypad, ButtonsSendTheMetersKeyCharacters) {
    QByteArray keys;
    for (int index = 0; index < kKeypadButtons; ++index)
        keys.append(keypadKey(index).value_or('?'));
    EXPECT_EQ(keys, "123.456N789LM0EF");
    EXPECT_FALSE(keypadKey(-1));
    EXPECT_FALSE(keypadKey(16));
}

TEST(Keypad, PcKeysPressTheMatchingButtons) {
    for (int digit = 0; digit <= 9; ++digit) {
        const auto button = keypadButtonForKey(Qt::Key_0 + digit);
        ASSERT_TRUE(button) << digit;
        EXPECT_EQ(keypadKey(*button), char('0' + digit));
    }
    const std::pair<int, char> letters[] = {
        {Qt::Key_Period, '.'}, {Qt::Key_F1, '.'}, {Qt::Key_Up, 'N'}, {Qt::Key_N, 'N'},
        {Qt::Key_Down, 'L'},   {Qt::Key_L, 'L'},  {Qt::Key_M, 'M'},  {Qt::Key_Return, 'E'},
        {Qt::Key_Enter, 'E'},  {Qt::Key_E, 'E'},  {Qt::Key_S, 'F'},  {Qt::Key_F, 'F'}};
    for (const auto& [qtKey, meterKey] : letters) {
        const auto button = keypadButtonForKey(qtKey);
        ASSERT_TRUE(button) << qtKey;
        EXPECT_EQ(keypadKey(*button), meterKey) << qtKey;
    }
    for (int other : {int(Qt::Key_Left), int(Qt::Key_A), int(Qt::Key_Comma), int(Qt::Key_Space),
                      int(Qt::Key_Escape), 0, -5})
        EXPECT_FALSE(keypadButtonForKey(other)) << other;
    // Every button has a PC key, and each of its keys leads back to it.
    for (int index = 0; index < kKeypadButtons; ++index) {
        const std::vector<int> keys = pcKeysForButton(index);
        ASSERT_FALSE(keys.empty()) << index;
        for (int qtKey : keys)
            EXPECT_EQ(keypadButtonForKey(qtKey), index) << qtKey;
    }
    EXPECT_TRUE(pcKeysForButton(16).empty());
}

TEST(KeyBuffer, RemovesOnlyTheOldestKey) {
    KeyBuffer keys;
    keys.removeFirst(); // nothing to remove is not a fault
    EXPECT_TRUE(keys.isEmpty());
    keys.append('E');
    keys.append('F');
    keys.append('1');
    EXPECT_EQ(keys.first(), 'E');
    keys.removeFirst();
    EXPECT_EQ(keys.text(), "F1");
    keys.removeFirst();
    keys.removeFirst();
    EXPECT_TRUE(keys.isEmpty());
}

} // namespace
} // namespace meterlink
