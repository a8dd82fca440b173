// File, History: the frame's production record in a table, filtered and
// exported through the operator's file choice.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QTableView>
#include <QTimer>

#include "DemoWindow.h"
#include "HistoryDialog.h"
#include "support/TempFolder.h"

namespace spindle::gui {
namespace {

class HistoryDialogTest : public DemoWindowTest {
protected:
    HistoryDialogTest() : DemoWindowTest(true) {}
};

TEST_F(HistoryDialogTest, TheMenuOpensTheRecordFilteredAndExported) {
    CHistoryRecorder& history = window_->Frame().history;
    history.Complete(history.Start({.command = "Program", .serial = "KES10234"}), {.result = HistoryResult::Worked});
    history.Complete(history.Start({.command = "Program", .serial = "OSP05521"}), {.problems = {"write the image"}});
    const test::TempFolder folder;
    const std::string exported = folder.File("failed.csv");
    window_->Ui().fileHook = [&](FileChoice& choice) {
        EXPECT_FALSE(choice.forOpening);
        choice.chosenPath = exported;
        return true;
    };

    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CHistoryDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        seen = true;
        auto* table = dialog->findChild<QTableView*>(QStringLiteral("historyTable"));
        EXPECT_EQ(table->model()->rowCount(), 2);
        dialog->findChild<QComboBox*>(QStringLiteral("historyResult"))->setCurrentText(QStringLiteral("Failed"));
        dialog->findChild<QPushButton*>(QStringLiteral("historyShow"))->click();
        EXPECT_EQ(table->model()->rowCount(), 1);
        EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("historyStatus"))->text().startsWith(QStringLiteral("1 ")));
        const auto& columns = CHistoryBrowser::Columns();
        const int serial = static_cast<int>(std::find(columns.begin(), columns.end(), "Serial") - columns.begin());
        EXPECT_EQ(table->model()->index(0, serial).data().toString(), QStringLiteral("OSP05521"));
        dialog->findChild<QPushButton*>(QStringLiteral("historyExport"))->click();
        EXPECT_EQ(test::ReadWholeFile(exported), dialog->Browser().Csv());
        EXPECT_NE(dialog->Browser().Csv().find("OSP05521"), std::string::npos);
        // A date it cannot read empties the table and says why.
        dialog->findChild<QLineEdit*>(QStringLiteral("historySince"))->setText(QStringLiteral("last week"));
        dialog->findChild<QPushButton*>(QStringLiteral("historyShow"))->click();
        EXPECT_EQ(table->model()->rowCount(), 0);
        EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("historyStatus"))->text().contains(QStringLiteral("last week")));
        dialog->reject();
    });
    window_->findChild<QAction*>(QStringLiteral("menuHistory"))->trigger();
    EXPECT_TRUE(seen);
}

}  // namespace
}  // namespace spindle::gui
