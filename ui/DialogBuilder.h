// Makes a dialog's widgets from its template: dialog units become pixels through the dialog
// font's average character width and height, and every control is found by its id.
#pragma once

#include <QFont>
#include <QList>
#include <QMap>
#include <QWidget>
#include <functional>

#include "resources/DialogTemplates.h"

class QDialog;

namespace vexil {

struct BuiltDialog {
    QMap<int, QWidget*> byId;
    QList<QWidget*> inOrder;  // template order, labels included
};

// The dialog font: the template's family, then the installed Japanese stand-ins.
QFont DialogFont(const DialogTemplate& dialogTemplate);

// Factory for the edit controls, so a dialog can put its own edit classes in place (null: a
// plain line edit).
using EditFactory = std::function<QWidget*(const ControlSpec& control, QWidget* parent)>;

BuiltDialog BuildDialog(QDialog& dialog, const DialogTemplate& dialogTemplate,
                        const EditFactory& makeEdit = {});

// The pixel rectangle of a rectangle in dialog units for `font`.
QRect DialogUnitsToPixels(const QFont& font, int x, int y, int width, int height);

}  // namespace vexil
