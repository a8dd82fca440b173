// The window's wiring: what the core's frame holds must show in the widgets,
// and the operator's gestures must reach the frame. The commands' logic is
// tested with the core.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDockWidget>
#include <QFileInfo>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidgetItemIterator>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <atomic>
#include <memory>
#include <thread>

#include "Artwork.h"
#include "CommandLine.h"
#include "Dialogs.h"
#include "LeftView.h"
#include "MainWindow.h"
#include "SpindleView.h"
#include "support/BenchDevices.h"
#include "widgets/StartPanel.h"
#include "app/ApplicationProfile.h"
#include "app/FeatureUnlock.h"
#include "platform/INIFileSupport.h"
#include "platform/DebugTrace.h"
#include "platform/VirtualClock.h"
#include "protocol/ValueEditors.h"
#include <QFile>
#include <QTreeWidget>

#include "sim/SimBench.h"
#include "widgets/ProgressBar.h"

namespace spindle::gui {
namespace {

constexpr const char* kKestrelLabel = "[0] Kestrel - KES10234 ";

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(configDir_.isValid());
        qputenv("SPINDLE_CONFIG_DIR", configDir_.path().toLocal8Bit());
        bench_ = sim::LoadBench("demo");
    }

    void TearDown() override { QApplication::clipboard()->clear(); }

    // A started, shown window on the demo bench; dialogs are answered by
    // `onDialog` (Cancel without one) and message boxes are recorded.
    std::unique_ptr<CMainWindow> StartWindow() {
        WindowOptions options;
        options.simulatedBench = true;
        auto window = std::make_unique<CMainWindow>(*bench_, clock_, trace_, options);
        CQtUserInterface& ui = window->Ui();
        ui.SetManualTimers(true);
        ui.messageHook = [this](const QString& text, const QString& title, unsigned) {
            messages_.push_back(title + QStringLiteral(": ") + text);
            return mb::kIdOk;
        };
        ui.dialogHook = [this](CDialogModel& model, QDialog& dialog) {
            dialogsShown_.push_back(QString::fromStdString(model.Title()));
            return onDialog ? onDialog(model, dialog) : mb::kIdCancel;
        };
        window->Start();
        if (window->StartMaximized()) {
            window->showMaximized();
        } else {
            window->show();
        }
        return window;
    }

    static void Unlock(CMainWindow& window, MainWindowTest& test, const QString& code) {
        test.onDialog = [code](CDialogModel&, QDialog& dialog) {
            dialog.findChild<QLineEdit*>(ControlName(CUnlockDlg::kCodeControlId))->setText(code);
            return mb::kIdOk;
        };
        window.MenuAction(cmd::kUnlockFeatures)->trigger();
        test.onDialog = nullptr;
        // Bars lay their buttons out from the event loop.
        QApplication::processEvents();
    }

    static int FindRow(CSpindleView& view, const QString& prefix) {
        for (int i = 0; i < view.topLevelItemCount(); ++i) {
            if (view.topLevelItem(i)->text(0).startsWith(prefix)) return i;
        }
        return -1;
    }

    static void DoubleClickRow(CSpindleView& view, int row) {
        const QRect rect = view.visualItemRect(view.topLevelItem(row));
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, rect.center());
    }

    std::function<int(CDialogModel&, QDialog&)> onDialog;
    std::vector<QString> messages_;
    std::vector<QString> dialogsShown_;
    QTemporaryDir configDir_;
    std::unique_ptr<sim::SimBench> bench_;
    VirtualClock clock_;
    NullDebugTrace trace_;
};

TEST_F(MainWindowTest, StartsWithTheDemoTreeBothBarsAndTheCountdown) {
    auto window = StartWindow();
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Lumora, Inc. Spindle \u2014 simulated bench"));

    // The tree is filled before the operator can act: root, thirteen
    // expanded categories, every device of the model.
    CLeftView& tree = *window->TreeView();
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree.topLevelItem(0);
    EXPECT_EQ(root->text(0), QStringLiteral("Computer"));
    EXPECT_TRUE(root->isExpanded());
    ASSERT_EQ(root->childCount(), 13);
    int shown = 1;
    for (int i = 0; i < root->childCount(); ++i) {
        EXPECT_TRUE(root->child(i)->isExpanded()) << root->child(i)->text(0).toStdString();
        EXPECT_FALSE(root->child(i)->icon(0).isNull());
        shown += 1 + root->child(i)->childCount();
        for (int j = 0; j < root->child(i)->childCount(); ++j) shown += root->child(i)->child(j)->childCount();
    }
    EXPECT_EQ(shown, window->Frame().Tree().Count());
    EXPECT_NE(tree.WidgetItem(window->Frame().Tree().Find(kKestrelLabel)), nullptr);
    EXPECT_EQ(tree.currentItem(), nullptr);
    EXPECT_EQ(window->ListView()->topLevelItemCount(), 0);

    // Every button of both bars, labelled and in order, with its command id.
    const std::vector<std::pair<int, const char*>> mainButtons = {
        {1076, "Refresh Tree"}, {1077, "Get All Values"},   {1078, "Save All Values"},
        {1079, "Program"},      {1080, "Program FPGA"},     {1081, "Calibrate"},
        {1082, "Zephyr Cal. File"}, {1083, "Extra Kestrel"}, {1084, "PSOC Diags."}};
    const std::vector<std::pair<int, const char*>> manufacturingButtons = {
        {1007, "Verify"}, {1031, "Reset Coefs."}, {1032, "Linearity Coefs"}, {1085, "Ibis Extra"}};
    auto checkBar = [&](int barId, const std::vector<std::pair<int, const char*>>& expected) {
        const QList<QPushButton*> buttons =
            window->Bar(barId)->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly);
        ASSERT_EQ(buttons.size(), static_cast<qsizetype>(expected.size()));
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(buttons[static_cast<qsizetype>(i)]->text(), QString::fromLatin1(expected[i].second));
            EXPECT_EQ(buttons[static_cast<qsizetype>(i)]->property("commandId").toInt(), expected[i].first);
        }
    };
    checkBar(bar::kMain, mainButtons);
    checkBar(bar::kManufacturing, manufacturingButtons);

    // First start, no flags: manufacturing bar hidden, 16-point sans-serif
    // status bar saying "Ready", countdown timer 999 running, device panes shut.
    EXPECT_TRUE(window->Bar(bar::kMain)->isVisible());
    EXPECT_FALSE(window->Bar(bar::kManufacturing)->isVisible());
    EXPECT_EQ(QFontInfo(window->statusBar()->font()).pointSize(), 16);
    EXPECT_EQ(window->MessagePane()->text(), QStringLiteral("Ready"));
    EXPECT_TRUE(window->Ui().IsTimerRunning(999));
    for (int pane = 1; pane <= 8; ++pane) EXPECT_FALSE(window->DevicePane(pane)->isVisible());
    // The tree fits its widest label at the platform's font; the Data
    // column takes the rest of the list.
    const QFontMetrics metrics(tree.font());
    int widest = 0;
    for (QTreeWidgetItemIterator it(&tree); *it != nullptr; ++it) {
        if ((*it)->parent() == nullptr || (*it)->parent()->isExpanded()) {
            widest = std::max(widest, metrics.horizontalAdvance((*it)->text(0)));
        }
    }
    EXPECT_GE(tree.viewport()->width(), widest + tree.indentation());
    EXPECT_GT(window->Splitter()->sizes().constFirst(), 150);
    EXPECT_EQ(window->ListView()->columnWidth(0), 200);
    EXPECT_EQ(window->ListView()->columnWidth(0) + window->ListView()->columnWidth(1),
              window->ListView()->viewport()->width());
    EXPECT_EQ(window->ListView()->headerItem()->text(0), QStringLiteral("Item"));
    EXPECT_EQ(window->ListView()->headerItem()->text(1), QStringLiteral("Data"));
}

TEST_F(MainWindowTest, AnEmptyTreeShowsTheStartPanelUntilADeviceIsListed) {
    // The demo tree lists devices: the list is shown, not the panel.
    {
        auto window = StartWindow();
        auto* area = window->findChild<QStackedWidget*>(QStringLiteral("listArea"));
        ASSERT_NE(area, nullptr);
        EXPECT_EQ(area->currentWidget(), window->ListView());
    }
    // A bench with no devices: the panel, its heading, and the demo bench
    // offered; the button hands over to the window's hook.
    for (int index : bench_->DeviceIndexes()) bench_->RemoveDevice(index);
    auto window = StartWindow();
    auto* area = window->findChild<QStackedWidget*>(QStringLiteral("listArea"));
    CStartPanel* panel = window->StartPanel();
    ASSERT_EQ(area->currentWidget(), panel);
    EXPECT_EQ(panel->Heading()->text(), QStringLiteral("The bench has no devices"));
    EXPECT_FALSE(panel->DemoButton()->isHidden());
    int demoRequests = 0;
    window->openDemoBench = [&demoRequests] { ++demoRequests; };
    QTest::mouseClick(panel->DemoButton(), Qt::LeftButton);
    EXPECT_EQ(demoRequests, 1);

    // Plugged in, then the panel's Refresh Tree: the list is back.
    bench_->AddDevice(spindle::test::OspreyAt(0, "OSP00001"));
    QTest::mouseClick(panel->RefreshButton(), Qt::LeftButton);
    EXPECT_EQ(area->currentWidget(), window->ListView());
    EXPECT_TRUE(messages_.empty()) << (messages_.empty() ? "" : messages_.front().toStdString());
}

TEST_F(MainWindowTest, SelectingDevicesFillsAndEmptiesTheList) {
    auto window = StartWindow();
    CSpindleView& list = *window->ListView();
    ASSERT_TRUE(window->SelectTreeItem(QString::fromLatin1(kKestrelLabel)));
    const CValueList& model = window->Frame().List();
    ASSERT_GT(model.RowCount(), 10);
    ASSERT_EQ(list.topLevelItemCount(), model.RowCount());
    for (int i = 0; i < model.RowCount(); ++i) {
        EXPECT_EQ(list.topLevelItem(i)->text(0).toStdString(), model.GetText(i, 0));
        EXPECT_EQ(list.topLevelItem(i)->text(1).toStdString(), model.GetText(i, 1));
        EXPECT_FALSE(list.topLevelItem(i)->icon(0).isNull());
    }
    EXPECT_EQ(list.topLevelItem(FindRow(list, "  Serial Number"))->text(1), QStringLiteral("KES10234"));
    // No label is cut at the usual window size.
    window->resize(1100, 700);
    QApplication::processEvents();
    EXPECT_GE(list.columnWidth(0), static_cast<QAbstractItemView&>(list).sizeHintForColumn(0));

    // The tree's Copy entry copies the selected item; Cut and Paste do nothing.
    std::unique_ptr<QMenu> menu(window->TreeView()->CreateContextMenu(window.get()));
    const QList<QAction*> entries = menu->actions();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0]->text(), QStringLiteral("Cu&t"));
    EXPECT_FALSE(entries[0]->isEnabled());
    EXPECT_EQ(entries[2]->text(), QStringLiteral("&Paste"));
    EXPECT_FALSE(entries[2]->isEnabled());
    entries[1]->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QString::fromLatin1(kKestrelLabel));

    // A right click does not move the selection.
    QTreeWidgetItem* root = window->TreeView()->topLevelItem(0);
    QTest::mousePress(window->TreeView()->viewport(), Qt::RightButton, {},
                      window->TreeView()->visualItemRect(root).center());
    ASSERT_NE(window->TreeView()->currentItem(), nullptr);
    EXPECT_EQ(window->TreeView()->currentItem()->text(0), QString::fromLatin1(kKestrelLabel));

    // A category holds no device: the list empties.
    ASSERT_TRUE(window->SelectTreeItem(QStringLiteral("Kestrel Devices")));
    EXPECT_EQ(list.topLevelItemCount(), 0);
}

TEST_F(MainWindowTest, ListGesturesOpenTheEditorsLockedOutsideManufacturing) {
    auto window = StartWindow();
    ASSERT_TRUE(window->SelectTreeItem(QString::fromLatin1(kKestrelLabel)));
    CSpindleView& list = *window->ListView();

    // Double-click on a configuration string: value greyed, note shown, and
    // the countdown held while the dialog is up.
    bool valueEnabled = true;
    bool noteShown = false;
    bool timerHeld = false;
    onDialog = [&](CDialogModel& model, QDialog& dialog) {
        EXPECT_EQ(model.DialogId(), CEditValueDlg::kDialogId);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Edit Stored Value"));
        valueEnabled = dialog.findChild<QLineEdit*>(ControlName(CEditValueDlg::kValueControlId))->isEnabled();
        auto* note = dialog.findChild<QLabel*>(ControlName(CEditValueDlg::kNoteControlId));
        noteShown = !note->isHidden();
        EXPECT_EQ(note->text(),
                  QStringLiteral("Configuration strings can only be changed by\n Lumora Manufacturing."));
        timerHeld = !window->Ui().IsTimerRunning(999);
        return mb::kIdCancel;
    };
    const int config = FindRow(list, QStringLiteral("  Configuration String 1"));
    ASSERT_GE(config, 0);
    DoubleClickRow(list, config);
    ASSERT_EQ(dialogsShown_.size(), 1u);
    EXPECT_FALSE(valueEnabled);
    EXPECT_TRUE(noteShown);
    EXPECT_TRUE(timerHeld);
    EXPECT_TRUE(window->Ui().IsTimerRunning(999));

    // Enter on the serial number: editable, and OK writes the row.
    onDialog = [&](CDialogModel&, QDialog& dialog) {
        auto* value = dialog.findChild<QLineEdit*>(ControlName(CEditValueDlg::kValueControlId));
        EXPECT_TRUE(value->isEnabled());
        EXPECT_TRUE(dialog.findChild<QLabel*>(ControlName(CEditValueDlg::kNoteControlId))->isHidden());
        value->setText(QStringLiteral("KES99999"));
        return mb::kIdOk;
    };
    const int serial = FindRow(list, QStringLiteral("  Serial Number"));
    list.setCurrentItem(list.topLevelItem(serial));
    QTest::keyClick(&list, Qt::Key_Return);
    ASSERT_EQ(dialogsShown_.size(), 2u);
    EXPECT_EQ(list.topLevelItem(serial)->text(1), QStringLiteral("KES99999"));
    EXPECT_EQ(window->Frame().List().GetText(serial, 1), "KES99999");
    EXPECT_TRUE(list.topLevelItem(serial)->font(1).bold());  // edited, not yet saved
    EXPECT_FALSE(list.topLevelItem(serial - 1)->font(1).bold());

    // A click on another device, then Cancel in "Save changes to ...?": the
    // tree goes back to the device whose edits the list holds.
    window->Ui().messageHook = [this](const QString& text, const QString&, unsigned) {
        messages_.push_back(text);
        return mb::kIdCancel;
    };
    CLeftView& tree = *window->TreeView();
    QTreeWidgetItem* osprey = nullptr;
    for (QTreeWidgetItemIterator it(&tree); *it != nullptr; ++it) {
        if ((*it)->text(0).startsWith(QStringLiteral("[3] Osprey"))) osprey = *it;
    }
    ASSERT_NE(osprey, nullptr);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, tree.visualItemRect(osprey).center());
    QApplication::processEvents();
    ASSERT_FALSE(messages_.empty());
    EXPECT_TRUE(messages_.back().startsWith(QStringLiteral("Save changes to"))) << messages_.back().toStdString();
    ASSERT_NE(tree.currentItem(), nullptr);
    EXPECT_EQ(tree.currentItem()->text(0), QString::fromLatin1(kKestrelLabel));
    EXPECT_TRUE(tree.currentItem()->isSelected());
    EXPECT_EQ(list.topLevelItem(serial)->text(1), QStringLiteral("KES99999"));
}

TEST_F(MainWindowTest, UnlockCodesShowTheirBarsAndButtons) {
    auto window = StartWindow();
    QToolBar* manufacturing = window->Bar(bar::kManufacturing);
    Unlock(*window, *this, QStringLiteral("tolmidexn"));  // wrong case: nothing happens
    EXPECT_FALSE(manufacturing->isVisible());
    EXPECT_EQ(dialogsShown_.back(), QStringLiteral("Unlock Features"));

    Unlock(*window, *this, QStringLiteral("TOLMIDEXN"));
    EXPECT_EQ(window->Frame().flags.manufacturingMode, 1);
    EXPECT_TRUE(manufacturing->isVisible());
    EXPECT_TRUE(window->Button(cmd::kExtraKestrel)->isVisible());
    EXPECT_TRUE(window->Button(cmd::kPsocDiags)->isVisible());
    EXPECT_TRUE(window->Button(cmd::kIbisExtra)->isVisible());
    EXPECT_FALSE(window->Button(cmd::kLinearityCoefs)->isVisible());
    // A job's start hides the bar's buttons: the bar keeps its height, so
    // nothing below it moves under the pointer.
    QApplication::processEvents();
    const int barHeight = manufacturing->height();
    const QPoint treeAt = window->TreeView()->mapTo(window.get(), QPoint(0, 0));
    for (int id : {cmd::kVerify, cmd::kResetCoefs, cmd::kLinearityCoefs, cmd::kIbisExtra}) window->ShowButton(id, false);
    QApplication::processEvents();
    EXPECT_EQ(manufacturing->height(), barHeight);
    EXPECT_EQ(window->TreeView()->mapTo(window.get(), QPoint(0, 0)), treeAt);
    // The countdown's idle step brings back Verify and Reset Coefs.
    window->Ui().FireTimer(999);
    QApplication::processEvents();
    EXPECT_TRUE(window->Button(cmd::kVerify)->isVisible());
    EXPECT_TRUE(window->Button(cmd::kResetCoefs)->isVisible());
    EXPECT_FALSE(window->Button(cmd::kLinearityCoefs)->isVisible());

    Unlock(*window, *this, QStringLiteral("QARVEST"));
    EXPECT_FALSE(manufacturing->isVisible());
    EXPECT_EQ(window->Frame().flags.manufacturingMode, 0);
}

TEST_F(MainWindowTest, PlacementBarStatesAndWidthsSurviveARestart) {
    {
        auto window = StartWindow();
        Unlock(*window, *this, QStringLiteral("TOLMIDEXN"));
        window->addToolBar(Qt::BottomToolBarArea, window->Bar(bar::kManufacturing));
        window->setGeometry(40, 50, 900, 560);
        window->Splitter()->setSizes({230, 600});
        window->ListView()->setColumnWidth(0, 260);
        window->ListView()->setColumnWidth(1, 140);
        ASSERT_TRUE(window->close());
    }
    CApplicationProfile profile;
    EXPECT_EQ(profile.ReadBarState("ManufacturingBars"), "Area=Bottom;Visible=1;Row=0");
    EXPECT_EQ(profile.ReadBarState("MainBars"), "Area=Top;Visible=1;Row=0");
    const auto saved = profile.ReadWindowPlacement();
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->flags, 0u);
    EXPECT_EQ(saved->right - saved->left, 900);
    EXPECT_EQ(saved->bottom - saved->top, 560);
    {
        auto window = StartWindow();
        EXPECT_EQ(window->toolBarArea(window->Bar(bar::kManufacturing)), Qt::BottomToolBarArea);
        EXPECT_TRUE(window->Bar(bar::kManufacturing)->isVisible());
        EXPECT_EQ(window->toolBarArea(window->Bar(bar::kMain)), Qt::TopToolBarArea);
        // Saved and restored as the client area: the window comes back
        // where it was, not a title bar lower.
        EXPECT_EQ(window->normalGeometry(), QRect(40, 50, 900, 560));
        EXPECT_EQ(window->Splitter()->sizes().constFirst(), 230);
        EXPECT_EQ(window->ListView()->columnWidth(0), 260);
        EXPECT_GE(window->ListView()->columnWidth(1), 140);  // stretched to the list's width
        // Manufacturing mode keeps the default status-bar font.
        EXPECT_NE(QFontInfo(window->statusBar()->font()).pointSize(), 16);
        window->showMaximized();
        QApplication::processEvents();
        ASSERT_TRUE(window->isMaximized());
        ASSERT_TRUE(window->close());
    }
    const auto maximized = profile.ReadWindowPlacement();
    ASSERT_TRUE(maximized.has_value());
    EXPECT_EQ(maximized->flags, 2u);
    {
        auto window = StartWindow();
        EXPECT_TRUE(window->StartMaximized());
        window->close();
    }
    // Nine numbers are no placement: the default size is used.
    ASSERT_TRUE(profile.WriteProfileString("MainWindowSize", "WindowPos", "0,1,-1,-1,-1,-1,10,10,500"));
    auto window = StartWindow();
    EXPECT_FALSE(window->StartMaximized());
    EXPECT_EQ(window->normalGeometry().size(), QSize(980, 620));
}

TEST_F(MainWindowTest, CloseIsRefusedWhileADeviceIsBusy) {
    auto window = StartWindow();
    window->Frame().jobBusy[3].store(1);
    window->Ui().FireTimer(999);
    EXPECT_FALSE(window->IsCloseEnabled());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(window->MenuAction(cmd::kAppExit)->isEnabled());
    messages_.clear();
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(SettingsFilePath())));
    // The refusal says why, device by device.
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].contains(QStringLiteral("cannot close while a device is being programmed")));
    EXPECT_TRUE(messages_[0].contains(QStringLiteral("- device 3 is busy"))) << messages_[0].toStdString();

    // A job on an index without a status pane still keeps the window open.
    window->Frame().jobBusy[3].store(0);
    window->Frame().jobBusy[20].store(1);
    window->RefreshCommandStates();
    EXPECT_FALSE(window->MenuAction(cmd::kAppExit)->isEnabled());
    EXPECT_FALSE(window->close());

    window->Frame().jobBusy[20].store(0);
    window->Ui().FireTimer(999);
    EXPECT_TRUE(window->IsCloseEnabled());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->MenuAction(cmd::kAppExit)->isEnabled());
    EXPECT_TRUE(window->close());
}

TEST_F(MainWindowTest, ProgramShowsTheDevicesBarAndTheJobInThePanel) {
    auto window = StartWindow();
    ASSERT_TRUE(window->SelectTreeItem(QString::fromLatin1(kKestrelLabel)));
    const QString image = configDir_.filePath(QStringLiteral("Kestrel.iic"));
    {
        QFile file(image);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray bytes(16384, '\x5A');
        bytes[0] = '\xB2';
        file.write(bytes);
    }
    window->Ui().fileHook = [&image](FileChoice& choice) {
        choice.chosenPath = image.toStdString();
        return true;
    };
    messages_.clear();
    window->Dispatch(cmd::kProgram);
    CProgressBar* pane = window->DevicePane(1);
    ASSERT_NE(pane, nullptr);
    EXPECT_TRUE(pane->IsPaneOpen());
    EXPECT_EQ(pane->RangeMaximum(), 76);
    window->Frame().WaitForJobs();
    window->Ui().FireTimer(999);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].contains(QStringLiteral("EEPROM Programming Complete."))) << messages_[0].toStdString();
    EXPECT_FALSE(pane->IsPaneOpen());
    ASSERT_NE(window->JobsPanel(), nullptr);
    ASSERT_EQ(window->JobsPanel()->topLevelItemCount(), 1);
    EXPECT_EQ(window->JobsPanel()->topLevelItem(0)->text(4), QStringLiteral("succeeded, verified"));
    EXPECT_EQ(bench_->Device(0)->Eeprom(1, 2), (std::vector<std::uint8_t>{0x5A, 0x5A}));
    QApplication::processEvents();
    for (int column = 0; column < 5; ++column) {
        EXPECT_GE(window->JobsPanel()->columnWidth(column),
                  static_cast<QAbstractItemView*>(window->JobsPanel())->sizeHintForColumn(column))
            << column;
    }

    // Closed, the panel comes back with the next job; the file dialog opens
    // where the last image came from.
    window->JobsDock()->close();
    std::string openedIn;
    window->Ui().fileHook = [&](FileChoice& choice) {
        openedIn = choice.initialFolder;
        choice.chosenPath = image.toStdString();
        return true;
    };
    window->Dispatch(cmd::kProgram);
    EXPECT_EQ(openedIn, configDir_.path().toStdString());
    EXPECT_TRUE(window->JobsDock()->isVisible());
    window->Frame().WaitForJobs();
    window->Ui().FireTimer(999);
}

TEST_F(MainWindowTest, ALongCommandKeepsTheWindowAliveAndHoldsOffInput) {
    auto window = StartWindow();
    ASSERT_TRUE(window->SelectTreeItem(QStringLiteral("[3] Osprey - OSP05521 ")));
    window->ListView()->setCurrentItem(window->ListView()->topLevelItem(1));
    // Runs from the event loop once the save is under way: the protocol's
    // pauses let the window handle its events meanwhile.
    QStringList shownDuring;
    bool ranDuring = false;
    QTimer::singleShot(0, window.get(), [&] {
        ranDuring = true;
        shownDuring << window->MessagePane()->text();
        // The operator presses Enter on the list and closes the window:
        // neither may run now, nor be queued for afterwards.
        QTest::keyClick(window->ListView(), Qt::Key_Return);
        window->close();
    });
    ASSERT_TRUE(window->Frame().OnSaveAllValues().Ok());
    EXPECT_TRUE(ranDuring);
    ASSERT_EQ(shownDuring.size(), 1);
    EXPECT_TRUE(shownDuring[0].startsWith(QStringLiteral("Saving [3] Osprey - OSP05521: "))) << shownDuring[0].toStdString();
    QApplication::processEvents();
    EXPECT_TRUE(dialogsShown_.empty());
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->MessagePane()->text(), QStringLiteral("Saved all values of [3] Osprey - OSP05521."));

    // Afterwards input reaches the window again.
    QTest::keyClick(window->ListView(), Qt::Key_Return);
    EXPECT_FALSE(dialogsShown_.empty() && messages_.empty());
}

TEST_F(MainWindowTest, AMessageBoxFromAWorkerIsShownOnTheGuiThread) {
    auto window = StartWindow();
    QThread* shownOn = nullptr;
    QString shownText;
    window->Ui().messageHook = [&](const QString& text, const QString& title, unsigned style) {
        shownOn = QThread::currentThread();
        shownText = title + QLatin1Char('|') + text;
        EXPECT_EQ(style & 0xFu, mb::kYesNo);
        return mb::kIdNo;
    };
    std::atomic<int> answer{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        answer = window->Ui().MessageBox("EEPROM Programming Complete.", "", mb::kYesNo);
        done = true;
    });
    for (int i = 0; i < 500 && !done; ++i) QTest::qWait(10);
    worker.join();
    EXPECT_EQ(shownOn, QApplication::instance()->thread());
    EXPECT_EQ(shownText, QStringLiteral("Spindle|EEPROM Programming Complete."));
    EXPECT_EQ(answer.load(), mb::kIdNo);
}

TEST(ArtworkTest, EveryPictureIsDrawnAndTheRolesLookApart) {
    std::vector<QImage> pictures;
    for (int i = 0; i < kTreeImageCount; ++i) pictures.push_back(RenderTreeImage(i, 16));
    for (int i = 0; i < kListImageCount; ++i) pictures.push_back(RenderListImage(i, 16));
    pictures.push_back(RenderApplicationIcon(16));
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        int opaque = 0;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) opaque += qAlpha(pictures[i].pixel(x, y)) == 255 ? 1 : 0;
        }
        EXPECT_GT(opaque, 40) << "picture " << i;
        for (std::size_t j = 0; j < i; ++j) {
            // Tree images 9 and 13 are the same picture by design.
            if (i == 13 && j == 9) continue;
            EXPECT_NE(pictures[i], pictures[j]) << "pictures " << j << " and " << i;
        }
    }
    EXPECT_EQ(RenderTreeImage(13, 16), RenderTreeImage(9, 16));
    EXPECT_EQ(TreeImage(2).availableSizes().size(), 7);
}

TEST(GuiFileFilterTest, DescriptionPatternPairsBecomeQtFilters) {
    EXPECT_EQ(QtFileFilter("Linearity Calibration File (*.lin)|*.lin|All Files (*.*)|*.*|"),
              QStringLiteral("Linearity Calibration File (*.lin);;All Files (*)"));
    EXPECT_EQ(QtFileFilter("Images|*.iic;*.hex||"), QStringLiteral("Images (*.iic *.hex)"));
}

TEST(GuiCommandLineTest, BenchTraceAndQtOptions) {
    const LaunchOptions none = ParseCommandLine({"spindle"});
    EXPECT_TRUE(none.bench.empty());
    EXPECT_TRUE(none.error.empty());
    EXPECT_FALSE(none.psoc);
    EXPECT_TRUE(ParseCommandLine({"spindle", "--psoc"}).psoc);
    EXPECT_FALSE(none.calibrate || none.extraKestrel);
    EXPECT_TRUE(ParseCommandLine({"spindle", "--calibrate"}).calibrate);
    EXPECT_TRUE(ParseCommandLine({"spindle", "--extra-kestrel"}).extraKestrel);
    const LaunchOptions bench =
        ParseCommandLine({"spindle", "--bench", "demo", "--usb-trace=/tmp/t.log", "-platform", "offscreen"});
    EXPECT_EQ(bench.bench, "demo");
    EXPECT_EQ(bench.usbTrace, "/tmp/t.log");
    EXPECT_EQ(bench.rest, (std::vector<std::string>{"spindle", "-platform", "offscreen"}));
    EXPECT_FALSE(ParseCommandLine({"spindle", "--bench"}).error.empty());
    EXPECT_FALSE(ParseCommandLine({"spindle", "--benhc", "demo"}).error.empty());
}

TEST(GuiCommandLineTest, BackEndIsTheBenchWhenAskedElseTheUsbDevices) {
    const Backend demo = OpenBackend(ParseCommandLine({"spindle", "--bench", "demo"}), nullptr);
    ASSERT_NE(demo.driver, nullptr) << demo.error;
    EXPECT_TRUE(demo.simulated);
    EXPECT_NE(dynamic_cast<sim::SimBench*>(demo.driver.get()), nullptr);

    const Backend missing = OpenBackend(ParseCommandLine({"spindle", "--bench", "/nonexistent/bench.json"}), nullptr);
    EXPECT_EQ(missing.driver, nullptr);
    EXPECT_EQ(missing.error.rfind("spindle: ", 0), 0u) << missing.error;

    // Without --bench: the attached devices. A machine with no devices, or
    // where libusb cannot start, still gets no simulated bench in their place:
    // a driver without devices, and the reason for the window to show.
    MemoryDebugTrace trace;
    const Backend usb = OpenBackend(ParseCommandLine({"spindle"}), &trace);
    EXPECT_FALSE(usb.simulated);
    ASSERT_NE(usb.driver, nullptr);
    EXPECT_TRUE(usb.error.empty()) << usb.error;
    EXPECT_EQ(dynamic_cast<sim::SimBench*>(usb.driver.get()), nullptr);
    // Far beyond any device a developer may have plugged in.
    EXPECT_EQ(usb.driver->Open("\\\\.\\Ezusb-100000"), kInvalidHandle);
#ifdef SPINDLE_HAVE_LIBUSB
    if (usb.usbProblem.empty()) {
        EXPECT_FALSE(trace.Lines().empty());
    }
#else
    EXPECT_EQ(usb.usbProblem, kNoUsbBackendReason);
#endif
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
