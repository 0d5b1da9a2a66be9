// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Form1: the tool's one window. Port field "串口号" (typed, or picked from the system's
// ports), the buttons "读入" and "停止", the progress field "程序步" with a busy bar beside it,
// and a status line that says what is going on and what went wrong.

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <filesystem>

#include "ui/file_report.h"
#include "ui/port_list.h"
#include "ui/station.h"
#include "ui/trace_file.h"
#include "ui/words.h"

class QCompleter;
class QStandardItemModel;

namespace progread {

// The port field: free text (a number or a device path), with the system's ports in its list,
// read again each time the list opens.
class PortField : public QComboBox {
    Q_OBJECT

public:
    explicit PortField(QWidget* parent = nullptr);
    QString text() const { return currentText(); }
    void setText(const QString& text) { setEditText(text); }

    void showPopup() override;

signals:
    void aboutToShowPorts();
};

class Form1 : public QWidget, private UploadView {
    Q_OBJECT

public:
    explicit Form1(const FileDir& dir, const QString& port = QStringLiteral("1"),
                   QWidget* parent = nullptr);
    ~Form1() override;

    // Takes the port from the field and prepares the image. False (with the reason) when the
    // image cannot be prepared: the tool cannot work then.
    bool Form_Load(QString* error);

    void Command1_Click();
    // 停止 (or Esc): ends the read as an error would; what came stays in duqu.pmw.part.
    void Stop_Click();
    // 比较…: asks for an image file and compares the program read with it.
    void Compare_Click();
    // Compares the program in duqu.pmw with file's, and says how they compare.
    void compareWith(const std::filesystem::path& file);
    // Sets the port from the field; false (and a hint in the status line) when it is not one.
    bool Text1_Change();
    void Text1_EditingFinished();
    void Form_Unload();
    void setBackToBack(bool on) { station_.setBackToBack(on); }
    // Where the port field's completer gets its list (the system's ports unless a test says
    // otherwise); read again each time the field gets the focus.
    void setPortLister(PortLister lister) { portLister_ = std::move(lister); }
    void refreshPorts();
    QCompleter* portCompleter() const { return completer_; }
    // What the port field starts with: the port of the last read that finished, else the one
    // USB adapter, else "1".
    static QString initialPort(const PortLister& ports = systemPorts);
    // The port of the last read that finished; empty when none has.
    static QString lastGoodPort();
    void setVerify(bool on) { station_.setVerify(on); }
    void setTrace(TraceFile* trace) {
        trace_ = trace;
        station_.setTrace(trace);
    }

    const Upload& upload() const { return station_.upload; }
    const ProgramImage& image() const { return station_.image; }
    CommPort& port() { return station_.MSComm1; }
    const Station& station() const { return station_; }
    // The status area's text as written, a line each (the label shows it styled, with break
    // points in paths).
    QString statusText() const { return shownText_; }

    QPushButton* Command1;
    QPushButton* Stop;
    QPushButton* Compare;
    PortField* Text1;
    QLabel* Label1;
    QLineEdit* Text2;
    QLabel* Label2;
    QLabel* Status;
    QProgressBar* Busy;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showProgress(const std::string& text) override;
    void requestSent(long address, int attempt) override;
    void replyRejected(long address, const Refusal& refusal) override;
    void checksumsByAnotherRule() override;
    void verifying(long from, long to, bool lostAnswers) override;
    void waitingForAnswer(long address, long long waitedMs) override;
    void uploadFinished(const UploadSummary& summary) override;
    void uploadStopped(const Error& error, bool wasRunning) override;
    // The message under the last read's ending: what goes on now, or a hint (problem: in red).
    void setStatus(const QString& text, bool problem = false);
    // The ending, the message and the note on files, each line in its colour.
    void showStatus();
    // Says once what was done to files; stays under the status until the next start.
    void setFileNote(const QString& note);
    // A read started or ended: 停止 and the busy bar follow.
    void setRunning(bool running);
    // Built once, by the constructor.
    void makeControls();
    void placeControls();
    void makePortList(const QString& port);
    void connectControls();
    int tw(int twips) const;
    // Grows the status area, and the window below the designed layout, to hold the text.
    void fitStatus();

    static constexpr int kPathRole = Qt::UserRole + 1;
    static constexpr int kDesignedWidth = 6750;  // twips
    static constexpr int kDesignedHeight = 5250;
    static constexpr int kStatusTop = 3720;
    static constexpr int kStatusHeight = 1440;

    FileDir dir_;
    Station station_;
    QString message_;
    bool messageProblem_ = false;
    QString fileNote_;
    QString shownText_;
    PortLister portLister_ = systemPorts;
    QCompleter* completer_ = nullptr;
    QStandardItemModel* portModel_ = nullptr;
    QElapsedTimer elapsed_;
    // Said at start-up (a template short of a header); said again with the result.
    QString startWarning_;
    // Shown above the progress while the second read runs: why it runs.
    QString secondPassWhy_;
    long secondFrom_ = -1, secondTo_ = -1;
    // A read's end stays shown until the next start; an edit of the port field adds its hint
    // below it.
    Ending ending_;
    bool portEdited_ = false;
    bool stopAsked_ = false;
    bool probing_ = false;   // 自动 is looking for the controller's port
    bool starting_ = false;  // 读入 is starting a read: a failure is this read's
    TraceFile* trace_ = nullptr;
    bool unloaded_ = false;
};

}  // namespace progread
