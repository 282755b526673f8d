// Short reasons for the status codes that the registry operations return, for a message to
// the user. The same on every platform, so the message reads the same everywhere.
#include <string>

#include "platform/registry.h"

namespace platform {

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

} // namespace platform
