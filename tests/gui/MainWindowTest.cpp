// The window's wiring: what the core's frame holds must show in the widgets,
// and the operator's gestures must reach the frame. The commands' logic is
// tested with the core.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QDockWidget>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMenu>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <atomic>
#include <fstream>
#include <thread>

#include "CommandLine.h"
#include "DemoWindow.h"
#include "LeftView.h"
#include "SpindleView.h"
#include "app/ApplicationProfile.h"
#include "app/FeatureUnlock.h"
#include "platform/INIFileSupport.h"
#include "protocol/ValueEditors.h"
#include "widgets/ProgressBar.h"

namespace spindle::gui {
namespace {

constexpr const char* kKestrelLabel = "[0] Kestrel - KES10234 ";

class MainWindowTest : public DemoWindowTest {
protected:
    void TearDown() override { QApplication::clipboard()->clear(); }

    void Unlock(const QString& code) {
        onDialog = [code](CDialogModel&, QDialog& dialog) {
            Find(dialog, CUnlockDlg::kCodeControlId)->setText(code);
            return mb::kIdOk;
        };
        window_->MenuAction(cmd::kUnlockFeatures)->trigger();
        onDialog = nullptr;
        QApplication::processEvents();  // bars lay their buttons out from the event loop
    }

    // Every column of the window's lists, and every label shown, is at
    // least as wide as its text.
    static void ExpectNothingCut(QWidget& window) {
        for (QTreeWidget* view : window.findChildren<QTreeWidget*>()) {
            if (!view->isVisible()) continue;
            for (int column = 0; column < view->columnCount(); ++column) {
                const int needed = static_cast<QAbstractItemView*>(view)->sizeHintForColumn(column);
                EXPECT_GE(view->columnWidth(column), needed) << column;
                EXPECT_LE(view->header()->sectionViewportPosition(column) + needed, view->viewport()->width()) << column;
            }
        }
        for (QLabel* label : window.findChildren<QLabel*>()) {
            if (!label->isVisible() || label->wordWrap()) continue;
            EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance(label->text()));
        }
    }

    static int FindRow(CSpindleView& view, const QString& prefix) {
        for (int i = 0; i < view.topLevelItemCount(); ++i) {
            if (view.topLevelItem(i)->text(0).startsWith(prefix)) return i;
        }
        return -1;
    }
};

TEST_F(MainWindowTest, StartsWithTheDemoTreeBothBarsAndTheCountdown) {
    CMainWindow& window = StartWindow();
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("Lumora, Inc. Spindle \u2014 simulated bench"));
    // The tree is filled at once: root and categories expanded, nothing cut.
    CLeftView& tree = *window.TreeView();
    int items = 0;
    for (QTreeWidgetItemIterator it(&tree); *it != nullptr; ++it, ++items) {
        const bool rootOrCategory = (*it)->parent() == nullptr || (*it)->parent()->parent() == nullptr;
        EXPECT_TRUE(!rootOrCategory || (*it)->isExpanded()) << (*it)->text(0).toStdString();
    }
    EXPECT_TRUE(items == window.Frame().Tree().Count() && tree.currentItem() == nullptr);
    ExpectNothingCut(window);

    // No flags: manufacturing bar hidden, 16-point status bar,
    // countdown running, device panes shut, the Data column to the edge.
    EXPECT_FALSE(window.Bar(bar::kManufacturing)->isVisible());
    EXPECT_EQ(QFontInfo(window.statusBar()->font()).pointSize(), 16);
    EXPECT_TRUE(window.Ui().IsTimerRunning(999));
    for (int pane = 1; pane <= 8; ++pane) EXPECT_FALSE(window.DevicePane(pane)->isVisible());
    EXPECT_EQ(window.ListView()->columnWidth(0) + window.ListView()->columnWidth(1),
              window.ListView()->viewport()->width());
}

TEST_F(MainWindowTest, SelectingDevicesFillsTheListAndTheTreeCopiesItsLabel) {
    CMainWindow& window = StartWindow();
    CSpindleView& list = *window.ListView();
    ASSERT_TRUE(window.SelectTreeItem(QString::fromLatin1(kKestrelLabel)));
    const CValueList& model = window.Frame().List();
    ASSERT_GT(model.RowCount(), 10);
    ASSERT_EQ(list.topLevelItemCount(), model.RowCount());
    for (int i = 0; i < model.RowCount(); ++i) {
        EXPECT_EQ(list.topLevelItem(i)->text(0).toStdString(), model.GetText(i, 0));
        EXPECT_EQ(list.topLevelItem(i)->text(1).toStdString(), model.GetText(i, 1));
    }
    // Copy (between the greyed Cut and Paste) copies the selected item.
    std::unique_ptr<QMenu> menu(window.TreeView()->CreateContextMenu(&window));
    menu->actions().at(1)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromLatin1(kKestrelLabel));
    ASSERT_TRUE(window.SelectTreeItem(QStringLiteral("Kestrel Devices")));
    EXPECT_EQ(list.topLevelItemCount(), 0);

    // Buttons another device left enabled say why they do nothing here.
    for (const char* device : {"Lantern - LAN00231", "[6] Falcon - FAL01204", "[2] Heron - HER00417"}) {
        ASSERT_TRUE(window.SelectTreeItem(QString::fromLatin1(device)));
    }
    messages_.clear();
    for (int id : {cmd::kCalibrate, cmd::kPsocDiags}) window.Button(id)->click();
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_TRUE(messages_[0].contains(QStringLiteral("HER00417 has no Lantern calibration")) &&
                messages_[1].contains(QStringLiteral("HER00417 has no PSOC diagnostics page")));
}

TEST_F(MainWindowTest, ListGesturesOpenTheEditorsLockedOutsideManufacturing) {
    CMainWindow& window = StartWindow();
    ASSERT_TRUE(window.SelectTreeItem(QString::fromLatin1(kKestrelLabel)));
    CSpindleView& list = *window.ListView();
    // Double-click on a configuration string: value greyed, note shown,
    // countdown held while the dialog is up.
    onDialog = [&](CDialogModel&, QDialog& dialog) {
        EXPECT_FALSE(Find(dialog, CEditValueDlg::kValueControlId)->isEnabled() ||
                     Find<QLabel>(dialog, CEditValueDlg::kNoteControlId)->isHidden() || window.Ui().IsTimerRunning(999));
        return mb::kIdCancel;
    };
    const QRect config = list.visualItemRect(list.topLevelItem(FindRow(list, QStringLiteral("  Configuration String 1"))));
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, config.center());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, config.center());
    ASSERT_EQ(dialogsShown_, std::vector<QString>{QStringLiteral("Edit Stored Value")});
    EXPECT_TRUE(window.Ui().IsTimerRunning(999));

    // Enter on the serial number: editable, and OK writes the row in bold.
    onDialog = [&](CDialogModel&, QDialog& dialog) {
        EXPECT_TRUE(Find(dialog, CEditValueDlg::kValueControlId)->isEnabled() &&
                    Find<QLabel>(dialog, CEditValueDlg::kNoteControlId)->isHidden());
        Type(dialog, CEditValueDlg::kValueControlId, "KES99999");
        return mb::kIdOk;
    };
    const int serial = FindRow(list, QStringLiteral("  Serial Number"));
    list.setCurrentItem(list.topLevelItem(serial));
    QTest::keyClick(&list, Qt::Key_Return);
    ASSERT_EQ(dialogsShown_.size(), 2u);
    EXPECT_TRUE(list.topLevelItem(serial)->text(1) == QStringLiteral("KES99999") && list.topLevelItem(serial)->font(1).bold());
    EXPECT_FALSE(list.topLevelItem(serial - 1)->font(1).bold());

    // A click on another device, then Cancel in "Save changes to ...?": the
    // tree goes back to the device whose edits the list holds.
    window.Ui().messageHook = [this](const QString& text, const QString&, unsigned) {
        messages_.push_back(text);
        return mb::kIdCancel;
    };
    CLeftView& tree = *window.TreeView();
    QTreeWidgetItem* osprey = tree.WidgetItem(window.Frame().Tree().Find("[3] Osprey - OSP05521 "));
    ASSERT_NE(osprey, nullptr);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(osprey).center());
    QApplication::processEvents();
    ASSERT_FALSE(messages_.empty());
    EXPECT_TRUE(messages_.back().startsWith(QStringLiteral("Save changes to"))) << messages_.back().toStdString();
    EXPECT_EQ(tree.currentItem()->text(0), QString::fromLatin1(kKestrelLabel));
    EXPECT_TRUE(tree.currentItem()->isSelected());
}

TEST_F(MainWindowTest, TheTreeFollowsTheBusKeepingTheSelectionButNeverDroppingAnEdit) {
    CMainWindow& window = StartWindow();
    CLeftView& tree = *window.TreeView();
    CSpindleView& list = *window.ListView();
    const auto listed = [&](const char* label) { return window.Frame().Tree().Find(label) != CDeviceTree::kNoItem; };
    ASSERT_TRUE(window.SelectTreeItem(QString::fromLatin1(kKestrelLabel)));
    // Another device unplugged: the next tick refreshes the tree, and the
    // Kestrel stays selected with its values.
    bench_->RemoveDevice(3);
    window.Ui().FireTimer(999);
    ASSERT_FALSE(listed("[3] Osprey - OSP05521 ") || tree.currentItem() == nullptr);
    EXPECT_TRUE(tree.currentItem()->text(0) == QString::fromLatin1(kKestrelLabel) && list.topLevelItemCount() > 10);

    // With an edit not yet saved the tree waits, and says so, tick after tick.
    onDialog = [&](CDialogModel&, QDialog& dialog) {
        Type(dialog, CEditValueDlg::kValueControlId, "KES99999");
        return mb::kIdOk;
    };
    list.setCurrentItem(list.topLevelItem(FindRow(list, QStringLiteral("  Serial Number"))));
    QTest::keyClick(&list, Qt::Key_Return);
    bench_->RemoveDevice(2);
    window.Ui().FireTimer(999);
    window.Ui().FireTimer(999);
    EXPECT_TRUE(listed("[2] Heron - HER00417 ") && window.Frame().List().Modified());
    EXPECT_TRUE(window.MessagePane()->text().endsWith(
        QStringLiteral("refreshed once the changes to [0] Kestrel - KES10234 are saved or dropped.")))
        << window.MessagePane()->text().toStdString();
    // Saved: the next tick refreshes, and the Kestrel, under its new serial,
    // is still the one selected.
    window.Dispatch(cmd::kSaveAllValues);
    window.Ui().FireTimer(999);
    ASSERT_FALSE(listed("[2] Heron - HER00417 ") || tree.currentItem() == nullptr);
    EXPECT_TRUE(tree.currentItem()->text(0).startsWith(QStringLiteral("[0] Kestrel")));

    // A tick while a command's box is up (in the box's event loop) leaves
    // the tree alone until the command is done.
    bool listedDuringBox = false;
    window.Ui().messageHook = [&](const QString&, const QString&, unsigned) {
        bench_->RemoveDevice(4);
        window.Ui().FireTimer(999);
        listedDuringBox = listed("[4] Kestrel+ - KSP00312 ");
        return mb::kIdOk;
    };
    window.Dispatch(cmd::kCalibrate);
    EXPECT_TRUE(listedDuringBox);

    // The selected device unplugged: nothing is selected, the list is empty.
    bench_->RemoveDevice(0);
    window.Ui().FireTimer(999);
    EXPECT_FALSE(listed("[4] Kestrel+ - KSP00312 ") || tree.currentItem() != nullptr || list.topLevelItemCount() > 0);
}

TEST_F(MainWindowTest, PlacementBarStatesAndWidthsSurviveARestart) {
    {
        CMainWindow& window = StartWindow();
        Unlock(QStringLiteral("TOLMIDEXN"));
        window.addToolBar(Qt::BottomToolBarArea, window.Bar(bar::kManufacturing));
        window.setGeometry(40, 50, 900, 560);
        window.Splitter()->setSizes({230, 600});
        window.ListView()->setColumnWidth(0, 260);
        ASSERT_TRUE(window.close());
    }
    CApplicationProfile profile;
    EXPECT_EQ(profile.ReadBarState("ManufacturingBars"), "Area=Bottom;Visible=1;Row=0");
    EXPECT_EQ(profile.ReadBarState("MainBars"), "Area=Top;Visible=1;Row=0");
    {
        CMainWindow& window = StartWindow();
        EXPECT_EQ(window.toolBarArea(window.Bar(bar::kManufacturing)), Qt::BottomToolBarArea);
        EXPECT_TRUE(window.Bar(bar::kManufacturing)->isVisible());
        // Saved and restored as the client area: not a title bar lower.
        EXPECT_EQ(window.normalGeometry(), QRect(40, 50, 900, 560));
        EXPECT_EQ(window.Splitter()->sizes().constFirst(), 230);
        EXPECT_EQ(window.ListView()->columnWidth(0), 260);
        EXPECT_NE(QFontInfo(window.statusBar()->font()).pointSize(), 16) << "manufacturing keeps the default font";
        window.showMaximized();
        QApplication::processEvents();
        ASSERT_TRUE(window.close());
    }
    EXPECT_EQ(profile.ReadWindowPlacement()->flags, 2u);
    EXPECT_TRUE(StartWindow().StartMaximized());
}

TEST_F(MainWindowTest, ADayOfJobsInManufacturingModeLosesNothingAndCutsNoText) {
    CMainWindow& window = StartWindow();
    window.resize(1100, 700);
    Unlock(QStringLiteral("TOLMIDEXN"));
    // The bar comes with Ibis Extra, which a Refresh Tree leaves there.
    window.Dispatch(cmd::kRefreshTree);
    QApplication::processEvents();
    QToolBar* manufacturing = window.Bar(bar::kManufacturing);
    EXPECT_TRUE(manufacturing->isVisible() && window.Button(cmd::kIbisExtra)->isVisible());
    EXPECT_FALSE(window.Button(cmd::kLinearityCoefs)->isVisible());
    const int barHeight = manufacturing->height();
    const QPoint treeAt = window.TreeView()->mapTo(&window, QPoint(0, 0));
    ASSERT_TRUE(window.SelectTreeItem(QString::fromLatin1(kKestrelLabel)));
    const std::string image = configDir_.filePath(QStringLiteral("Kestrel.iic")).toStdString();
    std::ofstream(image, std::ios::binary) << '\xB2' << std::string(16383, '\x5A');
    std::string chosen = configDir_.filePath(QStringLiteral("empty.iic")).toStdString(), openedIn;
    std::ofstream{chosen};
    window.Ui().fileHook = [&](FileChoice& choice) {
        openedIn = choice.initialFolder;
        choice.chosenPath = chosen;
        return true;
    };
    // An image refused by its checks costs nothing: no question about the
    // coefficients, and Verify stays.
    window.Dispatch(cmd::kProgram);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].contains(QStringLiteral("is empty"))) << messages_[0].toStdString();
    EXPECT_TRUE(window.Button(cmd::kVerify)->isVisible());

    // Two jobs held at their first request, one on a device without a pane
    // of its own; the second file dialog opens where the first file was.
    gate_->Hold();
    chosen = image;
    messages_.clear();
    window.Dispatch(cmd::kProgram);
    EXPECT_TRUE(messages_.at(0).startsWith(QStringLiteral("Reset: Would you like to reset coefficients?")));
    QApplication::processEvents();  // the bar lays its buttons out from the event loop
    EXPECT_FALSE(window.Button(cmd::kVerify)->isVisible());
    // Even emptied, the bar keeps its height: nothing moves under the pointer.
    window.ShowButton(cmd::kIbisExtra, false);
    QApplication::processEvents();
    EXPECT_EQ(manufacturing->height(), barHeight);
    EXPECT_EQ(window.TreeView()->mapTo(&window, QPoint(0, 0)), treeAt);
    EXPECT_TRUE(window.DevicePane(1)->IsPaneOpen());
    window.JobsDock()->close();
    ASSERT_TRUE(window.SelectTreeItem(QStringLiteral("[11] Wren - WRN00913")));
    window.Dispatch(cmd::kProgram);
    EXPECT_EQ(openedIn, configDir_.path().toStdString());
    EXPECT_TRUE(window.JobsDock()->isVisible()) << "a closed panel comes back with the next job";
    EXPECT_TRUE(window.JobsPane()->isVisible() && window.JobsPane()->text() == QStringLiteral("2 jobs running"));

    // No close box and no Exit; a close is refused with the jobs and the
    // time they have left.
    window.Ui().FireTimer(999);
    EXPECT_FALSE(window.windowFlags().testFlag(Qt::WindowCloseButtonHint) || window.MenuAction(cmd::kAppExit)->isEnabled());
    messages_.clear();
    EXPECT_FALSE(window.close());
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].contains(QStringLiteral("device 0: EEPROM job, about 0:03 left")) &&
                messages_[0].contains(QStringLiteral("device 11: EEPROM job")))
        << messages_[0].toStdString();

    // Past their estimates the jobs are finishing, in the panes and the panel.
    for (int tick = 0; tick < 3; ++tick) window.Ui().FireTimer(999);
    EXPECT_EQ(window.DevicePane(1)->Text(), QStringLiteral("Dev 0 finishing"));
    EXPECT_EQ(window.JobsPanel()->topLevelItem(0)->text(3), QStringLiteral("finishing"));

    // At 1100 x 700, with a list of long labels and the jobs finishing (one
    // showing the longest phase), no column, label or button is too narrow
    // for its text.
    ASSERT_TRUE(window.SelectTreeItem(QStringLiteral("[4] Kestrel+ - KSP00312")));
    window.Frame().jobs[11].Enter(JobPhase::Settling, 0);
    window.RefreshJobs();
    QApplication::processEvents();
    ExpectNothingCut(window);
    // A worker's box is shown by the window's thread, as wide as its title
    // and the title bar's buttons, and the worker gets the answer.
    window.Ui().messageHook = nullptr;
    QTimer answer;
    bool shown = false;
    answer.callOnTimeout([&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        shown = true;
        EXPECT_GE(box->width(), box->fontMetrics().horizontalAdvance(box->windowTitle()) + 100);
        box->button(QMessageBox::Ok)->click();
    });
    answer.start(1);
    std::atomic<int> answered{0};
    std::thread worker([&] { answered = window.Ui().MessageBox("BULK_OUT failed.", "USB Warning!", mb::kOk); });
    for (int i = 0; i < 500 && answered == 0; ++i) QTest::qWait(10);
    worker.join();
    EXPECT_TRUE(shown && answered == mb::kIdOk);

    gate_->Release();
    window.Frame().WaitForJobs();
    window.Ui().FireTimer(999);
    QApplication::processEvents();
    EXPECT_TRUE(window.Button(cmd::kVerify)->isVisible() && window.MenuAction(cmd::kAppExit)->isEnabled());
    EXPECT_FALSE(window.DevicePane(1)->IsPaneOpen() || window.JobsPane()->isVisible());
    ASSERT_EQ(window.JobsPanel()->topLevelItemCount(), 2);
    EXPECT_EQ(window.JobsPanel()->topLevelItem(0)->text(4), QStringLiteral("succeeded, verified"));
    EXPECT_TRUE(window.close());
}

TEST_F(MainWindowTest, ALongCommandKeepsTheWindowAliveAndHoldsOffInput) {
    CMainWindow& window = StartWindow();
    ASSERT_TRUE(window.SelectTreeItem(QStringLiteral("[3] Osprey - OSP05521 ")));
    window.ListView()->setCurrentItem(window.ListView()->topLevelItem(1));
    // Runs from the event loop during the save: Enter and Close may neither
    // run now nor be queued for afterwards.
    QString shownDuring;
    QTimer::singleShot(0, &window, [&] {
        shownDuring = window.MessagePane()->text();
        QTest::keyClick(window.ListView(), Qt::Key_Return);
        window.close();
    });
    ASSERT_TRUE(window.Frame().OnSaveAllValues().Ok());
    EXPECT_TRUE(shownDuring.startsWith(QStringLiteral("Saving [3] Osprey - OSP05521: "))) << shownDuring.toStdString();
    QApplication::processEvents();
    EXPECT_TRUE(dialogsShown_.empty() && messages_.empty());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.MessagePane()->text(), QStringLiteral("Saved all values of [3] Osprey - OSP05521."));
    QTest::keyClick(window.ListView(), Qt::Key_Return);
    EXPECT_FALSE(dialogsShown_.empty() && messages_.empty()) << "afterwards input reaches the window";
}

TEST(GuiCommandLineTest, OptionsFiltersAndTheBackEnd) {
    const LaunchOptions bench =
        ParseCommandLine({"spindle", "--bench", "demo", "--usb-trace=/tmp/t.log", "--psoc", "-platform", "offscreen"});
    EXPECT_EQ(bench.bench, "demo");
    EXPECT_EQ(bench.usbTrace, "/tmp/t.log");
    EXPECT_TRUE(bench.psoc);
    EXPECT_EQ(bench.rest, (std::vector<std::string>{"spindle", "-platform", "offscreen"}));
    EXPECT_FALSE(ParseCommandLine({"spindle", "--bench"}).error.empty());
    EXPECT_FALSE(ParseCommandLine({"spindle", "--benhc", "demo"}).error.empty());
    EXPECT_EQ(QtFileFilter("Images|*.iic;*.hex|All Files (*.*)|*.*|"), QStringLiteral("Images (*.iic *.hex);;All Files (*)"));

    // Without --bench: the attached devices, never a simulated bench in
    // their place, even where libusb cannot start.
    EXPECT_NE(dynamic_cast<sim::SimBench*>(OpenBackend(bench, nullptr).driver.get()), nullptr);
    const Backend usb = OpenBackend(ParseCommandLine({"spindle"}), nullptr);
    EXPECT_FALSE(usb.simulated || usb.driver == nullptr || dynamic_cast<sim::SimBench*>(usb.driver.get()) != nullptr);
}

}  // namespace
}  // namespace spindle::gui

int main(int argc, char** argv) {
    // No display needed, whoever runs the program.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
