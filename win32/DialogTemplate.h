// The dialogs' templates as the window functions take them: an in-memory extended dialog
// template made from the same template data as the other window, in its font and dialog units.
#pragma once

#include <windows.h>

#include <string_view>
#include <vector>

#include "resources/DialogTemplates.h"
#include "win32/IconResource.h"

namespace vexil::win32 {

inline constexpr int kIconResource = VEXIL_ICON_RESOURCE;

// A DLGTEMPLATEEX with its items, ready for DialogBoxIndirectParamW; `dialogStyle` is the
// dialog's window style (popup, caption, system menu, ...), to which the font flag is added.
class InMemoryTemplate {
  public:
    InMemoryTemplate(const DialogTemplate& dialogTemplate, DWORD dialogStyle);
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

  private:
    void Word(WORD value) { words_.push_back(value); }
    void DoubleWord(DWORD value);
    void Text(std::string_view utf8);
    void AlignToDoubleWord();

    std::vector<WORD> words_;
};

// The window style of one control of the template.
DWORD ControlStyle(const ControlSpec& control);

}  // namespace vexil::win32
