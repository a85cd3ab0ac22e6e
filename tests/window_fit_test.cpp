// Run by CTest once at each of two scale factors and in two locales (QT_SCALE_FACTOR and
// LC_ALL are read when the QApplication starts).
#include "app/dwn_load1.h"
#include "app/record_grid.h"
#include "app/text_fit.h"
#include "window_test_world.h"
#include "wired_window.h"

#include <QAbstractItemDelegate>
#include <QAbstractItemModel>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QStyleOptionViewItem>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>

#include "qt_application_environment.h"

#include <gtest/gtest.h>

#include <memory>

namespace meterlink {
namespace {

[[maybe_unused]] ::testing::Environment* const qtApplication =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

QString withoutMnemonic(QString text) {
    return text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
}

class WindowFit : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        MeterLog::Generation how;
        how.records = 300;
        MeterLog log = MeterLog::generated(how);
        log.setChannelName(2, QString(32, QLatin1Char('W'))); // the widest glyph, whole name
        world.meter.setLog(log);
        window = std::make_unique<WiredWindow>(
            settings, SettingsFile(dir.path()), world.link, world.pump, world.grid,
            [](QWidget*, const SaveFileRequest&) { return std::optional<QString>(); });
        window->findChild<QLineEdit*>(QStringLiteral("Text2"))->setText(dir.filePath("log.csv"));
        window->show();
    }

    // Where a text does not fit: the widget's name and what does not fit, one line each.
    void expectFits(bool fits, const QWidget* widget, const QString& text) {
        if (!fits)
            misfits << QStringLiteral("%1: \"%2\"").arg(widget->objectName(), text);
    }

    void walk(QWidget* widget) {
        if (!widget->isVisibleTo(window.get()))
            return;
        const QFontMetrics metrics = widget->fontMetrics();
        if (auto* box = qobject_cast<QLineEdit*>(widget)) {
            const QSize room = textRoom(box);
            expectFits(metrics.height() <= room.height(), box, QStringLiteral("(height)"));
            // What the user types may be longer than its box: then it shows its start and
            // carries the whole text in its tooltip. The display lines are the meter's and
            // must show whole.
            const bool whole = metrics.horizontalAdvance(box->text()) <= room.width();
            const bool startShown = box->cursorPosition() == 0 && box->toolTip() == box->text();
            expectFits(whole || (!box->isReadOnly() && startShown), box, box->text());
        } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
            const QString text = withoutMnemonic(button->text());
            const QSize room = captionRoom(button);
            expectFits(metrics.horizontalAdvance(text) <= room.width() &&
                           metrics.height() <= room.height(),
                       button, text);
        } else if (auto* option = qobject_cast<QRadioButton*>(widget)) {
            QStyleOptionButton style;
            style.initFrom(option);
            style.text = option->text();
            const QRect room =
                option->style()->subElementRect(QStyle::SE_RadioButtonContents, &style, option);
            expectFits(metrics.horizontalAdvance(option->text()) <= room.width() &&
                           metrics.height() <= room.height(),
                       option, option->text());
        } else if (auto* label = qobject_cast<QLabel*>(widget)) {
            const QRect room = label->contentsRect();
            const bool fits = label->wordWrap()
                                  ? label->heightForWidth(room.width()) <= room.height()
                                  : metrics.horizontalAdvance(label->text()) <= room.width() &&
                                        metrics.height() <= room.height();
            expectFits(label->text().isEmpty() || fits, label, label->text());
        } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
            expectFits(frame->minimumSizeHint().width() <= frame->width(), frame, frame->title());
        } else if (auto* tabs = qobject_cast<QTabBar*>(widget)) {
            const int padding = tabs->style()->pixelMetric(QStyle::PM_TabBarTabHSpace);
            for (int i = 0; i < tabs->count(); ++i)
                expectFits(metrics.horizontalAdvance(tabs->tabText(i)) + padding <=
                               tabs->tabRect(i).width(),
                           tabs, tabs->tabText(i));
        } else if (auto* grid = qobject_cast<RecordGrid*>(widget)) {
            walkGrid(grid);
        }
        for (QWidget* child : widget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            walk(child);
    }

    // The headings, and the cells of the rows in view.
    void walkGrid(RecordGrid* grid) {
        const QAbstractItemModel* shown = grid->model();
        QStyleOptionViewItem cell;
        cell.initFrom(grid->viewport());
        cell.widget = grid;
        cell.font = grid->font();
        const int gridLine = grid->showGrid() ? 1 : 0;
        const int firstRow = grid->rowAt(0);
        const int lastRow = grid->rowAt(grid->viewport()->height() - 1);
        ASSERT_GE(firstRow, 2);
        for (int column = 1; column < shown->columnCount(); ++column) {
            const QString heading = shown->headerData(column, Qt::Horizontal).toString();
            expectFits(grid->horizontalHeader()->sectionSizeHint(column) <=
                           grid->columnWidth(column),
                       grid, heading);
            for (int row = firstRow; row <= lastRow; ++row) {
                const QModelIndex index = shown->index(row, column);
                const int needed =
                    grid->itemDelegateForIndex(index)->sizeHint(cell, index).width() + gridLine;
                expectFits(needed <= grid->columnWidth(column), grid, index.data().toString());
            }
        }
        const QString corner = grid->cornerText();
        QFont cornerFont =
            shown->headerData(RecordGrid::HeadingRow, Qt::Vertical, Qt::FontRole).value<QFont>();
        const int margin = grid->style()->pixelMetric(QStyle::PM_HeaderMargin);
        expectFits(QFontMetrics(cornerFont).horizontalAdvance(corner) + 2 * margin <=
                       grid->verticalHeader()->width(),
                   grid, corner);
    }

    QTemporaryDir dir;
    Settings settings;
    WindowLinkWorld world{settings};
    std::unique_ptr<DwnLoad1> window;
    QStringList misfits;
};

TEST_F(WindowFit, EveryTextFitsItsControlAfterADownload) {
    window->findChild<QPushButton*>(QStringLiteral("Command2"))->click();
    ASSERT_EQ(window->findChild<QLabel*>(QStringLiteral("Label4"))->text(),
              "Finished. Data in File");
    ASSERT_EQ(window->findChild<QLineEdit*>(QStringLiteral("Text3_1"))->text(),
              QString(32, QLatin1Char('W')));
    // The longest kind of failure reason: a device path and what the system said.
    const QString reason = QStringLiteral(
        "No answer from slave 247 at 38400 baud after 3 sends; write failed: device "
        "disappeared: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0: "
        "Input/output error");
    window->findChild<QLabel*>(QStringLiteral("DownloadReason"))
        ->setText(QStringLiteral("Reading channel 8: ") + reason);
    window->findChild<QLabel*>(QStringLiteral("DisplayNoAnswer"))
        ->setText(QStringLiteral("The meter does not answer: ") + reason);
    // A file name longer than its box.
    window->findChild<QLineEdit*>(QStringLiteral("Text2"))
        ->setText(QStringLiteral("/home/technician/meter logs/site 14 north/") +
                  QString(40, QLatin1Char('W')) + QStringLiteral(".csv"));

    auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("SSTab1"));
    walk(tabs->tabBar());
    for (int tab = 0; tab < tabs->count(); ++tab) {
        // A tab's widgets are laid out the same whether it is shown or not.
        tabs->setCurrentIndex(tab);
        // The meter's widest display line (entering its tab blanks the lines).
        window->findChild<QLineEdit*>(QStringLiteral("Text4_0"))
            ->setText(QString(20, QLatin1Char('W')));
        walk(tabs->widget(tab));
    }
    EXPECT_TRUE(misfits.isEmpty()) << misfits.join(QLatin1Char('\n')).toStdString();
}

} // namespace
} // namespace meterlink
