#pragma once
// TForm1, the main window: the link-setting controls, the console, the status pump that
// moves the worker's reports into the console and starts queued lines, and the file and
// save buttons. The only place of the program that includes Qt.
#include <QApplication>
#include <QProgressBar>
#include <QString>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/LinkSettings.h"
#include "engine/Prikazy.h"
#include "link/Tsigs.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace zv::gui {

// The application's title: the program file's name up to its first ".", its first
// character in upper case and every later one in lower case ("zavlo384" -> "Zavlo384").
QString ApplicationTitle(const QString& programFile);

// The text the error display shows for a CP1250 message: a "." is appended when the
// message is not empty and its last character's code is above that of ".".
QString ErrorText(const std::string& message);

// The error display: a modal box with the error icon and OK, captioned with the
// application's title. `ErrorBox` shows it; tests replace it, as the box waits for a user.
void ShowError(const std::string& message);
extern std::function<void(const QString& caption, const QString& text)> ErrorBox;

// Runs one handler of the window and shows an error that escapes it, so that the event
// loop goes on.
void Guarded(const std::function<void()>& handler);

// The application object. An error that escapes an event handler reaches the error
// display here instead of ending the program.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// A progress bar that draws an empty range (0 to 0) as an empty bar: Qt would animate
// it as "busy", and a job of one line has exactly that range.
class TProgressBar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace zv::gui

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Creates the controls with their design values, then PendingLines, then the Worker,
    // whose thread starts and waits; the timer runs from here on.
    explicit TForm1(Tsiocom& port = Sio, QWidget* parent = nullptr);
    // Stops a running job and ends the worker before any control goes away.
    ~TForm1() override;

    // Reads the command-line arguments (CP1250) into the link settings and PendingLines,
    // opens the port and shows the settings in the controls. An error is shown and ends
    // the processing; the window still opens.
    void FormCreate(const std::vector<std::string>& args);

    // The handlers, public so that the tests can run them as the user's clicks would.
    void COMportChange();
    void Button1Click();
    void Timer1Timer();
    void SouborClick();
    void StartFileJob(const std::string& name);
    void StopClick();
    void ProtokolClick();
    // One key typed into the console: true when the key is swallowed.
    bool HlaseniKeyPress(QChar key);

    // The two file dialogs, behind seams so that the tests can answer them. Each gets the
    // dialog's title and its proposal (filters / file name) and returns the chosen file
    // name, or an empty text when the user cancels.
    std::function<QString(const QString& title, const QStringList& filters)> AskOpenFile;
    std::function<QString(const QString& title, const QString& name)> AskSaveFile;

    LinkSettings FSettings;
    TPendingLines PendingLines;
    std::unique_ptr<TPrikaz> Worker;

    // Controls, by their names (also their Qt object names).
    QGroupBox* Komunikace = nullptr;
    QComboBox* COMport = nullptr;
    QComboBox* COMrychlost = nullptr;
    QComboBox* COMparita = nullptr;
    QLineEdit* COMtimeout = nullptr;
    QCheckBox* COMRTS = nullptr;
    QLineEdit* COMadrstanice = nullptr;
    QLineEdit* COMzdrojadr = nullptr;
    QPushButton* Button1 = nullptr;
    zv::gui::TProgressBar* ProgressBar = nullptr;
    QFrame* Ovladani = nullptr;
    QPlainTextEdit* Hlaseni = nullptr;
    QPushButton* Soubor = nullptr;
    QPushButton* Stop = nullptr;
    QPushButton* Protokol = nullptr;
    QTimer* Timer1 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void LayOutOvladani();
    void ShowSettings();
    void ShowPortDevice();
    void ShowBusyLook();
    void ShowIdleLook();
    void AppendReports(const QString& text);
    void TrimConsole();
    QString ChooseOpenFile(const QString& title, const QStringList& filters);
    QString ChooseSaveFile(const QString& title, const QString& name);
    // The worker's "@speed" hooks: run a step on this window's thread and wait for it.
    void RunOnFrontEnd(const std::function<void()>& step);
    void SpeedSelected(int index);
    // Ends the running job and the worker; the worker's calls onto this window fail
    // from here on instead of waiting.
    void ShutDownWorker();

    Tsiocom& FPort;
    QString FSaveName = QStringLiteral("protokol.txt");

    // The worker's calls onto this window's thread that are waiting to run.
    struct FrontEndCall;
    std::mutex FCallMutex;
    std::condition_variable FCallDone;
    bool FClosing = false;
};
