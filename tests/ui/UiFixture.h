// The main dialog on the offscreen platform with every platform piece answered by the test:
// message boxes, beeps and the confirmation recorded, the file dialog and browser stubbed, a
// fake clock for the download's waits.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <deque>
#include <memory>

#include "engine/TargetRecord.h"
#include "resources/ControlIds.h"
#include "resources/ResourceIds.h"
#include "tests/support/Deadline.h"
#include "tests/support/EngineFakes.h"
#include "ui/AddressEdit.h"
#include "ui/DialogServices.h"
#include "ui/MainDialog.h"
#include "ui/TargetConfirmDialog.h"

// Readable QStrings in test failures.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace vexil::test {

// The controls by their names, in every UI test.
using namespace vexil::control;

class RecordingServices : public DialogServices {
  public:
    void ShowMessageBox(QWidget* parent, int stringId, Icon icon) override {
        messages.push_back({stringId, icon});
        if (onMessage) {
            onMessage(stringId);
        }
        if (realDialogs) {
            DialogServices::ShowMessageBox(parent, stringId, icon);
        }
    }
    // The one modal dialog a download runs is the confirmation.
    int RunModal(QDialog& dialog) override {
        ++confirmations;
        if (auto* confirm = qobject_cast<TargetConfirmDialog*>(&dialog)) {
            confirmLines = confirm->Lines();
        }
        return realDialogs ? DialogServices::RunModal(dialog) : confirmation;
    }
    QString GetOpenFileName(QWidget* parent, const QString& filter) override {
        lastFilter = filter;
        return realDialogs ? DialogServices::GetOpenFileName(parent, filter) : chosenFile;
    }
    bool OpenUrl(const QUrl& url) override {
        openedUrl = url;
        return browserWorks;
    }
    void Beep() override { ++beeps; }
    std::int64_t NowMilliseconds() override { return clock += 250; }  // waits run fast

    std::vector<RecordedMessage> messages;
    std::function<void(int)> onMessage;
    int beeps = 0;
    int confirmation = 1;
    int confirmations = 0;
    QStringList confirmLines;
    QString chosenFile;
    QString lastFilter;
    QUrl openedUrl;
    bool browserWorks = true;
    std::int64_t clock = 0;
    bool realDialogs = false;  // show the real boxes and dialogs (a ModalAnswerer answers them)
};

// Answers the modal windows and menus that open while a test drives the window, as a person
// would: each is recorded and answered with the keys queued for it, sent to the widget that has
// the focus in it (Enter for a window, Escape for a menu, when nothing is queued).
class ModalAnswerer : public QObject {
  public:
    struct Seen {
        QString kind;   // QMessageBox, QFileDialog, QMenu or the dialog's class name
        QString title;  // window title
        QString text;   // a box's text; a menu's items, joined by "|"
        QMessageBox::Icon icon = QMessageBox::NoIcon;  // a box's icon
    };

    ModalAnswerer() {
        connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::Poll);
        timer_.start(5);
    }
    void Queue(std::vector<int> keys) { answers_.push_back(std::move(keys)); }

    std::vector<Seen> seen;
    std::function<void(QWidget*)> inspect;  // looks at each window before it is answered

  private:
    // How long a window may take to become active, and to close once answered.
    static constexpr qint64 kDeadlineMs = 20'000;

    void Poll() {
        QWidget* menu = QApplication::activePopupWidget();
        QWidget* window = menu != nullptr ? menu : QApplication::activeModalWidget();
        if (window == nullptr || !window->isVisible()) {
            return;
        }
        if (answered_.contains(window)) {
            Watch(window, "close on the keys it was answered with");
            return;
        }
        if (menu == nullptr && QApplication::activeWindow() != window) {
            QApplication::setActiveWindow(window);
            Watch(window, "become active");
            return;
        }
        answered_.append(window);
        watched_ = window;
        since_.start();
        Seen what{window->metaObject()->className(), window->windowTitle(), {}};
        if (auto* box = qobject_cast<QMessageBox*>(window)) {
            what.text = box->text();
            what.icon = box->icon();
        } else if (auto* popup = qobject_cast<QMenu*>(window)) {
            for (QAction* action : popup->actions()) {
                what.text += action->text() + "|";
            }
        }
        seen.push_back(what);
        if (inspect) {
            inspect(window);
        }
        std::vector<int> keys = {menu != nullptr ? Qt::Key_Escape : Qt::Key_Return};
        if (!answers_.empty()) {
            keys = answers_.front();
            answers_.pop_front();
        }
        for (int key : keys) {
            QWidget* focused = QApplication::focusWidget();
            QTest::keyClick(focused != nullptr && focused->window() == window ? focused : window,
                            static_cast<Qt::Key>(key));
        }
    }

    // A modal window's own event loop holds the test until the window closes: one that does not
    // become active, or does not close on its answer, by the deadline fails the test and is
    // closed, so that the test goes on to its end.
    void Watch(QWidget* window, const char* what) {
        if (watched_ != window) {
            watched_ = window;
            since_.start();
            return;
        }
        if (since_.elapsed() < kDeadlineMs) {
            return;
        }
        ADD_FAILURE() << "gave up after " << kDeadlineMs / 1000 << " s waiting for the "
                      << window->metaObject()->className() << " \""
                      << window->windowTitle().toStdString() << "\" to " << what;
        answered_.append(window);
        watched_ = nullptr;
        if (auto* dialog = qobject_cast<QDialog*>(window)) {
            dialog->reject();
        } else {
            window->close();
        }
    }

    QTimer timer_;
    std::deque<std::vector<int>> answers_;
    QList<QPointer<QWidget>> answered_;
    QPointer<QWidget> watched_;
    QElapsedTimer since_;
};

class UiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        watchdog_ = std::make_unique<Watchdog>(
            TestSeconds(), "the test to end (a modal window or a download that never ends?)");
        Open();
    }
    // How long one test may take in all.
    virtual double TestSeconds() const { return 120; }

    // What a download that a test stands in for returns: only its result.
    static DownloadOutcome Ended(int result) {
        DownloadOutcome outcome;
        outcome.result = static_cast<DownloadResult>(result);
        return outcome;
    }
    // The target record the engine makes of a request.
    static TargetRecordPtr RecordOf(const DownloadRequest& request) {
        TargetRecordPtr record = CreateTargetRecord();
        FillTargetRecord(request, *record);
        return record;
    }

    void Open() {
        dialog_.reset();
        dialog_ = std::make_unique<MainDialog>(DialogTransport(), services_);
        dialog_->show();
        QApplication::setActiveWindow(dialog_.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
    }

    // The transport behind the dialog: the scripted one unless a test brings the real one.
    virtual Transport& DialogTransport() { return transport_; }

    QWidget* W(int id) const { return dialog_->Control(id); }
    QCheckBox* Check(int id) const { return static_cast<QCheckBox*>(W(id)); }
    QComboBox* ModelList() const { return static_cast<QComboBox*>(W(kModelList)); }
    AddressEdit* Octet(int index) const { return dialog_->Octet(index); }
    AddressEdit* Mac() const { return static_cast<AddressEdit*>(W(kMacAddress)); }
    AddressEdit* Network() const { return static_cast<AddressEdit*>(W(kNetworkAddress)); }
    QLabel* Status() const { return static_cast<QLabel*>(W(kStatusLine)); }
    QProgressBar* Progress() const { return static_cast<QProgressBar*>(W(kProgress)); }

    void PickModel() {
        ModelList()->setCurrentIndex(0);
        emit ModelList()->activated(0);
    }
    void TypeAddress(const QStringList& octets) {
        for (int i = 0; i < 4; ++i) {
            Octet(i)->setText(octets[i]);
        }
    }
    // Keys as a person presses them: each goes to the widget that has the focus at that moment.
    // When a modal window has closed, the window manager gives the main window back its
    // activation; the offscreen platform has none, so the test does it.
    QWidget* Focused() const {
        if (QApplication::activeWindow() == nullptr && dialog_ != nullptr && dialog_->isVisible()) {
            QApplication::setActiveWindow(dialog_.get());
        }
        return QApplication::focusWidget();
    }
    // A right click, with the context-menu request the platform makes of it.
    static void RightClick(QWidget* widget) {
        QTest::mouseClick(widget, Qt::RightButton);
        const QPoint at = widget->rect().center();
        QContextMenuEvent request(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &request);
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* focused = Focused();
        QWidget* target = focused != nullptr ? focused : dialog_.get();
        if (modifiers == Qt::ControlModifier && key >= Qt::Key_A && key <= Qt::Key_Z) {
            // Ctrl and a letter carry the control character, as a real keyboard sends them.
            const QString control(QChar(static_cast<char16_t>(key - Qt::Key_A + 1)));
            QTest::sendKeyEvent(QTest::Click, target, static_cast<Qt::Key>(key), control,
                                modifiers);
            return;
        }
        QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);
    }
    void Type(const QString& text) {
        for (const QChar c : text) {
            QWidget* focused = Focused();
            QTest::keyClick(focused != nullptr ? focused : dialog_.get(), c.toLatin1());
        }
    }
    std::vector<int> MessageIds() const {
        std::vector<int> ids;
        for (const auto& m : services_.messages) {
            ids.push_back(m.id);
        }
        return ids;
    }

    ScriptedTransport transport_;
    RecordingServices services_;
    std::unique_ptr<MainDialog> dialog_;
    std::unique_ptr<Watchdog> watchdog_;
};

}  // namespace vexil::test
