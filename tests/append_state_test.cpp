#include "logger/append_state.h"

#include <gtest/gtest.h>

namespace meterlink {
namespace {

AppendState sample() {
    AppendState state;
    state.fileName = QStringLiteral("Logdata.csv");
    state.logLength = 3000;
    state.firstRecord = QByteArray::fromHex("1530220041200000");
    state.seamOffset = 100;
    state.csvSize = 200;
    state.csvSha256 = QByteArray(32, '\x5a');
    return state;
}

TEST(AppendStateTest, AnyNameTheMeterCanSendReadsBack) {
    AppendState state = sample();
    // 32 Latin-1 characters: 64 bytes as UTF-8.
    state.channelNames[0] = QString(31, QChar(0xE9)) + QLatin1Char('x');
    state.channelNames[7] = QString(32, QChar(0xFD));
    state.channelNames[3] = QStringLiteral("Not Used");
    QString why;
    const auto read = AppendState::parse(state.toText(), &why);
    ASSERT_TRUE(read.has_value()) << why.toStdString();
    EXPECT_EQ(read->channelNames, state.channelNames);
    EXPECT_EQ(read->toText(), state.toText());
}

} // namespace
} // namespace meterlink
