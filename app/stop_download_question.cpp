#include "app/stop_download_question.h"

#include <QMessageBox>
#include <QPointer>

namespace meterlink {

WithdrawQuestion askStopDownload(QWidget* parent, const QString& question,
                                 std::function<void(bool stop)> answer) {
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Download running"), question,
                                QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [answer = std::move(answer)](int result) {
        answer(result == QMessageBox::Yes);
    });
    box->open(); // window-modal, returns at once
    return [shown = QPointer<QMessageBox>(box)] {
        if (!shown)
            return;
        QObject::disconnect(shown, &QMessageBox::finished, nullptr, nullptr);
        shown->close();
    };
}

} // namespace meterlink
