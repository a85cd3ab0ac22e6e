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
    state.form.isoTimestamps = true;
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

TEST(AppendStateTest, AnyLineChangedByHandFailsTheChecksum) {
    const QByteArray text = sample().toText();
    const struct {
        const char* what;
        const char* from;
        const char* to;
    } edits[] = {
        {"log length", "log-length 3000", "log-length 3008"},
        {"seam", "seam-offset 100", "seam-offset 99"},
        {"checksum itself", "checksum ", "checksum 0"},
    };
    for (const auto& e : edits) {
        QByteArray edited = text;
        edited.replace(e.from, e.to);
        ASSERT_NE(edited, text) << e.what;
        QString why;
        EXPECT_FALSE(AppendState::parse(edited, &why).has_value()) << e.what;
        EXPECT_TRUE(why.contains("checksum")) << e.what << ": " << why.toStdString();
    }
}

TEST(AppendStateTest, AVersionOneStateIsReadWithItsLocalesFormAndWrittenAsTheCurrentOne) {
    const QByteArray one = "meterlink append state 1\n"
                           "file " +
                           QByteArray("Logdata.csv").toHex() +
                           "\n"
                           "log-length 3000\nfirst-record 1530220041200000\n"
                           "channel-1 \nchannel-2 \nchannel-3 \nchannel-4 \n"
                           "channel-5 \nchannel-6 \nchannel-7 \nchannel-8 \n"
                           "seam-offset 100\ncsv-size 200\ncsv-sha256 " +
                           QByteArray(32, '\x5a').toHex() + "\ntimestamps locale\nbom 1\nlocale " +
                           QByteArray("de_DE").toHex() + "\n";
    QString why;
    const auto state = AppendState::parse(one, &why);
    ASSERT_TRUE(state.has_value()) << why.toStdString();
    EXPECT_EQ(state->readVersion, 1);
    EXPECT_EQ(state->seamBlock, 2048); // the block that held the last record
    EXPECT_FALSE(state->form.isoTimestamps);
    EXPECT_TRUE(state->form.byteOrderMark);
    EXPECT_EQ(state->form.localeName, "de_DE");
    EXPECT_EQ(state->form.datePattern, "dd.MM.yyyy");
    EXPECT_EQ(state->form.timePattern, "HH:mm:ss");
    EXPECT_EQ(state->form.fieldSeparator, u',');
    const auto upgraded = AppendState::parse(state->toText(), &why);
    ASSERT_TRUE(upgraded.has_value()) << why.toStdString();
    EXPECT_EQ(upgraded->readVersion, AppendState::version);
    EXPECT_EQ(upgraded->form, state->form);
    EXPECT_EQ(upgraded->seamBlock, 2048);
}

} // namespace
} // namespace meterlink
