// Renders the main window after a few commands against the simulated station and saves
// the picture: gui_screenshot FILE.png
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <cstdio>

#include "app/Main.h"
#include "tests/support/PtyStation.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gui_screenshot FILE.png\n");
        return 2;
    }
    zv::gui::TApplication app(argc, argv);
    zv::test::PtyStation pty;
    pty.Export();

    TForm1 form;
    form.FormCreate({});
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return 1;

    for (const char* line : {"I000000", "W7003FC<060705", "!*", "@SRTC"}) {
        form.Hlaseni->moveCursor(QTextCursor::End);
        QTest::keyClicks(form.Hlaseni, QString::fromLatin1(line));
        QTest::keyClick(form.Hlaseni, Qt::Key_Return);
        if (!QTest::qWaitFor([&] { return !form.Worker->FBusy && form.Soubor->isVisible(); }, 10000)) return 1;
    }
    if (!form.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
