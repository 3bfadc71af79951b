// The main dialog on the offscreen platform with every platform piece answered by the test:
// message boxes, beeps and the confirmation recorded, the file dialog and browser stubbed, a
// fake clock for the download's waits.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <memory>

#include "tests/support/EngineFakes.h"
#include "ui/DialogServices.h"
#include "ui/FilterEdit.h"
#include "ui/MainDialog.h"
#include "ui/NumericEdit.h"
#include "ui/TargetConfirmDialog.h"

namespace vexil::test {

class RecordingServices : public DialogServices {
  public:
    void ShowMessageBox(QWidget*, int stringId, Icon icon) override {
        messages.push_back({stringId, icon});
        if (onMessage) {
            onMessage(stringId);
        }
    }
    int RunConfirmation(MainDialog& dialog) override {
        TargetConfirmDialog confirm(nullptr);
        confirm.mainDialog = &dialog;
        confirm.Fill();
        confirmLines = confirm.Lines();
        ++confirmations;
        return confirmation;
    }
    QString GetOpenFileName(QWidget*, const QString& filter) override {
        lastFilter = filter;
        return chosenFile;
    }
    bool OpenUrl(const QUrl& url) override {
        openedUrl = url;
        return browserWorks;
    }
    void Beep() override { ++beeps; }
    bool StartSockets() override { return socketsWork; }
    std::int64_t NowMilliseconds() override { return clock += 250; }  // waits run fast
    void RegisterWaitHook(void (*hook)(void*)) override {
        waitHook = hook;
        if (realWaitHook) {
            DialogServices::RegisterWaitHook(hook);
        }
    }

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
    bool socketsWork = true;
    std::int64_t clock = 0;
    void (*waitHook)(void*) = nullptr;
    bool realWaitHook = false;  // hand the hook to the real transport library too
};

class UiTest : public ::testing::Test {
  protected:
    void SetUp() override { Open(); }

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
    QComboBox* ModelList() const { return static_cast<QComboBox*>(W(1026)); }
    NumericEdit* Octet(int index) const { return dialog_->Octet(index); }
    FilterEdit* Mac() const { return static_cast<FilterEdit*>(W(1005)); }
    FilterEdit* Network() const { return static_cast<FilterEdit*>(W(1004)); }
    QLabel* Status() const { return static_cast<QLabel*>(W(1054)); }
    QProgressBar* Progress() const { return static_cast<QProgressBar*>(W(1010)); }

    void PickModel() {
        ModelList()->setCurrentIndex(0);
        emit ModelList()->activated(0);
    }
    void TypeAddress(const QStringList& octets) {
        for (int i = 0; i < 4; ++i) {
            Octet(i)->setText(octets[i]);
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
};

}  // namespace vexil::test
