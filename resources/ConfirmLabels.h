// The target confirmation's texts around its three value boxes, line by line, as keys of the
// catalogs (resources/Text.h): the dialog's template places them, and the command line prints
// each line as "before value after".
#pragma once

namespace vexil::confirm {

struct Label {
    const char* before;
    const char* after;
};

inline constexpr Label kTarget{"dlg.confirm.target.before", "dlg.confirm.target.after"};
inline constexpr Label kCurrentVersion{"dlg.confirm.current-version.before",
                                       "dlg.confirm.current-version.after"};
inline constexpr Label kFileVersion{"dlg.confirm.file-version.before",
                                    "dlg.confirm.file-version.after"};

// The two buttons: go on with the download, or leave the print server as it is.
inline constexpr const char* kDownload = "dlg.confirm.download";
inline constexpr const char* kDoNotDownload = "dlg.confirm.do-not-download";

}  // namespace vexil::confirm
