#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace meterlink {

// Takes a question that is still shown away unanswered; its answer then never comes.
using WithdrawQuestion = std::function<void()>;

// Asked when the window is closed or left by Exit while a download runs. It must not wait
// for the reply: the download lets events run inside its waits, and a nested loop there
// would hold the download's stack until the user answers. `answer` is called at most once,
// later, with true for "stop it and quit". The window takes one of these so tests can answer.
using StopDownloadQuestion = std::function<WithdrawQuestion(
    QWidget* parent, const QString& question, std::function<void(bool stop)> answer)>;

// A question box in front of `parent` that blocks its input but not its event loop.
WithdrawQuestion askStopDownload(QWidget* parent, const QString& question,
                                 std::function<void(bool stop)> answer);

inline QString stopDownloadQuestion() {
    return QStringLiteral("A download is running. Stop it and quit?");
}

} // namespace meterlink
