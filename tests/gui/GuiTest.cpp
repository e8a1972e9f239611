// The main window driven like a user would: real key and mouse events on the controls,
// the worker and the serial port against the simulated station on a pseudo-terminal.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/Main.h"
#include "common/Cp1250.h"
#include "tests/support/PtyStation.h"

namespace {

constexpr int kJobMs = 15000;  // generous: the machine may be loaded

QString Cp(const std::string& cp1250) { return QString::fromStdString(zv::Cp1250ToUtf8(cp1250)); }

}  // namespace

class GuiTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<zv::test::PtyStation> pty;
    std::unique_ptr<TForm1> form;
    QStringList errors;  // what the error display showed: caption "|" text
    QDir startDir = QDir::current();
    const std::function<void(const QString&, const QString&)> realErrorBox = zv::gui::ErrorBox;

    zv::Station& station() { return pty->station(); }

    void Open(const std::vector<std::string>& args = {}) {
        form = std::make_unique<TForm1>();
        form->FormCreate(args);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }

    // What the station received, without the carriage returns that end the commands.
    QStringList Received() {
        QStringList out;
        for (const auto& r : station().Requests()) {
            std::string c = r.Command();
            if (!c.empty() && c.back() == '\r') c.pop_back();
            out << Cp(c);
        }
        return out;
    }

    QStringList Console() { return form->Hlaseni->toPlainText().split(QLatin1Char('\n')); }

    // Types a line over the console's last line (normally the empty one below the last
    // reports) and presses Enter.
    void Type(const QString& line, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        form->Hlaseni->moveCursor(QTextCursor::End);
        form->Hlaseni->moveCursor(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        QTest::keyClicks(form->Hlaseni, line);
        QTest::keyClick(form->Hlaseni, Qt::Key_Return, mods);
    }

    bool Busy() const {
        return form->Hlaseni->isReadOnly() && !form->Komunikace->isEnabled() && !form->Soubor->isVisible() &&
               form->Stop->isVisible();
    }
    bool Idle() const {
        return !form->Hlaseni->isReadOnly() && form->Komunikace->isEnabled() && form->Soubor->isVisible() &&
               !form->Stop->isVisible();
    }

    void WaitIdle() { QTRY_VERIFY_WITH_TIMEOUT(!form->Worker->FBusy && Idle(), kJobMs); }

private slots:
    void init() {
        pty = std::make_unique<zv::test::PtyStation>();
        pty->Export();
        errors.clear();
        zv::gui::ErrorBox = [this](const QString& caption, const QString& text) { errors << caption + "|" + text; };
    }

    void cleanup() {
        form.reset();
        Sio.Close();
        pty.reset();
        QDir::setCurrent(startDir.path());
    }

    void errorTextAndTitle_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "abc" << "abc.";
        QTest::newRow("dot") << "abc." << "abc.";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("below dot") << "Chyba!" << "Chyba!";
        QTest::newRow("blank") << "x " << "x ";
        QTest::newRow("czech last") << QString::fromUtf8("vybrat ž") << QString::fromUtf8("vybrat ž.");
    }
    void errorTextAndTitle() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(zv::gui::ErrorText(zv::Utf8ToCp1250(message.toStdString())), shown);
        QCOMPARE(zv::gui::ApplicationTitle("zavlo384"), QString("Zavlo384"));
        QCOMPARE(zv::gui::ApplicationTitle("ZAVLO384.EXE"), QString("Zavlo384"));
        QCOMPARE(zv::gui::ApplicationTitle("a.b.c"), QString("A"));
    }

    // Names, places, captions and design values, and the start values after FormCreate.
    void designValues() {
        Open();
        QCOMPARE(form->windowTitle(), QString("Zavlo384 ver.0.9a"));
        QCOMPARE(form->pos(), QPoint(234, 132));
        struct Place {
            const char* name;
            QRect rect;
        };
        const Place places[] = {
            {"Ovladani", {8, 136, 633, 209}},   {"Komunikace", {8, 0, 633, 105}},
            {"ProgressBar", {16, 112, 617, 16}}, {"COMport", {48, 24, 73, 21}},
            {"COMrychlost", {192, 24, 81, 21}},  {"COMparita", {328, 24, 73, 21}},
            {"COMtimeout", {464, 24, 41, 21}},   {"COMRTS", {528, 24, 73, 17}},
            {"COMadrstanice", {104, 64, 49, 21}}, {"COMzdrojadr", {280, 64, 49, 21}},
            {"Button1", {536, 64, 75, 25}},      {"Hlaseni", {8, 8, 617, 161}},
            {"Soubor", {48, 176, 75, 25}},       {"Stop", {280, 176, 75, 25}},
            {"Protokol", {496, 176, 75, 25}},
        };
        for (const Place& p : places) {
            auto* w = form->findChild<QWidget*>(p.name);
            QVERIFY2(w, p.name);
            QVERIFY2(w->geometry() == p.rect, p.name);
        }
        QCOMPARE(form->Komunikace->title(), QString("Komunikace"));
        QCOMPARE(form->Button1->text(), QString("Resetuj COM"));
        QCOMPARE(form->COMRTS->text(), QString("CTS/RTS: "));
        QVERIFY(!form->COMRTS->isChecked());
        QCOMPARE(form->Soubor->toolTip(), QString::fromUtf8("Načíst soubor pro download"));
        QCOMPARE(form->Protokol->toolTip(), QString::fromUtf8("Uložit protokol o downloadu"));
        QVERIFY(!form->Stop->isVisible());
        QVERIFY(Idle());

        // The start items and values, and the port open on the device COM1 names here.
        QCOMPARE(form->COMport->count(), 9);
        QCOMPARE(form->COMport->currentText(), QString("COM1"));
        QCOMPARE(form->COMrychlost->count(), 14);
        QCOMPARE(form->COMrychlost->itemText(8), QString("57600"));
        QCOMPARE(form->COMrychlost->currentText(), QString("38400"));
        QCOMPARE(form->COMparita->currentText(), QString("none"));
        QCOMPARE(form->COMtimeout->text(), QString("290"));
        QCOMPARE(form->COMadrstanice->text(), QString("127"));
        QCOMPARE(form->COMzdrojadr->text(), QString("100"));
        QCOMPARE(form->COMport->toolTip(), QString::fromStdString(pty->Path()));
        QVERIFY(Sio.IsOpen());
        QVERIFY(errors.isEmpty());
        QVERIFY(form->PendingLines.empty());

        // The console: fixed pitch on silver, no wrapping, both scroll bars.
        QVERIFY(QFontInfo(form->Hlaseni->font()).fixedPitch());
        QCOMPARE(form->Hlaseni->palette().color(QPalette::Base), QColor(192, 192, 192));
        QCOMPARE(form->Hlaseni->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(form->Hlaseni->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(form->Hlaseni->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

        // Focus starts in the console; Tab walks the console's buttons, then the settings.
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(form->Hlaseni));
        const QWidget* order[] = {form->Soubor, form->Protokol, form->COMport, form->COMrychlost,
                                  form->COMparita, form->COMtimeout, form->COMRTS, form->COMadrstanice,
                                  form->COMzdrojadr, form->Button1, form->Hlaseni};
        for (const QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY2(QApplication::focusWidget() == next, qPrintable(next->objectName()));
        }
    }

    // The console keeps its distances to the window's edges; the buttons stay below it.
    void resizeFollowsWindow() {
        Open();
        const QSize design = form->size();
        form->resize(design + QSize(200, 120));
        QTRY_COMPARE(form->Ovladani->size(), QSize(833, 329));
        QCOMPARE(form->Ovladani->pos(), QPoint(8, 136));
        QCOMPARE(form->Hlaseni->geometry(), QRect(8, 8, 817, 281));
        for (QPushButton* b : {form->Soubor, form->Stop, form->Protokol}) {
            QCOMPARE(b->size(), QSize(75, 25));
            QCOMPARE(b->y(), 296);
            QVERIFY(b->geometry().right() < form->Ovladani->width());
        }
        QCOMPARE(form->Protokol->x(), 833 - 137);
        form->resize(design);
        QTRY_COMPARE(form->Stop->pos(), QPoint(280, 176));
    }

    // A typed line: busy look at once, the whole line sent, reports below it, idle again.
    void typedLineRuns() {
        Open();
        form->Hlaseni->setPlainText("I000000");
        QTextCursor middle(form->Hlaseni->document());
        middle.setPosition(3);
        form->Hlaseni->setTextCursor(middle);
        QTest::keyClick(form->Hlaseni, Qt::Key_Return);
        QVERIFY(Busy());
        QCOMPARE(form->Hlaseni->toPlainText(), QString("I000000"));  // not split
        WaitIdle();
        QCOMPARE(Received(), QStringList{"I000000"});
        const QStringList lines = Console();
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QString("I000000"));
        QCOMPARE(lines[1], QString::fromUtf8("Odesílá se příkaz: I000000"));
        QVERIFY(lines[2].startsWith(QString::fromUtf8("Odpověď: ZV384 monitor")));
        QVERIFY(lines[3].startsWith(QString::fromUtf8("=== Dokončeno: ")));
        QCOMPARE(lines[4], QString());  // the caret waits on a new line
        QCOMPARE(form->ProgressBar->maximum(), 0);
        QCOMPARE(form->ProgressBar->value(), 0);

        // Ctrl+Enter runs a line too; Enter on the empty line only breaks the line.
        Type("I000001", Qt::ControlModifier);
        WaitIdle();
        QCOMPARE(Received().last(), QString("I000001"));
        const int blocks = form->Hlaseni->blockCount();
        QTest::keyClick(form->Hlaseni, Qt::Key_Return);
        QCOMPARE(form->Hlaseni->blockCount(), blocks + 1);
        QVERIFY(!form->Worker->FBusy);
        QVERIFY(Idle());
    }

    void enterOnThirdOfTenLines() {
        Open();
        form->Hlaseni->setPlainText("a1\na2\nI000003\na4\na5\na6\na7\na8\na9\na10");
        QTextCursor third(form->Hlaseni->document()->findBlockByNumber(2));
        third.movePosition(QTextCursor::EndOfBlock);
        form->Hlaseni->setTextCursor(third);
        QTest::keyClick(form->Hlaseni, Qt::Key_Return);
        QCOMPARE(form->Hlaseni->toPlainText(), QString("a1\na2\nI000003"));
        WaitIdle();
        QCOMPARE(Received(), QStringList{"I000003"});
        QCOMPARE(Console().mid(0, 4), (QStringList{"a1", "a2", "I000003", QString::fromUtf8("Odesílá se příkaz: I000003")}));
    }

    // Queued command-line lines run one after another; after a failure the rest goes.
    void queueStopsAtFailure() {
        Open({"I000001", "Xbad", "I000003"});
        QCOMPARE(form->PendingLines.size(), std::size_t(3));
        QTRY_VERIFY_WITH_TIMEOUT(form->PendingLines.empty() && !form->Worker->FBusy && Idle(), kJobMs);
        QCOMPARE(Received(), (QStringList{"I000001", "Xbad"}));
        const QString text = form->Hlaseni->toPlainText();
        QCOMPARE(text.count(QString::fromUtf8("=== Dokončeno: ")), 1);
        QCOMPARE(text.count(QString::fromUtf8("=== Přerušeno: ")), 1);
        QVERIFY(!text.contains("I000003"));
    }

    void consoleDispatch_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("queued");  // empty: the line runs as it stands
        QTest::newRow("reset") << "reset" << QStringList{"~G:FF0000", "I000000"};
        QTest::newRow("reset wd") << "reset wd" << QStringList{"W7003FC<060705", "!*", "~G:7003FC", "I000000"};
        QTest::newRow("reset pl2") << "reset pl2" << QStringList{"rpl2", "!ok", "I000000"};
        QTest::newRow("capital") << "Reset" << QStringList{};
        QTest::newRow("trailing blank") << "reset " << QStringList{};
        QTest::newRow("blanks") << "   " << QStringList{};
    }
    void consoleDispatch() {
        QFETCH(QString, line);
        QFETCH(QStringList, queued);
        Open();
        Type(line);
        QVERIFY(Busy());
        QStringList pending;
        for (const std::string& l : form->PendingLines) pending << Cp(l);
        QCOMPARE(pending, queued);
        if (!queued.isEmpty()) QVERIFY(!form->Worker->FBusy);  // the pump starts them, not the key
        if (queued.isEmpty()) {
            WaitIdle();
            QCOMPARE(Received(), QStringList{line});
        }
    }

    // After a failed job the macros' lines are dropped until a typed line succeeds.
    void macrosAfterFailedJob() {
        Open();
        Type("Xbad");
        WaitIdle();
        QVERIFY(!form->Worker->FError.empty());
        Type("reset");
        QCOMPARE(form->PendingLines.size(), std::size_t(2));
        QVERIFY(Busy());
        QTRY_VERIFY_WITH_TIMEOUT(form->PendingLines.empty() && Idle(), kJobMs);
        QCOMPARE(Received(), QStringList{"Xbad"});

        Type("I000000");
        WaitIdle();
        QVERIFY(form->Worker->FError.empty());
        Type("reset");
        QTRY_VERIFY_WITH_TIMEOUT(form->PendingLines.empty() && !form->Worker->FBusy && Idle(), kJobMs);
        QCOMPARE(Received(), (QStringList{"Xbad", "I000000", "G:FF0000", "I000000"}));
    }

    // While a job runs: keys do nothing, Protokol shows no dialog, Escape stops the job.
    void busyConsoleAndEscape() {
        Open();
        zv::Station::Faults silent;
        silent.dropAll = true;
        station().SetFaults(silent);
        int asked = 0;
        form->AskSaveFile = [&](const QString&, const QString&) { ++asked; return QString(); };

        Type("I000000");
        QVERIFY(Busy());
        const QString before = form->Hlaseni->toPlainText();
        QTest::keyClicks(form->Hlaseni, "abc");
        QTest::keyClick(form->Hlaseni, Qt::Key_Return);
        QTest::mouseClick(form->Protokol, Qt::LeftButton);
        QCOMPARE(asked, 0);
        QCOMPARE(form->Hlaseni->toPlainText(), before);
        QVERIFY(station().WaitForRequests(1, std::chrono::milliseconds(kJobMs)));
        QTest::keyClick(form->Hlaseni, Qt::Key_Escape);
        WaitIdle();
        const QString text = form->Hlaseni->toPlainText();
        QVERIFY(text.contains("Zastaven."));
        QVERIFY(text.contains(QString::fromUtf8("=== Přerušeno: ")));
        QVERIFY(station().Requests().size() < 3);  // not all three attempts were made

        // Stop after the end has no effect on the next job.
        QTest::mouseClick(form->Protokol, Qt::LeftButton);
        QCOMPARE(asked, 1);
        form->StopClick();
        station().ClearFaults();
        Type("I000001");
        WaitIdle();
        QVERIFY(form->Worker->FError.empty());
    }

    // The Stop button does what Escape does.
    void stopButton() {
        Open();
        zv::Station::Faults silent;
        silent.dropAll = true;
        station().SetFaults(silent);
        Type("I000000");
        QVERIFY(station().WaitForRequests(1, std::chrono::milliseconds(kJobMs)));
        QTest::mouseClick(form->Stop, Qt::LeftButton);
        WaitIdle();
        QVERIFY(form->Hlaseni->toPlainText().contains("Zastaven."));
        QVERIFY(!form->Stop->isVisible());
    }

    // A job of 5000 report lines leaves the newest 3000; the typed line goes first.
    void consoleKeepsNewest3000Lines() {
        QTemporaryDir dir;
        QFile script(dir.filePath("many.cmd"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        for (int i = 1; i <= 2500; ++i) script.write(QByteArray("~G:") + QByteArray::number(i) + "\r\n");
        script.close();

        Open();
        int most = 0;
        connect(form->Timer1, &QTimer::timeout, this, [&] {
            most = std::max(most, form->Hlaseni->document()->blockCount() - 1);
        });
        Type("#" + script.fileName());
        WaitIdle();
        const QStringList lines = Console();
        QCOMPARE(lines.size(), 3001);  // with the empty line the caret waits on
        QCOMPARE(lines[2998], QString::fromUtf8("Zpracováno 2500 řádek."));
        QVERIFY(lines[2999].startsWith(QString::fromUtf8("=== Dokončeno: ")));
        QVERIFY(!lines.contains("#" + script.fileName()));
        // The commands shown are the newest ones, without a gap, up to the last.
        const QString sent = QString::fromUtf8("Odesílá se příkaz: ~G:");
        QList<int> numbers;
        for (const QString& l : lines)
            if (l.startsWith(sent)) numbers << l.mid(sent.size()).toInt();
        QVERIFY(numbers.size() >= 1400);
        QCOMPARE(numbers.last(), 2500);
        for (qsizetype i = 1; i < numbers.size(); ++i) QCOMPARE(numbers[i], numbers[i - 1] + 1);
        QVERIFY(most <= 3000);
        QCOMPARE(form->ProgressBar->maximum(), 2500);
        QCOMPARE(form->ProgressBar->value(), 2500);
    }

    // Soubor: the dialog's title and filters, a file job, the current folder; cancel.
    void souborStartsFileJob() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        const QString path = dir.filePath("sub/run.cmd");
        QFile script(path);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("I000001\r\n;komentar\r\nI000002\r\n");
        script.close();

        Open();
        QString title;
        QStringList filters;
        QString answer;
        form->AskOpenFile = [&](const QString& t, const QStringList& f) {
            title = t;
            filters = f;
            return answer;
        };
        QTest::mouseClick(form->Soubor, Qt::LeftButton);  // cancelled
        QVERIFY(Idle());
        QVERIFY(!form->Worker->FBusy);
        QCOMPARE(title, QString::fromUtf8("Nahrát soubor"));
        QCOMPARE(filters, (QStringList{QString::fromUtf8("Nahrávací soubory (*.s24 *.cmd)"),
                                       QString::fromUtf8("Všechny soubory (*)")}));

        answer = path;
        QTest::mouseClick(form->Soubor, Qt::LeftButton);
        QVERIFY(Busy());
        WaitIdle();
        QCOMPARE(Received(), (QStringList{"I000001", "I000002"}));
        QVERIFY(form->Hlaseni->toPlainText().contains(QString::fromUtf8("Zpracováno 3 řádek.")));
        QCOMPARE(QDir::current().canonicalPath(), QDir(dir.filePath("sub")).canonicalPath());
        QCOMPARE(form->ProgressBar->maximum(), 3);
        QCOMPARE(form->ProgressBar->value(), 3);

        answer = dir.filePath("missing.cmd");  // typed into the dialog, not there
        QTest::mouseClick(form->Soubor, Qt::LeftButton);
        WaitIdle();
        QVERIFY(!form->Worker->FError.empty());
        QVERIFY(errors.isEmpty());
    }

    // "#" lines: a file job with at most 200 characters of name, also an empty one.
    void hashLineFileJob() {
        Open();
        Type("#" + QString(250, QLatin1Char('a')));
        WaitIdle();
        QCOMPARE(form->Worker->FFile, std::string(200, 'a'));
        QVERIFY(form->Worker->FLine.empty());
        QVERIFY(form->Hlaseni->toPlainText().contains("Cannot open file " + QString(200, QLatin1Char('a')) + " "));
        QVERIFY(!form->Worker->FError.empty());

        Type("#");
        WaitIdle();
        QVERIFY(form->Worker->FFile.empty());
        QVERIFY(form->Worker->FLine.empty());  // not run as the script line "#"
        QVERIFY(form->Hlaseni->toPlainText().contains("Cannot open file  "));
        QVERIFY(!form->Worker->FError.empty());
        QVERIFY(Received().isEmpty());
    }

    // The protocol: CR LF, CP1250 ("?" for what it lacks), the name proposed, cancel,
    // and the error for a file that cannot be created.
    void protokolSavesBytes() {
        QTemporaryDir dir;
        Open();
        const QString first = dir.filePath("p1.txt");
        QStringList proposed;
        QString answer;
        form->AskSaveFile = [&](const QString& title, const QString& name) {
            if (title != QString::fromUtf8("Uložit protokol")) proposed << "wrong title";
            proposed << name;
            return answer;
        };
        form->Hlaseni->setPlainText(QString::fromUtf8("Příkaz ž\u00A0x\nж€\n"));

        answer = first;
        QTest::mouseClick(form->Protokol, Qt::LeftButton);
        QFile saved(first);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), QByteArray("P\xF8\xEDkaz \x9E\xA0x\r\n?\x80\r\n"));
        saved.close();
        QCOMPARE(QDir::current().canonicalPath(), QDir(dir.path()).canonicalPath());

        answer = QString();  // cancelled: nothing written
        form->Hlaseni->setPlainText("jine");
        QTest::mouseClick(form->Protokol, Qt::LeftButton);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.size(), qint64(16));
        saved.close();

        const QString bad = dir.filePath("missing/p2.txt");
        answer = bad;
        QTest::mouseClick(form->Protokol, Qt::LeftButton);
        QCOMPARE(proposed, (QStringList{"protokol.txt", first, first}));
        QCOMPARE(errors, QStringList{"Test_gui|Cannot create file " + bad + "."});
        QVERIFY(!QFile::exists(bad));
    }

    // Each user's change of a setting reopens the port (seen here by a port that cannot
    // be opened); a change by the program does not; "Resetuj COM" on a closed port is quiet.
    void settingsReopenPort() {
        Open();
        zv::test::ScopedEnv gone("ZAVLO384_COM1", "/nonexistent/zavlo384");
        zv::test::ScopedEnv gone2("ZAVLO384_COM2", "/nonexistent/zavlo384");
        struct Change {
            const char* what;
            std::function<void()> act;
        };
        const Change changes[] = {
            {"station", [&] { QTest::keyClick(form->COMadrstanice, Qt::Key_Backspace); }},
            {"source", [&] { QTest::keyClick(form->COMzdrojadr, '1'); }},
            {"timeout", [&] { QTest::keyClick(form->COMtimeout, Qt::Key_Backspace); }},
            {"rts", [&] { QTest::keyClick(form->COMRTS, Qt::Key_Space); }},
            {"speed", [&] { QTest::keyClick(form->COMrychlost, Qt::Key_Down); }},
            {"parity", [&] { QTest::keyClick(form->COMparita, Qt::Key_Down); }},
            {"port", [&] { QTest::keyClick(form->COMport, Qt::Key_Down); }},
        };
        for (const Change& c : changes) {
            const qsizetype before = errors.size();
            c.act();
            QVERIFY2(errors.size() == before + 1, c.what);
            QVERIFY2(errors.last().endsWith(" nelze vybrat."), c.what);
        }
        QCOMPARE(form->COMport->currentText(), QString("COM2"));
        QVERIFY(errors.last().contains("COM2"));
        QVERIFY(!Sio.IsOpen());

        const qsizetype count = errors.size();
        form->COMport->setCurrentIndex(0);
        form->COMrychlost->setCurrentIndex(7);
        form->COMparita->setCurrentIndex(0);
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QCOMPARE(errors.size(), count);
        QCOMPARE(form->COMport->toolTip(), QString("/nonexistent/zavlo384"));
    }

    // The address typed in is used at the next telegram; each keystroke reopens the port.
    void addressTakesEffect() {
        Open();
        form->COMadrstanice->selectAll();
        QTest::keyClicks(form->COMadrstanice, "126");
        QVERIFY(errors.isEmpty());
        QVERIFY(Sio.IsOpen());
        Type("I000000");
        WaitIdle();
        QVERIFY(station().GetCounters().otherAddress >= 1);
        QCOMPARE(station().GetCounters().requests, std::uint64_t(0));
        QVERIFY(form->Hlaseni->toPlainText().contains("Bez odezvy."));
    }

    // "@speed" selects the new speed in the window without counting as a user's change.
    void speedCommandSelectsSpeed() {
        Open();
        Type("@speed5");
        WaitIdle();
        QVERIFY2(form->Worker->FError.empty(), form->Worker->FError.c_str());
        QCOMPARE(form->COMrychlost->currentText(), QString("76800"));
        QCOMPARE(Received(), QStringList{"W00004F<05"});
        QVERIFY(errors.isEmpty());
    }

    // An error in FormCreate: the real box, the window opens with what was set so far.
    void formCreateErrorBox() {
        zv::test::ScopedEnv gone("ZAVLO384_COM1", "/nonexistent/zavlo384");
        zv::gui::ErrorBox = realErrorBox;
        QString seen;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            seen = box->windowTitle() + "|" + box->text();
            if (box->icon() != QMessageBox::Critical) seen += "|icon";
            if (box->buttons().size() != 1 || box->standardButtons() != QMessageBox::Ok) seen += "|buttons";
            box->accept();
        });
        {
            const auto restore = qScopeGuard([this] {
                zv::gui::ErrorBox = [this](const QString& c, const QString& t) { errors << c + "|" + t; };
            });
            Open({"I000001", "d5", "COM3", "I000002"});
        }
        QCOMPARE(seen, QString::fromUtf8("Test_gui|Port COM1 nelze vybrat."));
        QVERIFY(form->isVisible());
        QCOMPARE(form->COMport->currentText(), QString("COM1"));
        QCOMPARE(form->COMadrstanice->text(), QString("5"));
        QCOMPARE(form->PendingLines.size(), std::size_t(1));
        QVERIFY(!Sio.IsOpen());
    }

    // Closing the window during a job ends the job and the worker, also when the worker
    // waits for the window to carry out a step of "@speed".
    void closeDuringJob() {
        Open();
        zv::Station::Faults silent;
        silent.dropAll = true;
        station().SetFaults(silent);
        Type("I000000");
        QVERIFY(station().WaitForRequests(1, std::chrono::milliseconds(kJobMs)));
        form->close();
        QVERIFY(!form->Worker);

        station().ClearFaults();
        Open();
        Type("@speed5");
        form->close();  // no event ran in between: the selection step is still waiting
        QVERIFY(!form->Worker);
        QCOMPARE(form->COMrychlost->currentText(), QString("38400"));
        form.reset();
    }
};

int main(int argc, char** argv) {
    zv::gui::TApplication app(argc, argv);
    GuiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "GuiTest.moc"
