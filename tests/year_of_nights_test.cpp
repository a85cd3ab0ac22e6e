// A year of nightly appends against meterlink-sim, each night drawn from a seed: the log
// grows by a random amount (seams inside a moment's readings and on block edges), is
// restarted, or the night brings what a site brings: a plain download onto the file, the
// CSV or its state edited or deleted, a run killed while it waits for a block, another
// LANG or LC_TIME, or cron's empty environment. After every night the file the state
// points to must hold the meter's log since its last restart exactly once, and no other
// file may have changed.
#include "logger/append_state.h"
#include "logger/csv_export.h"
#include "logger/grid_model.h"
#include "logger/log_reader.h"
#include "logger/record_decoder.h"
#include "sim/meter_log.h"
#include "tests/program_runs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <random>

#include <dlfcn.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace meterlink {
namespace {

constexpr int kNights = 365;
// The cap for one seed's year, in processor time (this test's and that of the programs it
// ran), which a loaded machine does not stretch as it does the clock: a year takes about
// 30 s, and a sanitizer build about four times as long. The sanitizer's runtime is asked
// for rather than a macro, since this file is compiled alike for both builds.
const double kCapProcessorSeconds = dlsym(RTLD_DEFAULT, "__asan_init") != nullptr ? 240 : 60;

double processorSeconds() {
    double seconds = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        ::getrusage(who, &usage);
        seconds += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return seconds;
}

// A log of `bytes` with the simulator's channel names, as a whole download writes it in
// `form`.
QByteArray wholeCsv(const QByteArray& bytes, const CsvForm& form) {
    const MeterLog log;
    GridModel grid;
    LogReader::Head head;
    for (int k = 1; k <= channelCount; ++k) {
        head.names[size_t(k - 1)] = log.channelNames()[size_t(k - 1)];
        head.channelInUse[size_t(k)] = log.channelInUse(k);
    }
    LogReader::writeHeader(grid, head);
    RecordDecoder decoder = formDecoder(grid, form);
    qint32 row = 1;
    for (qsizetype offset = 0; offset < bytes.size(); offset += 1024)
        decoder.DecodeRecord(bytes.mid(offset, 1024), row);
    if (form.isoTimestamps)
        setIsoYears(grid, 2, row, QDate(), QDateTime::currentDateTime());
    return (form.byteOrderMark ? QByteArray("\xEF\xBB\xBF") : QByteArray()) +
           CsvExport(CodePage()).fileBytes(grid, row, head.channelInUse);
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// What tells a file apart without reading it: a file written whole gets a new inode.
struct FileMark {
    qint64 size;
    qint64 inode;
    qint64 modified;
    bool operator==(const FileMark& o) const {
        return size == o.size && inode == o.inode && modified == o.modified;
    }
};

std::map<QString, FileMark> filesIn(const QString& dir) {
    std::map<QString, FileMark> files;
    for (const QString& name : QDir(dir).entryList({"Logdata*"}, QDir::Files)) {
        struct stat st {};
        if (::stat(QFile::encodeName(QDir(dir).filePath(name)).constData(), &st) == 0)
            files[name] = {st.st_size, qint64(st.st_ino),
                           qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    }
    return files;
}

class YearOfNights : public ::testing::TestWithParam<int> {};

TEST_P(YearOfNights, EveryNightEndsWithTheWholeLogOnceInTheStatesFile) {
    const int seed = GetParam();
    std::mt19937 random{quint32(seed)};
    const auto chance = [&](int percent) { return int(random() % 100) < percent; };
    const auto upTo = [&](int n) { return int(random() % quint32(n + 1)); };

    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString dir = temp.path();
    const auto path = [&](const QString& name) { return QDir(dir).filePath(name); };
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    quint32 logSeed = 1000 + quint32(seed);
    int records = 200 + upTo(800);
    Simulator sim(dir, {"--records", QString::number(records), "--seed", QString::number(logSeed),
                        "--control", path("control")});
    ASSERT_TRUE(sim.ready()) << sim.said().toStdString();

    // A first run from a shell; later nights from cron or with other locale settings.
    QProcessEnvironment shell = QProcessEnvironment::systemEnvironment();
    shell.remove("LC_ALL");
    shell.remove("LC_TIME");
    shell.insert("LANG", "en_US.UTF-8");
    QProcessEnvironment otherTime = shell;
    otherTime.insert("LC_TIME", "de_DE.UTF-8");
    const QProcessEnvironment environments[] = {shell, QProcessEnvironment(), otherTime,
                                                cliEnvironment("fr_FR.UTF-8")};
    // Each seed keeps its own options: the locale form, ISO, ISO with a byte-order mark.
    const QStringList options = QStringList{"download", "--append"} +
                                (seed % 3 == 1   ? QStringList{"--timestamps", "iso"}
                                 : seed % 3 == 2 ? QStringList{"--timestamps", "iso", "--bom"}
                                                 : QStringList{});

    QElapsedTimer elapsed;
    elapsed.start();
    const double startedAt = processorSeconds();
    QByteArray leftCsv;
    QByteArray leftState;
    QString leftName;
    bool killedLastNight = false;
    QByteArray logBytes;
    quint32 logBytesSeed = 0;
    for (int night = 1; night <= kNights; ++night) {
        SCOPED_TRACE(QStringLiteral("seed %1, night %2").arg(seed).arg(night).toStdString());
        const QProcessEnvironment env = night == 1 ? shell : environments[upTo(3)];
        QByteArray control;
        const bool kill = night > 1 && !killedLastNight && chance(5);
        if (records > MeterLog::CapacityRecords - 600 || chance(4)) {
            ++logSeed;
            records = 1 + upTo(2000);
        } else {
            records += kill ? 1 + upTo(300) : upTo(500);
            if (chance(15)) // the log ends on a block edge
                records = (records + 127) / 128 * 128;
        }
        control = "records " + QByteArray::number(records) + "\nseed " +
                  QByteArray::number(logSeed) + "\n# night " + QByteArray::number(night) + "\n";
        if (kill) // the head's first-record read, then maybe one block
            control += "stall-after " + QByteArray::number(upTo(1)) + "\n";
        write("control", control);

        // What a technician or a tool does to the files between two nights.
        if (!kill && night > 1) {
            const int event = upTo(99);
            if (event < 4) {
                const CliRun plain = runCli(dir, {"download", "--out", leftName}, env);
                ASSERT_EQ(plain.status, 0) << plain.err.data();
            } else if (event < 8 && !leftCsv.isEmpty()) {
                QByteArray edited = leftCsv;
                edited[upTo(int(edited.size()) - 1)] ^= 1;
                write(leftName, edited);
            } else if (event < 11) {
                QFile::remove(path(leftName));
            } else if (event < 14) {
                QFile::remove(path("Logdata.csv.state"));
            } else if (event < 17) {
                QByteArray edited = leftState;
                edited[upTo(int(edited.size()) - 1)] ^= 1;
                write("Logdata.csv.state", edited);
            }
        }
        const std::map<QString, FileMark> before = filesIn(dir);
        const bool asLeft = night == 1 || (contents(path("Logdata.csv.state")) == leftState &&
                                           contents(path(leftName)) == leftCsv);
        const bool freshStart = !before.count("Logdata.csv.state") && !before.count("Logdata.csv");

        if (kill) {
            QProcess cli;
            startCli(cli, dir, options, env);
            ASSERT_TRUE(sim.waitForLine("meterlink-sim stalled", 60000)) << "no stall";
            cli.kill(); // SIGKILL
            cli.waitForFinished();
            EXPECT_EQ(filesIn(dir), before) << "a killed run changed a file";
            killedLastNight = true;
            continue;
        }
        killedLastNight = false;
        const CliRun run = runCli(dir, options, env);
        ASSERT_TRUE(run.status == 0 || run.status == 6) << run.status << run.err.data();
        EXPECT_EQ(run.status == 6, !asLeft && !freshStart) << run.err.data();

        // The state holds and names a file with the whole log since its last restart.
        QString why;
        const std::map<QString, FileMark> after = filesIn(dir);
        const QByteArray stateText = contents(path("Logdata.csv.state"));
        const auto state = AppendState::parse(stateText, &why);
        ASSERT_TRUE(state.has_value()) << why.toStdString();
        const QByteArray csv = contents(path(state->fileName));
        if (logBytesSeed != logSeed) {
            MeterLog::Generation how;
            how.records = MeterLog::CapacityRecords;
            how.seed = logSeed;
            logBytes = MeterLog::generated(how).bytes(); // a longer log only adds records
            logBytesSeed = logSeed;
        }
        ASSERT_EQ(csv, wholeCsv(logBytes.left(records * MeterLog::RecordBytes), state->form))
            << state->fileName.toStdString() << "\n"
            << run.out.data() << run.err.data();
        if (run.status == 6 || state->fileName != leftName) {
            EXPECT_TRUE(
                run.out.contains("Finished. Data in new file " + state->fileName.toUtf8() + "\n") ||
                freshStart)
                << run.out.data();
        }
        // Every other file is as it was; the one appended to kept its rows before the seam.
        for (const auto& [name, mark] : before) {
            if (name == state->fileName || name == QLatin1String("Logdata.csv.state"))
                continue;
            EXPECT_TRUE(after.count(name) && after.at(name) == mark) << name.toStdString();
        }
        if (asLeft && state->fileName == leftName && run.status == 0 && night > 1) {
            const auto old = AppendState::parse(leftState, &why);
            ASSERT_TRUE(old.has_value());
            EXPECT_TRUE(csv.startsWith(leftCsv.left(old->seamOffset)));
        }
        leftName = state->fileName;
        leftCsv = csv;
        leftState = stateText;
        ASSERT_LT(processorSeconds() - startedAt, kCapProcessorSeconds) << "the year took too long";
    }
    std::printf("seed %d: %d nights in %.1f s, %.1f s of processor time\n", seed, kNights,
                double(elapsed.elapsed()) / 1000, processorSeconds() - startedAt);
}

INSTANTIATE_TEST_SUITE_P(ThreeSeeds, YearOfNights, ::testing::Values(1, 2, 3));

} // namespace
} // namespace meterlink
