// File, History: the production record in a table, filtered and exported.
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

using HistoryDialogTest = DemoWindowTest;

template <typename T = QPushButton>
T* Child(QWidget* dialog, const char* name) { return dialog->findChild<T*>(QString::fromLatin1(name)); }

TEST_F(HistoryDialogTest, TheMenuOpensTheRecordFilteredAndExported) {
    StartWindow();
    CHistoryRecorder& history = window_->Frame().history;
    history.Complete(history.Start({.serial = "KES10234"}), {.result = HistoryResult::Worked});
    history.Complete(history.Start({.serial = "OSP05521"}), {.problems = {"write the image"}});
    const test::TempFolder folder;
    window_->Ui().fileHook = [&](FileChoice& choice) {
        choice.chosenPath = folder.File("failed.csv");
        return !choice.forOpening;
    };
    CHistoryDialog* dialog = nullptr;
    QTimer::singleShot(0, [&] {
        dialog = qobject_cast<CHistoryDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        const QAbstractItemModel& table = *Child<QTableView>(dialog, "historyTable")->model();
        EXPECT_EQ(table.rowCount(), 2);
        Child<QComboBox>(dialog, "historyResult")->setCurrentText(QStringLiteral("Failed"));
        Child(dialog, "historyShow")->click();
        EXPECT_EQ(table.rowCount(), 1);
        EXPECT_EQ(table.index(0, 5).data().toString(), QStringLiteral("OSP05521"));  // the Serial column
        Child(dialog, "historyExport")->click();
        EXPECT_EQ(test::ReadWholeFile(folder.File("failed.csv")), dialog->Browser().Csv());
        // A date it cannot read empties the table and says why.
        Child<QLineEdit>(dialog, "historySince")->setText(QStringLiteral("last week"));
        Child(dialog, "historyShow")->click();
        EXPECT_TRUE(table.rowCount() == 0 && Child<QLabel>(dialog, "historyStatus")->text().contains("last week"));
        dialog->reject();
    });
    window_->findChild<QAction*>(QStringLiteral("menuHistory"))->trigger();
    EXPECT_NE(dialog, nullptr);
}

}  // namespace
}  // namespace spindle::gui
