#include "ui/AboutDialog.h"

#include <QPushButton>

#include "resources/DialogTemplates.h"
#include "ui/DialogBuilder.h"

namespace vexil {

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    const BuiltDialog built = BuildDialog(*this, AboutDialogTemplate());
    auto* ok = static_cast<QPushButton*>(built.byId.value(1));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace vexil
