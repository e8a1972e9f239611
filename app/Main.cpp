#include "app/Main.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QStyleOptionProgressBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <exception>

#include "common/Cp1250.h"
#include "common/Error.h"
#include "common/Messages.h"

namespace {

constexpr int kConsoleLines = 3000;  // the console keeps the newest lines, at most this many

// Client area at design size: Ovladani at (8, 136), 633 x 209, with 8 pixels to spare on
// the right and at the bottom.
constexpr int kClientWidth = 649, kClientHeight = 353;

QString FromCp(const std::string& cp1250) { return QString::fromStdString(zv::Cp1250ToUtf8(cp1250)); }
std::string ToCp(const QString& text) { return zv::Utf8ToCp1250(text.toStdString()); }
QString FromView(std::string_view ascii) { return QString::fromLatin1(ascii.data(), qsizetype(ascii.size())); }

}  // namespace

namespace zv::gui {

QString ApplicationTitle(const QString& programFile) {
    QString title = programFile.section(QLatin1Char('.'), 0, 0);
    if (title.isEmpty()) return title;
    return title.left(1).toUpper() + title.mid(1).toLower();
}

QString ErrorText(const std::string& message) {
    std::string text = message;
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) text += '.';
    return FromCp(text);
}

std::function<void(const QString&, const QString&)> ErrorBox = [](const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
};

void ShowError(const std::string& message) {
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (ErrorBox) ErrorBox(ApplicationTitle(program), ErrorText(message));
}

void Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowError(e.what());
    } catch (...) {
        ShowError(std::string());
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowError(e.what());
    } catch (...) {
        ShowError(std::string());
    }
    return false;
}

void TProgressBar::paintEvent(QPaintEvent* event) {
    if (minimum() != maximum()) {
        QProgressBar::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    option.minimum = 0;
    option.maximum = 1;
    option.progress = 0;
    style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
}

}  // namespace zv::gui

using zv::gui::Guarded;

struct TForm1::FrontEndCall {
    std::function<void()> step;
    std::exception_ptr error;
    bool done = false;
    bool cancelled = false;
};

TForm1::TForm1(Tsiocom& port, QWidget* parent) : QWidget(parent), FSettings(port), FPort(port) {
    CreateControls();
    AskOpenFile = [this](const QString& title, const QStringList& filters) { return ChooseOpenFile(title, filters); };
    AskSaveFile = [this](const QString& title, const QString& name) { return ChooseSaveFile(title, name); };
    FSettings.RunOnFrontEnd = [this](const std::function<void()>& step) { RunOnFrontEnd(step); };
    FSettings.SpeedSelected = [this](int index) { SpeedSelected(index); };
    PendingLines.clear();
    Worker = std::make_unique<TPrikaz>(FPort, FSettings);
    Timer1->start();
}

TForm1::~TForm1() { ShutDownWorker(); }

void TForm1::CreateControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(FromCp(zv::msg::Caption));
    QFont formFont = font();
    formFont.setPointSize(8);
    setFont(formFont);
    move(234, 132);
    resize(kClientWidth, kClientHeight);

    auto label = [](QWidget* parent, const char* utf8, int x, int y) {
        auto* l = new QLabel(QString::fromUtf8(utf8), parent);
        l->setGeometry(x, y, l->sizeHint().width(), 21);
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return l;
    };
    auto combo = [this](const char* name, int x, int y, int w, const auto& items) {
        auto* c = new QComboBox(Komunikace);
        c->setObjectName(QString::fromLatin1(name));
        c->setGeometry(x, y, w, 21);
        c->setEditable(false);
        for (const auto& item : items) c->addItem(FromView(item));
        c->setCurrentIndex(-1);
        c->setMaxVisibleItems(int(items.size()));
        return c;
    };
    auto edit = [this](const char* name, int x, int y, int w, const char* text) {
        auto* e = new QLineEdit(QString::fromLatin1(text), Komunikace);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(x, y, w, 21);
        return e;
    };
    auto button = [](QWidget* parent, const char* name, const char* caption, int x, int y) {
        auto* b = new QPushButton(QString::fromUtf8(caption), parent);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, y, 75, 25);
        return b;
    };

    Ovladani = new QFrame(this);
    Ovladani->setObjectName(QStringLiteral("Ovladani"));
    Ovladani->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Ovladani->setGeometry(8, 136, 633, 209);
    Ovladani->installEventFilter(this);

    Hlaseni = new QPlainTextEdit(Ovladani);
    Hlaseni->setObjectName(QStringLiteral("Hlaseni"));
    Hlaseni->setGeometry(8, 8, 617, 161);
    QFont consoleFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    consoleFont.setStyleHint(QFont::TypeWriter);
    consoleFont.setFixedPitch(true);
    consoleFont.setPointSize(9);
    Hlaseni->setFont(consoleFont);
    QPalette consolePalette = Hlaseni->palette();
    consolePalette.setColor(QPalette::Base, QColor(192, 192, 192));
    Hlaseni->setPalette(consolePalette);
    Hlaseni->setLineWrapMode(QPlainTextEdit::NoWrap);
    Hlaseni->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Hlaseni->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Hlaseni->setTabChangesFocus(true);
    // The console is a log that can grow to thousands of lines: an undo history of
    // every report would only eat memory.
    Hlaseni->setUndoRedoEnabled(false);
    Hlaseni->installEventFilter(this);

    Soubor = button(Ovladani, "Soubor", "Soubor", 48, 176);
    Soubor->setToolTip(QStringLiteral("Načíst soubor pro download"));
    Stop = button(Ovladani, "Stop", "Stop", 280, 176);
    Stop->setVisible(false);
    Protokol = button(Ovladani, "Protokol", "Protokol", 496, 176);
    Protokol->setToolTip(QStringLiteral("Uložit protokol o downloadu"));

    Komunikace = new QGroupBox(QStringLiteral("Komunikace"), this);
    Komunikace->setObjectName(QStringLiteral("Komunikace"));
    Komunikace->setGeometry(8, 0, 633, 105);

    label(Komunikace, "Port :", 16, 24);
    COMport = combo("COMport", 48, 24, 73, LinkSettings::kPorts);
    label(Komunikace, "Rychlost :", 136, 24);
    COMrychlost = combo("COMrychlost", 192, 24, 81, LinkSettings::kSpeeds);
    label(Komunikace, "Parita :", 288, 24);
    COMparita = combo("COMparita", 328, 24, 73, LinkSettings::kParities);
    label(Komunikace, "Timeout :", 416, 24);
    COMtimeout = edit("COMtimeout", 464, 24, 41, "290");
    COMRTS = new QCheckBox(QStringLiteral("CTS/RTS: "), Komunikace);
    COMRTS->setObjectName(QStringLiteral("COMRTS"));
    COMRTS->setLayoutDirection(Qt::RightToLeft);  // the caption left of the box
    COMRTS->setGeometry(528, 24, 73, 17);
    label(Komunikace, "Adresa stanice :", 16, 64);
    COMadrstanice = edit("COMadrstanice", 104, 64, 49, "127");
    label(Komunikace, "Zdrojová adresa :", 184, 64);
    COMzdrojadr = edit("COMzdrojadr", 280, 64, 49, "100");
    Button1 = button(Komunikace, "Button1", "Resetuj COM", 536, 64);

    ProgressBar = new zv::gui::TProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(16, 112, 617, 16);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);

    // The console first, then its buttons, then the link settings.
    QWidget* order[] = {Hlaseni, Soubor, Stop, Protokol, COMport, COMrychlost, COMparita,
                        COMtimeout, COMRTS, COMadrstanice, COMzdrojadr, Button1};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    Hlaseni->setFocus();

    // A selection by the user applies the settings (activated); one by the program
    // (setCurrentIndex) does not. The edits apply on every change of their text.
    connect(COMport, &QComboBox::activated, this, [this](int index) {
        Guarded([&] { FSettings.SetPort(index); COMportChange(); });
    });
    connect(COMport, &QComboBox::currentIndexChanged, this, [this] { ShowPortDevice(); });
    connect(COMrychlost, &QComboBox::activated, this, [this](int index) {
        Guarded([&] { FSettings.SetSpeed(index); COMportChange(); });
    });
    connect(COMparita, &QComboBox::activated, this, [this](int index) {
        Guarded([&] { FSettings.SetParity(index); COMportChange(); });
    });
    connect(COMtimeout, &QLineEdit::textChanged, this, [this](const QString& text) {
        Guarded([&] { FSettings.SetTimeout(ToCp(text)); COMportChange(); });
    });
    connect(COMadrstanice, &QLineEdit::textChanged, this, [this](const QString& text) {
        Guarded([&] { FSettings.SetStation(ToCp(text)); COMportChange(); });
    });
    connect(COMzdrojadr, &QLineEdit::textChanged, this, [this](const QString& text) {
        Guarded([&] { FSettings.SetSource(ToCp(text)); COMportChange(); });
    });
    connect(COMRTS, &QCheckBox::clicked, this, [this](bool checked) {
        Guarded([&] { FSettings.SetRts(checked); COMportChange(); });
    });
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    connect(Soubor, &QPushButton::clicked, this, [this] { Guarded([this] { SouborClick(); }); });
    connect(Stop, &QPushButton::clicked, this, [this] { Guarded([this] { StopClick(); }); });
    connect(Protokol, &QPushButton::clicked, this, [this] { Guarded([this] { ProtokolClick(); }); });
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });
}

void TForm1::FormCreate(const std::vector<std::string>& args) {
    try {
        FSettings.ProcessArguments(args, PendingLines);
    } catch (...) {
        // The window opens with the settings as far as they were set.
        ShowSettings();
        Guarded([] { throw; });
        return;
    }
    ShowSettings();
}

void TForm1::ShowSettings() {
    const LinkSettings::Values v = FSettings.Get();
    {
        const QSignalBlocker b1(COMport), b2(COMrychlost), b3(COMparita), b4(COMtimeout),
            b5(COMRTS), b6(COMadrstanice), b7(COMzdrojadr);
        COMport->setCurrentIndex(v.port);
        COMrychlost->setCurrentIndex(v.speed);
        COMparita->setCurrentIndex(v.parity);
        COMtimeout->setText(FromCp(v.timeout));
        COMRTS->setChecked(v.rts);
        COMadrstanice->setText(FromCp(v.station));
        COMzdrojadr->setText(FromCp(v.source));
    }
    ShowPortDevice();
}

void TForm1::ShowPortDevice() {
    const QString name = COMport->currentText();
    COMport->setToolTip(name.isEmpty() ? QString() : QString::fromStdString(DeviceForPort(name.toStdString())));
}

void TForm1::COMportChange() { FSettings.COMportChange(); }

void TForm1::Button1Click() { FPort.Reset(); }

void TForm1::ShowBusyLook() {
    Hlaseni->setReadOnly(true);
    Komunikace->setEnabled(false);
    Soubor->setVisible(false);
    Stop->setVisible(true);
}

void TForm1::ShowIdleLook() {
    Hlaseni->setReadOnly(false);
    Komunikace->setEnabled(true);
    Soubor->setVisible(true);
    Stop->setVisible(false);
}

namespace {

// The console's lines: a last empty block is the line the caret waits on after the
// reports, not a line of text.
int ConsoleLines(const QTextDocument* doc) {
    return doc->blockCount() - (doc->lastBlock().length() <= 1 ? 1 : 0);
}

void DeleteFirstLines(QTextDocument* doc, int count) {
    if (count <= 0) return;
    // Selected by position: moving the cursor block by block would lay out (shape) every
    // line on the way, most of a tick's time with thousands of lines to delete.
    const QTextBlock next = doc->findBlockByNumber(count);
    QTextCursor cursor(doc);
    cursor.setPosition(0);
    cursor.setPosition(next.isValid() ? next.position() : doc->lastBlock().position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

}  // namespace

void TForm1::TrimConsole() {
    QTextDocument* doc = Hlaseni->document();
    DeleteFirstLines(doc, ConsoleLines(doc) - kConsoleLines);
}

void TForm1::AppendReports(const QString& text) {
    // Each report becomes a line of its own and the caret ends on a new empty line below
    // them, where the user types the next command.
    QTextDocument* doc = Hlaseni->document();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    const bool onEmptyLine = doc->lastBlock().length() <= 1;
    cursor.insertText(onEmptyLine ? text + QLatin1Char('\n') : QLatin1Char('\n') + text + QLatin1Char('\n'));
    Hlaseni->setTextCursor(cursor);
    Hlaseni->ensureCursorVisible();
}

void TForm1::Timer1Timer() {
    if (!Worker) return;
    TPrikaz& worker = *Worker;

    if (!PendingLines.empty() && !worker.FBusy) {
        if (worker.FError.empty()) {
            worker.StartLine(PendingLines.front());
            PendingLines.pop_front();
        } else {
            PendingLines.clear();  // the last job failed: the rest of the queue is dropped
        }
    }

    const int total = std::max(0, int(worker.FLinesTotal));
    ProgressBar->setRange(0, total);
    ProgressBar->setValue(std::clamp(int(worker.FLinesDone), 0, total));

    TrimConsole();

    // The look follows the worker as it was before the drain: the worker queues its closing
    // lines before it clears FBusy, so a window that turns idle has shown all of them. A
    // job that ends during the drain turns the window idle at the next tick, with the rest.
    const bool busy = worker.FBusy.load(std::memory_order_acquire);

    // Every waiting line is taken in one go; of a batch longer than the console only its
    // newest lines would survive the trimming, so only they are shown.
    std::deque<std::string> batch;
    worker.FReports.Drain([&](std::string&& line) {
        batch.push_back(std::move(line));
        if (batch.size() > std::size_t(kConsoleLines)) batch.pop_front();
    });
    if (!batch.empty()) {
        QTextDocument* doc = Hlaseni->document();
        DeleteFirstLines(doc, ConsoleLines(doc) + int(batch.size()) - kConsoleLines);
        std::string joined = std::move(batch.front());
        for (std::size_t i = 1; i < batch.size(); ++i) (joined += '\n') += batch[i];
        AppendReports(FromCp(joined));
    }

    if (busy) {
        ShowBusyLook();
    } else {
        ShowIdleLook();
    }

    TrimConsole();
}

QString TForm1::ChooseOpenFile(const QString& title, const QStringList& filters) {
    QFileDialog dialog(this, title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // the file need not exist
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.value(0));
    dialog.selectFile(QString());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().value(0);
}

QString TForm1::ChooseSaveFile(const QString& title, const QString& name) {
    QFileDialog dialog(this, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().value(0);
}

void TForm1::SouborClick() {
    const QString name = AskOpenFile(QStringLiteral("Nahrát soubor"),
                                     {QStringLiteral("Nahrávací soubory (*.s24 *.cmd)"),
                                      QStringLiteral("Všechny soubory (*)")});
    if (name.isEmpty()) return;
    const QFileInfo file(name);
    QDir::setCurrent(file.absolutePath());
    StartFileJob(ToCp(file.absoluteFilePath()));
}

void TForm1::StartFileJob(const std::string& name) {
    ShowBusyLook();
    if (Worker) Worker->StartFile(name);
}

void TForm1::StopClick() {
    if (Worker) Worker->FStop = true;
}

void TForm1::ProtokolClick() {
    if (!Worker || Worker->FBusy) return;
    const QString name = AskSaveFile(QStringLiteral("Uložit protokol"), FSaveName);
    if (name.isEmpty()) return;
    FSaveName = name;
    const QFileInfo file(name);
    QDir::setCurrent(file.absolutePath());

    // The console's text as it stands: lines separated by CR LF, one CP1250 byte per
    // character. The file is replaced only once it is written whole.
    QString text = Hlaseni->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    text.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    const std::string bytes = ToCp(text);
    QSaveFile out(file.absoluteFilePath());
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) ||
        !out.commit())
        throw zv::Error(zv::msg::CannotCreateFile(ToCp(name)));
}

bool TForm1::HlaseniKeyPress(QChar key) {
    if (!Worker) return true;
    if (Worker->FBusy) {
        if (key == QChar(27)) Worker->FStop = true;
        return true;
    }
    if (key != QChar(13) && key != QChar(10)) return false;

    QTextDocument* doc = Hlaseni->document();
    const QTextCursor caret = Hlaseni->textCursor();
    const QTextBlock block = caret.hasSelection() ? doc->findBlock(caret.selectionEnd()) : caret.block();
    const QString line = block.text();
    if (line.isEmpty()) return false;

    ShowBusyLook();

    // The taken line becomes the console's last; the job's reports follow it.
    QTextCursor below(block);
    below.movePosition(QTextCursor::EndOfBlock);
    below.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    below.removeSelectedText();
    Hlaseni->setTextCursor(below);

    const std::string text = ToCp(line);
    if (text[0] == '#') {
        StartFileJob(text.substr(1, 200));
    } else if (text == "reset") {
        PendingLines.insert(PendingLines.end(), {"~G:FF0000", "I000000"});
    } else if (text == "reset wd") {
        PendingLines.insert(PendingLines.end(), {"W7003FC<060705", "!*", "~G:7003FC", "I000000"});
    } else if (text == "reset pl2") {
        PendingLines.insert(PendingLines.end(), {"rpl2", "!ok", "I000000"});
    } else {
        Worker->StartLine(text);
    }
    return true;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Ovladani && event->type() == QEvent::Resize) {
        LayOutOvladani();
    } else if (watched == Hlaseni && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        QChar ch;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            // Shift+Enter counts as Enter: the console holds no line breaks inside a line.
            ch = (key->modifiers() & Qt::ControlModifier) ? QChar(10) : QChar(13);
        } else if (key->key() == Qt::Key_Escape) {
            ch = QChar(27);
        } else if (!key->text().isEmpty()) {
            ch = key->text().at(0);
        } else {
            return false;  // caret and scroll keys carry no character
        }
        bool swallowed = true;
        Guarded([&] { swallowed = HlaseniKeyPress(ch); });
        return swallowed;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Ovladani->setGeometry(8, 136, std::max(0, width() - 16), std::max(0, height() - 144));
}

void TForm1::LayOutOvladani() {
    // The console keeps its distances to all four edges of the panel. The buttons keep
    // their size and their distance to the bottom edge, so that they stay below the
    // console: Soubor to the left, Protokol to the right, Stop in the middle.
    const int w = Ovladani->width(), h = Ovladani->height();
    Hlaseni->setGeometry(8, 8, std::max(0, w - 16), std::max(0, h - 48));
    const int y = h - 33;
    Soubor->move(48, y);
    Stop->move(280 + (w - 633) / 2, y);
    Protokol->move(w - 137, y);
}

void TForm1::closeEvent(QCloseEvent* event) {
    ShutDownWorker();
    QWidget::closeEvent(event);
}

void TForm1::RunOnFrontEnd(const std::function<void()>& step) {
    if (QThread::currentThread() == thread()) {
        step();
        return;
    }
    auto call = std::make_shared<FrontEndCall>();
    call->step = step;
    {
        const std::lock_guard lock(FCallMutex);
        if (FClosing) throw zv::Error(zv::msg::Zastaven);
    }
    QMetaObject::invokeMethod(
        this,
        [this, call] {
            {
                const std::lock_guard lock(FCallMutex);
                if (call->cancelled || FClosing) return;
            }
            try {
                call->step();
            } catch (...) {
                call->error = std::current_exception();
            }
            {
                const std::lock_guard lock(FCallMutex);
                call->done = true;
            }
            FCallDone.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(FCallMutex);
    FCallDone.wait(lock, [&] { return call->done || FClosing; });
    if (!call->done) {
        // The window is closing and will not run the step: the job ends here.
        call->cancelled = true;
        throw zv::Error(zv::msg::Zastaven);
    }
    lock.unlock();
    if (call->error) std::rethrow_exception(call->error);
}

void TForm1::SpeedSelected(int index) {
    auto show = [this, index] { COMrychlost->setCurrentIndex(index); };
    if (QThread::currentThread() == thread()) {
        show();
    } else {
        QMetaObject::invokeMethod(this, show, Qt::QueuedConnection);
    }
}

void TForm1::ShutDownWorker() {
    {
        const std::lock_guard lock(FCallMutex);
        FClosing = true;
    }
    FCallDone.notify_all();
    if (Timer1) Timer1->stop();
    if (Worker) {
        Worker->FStop = true;
        Worker.reset();  // joins the thread
    }
}
