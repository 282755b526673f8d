// Short reasons for the status codes that the registry operations return, for a message to
// the user. The same on every platform, so the message reads the same everywhere.
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "platform/utf8.h"

namespace platform {
namespace {

// A file name as text: UTF-8, with U+FFFD for each byte that is not part of a sequence.
std::u16string pathText(std::string_view path) { return fromUtf8Lenient(path); }

// The names of a hive file's transaction logs: its own name with .LOG1, .LOG2 and .LOG.
std::u16string logNames(std::string_view path) {
    const std::u16string name = pathText(path.substr(path.find_last_of('/') + 1));
    return name + u".LOG1、" + name + u".LOG2、" + name + u".LOG";
}

} // namespace

std::u16string StatusText(Status code) {
    switch (code) {
    case status::Success: return u"この操作を正しく終了しました。";
    case status::FileNotFound: return u"指定されたファイルが見つかりません。";
    case status::AccessDenied: return u"アクセスが拒否されました。";
    case status::InvalidHandle: return u"ハンドルが無効です。";
    case status::NotEnoughMemory: return u"この操作を完了するのに十分なメモリがありません。";
    case status::WriteFault: return u"指定されたデバイスに書き込めません。";
    case status::SharingViolation: return u"別のプロセスが使用中のため、ファイルにアクセスできません。";
    case status::InvalidParameter: return u"パラメーターが間違っています。";
    case status::DiskFull: return u"ディスクに十分な空き領域がありません。";
    case status::MoreData: return u"データが大きすぎて受け取れません。";
    case status::BadDatabase: return u"レジストリ データベースが壊れています。";
    case status::RegistryCorrupt: return u"レジストリが壊れています。";
    case status::RegistryIoFailed: return u"レジストリの読み書きに失敗しました。";
    default: break;
    }
    const std::string number = std::to_string(code);
    return u"エラー コード " + std::u16string(number.begin(), number.end());
}

std::u16string StatusRemedy(Status code) {
    switch (code) {
    case status::AccessDenied:
        return u"書き込む権限のあるユーザー (管理者) で実行してから、もう一度お試しください。";
    case status::DiskFull: return u"ディスクの空き領域を増やしてから、もう一度お試しください。";
    case status::NotEnoughMemory: return u"ほかのプログラムを終了してメモリを空けてから、もう一度お試しください。";
    case status::SharingViolation:
        return u"このハイブを使っているほかのプログラムを終了してから、もう一度お試しください。";
    case status::BadDatabase:
    case status::RegistryCorrupt:
        return u"ハイブが壊れています。バックアップから戻すか、Windows を起動してレジストリを修復してください。";
    default: return u"ディスクとハイブ ファイルの状態を確認してから、もう一度お試しください。";
    }
}

std::u16string FailureDetailText(const FailureDetail& detail) {
    const std::u16string path = u"「" + pathText(detail.path) + u"」";
    switch (detail.reason) {
    case FailureReason::None: return {};
    case FailureReason::LogsMissing:
        return u"ハイブ ファイル" + path + u"には、Windows がまだ書き込んでいない変更があります。"
               u"その変更を持つトランザクション ログ (" + logNames(detail.path) + u") が同じフォルダーにないため、"
               u"ファイルにある内容だけを表示し、書き込みません。"
               u"ログをハイブと同じフォルダーに戻すか、このハイブの Windows を起動し、"
               u"休止状態にせず完全にシャットダウンしてから、もう一度お試しください。";
    case FailureReason::LogsUnusable:
        return u"ハイブ ファイル" + path + u"には、Windows がまだ書き込んでいない変更があります。"
               u"その変更を持つトランザクション ログ (" + logNames(detail.path) + u") は壊れているか、"
               u"別のハイブのものであるため使えません。ファイルにある内容だけを表示し、書き込みません。"
               u"このハイブの Windows を起動し、休止状態にせず完全にシャットダウンしてから、もう一度お試しください。";
    case FailureReason::HardLinks:
        return u"ハイブ ファイル" + path + u"には別の名前 (ハード リンク) があります。"
               u"置き換えると内容の異なる二つのファイルに分かれてしまうため、書き込みません。"
               u"ほかの名前を削除してから、もう一度お試しください。";
    case FailureReason::FileNotWritable:
        return u"このユーザーには、ハイブ ファイル" + path + u"への書き込み権限がありません。"
               u"書き込み権限のあるユーザーで実行するか、ファイルの権限を変更してください。";
    case FailureReason::FolderNotWritable:
        return u"このユーザーには、ハイブのあるフォルダー" + path + u"への書き込み権限がありません。"
               u"変更は新しいファイルとしてこのフォルダーに書き込まれるため、フォルダーへの書き込み権限が必要です。"
               u"フォルダーに書き込めるユーザーで実行するか、フォルダーの権限を変更してください。";
    case FailureReason::OwnerNotReproducible:
        return u"ハイブ ファイル" + path + u"の所有者またはグループを、このユーザーは新しいファイルに引き継げません。"
               u"ファイルの所有者かつグループのメンバーであるユーザー、または管理者 (root) で実行してください。";
    case FailureReason::ReadOnlyFileSystem:
        return u"ハイブのあるファイル システムは読み取り専用です (" + pathText(detail.path) + u")。"
               u"書き込み可能としてマウントし直してから、もう一度お試しください。";
    case FailureReason::SizeLimit:
        return u"変更を書き込むとハイブがレジストリ ファイルの上限 (2 GB) を超えるため、書き込みません。"
               u"このハイブの Windows を起動し、不要なソフトウェアや設定を削除してハイブを小さくしてから、もう一度お試しください。";
    case FailureReason::LinkInPlace:
        return u"起動時に開いたハイブ ファイル" + path + u"の場所に、今はシンボリック リンクがあります。"
               u"別のファイルに書き込まないよう、リンクはたどりません。"
               u"ハイブ ファイルを元に戻すか、ハイブを指定し直してプログラムを起動し直してください。";
    case FailureReason::AttributesNotCarried:
        return u"ハイブ ファイル" + path + u"のアクセス制御リスト、セキュリティ ラベル、または NTFS 上の Windows のセキュリティ記述子や"
               u"属性 (隠しファイル、システム ファイル) を新しいファイルに引き継げません。"
               u"引き継がずに置き換えると、より多くのユーザーがファイルを読めるようになるため、書き込みません。"
               u"ファイルの所有者または管理者 (root) で実行してください。";
    case FailureReason::HiveGone:
        return u"起動時に開いたハイブ ファイル" + path + u"は、削除されたか、フォルダーごと移動または削除されたため、もうありません。"
               u"元の場所に新しいハイブは作りません。"
               u"ハイブ ファイルを元に戻すか、ハイブを指定し直してプログラムを起動し直してください。";
    case FailureReason::FolderNotPrivate:
        return u"既定のハイブのフォルダー" + path + u"は、ほかのユーザーのものか、ほかのユーザーも書き込めるか、"
               u"シンボリック リンクです。ほかのユーザーがハイブを差し替えられるため、このフォルダーは使いません。"
               u"フォルダーを削除するか、自分の所有でモード 0700 のフォルダーにするか、"
               u"環境変数 VANTORIO_SOFTWARE_HIVE で使うハイブを指定してください。";
    }
    return {};
}

} // namespace platform
