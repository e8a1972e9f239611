// The window under a long job: 100,000 commands that await no reply make 200,000 report
// lines; the console never holds more than its 3000 and ends with the newest of them,
// none missing and none out of order.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <memory>

#include "app/Main.h"
#include "tests/support/PtyStation.h"

namespace {

constexpr int kCommands = 100000;
constexpr int kConsole = 3000;
constexpr int kJobMs = 240000;  // generous: sanitizers and a loaded machine

}  // namespace

class GuiLoadTest : public QObject {
    Q_OBJECT

private slots:
    void consoleKeepsTheNewestLinesOfAHugeJobInOrder() {
        zv::test::PtyStation pty;
        pty.Export();
        zv::gui::ErrorBox = [](const QString& caption, const QString& text) {
            QFAIL(qPrintable("error shown: " + caption + "|" + text));
        };

        QTemporaryDir dir;
        QFile script(dir.filePath("load.cmd"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        QByteArray text;
        for (int i = 1; i <= kCommands; ++i) text += "~G:" + QByteArray::number(i) + "\r\n";
        script.write(text);
        script.close();

        auto form = std::make_unique<TForm1>();
        form->FormCreate({"b384000"});
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));

        // At every tick: never more than the console's lines, and the commands shown
        // so far only ever move on.
        int most = 0;
        int lastSeen = 0;
        bool backwards = false;
        const QString sent = QString::fromUtf8("Odesílá se příkaz: ~G:");
        connect(form->Timer1, &QTimer::timeout, this, [&] {
            QTextDocument* doc = form->Hlaseni->document();
            most = std::max(most, doc->blockCount() - 1);
            for (QTextBlock b = doc->lastBlock(); b.isValid(); b = b.previous()) {
                if (!b.text().startsWith(sent)) continue;
                const int n = b.text().mid(sent.size()).toInt();
                if (n < lastSeen) backwards = true;
                lastSeen = n;
                break;
            }
        });

        form->Hlaseni->moveCursor(QTextCursor::End);
        QTest::keyClicks(form->Hlaseni, "#" + script.fileName());
        QTest::keyClick(form->Hlaseni, Qt::Key_Return);
        // Checked as soon as the window looks idle: by then every line must be shown.
        QTRY_VERIFY_WITH_TIMEOUT(!form->Worker->FBusy && form->Soubor->isVisible(), kJobMs);

        QVERIFY(form->Worker->FError.empty());
        QVERIFY(most <= kConsole);
        QVERIFY(!backwards);
        const QStringList lines = form->Hlaseni->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), kConsole + 1);  // with the empty line the caret waits on
        QCOMPARE(lines[kConsole - 2], QString::fromUtf8("Zpracováno %1 řádek.").arg(kCommands));
        QVERIFY(lines[kConsole - 1].startsWith(QString::fromUtf8("=== Dokončeno: ")));
        // 2998 lines of report pairs: the last 1499 commands, each with its "ok".
        const int pairs = (kConsole - 2) / 2;
        for (int k = 0; k < pairs; ++k) {
            QCOMPARE(lines[2 * k], sent + QString::number(kCommands - pairs + 1 + k));
            QCOMPARE(lines[2 * k + 1], QString::fromUtf8("Odpověď: ok"));
        }
        QCOMPARE(form->ProgressBar->value(), kCommands);

        form.reset();
        Sio.Close();
    }
};

QTEST_MAIN(GuiLoadTest)
#include "GuiLoadTest.moc"
