#include "QtUserInterface.h"
#include "DialogParts.h"

#include <future>

#include <QEvent>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <memory>

#include "Dialogs.h"
#include "MainWindow.h"
#include "platform/INIFileSupport.h"

namespace spindle::gui {

namespace {
// Where the window remembers the last folder of each kind of file.
constexpr const char* kFileDialogsSection = "FileDialogs";
}  // namespace


QString QtFileFilter(const std::string& filter) {
    const QStringList parts = Q(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        const QString& patterns = parts[i + 1];
        if (description.isEmpty() && patterns.isEmpty()) break;
        // Qt reads the patterns from the parentheses; add them when the
        // description does not already show them.
        // "*.*" means every file; here that is "*" (names need no dot).
        QStringList patternList = patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patternList) {
            if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
        }
        const QString qtPatterns = patternList.join(QLatin1Char(' '));
        if (description.contains(QLatin1Char('('))) {
            const qsizetype open = description.lastIndexOf(QLatin1Char('('));
            entries << description.left(open) + QLatin1Char('(') + qtPatterns + QLatin1Char(')');
        } else {
            entries << description + QStringLiteral(" (") + qtPatterns + QLatin1Char(')');
        }
    }
    return entries.join(QStringLiteral(";;"));
}

CQtUserInterface::CQtUserInterface(CMainWindow& window) : window_(window) {}

CQtUserInterface::~CQtUserInterface() {
    while (waitCursorDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --waitCursorDepth_;
    }
}

int CQtUserInterface::MessageBox(const std::string& text, const std::string& title, unsigned style) {
    const QString qtText = Q(text);
    const QString qtTitle = title.empty() ? QString::fromLatin1(kDefaultTitle) : Q(title);
    if (QThread::currentThread() == thread()) return ShowMessageBox(qtText, qtTitle, style);
    // A worker thread: the box must be shown by the user-interface thread,
    // and the worker waits for the operator's answer. The answer comes back
    // through a promise rather than Qt's blocking connection, so the hand-over
    // is one the thread sanitizer sees (Qt's own libraries are not built
    // with it).
    std::promise<int> answered;
    std::future<int> answer = answered.get_future();
    QMetaObject::invokeMethod(
        this, [this, qtText, qtTitle, style, &answered] { answered.set_value(ShowMessageBox(qtText, qtTitle, style)); },
        Qt::QueuedConnection);
    return answer.get();
}

int CQtUserInterface::ShowMessageBox(const QString& text, const QString& title, unsigned style) {
    if (messageHook) return messageHook(text, title, style);
    QMessageBox box(&window_);
    box.setWindowTitle(title);
    box.setText(text);
    switch (style & 0xF0u) {
        case mb::kIconError: box.setIcon(QMessageBox::Critical); break;
        case mb::kIconQuestion: box.setIcon(QMessageBox::Question); break;
        case mb::kIconWarning: box.setIcon(QMessageBox::Warning); break;
        case mb::kIconInformation: box.setIcon(QMessageBox::Information); break;
        default: break;
    }
    switch (style & 0x0Fu) {
        case mb::kOkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
        case mb::kYesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
        case mb::kYesNoCancel:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setEscapeButton(QMessageBox::Cancel);
            break;
        default: box.setStandardButtons(QMessageBox::Ok); break;
    }
    FitTitle(box);
    switch (box.exec()) {
        case QMessageBox::Cancel: return mb::kIdCancel;
        case QMessageBox::Yes: return mb::kIdYes;
        case QMessageBox::No: return mb::kIdNo;
        default: return mb::kIdOk;
    }
}

int CQtUserInterface::DoModal(CDialogModel& model) {
    std::unique_ptr<CModelDialog> dialog = MakeDialog(model, &window_);
    if (!dialog) return mb::kIdCancel;
    int answer = mb::kIdCancel;
    if (dialogHook) {
        answer = dialogHook(model, *dialog);
    } else {
        answer = dialog->exec() == QDialog::Accepted ? mb::kIdOk : mb::kIdCancel;
    }
    if (answer == mb::kIdOk) dialog->Store();
    return answer;
}

bool CQtUserInterface::ChooseFile(FileChoice& choice) {
    // Each kind of file (by its extension: EEPROM images, XSVF designs,
    // calibration files) opens where the last file of that kind came from,
    // unless the command names a folder of its own.
    CINIFileSupport store(*this, nullptr, 1, &window_);
    const std::string kindKey = choice.defaultExtension.empty() ? std::string() : choice.defaultExtension + "Folder";
    if (choice.initialFolder.empty() && !kindKey.empty()) {
        choice.initialFolder = store.ReadText(kFileDialogsSection, kindKey.c_str(), "");
    }
    const bool chosen = fileHook ? fileHook(choice) : RunFileDialog(choice);
    if (chosen && !kindKey.empty() && !choice.chosenPath.empty()) {
        const QString folder = QFileInfo(Q(choice.chosenPath)).absolutePath();
        if (QDir(folder).exists()) store.WriteText(kFileDialogsSection, kindKey.c_str(), folder.toStdString());
    }
    return chosen;
}

bool CQtUserInterface::RunFileDialog(FileChoice& choice) {
    QString folder = Q(choice.initialFolder);
    // Folders written for another system (a drive letter) fall back to the home folder.
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
    if (!choice.initialName.empty()) folder = QDir(folder).filePath(Q(choice.initialName));
    QFileDialog dialog(&window_, Q(choice.title), folder, QtFileFilter(choice.filter));
    dialog.setAcceptMode(choice.forOpening ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(choice.forOpening ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (!choice.defaultExtension.empty()) dialog.setDefaultSuffix(Q(choice.defaultExtension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    choice.chosenPath = dialog.selectedFiles().constFirst().toStdString();
    return true;
}

void CQtUserInterface::SetWaitCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (waitCursorDepth_++ == 0) qApp->installEventFilter(this);
    } else if (waitCursorDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        if (--waitCursorDepth_ == 0) qApp->removeEventFilter(this);
    }
}

bool CQtUserInterface::eventFilter(QObject* watched, QEvent* event) {
    if (waitCursorDepth_ == 0) return QObject::eventFilter(watched, event);
    // A box or dialog the command opened takes its input as usual.
    if (QApplication::activeModalWidget() != nullptr) return QObject::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;  // dropped: the command in progress is not interrupted or followed
        case QEvent::Close:
            // The window cannot close under a running command.
            if (watched == &window_) {
                event->ignore();
                return true;
            }
            break;
        default: break;
    }
    return QObject::eventFilter(watched, event);
}

void CQtUserInterface::SetTimer(int id, unsigned periodMs) {
    if (manualTimers_) {
        manualRunning_[id] = true;
        return;
    }
    QTimer*& timer = timers_[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] { window_.OnTimerTick(id); });
    }
    timer->start(static_cast<int>(periodMs));
}

void CQtUserInterface::KillTimer(int id) {
    manualRunning_[id] = false;
    const auto found = timers_.find(id);
    if (found != timers_.end()) found->second->stop();
}

bool CQtUserInterface::IsTimerRunning(int id) const {
    if (manualTimers_) {
        const auto found = manualRunning_.find(id);
        return found != manualRunning_.end() && found->second;
    }
    const auto found = timers_.find(id);
    return found != timers_.end() && found->second->isActive();
}

void CQtUserInterface::FireTimer(int id) {
    if (IsTimerRunning(id)) window_.OnTimerTick(id);
}

void CQtUserInterface::ShowButton(int commandId, bool visible) { window_.ShowButton(commandId, visible); }

void CQtUserInterface::ShowBar(int barId, bool visible) { window_.ShowBar(barId, visible); }

bool CQtUserInterface::IsBarVisible(int barId) const { return window_.IsBarVisible(barId); }

void CQtUserInterface::SetStatusText(int pane, const std::string& text) { window_.SetStatusText(pane, Q(text)); }

void CQtUserInterface::SetCloseEnabled(bool enabled) { window_.SetCloseEnabled(enabled); }

void CQtUserInterface::ShowProgressPane(int pane, const ProgressPaneView& view) {
    window_.ShowProgressPane(pane, view);
}

void CQtUserInterface::ShowNotice(const std::string& text, const std::string& title, unsigned style) {
    const QString qtTitle = title.empty() ? QString::fromLatin1(kDefaultTitle) : Q(title);
    // The test hook answers boxes synchronously; a notice goes through it too.
    if (messageHook) {
        messageHook(Q(text), qtTitle, style);
        return;
    }
    window_.ShowNotice(Q(text), qtTitle, style);
}

void CQtUserInterface::JobsChanged() { window_.RefreshJobs(); }

void CQtUserInterface::CommandStateChanged() { window_.RefreshCommandStates(); }

}  // namespace spindle::gui
