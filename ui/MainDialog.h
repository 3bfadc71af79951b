// The main window in Qt: template 102's widgets, found by their ids, as the view of the shared
// window logic. Qt's signals become the logic's commands; what only Qt needs stays here: the
// focus kept at a disabled control's place, the about item of the context menu.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QPushButton>
#include <array>

#include "engine/Transport.h"
#include "frontend/MainWindowLogic.h"
#include "frontend/WindowView.h"
#include "resources/ControlIds.h"

namespace vexil {

class AddressEdit;
class DialogServices;

class MainDialog : public QDialog, private WindowView {
    Q_OBJECT
  public:
    MainDialog(Transport& transport, DialogServices& services, QWidget* parent = nullptr);
    ~MainDialog() override;

    MainWindowLogic& Logic() { return logic_; }
    QWidget* Control(int id) const { return controls_.value(id); }
    AddressEdit* Octet(int index) const;

    // The transport library's wait hook: keeps the window alive while a call waits.
    static void WaitHook(void* window);

  public slots:
    void reject() override;

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool focusNextPrevChild(bool next) override;

  private:
    template <typename Widget>
    Widget* As(int id) const {
        return qobject_cast<Widget*>(Control(id));
    }
    // Keeps the keyboard focus at `control`'s place in the template order when that control
    // cannot hold it (disabled): the dialog itself takes the focus, so Enter reaches only the
    // default button, and the next Tab goes on from that place.
    void ParkFocusAt(QWidget* control);

    // The view.
    std::string Text(int id) const override { return As<QLineEdit>(id)->text().toStdString(); }
    void SetText(int id, const std::string& text) override;
    bool Checked(int id) const override { return As<QCheckBox>(id)->isChecked(); }
    void SetChecked(int id, bool checked) override { As<QCheckBox>(id)->setChecked(checked); }
    bool Enabled(int id) const override { return Control(id)->isEnabled(); }
    void Enable(int id, bool enabled) override { Control(id)->setEnabled(enabled); }
    void Show(int id, bool visible) override { Control(id)->setVisible(visible); }
    void AddItem(int id, const std::string& text) override {
        As<QComboBox>(id)->addItem(QString::fromStdString(text));
    }
    void Select(int id, int index) override { As<QComboBox>(id)->setCurrentIndex(index); }
    int Selection(int id) const override { return As<QComboBox>(id)->currentIndex(); }
    std::string SelectedText(int id) const override {
        return As<QComboBox>(id)->currentText().toStdString();
    }
    void SetProgress(int low, int high, int position) override;
    void SetDefaultButton(int id) override { As<QPushButton>(id)->setDefault(true); }
    int Focused() const override;
    void Focus(int id) override { Control(id)->setFocus(Qt::OtherFocusReason); }
    void ParkFocus(int id) override { ParkFocusAt(Control(id)); }
    AddressFieldLogic& Field(int id) override;
    void ShowMessage(int stringId, Icon icon) override;
    int RunConfirmation(const std::array<std::string, 3>& shown) override;
    void ShowAbout() override;
    std::filesystem::path ChooseFile(const std::vector<FileFilter>& filters) override;
    bool OpenWebPage(const char* address) override;
    void Close() override { QDialog::done(control::kCancel); }
    void TakeEvents() override { WaitHook(this); }
    void WaitForEvents(int maxWaitMs) override;
    std::int64_t NowMilliseconds() override;
    void* WindowHandle() override { return this; }

    DialogServices& services_;
    QMap<int, QWidget*> controls_;
    QList<QWidget*> inOrder_;  // template order, labels included
    QPointer<QWidget> focusPlace_;
    MainWindowLogic logic_;
};

}  // namespace vexil
