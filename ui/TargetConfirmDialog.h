// Template 131: the target, the print server's current version and the file's version, with
// "download" (1) and "do not download" (2).
#pragma once

#include <QDialog>
#include <QFont>
#include <QStringList>

class QListWidget;

namespace vexil {

class MainDialog;

class TargetConfirmDialog : public QDialog {
    Q_OBJECT
  public:
    explicit TargetConfirmDialog(QWidget* parent);

    // Reads the main dialog and puts one line into each list box.
    void Fill();
    // The three lines: target, current version, file version.
    QStringList Lines() const;

    MainDialog* mainDialog = nullptr;
    QListWidget* currentVersionList = nullptr;
    QListWidget* fileVersionList = nullptr;
    QListWidget* targetList = nullptr;

  public slots:
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    bool filled_ = false;
};

// `font`, condensed just enough for `text` to fit `width` pixels whole (unchanged when it fits).
QFont FittedFont(const QFont& font, const QString& text, int width);

}  // namespace vexil
