// Makes a dialog's widgets from its template: dialog units become pixels through the dialog
// font's average character width and height, and every control is found by its id.
#pragma once

#include <QDialog>
#include <QFont>
#include <QList>
#include <QMap>
#include <QWidget>
#include <functional>

#include "resources/DialogTemplates.h"

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

// A small modal dialog made from its template: push button 1 is its default and ends it with 1;
// push button 2, Escape and the close box end it with 2.
class TemplateDialog : public QDialog {
    Q_OBJECT
  public:
    TemplateDialog(const DialogTemplate& dialogTemplate, QWidget* parent);
    QWidget* Control(int id) const { return controls_.value(id); }

  public slots:
    void reject() override { done(control::kCancel); }

  private:
    QMap<int, QWidget*> controls_;
};

// The pixel rectangle of a rectangle in dialog units for `font`.
QRect DialogUnitsToPixels(const QFont& font, int x, int y, int width, int height);

}  // namespace vexil
