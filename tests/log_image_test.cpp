#include "logger/log_image.h"
#include "logger/newest_record.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

namespace meterlink {
namespace {

// Two records of 17 May 2001, 09:30 and a record whose month does not convert.
LogImage smallImage() {
    LogImage image;
    image.readAt = QDateTime(QDate(2026, 5, 18), QTime(2, 15), Qt::UTC);
    image.slave = 7;
    image.baud = 9600;
    image.madeBy = QStringLiteral("1.0.5");
    image.stateBlock = QByteArray::fromHex("00000000000000103f800000447a0000");
    QByteArray config(100, '\xFF');
    config.replace(64, 4, "Flow");
    image.channels[0] = config;
    image.logBlocks[0] = QByteArray::fromHex("1517093041480000"
                                             "1517094541480000"
                                             "0f17100041480000");
    return image;
}

struct Refused {
    const char* name;
    std::function<void(QByteArray&)> damage;
    const char* reason;
};
void PrintTo(const Refused& row, std::ostream* out) {
    *out << row.name;
}

class ImageRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(ImageRefused, WithAReasonThatNamesWhatIsWrong) {
    QByteArray bytes = smallImage().toBytes();
    QString why;
    ASSERT_TRUE(LogImage::fromBytes(bytes, &why)) << why.toStdString();
    GetParam().damage(bytes);
    EXPECT_FALSE(LogImage::fromBytes(bytes, &why));
    EXPECT_TRUE(why.contains(QLatin1String(GetParam().reason))) << why.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Images, ImageRefused,
    ::testing::Values(
        Refused{"CutInItsMagic", [](QByteArray& b) { b.truncate(5); }, "cut short (5 bytes)"},
        Refused{"CutInItsHeader", [](QByteArray& b) { b.truncate(20); }, "cut short (20 bytes)"},
        Refused{"CutInItsChecksum", [](QByteArray& b) { b.chop(1); }, "cut short"},
        Refused{"WithBytesAfterIt", [](QByteArray& b) { b.append('\n'); }, "1 bytes more"},
        Refused{"TimeBitFlipped", [](QByteArray& b) { b[20] = char(b[20] ^ 4); }, "checksum"},
        Refused{"LogBitFlipped", [](QByteArray& b) { b[b.size() - 40] ^= 1; }, "checksum"},
        Refused{"ChecksumBitFlipped", [](QByteArray& b) { b[b.size() - 1] ^= 1; }, "checksum"},
        Refused{"OfANewerFormat", [](QByteArray& b) { b[9] = 2; },
                "image format 2, made by a newer"},
        Refused{"NotAnImage", [](QByteArray& b) { b.replace(0, 8, "Date / T"); },
                "not a meterlink log image"}),
    [](const ::testing::TestParamInfo<Refused>& info) { return std::string(info.param.name); });

TEST(LogImage, KeepsEveryAnswerAndDecodesThemAsTheDownloadWould) {
    const LogImage image = smallImage();
    QString why;
    const auto read = LogImage::fromBytes(image.toBytes(), &why);
    ASSERT_TRUE(read) << why.toStdString();
    EXPECT_EQ(read->readAt, image.readAt);
    EXPECT_EQ(read->slave, 7);
    EXPECT_EQ(read->baud, 9600);
    EXPECT_EQ(read->madeBy, "1.0.5");
    EXPECT_EQ(read->stateBlock, image.stateBlock);
    EXPECT_EQ(read->channels, image.channels);
    EXPECT_EQ(read->logBlocks, image.logBlocks);
    // The month that does not convert keeps the row before's date, as the decoder does;
    // channel 0 has no column; ISO years count back from when the log was read.
    EXPECT_EQ(read->csv(QLocale::c(), true, true, &why),
              QByteArray("\xEF\xBB\xBF"
                         "Date / Time,Flow\r\n2026-05-17 09:30:00, 12.5\r\n"
                         "2026-05-17 09:45:00, 12.5\r\n2026-05-17 10:00:00,\r\n"));
    LogImage holed = image;
    holed.stateBlock = QByteArray::fromHex("00000000000004003f800000447a0000");
    EXPECT_FALSE(holed.csv(QLocale::c(), true, false, &why));
    EXPECT_EQ(why, "it lacks the log block at byte 1024");
}

struct Age {
    RecordMoment newest;
    QDateTime now;
    const char* text;
};

TEST(NewestRecord, SaysItsTimeAndItsAgeAgainstThePcsClock) {
    const QDateTime evening(QDate(2026, 5, 17), QTime(23, 40));
    const Age ages[] = {
        {{5, 17, 9, 30}, evening, "newest record 17 May 09:30, 14 h ago"},
        {{5, 17, 23, 1}, evening, "newest record 17 May 23:01, 39 min ago"},
        {{5, 17, 23, 45}, evening, "newest record 17 May 23:45, 5 min ahead of this PC's clock"},
        // A moment later in the year than today is last year's.
        {{5, 20, 8, 0}, evening, "newest record 20 May 08:00, 362 days ago"},
        {{12, 31, 23, 30},
         QDateTime(QDate(2027, 1, 1), QTime(2, 0)),
         "newest record 31 Dec 23:30, 2 h ago"},
    };
    for (const Age& age : ages)
        EXPECT_EQ(newestRecordText(age.newest, age.now).toStdString(), age.text);

    // The newest record whose date and time convert; a trailing half record is none.
    const auto newest = newestRecord(QByteArray::fromHex("1517093041480000"
                                                         "0f17100041480000"
                                                         "15171000"));
    ASSERT_TRUE(newest);
    EXPECT_EQ(newestRecordText(*newest, evening), "newest record 17 May 09:30, 14 h ago");
}

} // namespace
} // namespace meterlink
