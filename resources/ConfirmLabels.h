// The target confirmation's texts around its three value boxes, line by line: the dialog's
// template places them, and the command line prints each line as "before value after".
#pragma once

namespace vexil::confirm {

struct Label {
    const char* before;
    const char* after;
};

inline constexpr Label kTarget{"指定されたターゲット", "の"};
inline constexpr Label kCurrentVersion{"現在のバージョンは", "です。"};
inline constexpr Label kFileVersion{"ダウンロードするファイルのバージョンは、", "です。"};

// The two buttons: go on with the download, or leave the print server as it is.
inline constexpr const char* kDownload = "ダウンロードする";
inline constexpr const char* kDoNotDownload = "ダウンロードしない";

}  // namespace vexil::confirm
