#include "app/close_anyway_question.h"

#include <QDir>
#include <QMessageBox>
#include <QSaveFile>

namespace meterlink {

namespace {

// The save itself keeps no reason; a second attempt that stops short of writing
// anything asks the system again.
QString whyNotWritable(const QString& path) {
    QSaveFile probe(path);
    if (!probe.open(QIODevice::WriteOnly))
        return probe.errorString();
    probe.cancelWriting();
    return QStringLiteral("it could not be written");
}

} // namespace

bool askCloseAnyway(QWidget* parent, const QString& question) {
    return QMessageBox::question(parent, QStringLiteral("Settings not saved"), question,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

QString closeAnywayQuestion(const QString& settingsPath) {
    return QStringLiteral("The settings could not be saved to %1: %2.\n\n"
                          "Close anyway? The port, speed, slave ID and file name of this run "
                          "would be lost.")
        .arg(QDir::toNativeSeparators(settingsPath), whyNotWritable(settingsPath));
}

} // namespace meterlink
