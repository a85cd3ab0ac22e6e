#pragma once

#include "settings/settings.h"
#include "settings/settings_controls.h"

#include <QString>

namespace meterlink {

inline constexpr char kSettingsFileName[] = "6040dwn.ini";

// The five-line key=value file that keeps the link settings from one run to the next.
// It lives in one directory (the current one in the program, a temporary one in tests);
// it is open only while one of the routines runs.
class SettingsFile {
public:
    explicit SettingsFile(QString directory = QStringLiteral("."));

    const QString& directory() const { return directory_; }
    QString path() const;
    bool exists() const;

    // Each writer replaces the file whole or leaves the old one untouched; false when the
    // file could not be written.
    bool WriteDefaultSettings() const;
    bool SaveSettings(const SettingsControls& controls) const;

    // Fills what the file holds into both; a line without its key, or missing, leaves that
    // setting as it was, so callers put the design-time values in force first.
    // False when the file could not be opened; nothing is changed then.
    bool LoadSettings(SettingsControls& controls, Settings& settings) const;

private:
    QString directory_;
};

// The text without CR and LF: a value holding one would shift the file's lines (a copied
// spreadsheet cell brings one along).
QString singleLineValue(const QString& text);

// The settings variables that agree with what the controls show.
void putInForce(const SettingsControls& controls, Settings& settings);

} // namespace meterlink
