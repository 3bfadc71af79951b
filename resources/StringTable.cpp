// Every text the program shows, by its string number, in UTF-8. The texts are kept exactly as
// the user sees them, line breaks included ("\r\n" and the lone "\n" of some messages alike).
#include "resources/StringTable.h"

#include <algorithm>
#include <iterator>

#include "resources/ResourceIds.h"

namespace vexil {

namespace {

struct Entry {
    int id;
    const char* text;
};

constexpr Entry kStrings[] = {
    {msg::kAboutMenuItem, "ﾊﾞｰｼﾞｮﾝ情報(Vexilware) (&A)..."},
    {msg::kReadFailed, "ダウンロードファイルの読み込みに失敗しました。"},
    {msg::kChecksumError, "サムチェックエラーが発生しました。"},
    {msg::kDataLengthError, "データ長が異常です。"},
    {msg::kFormatError, "ファイルの書式が異常です。"},
    {msg::kCannotOpenFile, "ダウンロードファイルが開けません。"},
    {msg::kWinsockFailed, "Winsockの初期化に失敗しました。"},
    {msg::kDownloadFinished,
     "ダウンロードが終了しました。\r\nプリンタの電源をリセットしてください。"},
    {msg::kDownloadCancelled,
     "ダウンロードがキャンセルされました。\r\nプリントサーバがダウンロードモードになっているため、"
     "もう一度ダウンロードを行ってください。"},
    {msg::kVersionFailed, "バージョン情報取得に失敗しました。"},
    {msg::kVersionInvalid, "バージョン情報取得に失敗しました。"},
    {msg::kConnectFailed, "プリントサーバとの通信に失敗しました。"},
    {msg::kEraseError, "フラッシュロム消去エラー"},
    {msg::kNoIdentRecord, "アップデート・データファイルが不正です"},
    {msg::kAboveMaximum, "設定値が最大値を上回っています。"},
    {msg::kBelowMinimum, "設定値が最小値を下回っています。"},
    {msg::kNoBrowser, "ブラウザがインストールされていません。"},
    {msg::kDownloadStarts, "ダウンロードを開始します。"},
    {msg::kDoNotSwitchOff,
     "ダウンロード中はプリンタの電源を\r\n切ったりキャンセルを押したりしないでください。"},
    {msg::kFileChosen, "ダウンロードファイルを指定しました。"},
    {msg::kFileFilter, "ファイル形式(*.bin)|*.bin||"},
    {msg::kFileMissing,
     "必要なダウンロードファイルがVexil."
     "exeがあるディレクトリにないか\r\n指定したダウンロードファイルが対象機種のものでない可能性があ"
     "ります。\r\nファイル参照からダウンロードファイル(binファイル)を開いてください。"},
    {msg::kIpAddressEmpty, "IPアドレスを設定してください。"},
    {msg::kMacAddressLength, "MACアドレスは12桁で入力してください。"},
    {msg::kCheckTargetAddress,
     "ターゲットのアドレスを確認して\r\n最初からダウンロードをやり直してください。"},
    {msg::kFirstOctetZero, "IPアドレスの一桁目には0は設定できません。"},
    {msg::kFileUnreadable, "ファイルからデータを正常に読み込めません。"},
    {msg::kSendFailed, "ダウンロードファイルのデータの送信に失敗しました。"},
    {msg::kReceiveFailed, "データの受信が正常に行われませんでした。"},
    {msg::kNotFinished,
     "ダウンロードが正常に終了出来ませんでした。\r\nもう一度ダウンロードを行ってください。"},
    {msg::kSocketNotOpened, "プリントサーバとの通信に失敗しました。"},
    {msg::kFirstOctet127, "127はIPアドレスの一桁目には設定できません。"},
    {msg::kPowerCycleAndRetry, "プリンタの電源を投入し直して再度ダウンロードを行って下さい。"},
    {msg::kWrongPrintServer,
     "このダウンロードファイルはこのプリントサーバにダウンロードできません。\n適切なプリントサーバ"
     "を選択してください。"},
    {msg::kDownloadFailed,
     "ダウンロードが失敗しました。\nプリンタの電源を投入し直して再度ダウンロードを行って下さい。"},
    {msg::kCancelledDuringQuery, "ダウンロードをｷｬﾝｾﾙしました。"},
    {msg::kCannotDownload,
     "ダウンロードファイル又はターゲットのアドレスが間違っているか、\nプリンタの電源が切れている可"
     "能性があるためダウンロードできません。\n適切なダウンロードファイルを選択又は正しいアドレスを"
     "入力\n又はプリンタの電源を確認してください。"},
    {msg::kStatusModeSwitch, "ダウンロードモード移行中です。"},
    {msg::kStatusErasing, "フラッシュロム消去中です。"},
    {msg::kStatusDownloading, "ダウンロード中です。"},
    {msg::kNoVersion, "?"},
    {msg::kModelMismatch,
     "ダウンロードしようとしている機種名と選択している機種名が異なっています。\n\r正しい機種名を選"
     "択して、ダウンロードをして下さい。"},
};

}  // namespace

std::string_view LoadString(int id) {
    const auto* end = std::end(kStrings);
    const auto* found =
        std::lower_bound(std::begin(kStrings), end, id,
                         [](const Entry& entry, int wanted) { return entry.id < wanted; });
    if (found == end || found->id != id) {
        return {};
    }
    return found->text;
}

std::string LoadLines(int id) {
    std::string lines;
    const std::string_view text = LoadString(id);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines += '\n';
            // The other half of a two-character break.
            if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n') &&
                text[i + 1] != c) {
                ++i;
            }
            continue;
        }
        lines += c;
    }
    return lines;
}

}  // namespace vexil
