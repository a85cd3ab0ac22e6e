// Arbitrary bytes as the settings file: loading never fails on content, and what is saved
// from it reads back to the same controls and the same file.

#include "fuzz/fuzz_check.h"
#include "settings/settings_file.h"

#include <QFile>
#include <QTemporaryDir>

using namespace meterlink;

namespace {

bool sameControls(const SettingsControls& a, const SettingsControls& b) {
    return a.portOption == b.portOption && a.baudOption == b.baudOption &&
           a.flowOption == b.flowOption && a.slaveIdText == b.slaveIdText &&
           a.saveFileText == b.saveFileText;
}

bool sameSettings(const Settings& a, const Settings& b) {
    return a.PortNumber == b.PortNumber && a.BaudText == b.BaudText && a.SlaveId == b.SlaveId &&
           a.SaveFileName == b.SaveFileName;
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One directory for the whole run: making one per input would measure mkdir.
    static QTemporaryDir directory;
    fuzzCheck(directory.isValid(), "a temporary directory");
    const SettingsFile file(directory.path());
    {
        QFile out(file.path());
        fuzzCheck(out.open(QIODevice::WriteOnly | QIODevice::Truncate), "the input is written");
        out.write(reinterpret_cast<const char*>(data), qint64(size));
    }

    SettingsControls controls;
    Settings settings;
    putInForce(controls, settings);
    fuzzCheck(file.LoadSettings(controls, settings), "any content loads");
    fuzzCheck(controls.portOption >= 0 && controls.portOption < kPortOptionCount,
              "a port option is selected");
    fuzzCheck(controls.baudOption >= 0 && controls.baudOption < int(kBaudCaptions.size()),
              "a baud option is selected");
    fuzzCheck(settings.PortNumber >= 1 && settings.PortNumber <= 4, "the port is 1 to 4");

    fuzzCheck(file.SaveSettings(controls), "the settings are saved");
    const QByteArray saved = contents(file.path());
    fuzzCheck(saved.count("\r\n") >= 5, "five lines are saved");

    SettingsControls reloadedControls;
    Settings reloaded;
    putInForce(reloadedControls, reloaded);
    fuzzCheck(file.LoadSettings(reloadedControls, reloaded), "the saved file loads");
    fuzzCheck(sameControls(controls, reloadedControls), "the controls survive a save");
    Settings inForce;
    putInForce(controls, inForce);
    fuzzCheck(sameSettings(inForce, reloaded), "the settings survive a save");

    fuzzCheck(file.SaveSettings(reloadedControls), "the settings are saved again");
    fuzzCheck(contents(file.path()) == saved, "saving is stable");
    return 0;
}
