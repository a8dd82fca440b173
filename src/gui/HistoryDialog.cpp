#include "HistoryDialog.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <utility>

#include "platform/UserInterface.h"

namespace spindle::gui {

// The browser's rows, cell by cell as the view asks for them (a record of
// 100,000 rows is not copied into widgets).
class CHistoryTableModel final : public QAbstractTableModel {
public:
    CHistoryTableModel(const CHistoryBrowser& browser, QObject* parent)
        : QAbstractTableModel(parent), browser_(browser) {}
    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(browser_.Records().size());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(CHistoryBrowser::Columns().size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        return QString::fromStdString(
            browser_.Cell(static_cast<std::size_t>(index.row()), static_cast<std::size_t>(index.column())));
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
        return QString::fromStdString(CHistoryBrowser::Columns().at(static_cast<std::size_t>(section)));
    }
    // Runs `change` to the browser's records between the view's reset signals.
    void Reset(const std::function<void()>& change) {
        beginResetModel();
        change();
        endResetModel();
    }

private:
    const CHistoryBrowser& browser_;
};

namespace {

// The result filter's entries, in the order of the box.
struct ResultChoice {
    const char* text;
    std::optional<HistoryResult> result;
    bool failedOnly;
};
constexpr ResultChoice kResultChoices[] = {
    {"Any result", std::nullopt, false},          {"Worked", HistoryResult::Worked, false},
    {"Failed", HistoryResult::Failed, false},     {"Interrupted", HistoryResult::Interrupted, false},
    {"Failed or interrupted", std::nullopt, true},
};

// A new widget with the object name tests find it by.
template <typename Widget, typename... Args>
Widget* NamedWidget(const char* name, Args&&... args) {
    auto* widget = new Widget(std::forward<Args>(args)...);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

}  // namespace

CHistoryDialog::CHistoryDialog(CHistoryRecorder& recorder, IUserInterface& ui, QWidget* parent)
    : QDialog(parent), browser_(recorder), ui_(ui) {
    setWindowTitle(tr("History"));
    setObjectName(QStringLiteral("historyDialog"));
    serial_ = NamedWidget<QLineEdit>("historySerial", this);
    image_ = NamedWidget<QLineEdit>("historyImage", this);
    image_->setPlaceholderText(tr("SHA-256 (or its first digits), or an image file"));
    auto* chooseImage = NamedWidget<QPushButton>("historyChooseImage", tr("Choose..."), this);
    result_ = NamedWidget<QComboBox>("historyResult", this);
    for (const ResultChoice& choice : kResultChoices) result_->addItem(tr(choice.text));
    since_ = NamedWidget<QLineEdit>("historySince", this);
    since_->setPlaceholderText(tr("YYYY-MM-DD or YYYY-MM-DDTHH:MM (UTC)"));
    auto* show = NamedWidget<QPushButton>("historyShow", tr("&Show"), this);
    show->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);  // a button, not a bar across the form

    auto* imageRow = new QHBoxLayout;
    imageRow->addWidget(image_, 1);
    imageRow->addWidget(chooseImage);
    auto* filters = new QFormLayout;
    filters->addRow(tr("Serial number:"), serial_);
    filters->addRow(tr("Image:"), imageRow);
    filters->addRow(tr("Result:"), result_);
    filters->addRow(tr("Started since:"), since_);
    filters->addRow(QString(), show);

    model_ = new CHistoryTableModel(browser_, this);
    table_ = NamedWidget<QTableView>("historyTable", this);
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    status_ = NamedWidget<QLabel>("historyStatus", this);
    status_->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* exportButton = buttons->addButton(tr("&Export CSV..."), QDialogButtonBox::ActionRole);
    exportButton->setObjectName(QStringLiteral("historyExport"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(table_, 1);
    layout->addWidget(status_);
    layout->addWidget(buttons);
    resize(960, 560);

    connect(show, &QPushButton::clicked, this, &CHistoryDialog::Refresh);
    for (QLineEdit* field : {serial_, image_, since_}) {
        connect(field, &QLineEdit::returnPressed, this, &CHistoryDialog::Refresh);
    }
    connect(chooseImage, &QPushButton::clicked, this, [this] {
        FileChoice choice;
        choice.title = "Image";
        choice.filter = "All Files (*.*)|*.*|";
        if (ui_.ChooseFile(choice)) image_->setText(QString::fromStdString(choice.chosenPath));
    });
    connect(exportButton, &QPushButton::clicked, this, &CHistoryDialog::ExportCsv);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Enter shows; it does not close the dialog.
    show->setDefault(true);
    Refresh();
}

CHistoryDialog::~CHistoryDialog() = default;

HistoryCriteria CHistoryDialog::Criteria() const {
    const ResultChoice& choice = kResultChoices[std::max(0, result_->currentIndex())];
    return {serial_->text().trimmed().toStdString(), image_->text().trimmed().toStdString(),
            since_->text().trimmed().toStdString(), choice.result, choice.failedOnly};
}

void CHistoryDialog::Refresh() {
    std::string problem;
    const auto filter = HistoryFilterFor(Criteria(), problem);
    bool shown = false;
    model_->Reset([&] {
        shown = filter && browser_.Show(*filter, problem);
        if (!filter) browser_.Clear();  // no rows that the filters shown did not select
    });
    const std::size_t count = browser_.Records().size();
    status_->setText(shown ? (count == 1 ? tr("1 record") : tr("%1 records").arg(count))
                           : QString::fromStdString(problem));
    table_->resizeColumnsToContents();
}

void CHistoryDialog::ExportCsv() {
    FileChoice choice;
    choice.forOpening = false;
    choice.title = "Export CSV";
    choice.filter = "CSV Files (*.csv)|*.csv|";
    choice.defaultExtension = "csv";
    choice.initialName = "history.csv";
    if (!ui_.ChooseFile(choice)) return;
    std::string problem;
    if (!browser_.ExportCsv(choice.chosenPath, problem)) ui_.MessageBox(problem, "History", mb::kOk | mb::kIconWarning);
}

}  // namespace spindle::gui
