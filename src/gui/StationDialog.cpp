#include "StationDialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <set>

#include "app/MainFrame.h"
#include "app/Station.h"
#include "inventory/Classification.h"
#include "platform/UserInterface.h"

namespace spindle::gui {

namespace {

constexpr int kTileColumns = 4;

// A tile's colours and its big word, by the device's state.
struct TileLook {
    const char* word;
    const char* background;
    const char* foreground;
};
TileLook LookOf(StationState state) {
    switch (state) {
        case StationState::Passed: return {"PASS", "#1b7f2a", "#ffffff"};
        case StationState::Failed: return {"FAIL", "#c0171b", "#ffffff"};
        case StationState::Programming: break;
    }
    return {"", "#f2d25c", "#000000"};
}

QString TileText(const StationTile& tile) {
    QString small;
    if (tile.state != StationState::Programming) {
        small = QString::fromStdString(tile.detail);
    } else if (tile.secondsLeft > 0) {
        small = QStringLiteral("%1 %2:%3")
                    .arg(QString::fromLatin1(JobPhaseText(tile.phase)))
                    .arg(tile.secondsLeft / 60)
                    .arg(tile.secondsLeft % 60, 2, 10, QLatin1Char('0'));
    } else {
        small = QStringLiteral("%1 %2 %3%")
                    .arg(tile.step == JobKind::Fpga ? QStringLiteral("FPGA") : QStringLiteral("EEPROM"),
                         QString::fromLatin1(JobPhaseText(tile.phase)))
                    .arg(tile.percent);
    }
    const TileLook look = LookOf(tile.state);
    return QStringLiteral("<div style='font-size:16pt'>Ezusb-%1 %2</div><div style='font-size:40pt; font-weight:bold'>%3</div>"
                          "<div style='font-size:11pt'>%4</div>")
        .arg(tile.deviceIndex)
        .arg(QString::fromStdString(tile.serial).toHtmlEscaped(), QString::fromLatin1(look.word),
             small.toHtmlEscaped());
}

}  // namespace

CStationDialog::CStationDialog(CMainFrame& frame, IUserInterface& ui, bool manualTicks, QWidget* parent)
    : QDialog(parent),
      frame_(frame),
      ui_(ui),
      manualTicks_(manualTicks),
      family_(new QComboBox(this)),
      image_(new QLineEdit(this)),
      xsvf_(new QLineEdit(this)),
      start_(new QPushButton(tr("&Start"), this)),
      stop_(new QPushButton(tr("S&top"), this)),
      count_(new QLabel(this)),
      tiles_(new QGridLayout) {
    setObjectName(QStringLiteral("stationDialog"));
    setWindowTitle(tr("Station"));
    // One entry per family, under the model name the tree groups it by.
    std::set<int> listed;
    for (const ClassificationRow& row : ClassificationTable()) {
        if (listed.insert(row.family).second) family_->addItem(QString::fromStdString(ModelName(row)), row.family);
    }
    auto* imageRow = new QHBoxLayout;
    imageRow->addWidget(image_, 1);
    auto* browseImage = new QPushButton(tr("&Browse..."), this);
    imageRow->addWidget(browseImage);
    auto* xsvfRow = new QHBoxLayout;
    xsvfRow->addWidget(xsvf_, 1);
    auto* browseXsvf = new QPushButton(tr("B&rowse..."), this);
    xsvfRow->addWidget(browseXsvf);
    xsvf_->setPlaceholderText(tr("none"));
    auto* form = new QFormLayout;
    form->addRow(tr("&Family:"), family_);
    form->addRow(tr("EEPROM image:"), imageRow);
    form->addRow(tr("FPGA XSVF file:"), xsvfRow);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(start_);
    buttons->addWidget(stop_);
    buttons->addStretch(1);
    QFont countFont = count_->font();
    countFont.setPointSize(20);
    countFont.setBold(true);
    count_->setFont(countFont);
    count_->setObjectName(QStringLiteral("stationCount"));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(count_);
    layout->addLayout(tiles_);
    layout->addStretch(1);
    stop_->setEnabled(false);
    connect(browseImage, &QPushButton::clicked, this,
            [this] { Browse(image_, "Select EEPROM Program", "EEPROM Programs (*.iic)|*.iic|All Files (*.*)|*.*|"); });
    connect(browseXsvf, &QPushButton::clicked, this,
            [this] { Browse(xsvf_, "Select XSVF File", "XSVF Files (*.xsvf)|*.xsvf|All Files (*.*)|*.*|"); });
    connect(start_, &QPushButton::clicked, this, [this] { StartStation(); });
    connect(stop_, &QPushButton::clicked, this, [this] {
        if (station_) station_->Stop();
        Render();
    });
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    resize(900, 600);
    Render();
}

CStationDialog::~CStationDialog() = default;

void CStationDialog::Browse(QLineEdit* edit, const char* title, const char* filter) {
    FileChoice choice;
    choice.title = title;
    choice.filter = filter;
    if (ui_.ChooseFile(choice) && !choice.chosenPath.empty()) edit->setText(QString::fromStdString(choice.chosenPath));
}

void CStationDialog::StartStation() {
    StationOptions options;
    options.family = static_cast<std::uint32_t>(family_->currentData().toInt());
    options.imagePath = image_->text().trimmed().toStdString();
    options.xsvfPath = xsvf_->text().trimmed().toStdString();
    auto station = std::make_unique<CStation>(frame_, options);
    const Outcome started = station->Start();
    if (!started.Ok()) {
        // The image's own checks showed their boxes; the station's refusals
        // (an image for the other chip, a family without logic) are said here.
        std::string text;
        for (const std::string& problem : started.failed) text += (text.empty() ? "" : "\n") + problem;
        if (started.messages.empty() && !text.empty()) ui_.MessageBox(text, kAppTitle, mb::kOk | mb::kIconError);
        return;
    }
    // Tiles of an earlier run go with it.
    for (auto& [index, label] : tileLabels_) delete label;
    tileLabels_.clear();
    station_ = std::move(station);
    if (!manualTicks_) timer_.start(kTickMs);
    Tick();
}

void CStationDialog::Tick() {
    if (station_) station_->Tick(frame_.GetPlatform().clock.NowMs());
    Render();
}

void CStationDialog::Render() {
    const bool running = station_ && !station_->Finished();
    for (QWidget* input : {static_cast<QWidget*>(family_), static_cast<QWidget*>(image_), static_cast<QWidget*>(xsvf_)}) {
        input->setEnabled(!running);
    }
    start_->setEnabled(!running);
    if (!station_) {
        count_->setText(tr("Choose the family and the image, then Start."));
        stop_->setEnabled(false);
        return;
    }
    const StationSnapshot snapshot = station_->Snapshot();
    stop_->setEnabled(running && !snapshot.stopping);
    QString count = tr("%1 passed, %2 failed").arg(snapshot.passed).arg(snapshot.failed);
    if (snapshot.count > 0) count += tr(", of %1").arg(snapshot.count);
    if (snapshot.finished) {
        count += tr(" \u2014 stopped");
    } else if (snapshot.stopping) {
        count += tr(" \u2014 stopping: the running jobs finish");
    }
    count_->setText(count);

    // A tile per device the station holds; an unplugged device's tile goes.
    std::set<std::uint32_t> shown;
    for (const StationTile& tile : snapshot.tiles) {
        shown.insert(tile.deviceIndex);
        QLabel*& label = tileLabels_[tile.deviceIndex];
        if (label == nullptr) {
            label = new QLabel(this);
            label->setObjectName(QStringLiteral("stationTile%1").arg(tile.deviceIndex));
            label->setAlignment(Qt::AlignCenter);
            label->setWordWrap(true);
            label->setMinimumSize(200, 150);
        }
        const TileLook look = LookOf(tile.state);
        label->setStyleSheet(QStringLiteral("QLabel { background: %1; color: %2; border-radius: 8px; padding: 6px; }")
                                 .arg(QString::fromLatin1(look.background), QString::fromLatin1(look.foreground)));
        label->setText(TileText(tile));
    }
    for (auto it = tileLabels_.begin(); it != tileLabels_.end();) {
        if (shown.count(it->first) == 0) {
            delete it->second;
            it = tileLabels_.erase(it);
        } else {
            ++it;
        }
    }
    int position = 0;
    for (const auto& [index, label] : tileLabels_) {
        tiles_->addWidget(label, position / kTileColumns, position % kTileColumns);
        ++position;
    }
}

QLabel* CStationDialog::Tile(std::uint32_t deviceIndex) const {
    const auto found = tileLabels_.find(deviceIndex);
    return found != tileLabels_.end() ? found->second : nullptr;
}

void CStationDialog::reject() {
    // Closing would leave the station's jobs without anyone to report them.
    if (station_ && station_->Programming()) {
        station_->Stop();
        Render();
        ui_.MessageBox("The station is still programming: the running jobs finish first (no new device is taken). "
                       "Close the station once they have.",
                       kAppTitle, mb::kOk | mb::kIconInformation);
        return;
    }
    timer_.stop();
    QDialog::reject();
}

}  // namespace spindle::gui
