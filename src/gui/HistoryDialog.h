#pragma once
#include <QDialog>

#include "history/HistoryBrowser.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTableView;

namespace spindle {
class IUserInterface;
}

namespace spindle::gui {

class CHistoryTableModel;

// File, History: the production record as a table, filtered by serial
// number, image, result and start date, and exported as CSV. A rendering of
// the core's CHistoryBrowser; the filters apply when Show is pressed (or
// Enter in a field).
class CHistoryDialog : public QDialog {
    Q_OBJECT
public:
    CHistoryDialog(CHistoryRecorder& recorder, IUserInterface& ui, QWidget* parent);
    ~CHistoryDialog() override;

    // Reads the records the filters select into the table.
    void Refresh();
    // Asks for a file and writes the records shown into it as CSV.
    void ExportCsv();
    const CHistoryBrowser& Browser() const { return browser_; }

private:
    HistoryCriteria Criteria() const;

    CHistoryBrowser browser_;
    IUserInterface& ui_;
    QLineEdit* serial_;
    QLineEdit* image_;
    QComboBox* result_;
    QLineEdit* since_;
    QTableView* table_;
    QLabel* status_;
    CHistoryTableModel* model_;
};

}  // namespace spindle::gui
