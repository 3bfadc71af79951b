// Template 131: the target, the print server's current version and the file's version, with
// "download" (1) and "do not download" (2).
#pragma once

#include <QFont>
#include <QStringList>
#include <array>
#include <string>

#include "ui/DialogBuilder.h"

class QListWidget;

namespace vexil {

class TargetConfirmDialog : public TemplateDialog {
    Q_OBJECT
  public:
    explicit TargetConfirmDialog(QWidget* parent);

    // Puts one line into each list box: the target, the current version, the file's version.
    void Fill(const std::array<std::string, 3>& lines);
    // The three lines as the list boxes show them.
    QStringList Lines() const;
    // The list box of line `line` (0 to 2).
    QListWidget* List(std::size_t line) const { return lists_[line]; }

  private:
    std::array<QListWidget*, 3> lists_{};
};

// `font`, condensed just enough for `text` to fit `width` pixels whole (unchanged when it fits).
QFont FittedFont(const QFont& font, const QString& text, int width);

}  // namespace vexil
