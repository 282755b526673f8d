// The floor of the start-up benchmark: a plain Qt 6 program that creates the main window's
// eighteen widgets directly, with the same captions, fonts and geometry, and shows them, with
// nothing loaded. It has the start-up probe linked in, as the copy of Vantorio that the
// benchmark starts has: with VANTORIO_BENCH_EXIT_ON_SHOW=1 it prints the moment its window is
// first exposed (CLOCK_MONOTONIC, nanoseconds) and leaves.
#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

QRect twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

QFont gothic(qreal points) {
    const QString face = QStringLiteral("ＭＳ ゴシック");
    if (!QFontDatabase::families().contains(face)) QFont::insertSubstitution(face, "IPAGothic");
    QFont font(face);
    font.setPointSizeF(points);
    return font;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("Vantorio");
    window.setFixedSize(441, 313);
    window.setFont(gothic(11.25));
    const QFont boxFont = gothic(12);

    auto place = [](QWidget* w, QRect r) { w->setGeometry(r); return w; };
    auto edit = [&](QWidget* parent, QRect r, bool password) {
        auto* e = new QLineEdit(parent);
        e->setFont(boxFont);
        if (password) e->setEchoMode(QLineEdit::Password);
        place(e, r);
    };

    auto* notice = new QGroupBox("ログオン前メッセージ", &window);
    place(notice, twips(120, 2160, 6375, 1575));
    edit(notice, twips(2160, 1080, 4095, 330), false);
    edit(notice, twips(2160, 720, 4095, 330), false);
    place(new QRadioButton("あり", notice), twips(240, 720, 855, 255));
    place(new QRadioButton("なし", notice), twips(240, 360, 855, 255));
    place(new QLabel("出力ﾒｯｾｰｼﾞ", notice), twips(720, 1080, 1335, 255));
    place(new QLabel("ｷｬﾌﾟｼｮﾝ", notice), twips(1080, 720, 975, 255));
    place(new QPushButton("登録", &window), twips(5040, 3840, 1455, 735));
    place(new QPushButton("キャンセル", &window), twips(3480, 3840, 1455, 735));
    auto* autoLogon = new QGroupBox("AutoLogon", &window);
    place(autoLogon, twips(120, 120, 6375, 1935));
    place(new QCheckBox("ﾛｸﾞｵﾝしたﾕｰｻﾞのみｼｬｯﾄﾀﾞｳﾝ可", autoLogon), twips(1920, 720, 4335, 225));
    place(new QCheckBox("前回のﾛｸﾞｵﾝﾕｰｻﾞ名を表示しない", autoLogon), twips(1920, 360, 4335, 225));
    edit(autoLogon, twips(2160, 1440, 4095, 330), true);
    edit(autoLogon, twips(2160, 1080, 4095, 330), false);
    place(new QRadioButton("する", autoLogon), twips(240, 1080, 855, 255));
    place(new QRadioButton("しない", autoLogon), twips(240, 360, 1095, 255));
    place(new QLabel("ﾊﾟｽﾜｰﾄﾞ", autoLogon), twips(1080, 1440, 975, 255));
    place(new QLabel("ﾕｰｻﾞ名", autoLogon), twips(1320, 1080, 735, 255));

    window.show();
    return app.exec();
}
