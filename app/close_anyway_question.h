#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace meterlink {

// Asked when the settings file could not be written at shut-down: true lets the window
// close (the settings of this run are lost), false keeps it open. The window takes one of
// these so tests can answer without a modal dialog.
using CloseAnywayQuestion = std::function<bool(QWidget* parent, const QString& question)>;

bool askCloseAnyway(QWidget* parent, const QString& question);

// The question, naming the file and what the system said about writing it.
QString closeAnywayQuestion(const QString& settingsPath);

} // namespace meterlink
