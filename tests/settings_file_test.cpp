#include "platform/serial_port_search.h"
#include "platform/settings_endpoint.h"
#include "settings/settings_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

namespace meterlink {
namespace {

const QByteArray kDefaultBytes = "[Commport]=1\r\n[CommBaud]=38400\r\n[CommFlow]=Hardware\r\n"
                                 "[CommSlaveID]=001\r\n[DownloadSaveFile]=Logdata.csv\r\n";

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        putInForce(controls, settings); // as the window does before loading
    }

    void writeFile(const QByteArray& bytes) {
        QFile file(this->file.path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    QByteArray readFile() const {
        QFile file(this->file.path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    bool load(const QByteArray& bytes) {
        writeFile(bytes);
        return file.LoadSettings(controls, settings);
    }

    // A file whose five lines carry these values under their own keys.
    static QByteArray lines(const QByteArray& port, const QByteArray& baud, const QByteArray& slave,
                            const QByteArray& name) {
        return "[Commport]=" + port + "\r\n[CommBaud]=" + baud + "\r\n[CommFlow]=Hardware\r\n" +
               "[CommSlaveID]=" + slave + "\r\n[DownloadSaveFile]=" + name + "\r\n";
    }

    QTemporaryDir dir;
    SettingsFile file{dir.path()};
    SettingsControls controls;
    Settings settings;
};

TEST_F(SettingsFileTest, DefaultFileHoldsExactlyTheFiveLinesWithCrLf) {
    EXPECT_FALSE(file.exists());
    ASSERT_TRUE(file.WriteDefaultSettings());
    EXPECT_TRUE(file.exists());
    EXPECT_EQ(readFile(), kDefaultBytes);
}

TEST_F(SettingsFileTest, DefaultFileReadsBackAsTheDesignTimeState) {
    ASSERT_TRUE(file.WriteDefaultSettings());
    controls = SettingsControls{2, 0, 0, "x", "y"};
    settings = Settings{};
    ASSERT_TRUE(file.LoadSettings(controls, settings));
    EXPECT_EQ(controls.portOption, 0);
    EXPECT_EQ(controls.baudOption, 6);
    EXPECT_EQ(controls.slaveIdText, "001");
    EXPECT_EQ(controls.saveFileText, "Logdata.csv");
    EXPECT_EQ(settings.PortNumber, 1);
    EXPECT_EQ(settings.BaudText, "38400");
    EXPECT_EQ(settings.SlaveId, 1);
    EXPECT_EQ(settings.SaveFileName, "Logdata.csv");
}

TEST_F(SettingsFileTest, SaveWritesTheControlsAsShown) {
    const SettingsControls shown{2, 3, kFlowNone, "017", "/data/run 1/out.csv"};
    ASSERT_TRUE(file.SaveSettings(shown));
    EXPECT_EQ(readFile(), "[Commport]=3\r\n[CommBaud]=9600\r\n[CommHandshaking]=none\r\n"
                          "[CommSlaveID]=017\r\n[DownloadSaveFile]=/data/run 1/out.csv\r\n");
}

TEST_F(SettingsFileTest, SavedFileReadsBackButNotTheFlowChoice) {
    ASSERT_TRUE(file.SaveSettings({2, 3, kFlowNone, "017", "out.csv"}));
    ASSERT_TRUE(file.LoadSettings(controls, settings));
    EXPECT_EQ(controls.portOption, 2);
    EXPECT_EQ(controls.baudOption, 3);
    EXPECT_EQ(controls.flowOption, kFlowHardware);
    EXPECT_EQ(controls.slaveIdText, "017");
    EXPECT_EQ(settings.PortNumber, 3);
    EXPECT_EQ(settings.BaudText, "9600");
    EXPECT_EQ(settings.SlaveId, 17);
}

TEST_F(SettingsFileTest, SaveWritesHardwareFlowAndOnlySelectedGroups) {
    ASSERT_TRUE(file.SaveSettings({-1, -1, kFlowHardware, "1", "a"}));
    EXPECT_EQ(readFile(), "[CommHandshaking]=Hardware\r\n[CommSlaveID]=1\r\n"
                          "[DownloadSaveFile]=a\r\n");
}

struct PortCase {
    const char* value;
    int port;
};

class PortValueTest : public SettingsFileTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(PortValueTest, SelectsThePortOrFallsBackToComm1) {
    ASSERT_TRUE(load(lines(GetParam().value, "38400", "1", "a")));
    EXPECT_EQ(settings.PortNumber, GetParam().port) << GetParam().value;
    EXPECT_EQ(controls.portOption, GetParam().port - 1);
}

INSTANTIATE_TEST_SUITE_P(Table, PortValueTest,
                         ::testing::Values(PortCase{"2", 2}, PortCase{"4", 4}, PortCase{"7", 1},
                                           PortCase{"", 1}, PortCase{"0", 1}, PortCase{"-3", 1},
                                           PortCase{"2.5", 2}, PortCase{"3.5", 4},
                                           PortCase{" 3", 3}, PortCase{"3abc", 3},
                                           PortCase{"65538", 1}, PortCase{"1e30", 1},
                                           PortCase{"Comm3", 1}));

struct BaudCase {
    const char* value;
    int option;
};

class BaudValueTest : public SettingsFileTest, public ::testing::WithParamInterface<BaudCase> {};

TEST_P(BaudValueTest, SelectsTheRateOrFallsBackTo38400) {
    controls.baudOption = 0;
    ASSERT_TRUE(load(lines("1", GetParam().value, "1", "a")));
    EXPECT_EQ(controls.baudOption, GetParam().option) << GetParam().value;
    EXPECT_EQ(settings.BaudText, QLatin1String(kBaudCaptions[GetParam().option]));
}

INSTANTIATE_TEST_SUITE_P(Table, BaudValueTest,
                         ::testing::Values(BaudCase{"1200", 0}, BaudCase{"14400", 4},
                                           BaudCase{"9600.0", 3}, BaudCase{" 9600", 3},
                                           BaudCase{"96e2", 3}, BaudCase{"19200baud", 5},
                                           BaudCase{"115200", 6}, BaudCase{"fast", 6},
                                           BaudCase{"9600.5", 6}, BaudCase{"", 6}));

TEST_F(SettingsFileTest, SlaveIdTextIsKeptAsWritten) {
    ASSERT_TRUE(load(lines("1", "38400", "12abc", "a")));
    EXPECT_EQ(controls.slaveIdText, "12abc");
    EXPECT_EQ(settings.SlaveId, 12);
    ASSERT_TRUE(load(lines("1", "38400", "meter", "a")));
    EXPECT_EQ(controls.slaveIdText, "meter");
    EXPECT_EQ(settings.SlaveId, 0);
}

TEST_F(SettingsFileTest, SlaveIdBeyondSixteenBitsStaysAnInvalidAddress) {
    ASSERT_TRUE(load(lines("1", "38400", "70000", "a")));
    EXPECT_EQ(controls.slaveIdText, "70000");
    EXPECT_EQ(settings.SlaveId, 32767);
    ASSERT_TRUE(load(lines("1", "38400", "-1e30", "a")));
    EXPECT_EQ(settings.SlaveId, -32768);
}

TEST_F(SettingsFileTest, ValueIsEverythingAfterTheFirstEquals) {
    ASSERT_TRUE(load(lines("1", "38400", "1", "C:\\a=b\\x=y.csv")));
    EXPECT_EQ(settings.SaveFileName, "C:\\a=b\\x=y.csv");
    EXPECT_EQ(controls.saveFileText, settings.SaveFileName);
}

TEST_F(SettingsFileTest, LineWithoutEqualsIsItsOwnValue) {
    // The whole line is the value, key included, so it reads as no number.
    ASSERT_TRUE(load("[Commport]4\r\n[CommBaud]\r\nx\r\n[CommSlaveID]\r\n[DownloadSaveFile]\r\n"));
    EXPECT_EQ(settings.PortNumber, 1);
    EXPECT_EQ(settings.BaudText, "38400");
    EXPECT_EQ(controls.slaveIdText, "[CommSlaveID]");
    EXPECT_EQ(settings.SlaveId, 0);
    EXPECT_EQ(settings.SaveFileName, "[DownloadSaveFile]");
}

TEST_F(SettingsFileTest, KeysMatchCaseSensitivelyAnywhereInTheLine) {
    ASSERT_TRUE(load("[COMMPORT]=3\r\nxx[CommBaud]=2400\r\n\r\n  [CommSlaveID]=5\r\n"
                     "[downloadsavefile]=b.csv\r\n"));
    EXPECT_EQ(controls.portOption, 0);
    EXPECT_EQ(settings.PortNumber, 1);
    EXPECT_EQ(settings.BaudText, "2400");
    EXPECT_EQ(settings.SlaveId, 5);
    EXPECT_EQ(settings.SaveFileName, "Logdata.csv");
}

TEST_F(SettingsFileTest, LinesAreRecognisedByPositionOnly) {
    ASSERT_TRUE(load("[CommBaud]=1200\r\n[Commport]=3\r\n[CommFlow]=x\r\n[CommSlaveID]=9\r\n"
                     "[DownloadSaveFile]=c.csv\r\n"));
    EXPECT_EQ(settings.PortNumber, 1);
    EXPECT_EQ(settings.BaudText, "38400");
    EXPECT_EQ(settings.SlaveId, 9);
    EXPECT_EQ(settings.SaveFileName, "c.csv");
}

TEST_F(SettingsFileTest, SixthLineIsIgnoredAndDroppedAtTheNextSave) {
    ASSERT_TRUE(load(lines("2", "4800", "3", "d.csv") + "[Commport]=4\r\nextra\r\n"));
    EXPECT_EQ(settings.PortNumber, 2);
    ASSERT_TRUE(file.SaveSettings(controls));
    EXPECT_EQ(readFile(), "[Commport]=2\r\n[CommBaud]=4800\r\n[CommHandshaking]=Hardware\r\n"
                          "[CommSlaveID]=3\r\n[DownloadSaveFile]=d.csv\r\n");
}

TEST_F(SettingsFileTest, ShortFileUsesWhatItHolds) {
    ASSERT_TRUE(load("[Commport]=3\r\n[CommBaud]=1200"));
    EXPECT_EQ(settings.PortNumber, 3);
    EXPECT_EQ(settings.BaudText, "1200");
    EXPECT_EQ(controls.slaveIdText, "001");
    EXPECT_EQ(settings.SlaveId, 1);
    EXPECT_EQ(settings.SaveFileName, "Logdata.csv");
    ASSERT_TRUE(load(""));
    EXPECT_EQ(settings.PortNumber, 3);
}

TEST_F(SettingsFileTest, LoneLineFeedsAndCarriageReturnsEndLinesCleanly) {
    ASSERT_TRUE(load("[Commport]=2\n[CommBaud]=2400\n\n[CommSlaveID]=7\n[DownloadSaveFile]=e.csv"));
    EXPECT_EQ(settings.PortNumber, 2);
    EXPECT_EQ(settings.SlaveId, 7);
    EXPECT_EQ(settings.SaveFileName, "e.csv"); // no CR kept at the end
}

TEST_F(SettingsFileTest, BinaryJunkIsReadAsBytesWithoutHarm) {
    QByteArray junk;
    for (int i = 0; i < 4096; ++i) {
        junk.append(char((i * 37 + 11) & 0xFF));
    }
    junk.replace('\n', '\x01');
    EXPECT_TRUE(load(junk));
    EXPECT_GE(controls.portOption, 0);
    EXPECT_LE(controls.portOption, 3);
    EXPECT_EQ(settings.SlaveId, 1);
}

TEST_F(SettingsFileTest, EightBitBytesRoundTrip) {
    const QByteArray name("caf\xe9\x00\x80\xff.csv", 10);
    ASSERT_TRUE(load(lines("1", "38400", "\xb5\x31", name)));
    EXPECT_EQ(settings.SaveFileName, QString::fromLatin1(name));
    ASSERT_TRUE(file.SaveSettings(controls));
    EXPECT_EQ(readFile(), "[Commport]=1\r\n[CommBaud]=38400\r\n[CommHandshaking]=Hardware\r\n"
                          "[CommSlaveID]=\xb5\x31\r\n[DownloadSaveFile]=" +
                              name + "\r\n");
}

TEST_F(SettingsFileTest, LineBreaksInValuesNeverReachTheFile) {
    controls.slaveIdText = "0\r\n17\r\n";
    controls.saveFileText = "\r/data/log\n.csv\r\n";
    ASSERT_TRUE(file.SaveSettings(controls));
    EXPECT_EQ(readFile(), "[Commport]=1\r\n[CommBaud]=38400\r\n[CommHandshaking]=Hardware\r\n"
                          "[CommSlaveID]=017\r\n[DownloadSaveFile]=/data/log.csv\r\n");
    ASSERT_TRUE(load(lines("1", "38400", "1\r7", "a\rb.csv")));
    EXPECT_EQ(controls.slaveIdText, "17");
    EXPECT_EQ(settings.SlaveId, 17);
    EXPECT_EQ(settings.SaveFileName, "ab.csv");
}

// Each line is read as UTF-8 when it is valid UTF-8, else as Latin-1, and what is read
// comes back the same after a save.
TEST_F(SettingsFileTest, ReadsUtf8OrLatin1LinesAndSavesThemToReadBackTheSame) {
    const struct {
        QByteArray bytes;
        QString name;
    } cases[] = {
        {"j\xC3\xB6rg/log.csv", QString::fromUtf8("j\xC3\xB6rg/log.csv")},
        {"j\xF6rg/log.csv", QString::fromUtf8("j\xC3\xB6rg/log.csv")},
        {"\xC3\x83\xC2\xB6.csv", QString::fromUtf8("\xC3\x83\xC2\xB6.csv")},
        {"\xE6\x97\xA5 \xB0.csv", QString::fromLatin1("\xE6\x97\xA5 \xB0.csv")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.toStdString());
        ASSERT_TRUE(load(lines("1", "38400", "001", c.bytes)));
        EXPECT_EQ(settings.SaveFileName, c.name);
        ASSERT_TRUE(file.SaveSettings(controls));
        SettingsControls reloaded;
        ASSERT_TRUE(file.LoadSettings(reloaded, settings));
        EXPECT_EQ(reloaded.saveFileText, c.name);
    }
}

TEST_F(SettingsFileTest, NamesBeyondLatin1SurviveASave) {
    controls.saveFileText = QString::fromUtf8("/daten/\xe6\x97\xa5\xe6\x9c\xac \xc3\xbc.csv");
    ASSERT_TRUE(file.SaveSettings(controls));
    SettingsControls loaded;
    ASSERT_TRUE(file.LoadSettings(loaded, settings));
    EXPECT_EQ(loaded.saveFileText, controls.saveFileText);
    EXPECT_EQ(settings.SaveFileName, controls.saveFileText);
}

TEST_F(SettingsFileTest, MegabyteLineIsReadWholeAndTheNextLinesStillCount) {
    const QByteArray longName(1 << 20, 'n');
    ASSERT_TRUE(load("[Commport]=" + QByteArray(1 << 20, '2') +
                     "\r\n[CommBaud]=2400\r\n\r\n"
                     "[CommSlaveID]=" +
                     QByteArray(1 << 20, ' ') +
                     "8\r\n"
                     "[DownloadSaveFile]=" +
                     longName + "\r\n"));
    EXPECT_EQ(settings.PortNumber, 1);
    EXPECT_EQ(settings.BaudText, "2400");
    EXPECT_EQ(settings.SlaveId, 8);
    EXPECT_EQ(settings.SaveFileName.size(), longName.size());
}

TEST_F(SettingsFileTest, OverlongLineIsCutWithoutShiftingTheLinesAfterIt) {
    ASSERT_TRUE(load("[Commport]=3" + QByteArray(6 << 20, 'x') +
                     "\r\n[CommBaud]=1200\r\n\r\n[CommSlaveID]=4\r\n[DownloadSaveFile]=f\r\n"));
    EXPECT_EQ(settings.PortNumber, 3);
    EXPECT_EQ(settings.BaudText, "1200");
    EXPECT_EQ(settings.SlaveId, 4);
    EXPECT_EQ(settings.SaveFileName, "f");
}

TEST_F(SettingsFileTest, UnopenableFileChangesNothing) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(kSettingsFileName));
    const SettingsControls before = controls;
    const Settings was = settings;
    EXPECT_TRUE(file.exists());
    EXPECT_FALSE(file.LoadSettings(controls, settings));
    EXPECT_EQ(controls.slaveIdText, before.slaveIdText);
    EXPECT_EQ(settings.PortNumber, was.PortNumber);
    EXPECT_FALSE(file.SaveSettings(controls));
    EXPECT_FALSE(file.WriteDefaultSettings());
}

TEST_F(SettingsFileTest, FailedSaveLeavesTheOldFileUntouched) {
    // A file-size limit makes every write fail, for root as well (who ignores permissions).
    writeFile("old contents\r\n");
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = previous;
    tiny.rlim_cur = 8;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const bool saved = file.SaveSettings(controls);
    const bool defaulted = file.WriteDefaultSettings();
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(saved);
    EXPECT_FALSE(defaulted);
    EXPECT_EQ(readFile(), "old contents\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{kSettingsFileName});
}

TEST_F(SettingsFileTest, MissingFolderFailsCleanly) {
    SettingsFile nowhere(dir.path() + "/absent/deeper");
    EXPECT_FALSE(nowhere.exists());
    EXPECT_FALSE(nowhere.WriteDefaultSettings());
    EXPECT_FALSE(nowhere.LoadSettings(controls, settings));
}

TEST(SettingsEndpointTest, PortNumberNamesTheDeviceAndBaudTextItsLeadingNumber) {
    Settings settings{3, QStringLiteral(" 4800 baud"), 1, QString()};
    LinkEndpoint endpoint = settingsEndpoint(settings);
    EXPECT_EQ(endpoint.device, serialDeviceName(3));
    EXPECT_EQ(endpoint.baud, 4800);
    EXPECT_TRUE(endpoint.unusable.isEmpty());

    settings.BaudText = QStringLiteral("fast");
    endpoint = settingsEndpoint(settings);
    EXPECT_EQ(endpoint.baud, 0);
    EXPECT_EQ(endpoint.unusable, QStringLiteral("baud rate \"fast\" is not a number"));
}

} // namespace
} // namespace meterlink
