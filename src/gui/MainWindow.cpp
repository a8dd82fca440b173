#include "MainWindow.h"

#include <QProcess>

#include <QScrollBar>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDockWidget>
#include <QMessageBox>
#include <QTreeWidget>
#include <QFont>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <set>
#include <vector>

#include "Artwork.h"
#include "DialogParts.h"
#include "HistoryDialog.h"
#include "LeftView.h"
#include "SpindleView.h"
#include "StationDialog.h"
#include "widgets/StartPanel.h"
#include "app/Availability.h"
#include "platform/CommandIds.h"
#include "platform/DebugTrace.h"
#include "platform/INIFileSupport.h"
#include "platform/Format.h"
#include "protocol/ValueEditors.h"
#include "widgets/ProgressBar.h"

namespace spindle::gui {

namespace {

// Show states kept in the placement text.
constexpr unsigned kShowNormal = 1;
constexpr unsigned kShowMinimized = 2;
constexpr unsigned kShowMaximized = 3;
constexpr unsigned kRestoreToMaximized = 2;

QString AreaName(Qt::ToolBarArea area) { return area == Qt::BottomToolBarArea ? "Bottom" : "Top"; }

}  // namespace

std::string FormatBarState(const BarState& state) {
    return StrPrintf("Area=%s;Visible=%d;Row=%d", AreaName(state.area).toStdString().c_str(), state.visible ? 1 : 0,
                     state.row);
}

std::optional<BarState> ParseBarState(const std::string& text) {
    BarState state;
    bool haveArea = false;
    bool haveVisible = false;
    for (const QString& field : QString::fromStdString(text).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString key = field.section(QLatin1Char('='), 0, 0).trimmed();
        const QString value = field.section(QLatin1Char('='), 1).trimmed();
        bool ok = false;
        if (key == QLatin1String("Area")) {
            if (value == QLatin1String("Top")) {
                state.area = Qt::TopToolBarArea;
            } else if (value == QLatin1String("Bottom")) {
                state.area = Qt::BottomToolBarArea;
            } else {
                return std::nullopt;
            }
            haveArea = true;
        } else if (key == QLatin1String("Visible")) {
            const int visible = value.toInt(&ok);
            if (!ok || (visible != 0 && visible != 1)) return std::nullopt;
            state.visible = visible == 1;
            haveVisible = true;
        } else if (key == QLatin1String("Row")) {
            state.row = value.toInt(&ok);
            if (!ok || state.row < 0) return std::nullopt;
        }
    }
    if (!haveArea || !haveVisible) return std::nullopt;
    return state;
}

CMainWindow::CMainWindow(IEzusbDriver& driver, IClock& clock, IDebugTrace& trace, const WindowOptions& options)
    : ui_(*this), clock_(clock), platform_{driver, clock_, trace, ui_}, frame_(platform_), options_(options) {
    QString title = QString::fromUtf8(kTitle);
    if (options.simulatedBench) title += QString::fromUtf8(kSimulatedSuffix);
    setWindowTitle(title);
    baseTitle_ = title;
    setWindowIcon(ApplicationIcon());
    setObjectName(QStringLiteral("mainWindow"));
    frame_.simulatedBench = options.simulatedBench;
    frame_.backendError = options.backendError;
    openDemoBench = [this] { OpenDemoBench(); };
}

CMainWindow::~CMainWindow() {
    // The views render the frame's models: stop following them first.
    frame_.Tree().SetObserver(nullptr);
    frame_.List().SetObserver(nullptr);
}

void CMainWindow::Start() {
    if (started_) return;
    started_ = true;
    frame_.LoadSettings();
    BuildViews();
    BuildMenus();
    RestorePlacement();
    BuildStatusBar();
    BuildBars();
    RestoreBarStates();
    // Clears the job state, starts countdown timer 999 and sets the bars'
    // visibility from the feature flags.
    frame_.OnCreate();
    // The tree view's first showing: the tree is filled before the operator
    // can act.
    frame_.OnInitialUpdate();
    FitTreeOnFirstStart();
    RefreshCommandStates();
}

void CMainWindow::FitTreeOnFirstStart() {
    // A width the operator chose is kept; the first start fits the labels
    // at whatever font size the platform uses, up to half the window.
    CINIFileSupport store(ui_, nullptr, 1, this);
    if (!store.ReadText("Settings", "SplitterColumnSize", "").empty()) return;
    const int needed = static_cast<const QAbstractItemView*>(treeView_)->sizeHintForColumn(0) + treeView_->indentation() + 2 * treeView_->frameWidth() +
                       treeView_->verticalScrollBar()->sizeHint().width();
    const int wanted = std::min(needed, std::max(width() / 2, frame_.splitterMinSize));
    QList<int> sizes = splitter_->sizes();
    if (sizes.size() == 2 && wanted > sizes[0]) {
        const int total = sizes[0] + sizes[1];
        splitter_->setSizes({wanted, std::max(total - wanted, 100)});
    }
}

// --- Building ---------------------------------------------------------------------------

void CMainWindow::BuildViews() {
    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName(QStringLiteral("splitter"));
    splitter_->setChildrenCollapsible(false);
    treeView_ = new CLeftView(splitter_);
    // The list area: the list, or the start panel while no device is listed.
    listArea_ = new QStackedWidget(splitter_);
    listArea_->setObjectName(QStringLiteral("listArea"));
    listView_ = new CSpindleView(listArea_);
    startPanel_ = new CStartPanel(listArea_);
    listArea_->addWidget(listView_);
    listArea_->addWidget(startPanel_);
    startPanel_->onOpenDemoBench = [this] {
        if (openDemoBench) openDemoBench();
    };
    startPanel_->onRefreshTree = [this] { Dispatch(cmd::kRefreshTree); };
    splitter_->addWidget(treeView_);
    splitter_->addWidget(listArea_);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    treeView_->setMinimumWidth(std::max(0, frame_.splitterMinSize));
    listArea_->setMinimumWidth(100);
    splitter_->setSizes({std::max(frame_.splitterColumnSize, frame_.splitterMinSize), 600});
    setCentralWidget(splitter_);

    const ColumnWidths widths = ReadColumnWidths(ui_, this);
    listView_->setColumnWidth(0, std::max(widths.item, 0));
    listView_->setColumnWidth(1, std::max(widths.data, 0));

    treeView_->onSelectionChanged = [this](int item) { frame_.OnTreeSelectionChanged(item); RefreshCommandStates(); };
    listView_->onDoubleClick = [this](int row) { frame_.OnListDoubleClick(row); RefreshCommandStates(); };
    listView_->onEnterKey = [this](int row) { frame_.OnListEnterKey(row); RefreshCommandStates(); };
    treeView_->Attach(frame_.Tree());
    listView_->Attach(frame_.List());
}

void CMainWindow::BuildMenus() {
    auto add = [this](QMenu* menu, int commandId, const QString& text) {
        QAction* action = menu->addAction(text);
        action->setData(commandId);
        action->setObjectName(QStringLiteral("menu%1").arg(commandId));
        menuActions_[commandId] = action;
        return action;
    };
    QMenu* file = menuBar()->addMenu(tr("&File"));
    connect(add(file, cmd::kUnlockFeatures, tr("&Unlock Features...")), &QAction::triggered, this,
            [this] { Dispatch(cmd::kUnlockFeatures); });
    QAction* station = file->addAction(tr("&Station..."));
    station->setObjectName(QStringLiteral("menuStation"));
    connect(station, &QAction::triggered, this, [this] { CStationDialog(frame_, ui_, ui_.ManualTimers(), this).exec(); });
    QAction* history = file->addAction(tr("&History..."));
    history->setObjectName(QStringLiteral("menuHistory"));
    connect(history, &QAction::triggered, this, [this] { CHistoryDialog(frame_.history, ui_, this).exec(); });
    file->addSeparator();
    connect(add(file, cmd::kAppExit, tr("E&xit")), &QAction::triggered, this, [this] { close(); });
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    connect(add(help, cmd::kAppAbout, tr("&About Spindle...")), &QAction::triggered, this,
            [this] { Dispatch(cmd::kAppAbout); });
}

void CMainWindow::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    messagePane_ = new QLabel(tr("Ready"), bar);
    messagePane_->setObjectName(QStringLiteral("messagePane"));
    bar->addWidget(messagePane_, 1);
    jobsPane_ = new QLabel(bar);
    jobsPane_->setObjectName(QStringLiteral("jobsPane"));
    jobsPane_->hide();
    bar->addPermanentWidget(jobsPane_);
    for (int i = 0; i < kDevicePanes; ++i) {
        // Device panes start collapsed; a programming job opens its pane.
        devicePanes_[static_cast<std::size_t>(i)] = new CProgressBar(i + 1, bar);
        bar->addPermanentWidget(devicePanes_[static_cast<std::size_t>(i)]);
    }
    if (frame_.flags.manufacturingMode == 0) {
        // 16-point Arial, or the closest sans-serif face installed.
        QFont font(QStringLiteral("Arial"), 16);
        font.setStyleHint(QFont::SansSerif);
        bar->setFont(font);
    }
}

QToolBar* CMainWindow::MakeBar(int barId, const char* title, const char* profileName,
                               std::initializer_list<std::pair<int, const char*>> buttons) {
    auto* bar = new QToolBar(tr(title), this);
    bar->setObjectName(QString::fromLatin1(profileName));
    bar->setProperty("barId", barId);
    bar->setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);
    bar->setMovable(true);
    bar->setFloatable(false);
    for (const auto& [commandId, label] : buttons) {
        auto* button = new QPushButton(QString::fromLatin1(label), bar);
        button->setObjectName(QStringLiteral("button%1").arg(commandId));
        button->setProperty("commandId", commandId);
        button->setToolTip(QString::fromLatin1(label));
        button->setFocusPolicy(Qt::TabFocus);
        const int id = commandId;
        connect(button, &QPushButton::clicked, this, [this, id] { Dispatch(id); });
        buttons_[commandId] = button;
        buttonActions_[commandId] = bar->addWidget(button);
    }
    // A job's start hides buttons of the manufacturing bar, maybe all of
    // them: the bar keeps its height so that the tree and the list below do
    // not jump up under the pointer.
    bar->setMinimumHeight(bar->sizeHint().height());
    return bar;
}

void CMainWindow::BuildBars() {
    mainBar_ = MakeBar(bar::kMain, "Main", CApplicationProfile::kMainBars,
                       {{cmd::kRefreshTree, "Refresh Tree"},
                        {cmd::kGetAllValues, "Get All Values"},
                        {cmd::kSaveAllValues, "Save All Values"},
                        {cmd::kProgram, "Program"},
                        {cmd::kProgramFpga, "Program FPGA"},
                        {cmd::kCalibrate, "Calibrate"},
                        {cmd::kZephyrCalFile, "Zephyr Cal. File"},
                        {cmd::kExtraKestrel, "Extra Kestrel"},
                        {cmd::kPsocDiags, "PSOC Diags."}});
    manufacturingBar_ = MakeBar(bar::kManufacturing, "Manufacturing", CApplicationProfile::kManufacturingBars,
                                {{cmd::kVerify, "Verify"},
                                 {cmd::kResetCoefs, "Reset Coefs."},
                                 {cmd::kLinearityCoefs, "Linearity Coefs"},
                                 {cmd::kIbisExtra, "Ibis Extra"}});
}

// --- Persistence ----------------------------------------------------------------------------

void CMainWindow::RestorePlacement() {
    resize(980, 620);
    const std::optional<WindowPlacement> placement = profile_.ReadWindowPlacement();
    if (!placement) return;
    const QRect normal(placement->left, placement->top, placement->right - placement->left,
                       placement->bottom - placement->top);
    // A rectangle without area, or one on no screen any more (a monitor
    // since removed), would leave the window unreachable: keep the default.
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().intersects(normal)) onScreen = true;
    }
    // The rectangle was saved as the client area (normalGeometry), so it is
    // restored as one: move() would place the frame's corner there and the
    // window would creep down by its title bar on every start.
    if (normal.width() > 0 && normal.height() > 0) {
        if (onScreen) {
            setGeometry(normal);
        } else {
            resize(normal.size());
        }
    }
    startMaximized_ = placement->showCommand == kShowMaximized || (placement->flags & kRestoreToMaximized) != 0;
}

BarState CMainWindow::CurrentBarState(QToolBar* bar) const {
    BarState state;
    state.area = toolBarArea(bar) == Qt::BottomToolBarArea ? Qt::BottomToolBarArea : Qt::TopToolBarArea;
    state.visible = !bar->isHidden();
    // Row: how many bars of the same area sit above this one.
    for (QToolBar* other : {mainBar_, manufacturingBar_}) {
        if (other != bar && toolBarArea(other) == toolBarArea(bar) && other->y() < bar->y()) ++state.row;
    }
    return state;
}

void CMainWindow::RestoreBarStates() {
    struct Entry {
        QToolBar* bar;
        BarState state;
        int order;
    };
    std::vector<Entry> entries;
    int order = 0;
    for (QToolBar* bar : {mainBar_, manufacturingBar_}) {
        BarState state;
        state.row = order;
        if (auto saved = ParseBarState(profile_.ReadBarState(bar->objectName().toStdString()))) state = *saved;
        entries.push_back({bar, state, order++});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.state.area != b.state.area) return a.state.area < b.state.area;
        if (a.state.row != b.state.row) return a.state.row < b.state.row;
        return a.order < b.order;
    });
    std::map<Qt::ToolBarArea, int> barsInArea;
    for (const Entry& entry : entries) {
        // Each bar docks on a row of its own, as dialog bars do.
        if (barsInArea[entry.state.area]++ > 0) addToolBarBreak(entry.state.area);
        addToolBar(entry.state.area, entry.bar);
        entry.bar->setVisible(entry.state.visible);
    }
}

void CMainWindow::SaveState() {
    const QList<int> sizes = splitter_->sizes();
    if (!sizes.isEmpty()) frame_.splitterColumnSize = sizes.constFirst();
    frame_.splitterMinSize = treeView_->minimumWidth();
    // Stops the timer and writes the frame's settings.
    frame_.OnClose();
    WriteColumnWidths(ui_, this, {listView_->columnWidth(0), listView_->columnWidth(1)});

    profile_.WriteBarState(CApplicationProfile::kManufacturingBars, FormatBarState(CurrentBarState(manufacturingBar_)));
    profile_.WriteBarState(CApplicationProfile::kMainBars, FormatBarState(CurrentBarState(mainBar_)));

    WindowPlacement placement;
    const QRect normal = isVisible() ? normalGeometry() : geometry();
    placement.flags = isMaximized() ? kRestoreToMaximized : 0;
    placement.showCommand = isMaximized() ? kShowMaximized : isMinimized() ? kShowMinimized : kShowNormal;
    placement.minX = placement.minY = placement.maxX = placement.maxY = -1;
    placement.left = normal.left();
    placement.top = normal.top();
    placement.right = normal.left() + normal.width();
    placement.bottom = normal.top() + normal.height();
    profile_.WriteWindowPlacement(placement);
}

void CMainWindow::closeEvent(QCloseEvent* event) {
    // Closing while a device is being programmed would cut its job off.
    if (!frame_.CanClose()) {
        event->ignore();
        ui_.MessageBox(frame_.CloseRefusal(), kAppTitle, mb::kOk | mb::kIconInformation);
        return;
    }
    if (!closed_ && started_) {
        closed_ = true;
        SaveState();
    }
    event->accept();
}

// --- Commands ------------------------------------------------------------------------------------

void CMainWindow::Dispatch(int commandId) {
    if (!frame_.OnCommand(commandId)) {
        platform_.trace.Write(StrPrintf("Command %d is not available in this build\n", commandId));
    }
    RefreshCommandStates();
}

bool CMainWindow::SelectTreeItem(const QString& text) {
    // Device labels end in a blank; compare without surrounding blanks.
    const QString wanted = text.trimmed();
    int item = CDeviceTree::kNoItem;
    for (const TreeItem& candidate : frame_.Tree().Items()) {
        if (QString::fromStdString(candidate.text).trimmed() == wanted) {
            item = candidate.id;
            break;
        }
    }
    QTreeWidgetItem* widgetItem = treeView_->WidgetItem(item);
    if (widgetItem == nullptr) return false;
    treeView_->setCurrentItem(widgetItem);
    return true;
}

void CMainWindow::SyncStartPanel() {
    if (startPanel_ == nullptr) return;
    const FirstRunNotice& notice = frame_.StartNotice();
    if (notice.shown) startPanel_->Show(notice);
    listArea_->setCurrentWidget(notice.shown ? static_cast<QWidget*>(startPanel_) : listView_);
}

void CMainWindow::OpenDemoBench() {
    // A new window on the demo bench, then this one (which has no device)
    // closes.
    if (QProcess::startDetached(QCoreApplication::applicationFilePath(), {QStringLiteral("--bench"), QStringLiteral("demo")})) {
        close();
        return;
    }
    ui_.MessageBox("The demo bench could not be opened: Spindle could not start itself again. Start it with "
                   "\"spindle --bench demo\".",
                   kAppTitle, mb::kOk | mb::kIconWarning);
}

void CMainWindow::RefreshCommandStates() {
    SyncStartPanel();
    // The title says when the list holds edits not yet saved.
    const QString title = frame_.List().Modified() ? baseTitle_ + tr(" (unsaved changes)") : baseTitle_;
    if (windowTitle() != title) setWindowTitle(title);
    for (const auto& [commandId, button] : buttons_) {
        button->setEnabled(CommandAvailability(frame_, commandId).enabled);
    }
    if (QAction* exit = MenuAction(cmd::kAppExit)) exit->setEnabled(frame_.IsCommandEnabled(cmd::kAppExit));
}

void CMainWindow::OnTimerTick(int timerId) {
    frame_.OnTimer(timerId);
    frame_.FollowBus();
    SyncJobsPane(frame_.JobRows());
    RefreshCommandStates();
}

// --- Port targets --------------------------------------------------------------------------------

QToolBar* CMainWindow::Bar(int barId) const {
    if (barId == bar::kMain) return mainBar_;
    if (barId == bar::kManufacturing) return manufacturingBar_;
    return nullptr;
}

QPushButton* CMainWindow::Button(int commandId) const {
    const auto found = buttons_.find(commandId);
    return found != buttons_.end() ? found->second : nullptr;
}

QAction* CMainWindow::MenuAction(int commandId) const {
    const auto found = menuActions_.find(commandId);
    return found != menuActions_.end() ? found->second : nullptr;
}

CProgressBar* CMainWindow::DevicePane(int pane) const {
    if (pane < 1 || pane > kDevicePanes) return nullptr;
    return devicePanes_[static_cast<std::size_t>(pane - 1)];
}

void CMainWindow::ShowButton(int commandId, bool visible) {
    const auto found = buttonActions_.find(commandId);
    if (found != buttonActions_.end()) found->second->setVisible(visible);
}

void CMainWindow::ShowBar(int barId, bool visible) {
    if (QToolBar* bar = Bar(barId)) bar->setVisible(visible);
}

bool CMainWindow::IsBarVisible(int barId) const {
    const QToolBar* bar = Bar(barId);
    return bar != nullptr && !bar->isHidden();
}

void CMainWindow::SetStatusText(int pane, const QString& text) {
    if (pane == 0) {
        if (messagePane_ != nullptr) messagePane_->setText(text);
    } else if (CProgressBar* bar = DevicePane(pane)) {
        bar->SetText(text);
    }
}

void CMainWindow::ShowProgressPane(int pane, const ProgressPaneView& view) {
    CProgressBar* bar = DevicePane(pane);
    if (bar == nullptr) return;
    bar->SetPaneOpen(view.open, view.width);
    bar->SetRange(0, view.maximum, 1);
    bar->SetBarColour(QColor::fromRgb(view.barColour));
    bar->SetBkColour(QColor::fromRgb(view.backgroundColour));
    if (view.barShown) {
        bar->SetPos(view.position);
        bar->SetText(QString::fromStdString(view.text));
    } else {
        bar->Clear();
    }
}

void CMainWindow::ShowNotice(const QString& text, const QString& title, unsigned style) {
    auto* box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(title);
    box->setText(text);
    box->setIcon((style & 0xF0u) == mb::kIconError ? QMessageBox::Critical : QMessageBox::Information);
    box->setStandardButtons(QMessageBox::Ok);
    FitTitle(*box);
    box->setModal(false);
    box->show();
}

void CMainWindow::RefreshJobs() {
    if (jobsList_ == nullptr) {
        jobsDock_ = new QDockWidget(QStringLiteral("Programming jobs"), this);
        jobsDock_->setObjectName(QStringLiteral("jobsPanel"));
        jobsList_ = new QTreeWidget(jobsDock_);
        jobsList_->setRootIsDecorated(false);
        jobsList_->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Job"), QStringLiteral("Progress"),
                                    QStringLiteral("Time left"), QStringLiteral("Result")});
        // Every column as wide as its texts ("loading the FPGA player 0%").
        jobsList_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        jobsDock_->setWidget(jobsList_);
        addDockWidget(Qt::BottomDockWidgetArea, jobsDock_);
    }
    const std::vector<JobRow> rows = frame_.JobRows();
    // The panel, once closed, comes back with the next job that starts.
    std::set<std::uint32_t> running;
    bool started = false;
    for (const JobRow& row : rows) {
        if (!row.running) continue;
        running.insert(row.deviceIndex);
        if (runningJobs_.count(row.deviceIndex) == 0) started = true;
    }
    runningJobs_ = std::move(running);
    SyncJobsPane(rows);
    jobsList_->clear();
    for (const JobRow& row : rows) {
        QStringList columns;
        columns << QStringLiteral("Ezusb-%1").arg(row.deviceIndex)
                << (row.kind == JobKind::Fpga ? QStringLiteral("FPGA") : QStringLiteral("EEPROM"))
                << (row.running ? QStringLiteral("%1 %2%").arg(QString::fromLatin1(JobPhaseText(row.phase))).arg(row.percent)
                                : QStringLiteral("done"))
                << (!row.running           ? QString()
                    : row.secondsLeft == 0 ? QStringLiteral("finishing")  // it outlived its estimate
                                           : QStringLiteral("%1:%2").arg(row.secondsLeft / 60).arg(row.secondsLeft % 60, 2, 10, QLatin1Char('0')))
                << (row.running ? QStringLiteral("running") : QString::fromStdString(row.result));
        jobsList_->addTopLevelItem(new QTreeWidgetItem(columns));
    }
    if (started && jobsDock_->isHidden()) jobsDock_->show();
}

void CMainWindow::SyncJobsPane(const std::vector<JobRow>& rows) {
    // Devices without a pane of their own (index 8 and above) still show in
    // the status bar: one pane counts the running jobs.
    int count = 0;
    bool withoutPane = false;
    for (const JobRow& row : rows) {
        if (!row.running) continue;
        ++count;
        if (row.deviceIndex >= static_cast<std::uint32_t>(kDevicePanes)) withoutPane = true;
    }
    jobsPane_->setText(count == 1 ? tr("1 job running") : tr("%1 jobs running").arg(count));
    jobsPane_->setVisible(withoutPane);
}

void CMainWindow::SetCloseEnabled(bool enabled) {
    if (enabled == closeEnabled_) return;
    closeEnabled_ = enabled;
    const bool wasVisible = isVisible();
    if (enabled) {
        setWindowFlags(Qt::Window);
    } else {
        // No system menu and no close box while a device is busy.
        setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint);
    }
    // Changing the flags hides a shown window.
    if (wasVisible) show();
}

}  // namespace spindle::gui
