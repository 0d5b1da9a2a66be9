#pragma once

// Form1: the tool's one window. Port field "串口号", the button "读入", the progress field
// "程序步", and a status line that says what is going on and what went wrong.

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <filesystem>

#include "ui/file_report.h"
#include "ui/port_list.h"
#include "ui/station.h"

class QCompleter;
class QStandardItemModel;

namespace progread {

class Form1 : public QWidget, private UploadView {
    Q_OBJECT

public:
    explicit Form1(const FileDir& dir, const QString& port = QStringLiteral("1"),
                   QWidget* parent = nullptr);

    // Takes the port from the field and prepares the image. False (with the reason) when the
    // image cannot be prepared: the tool cannot work then.
    bool Form_Load(QString* error);

    void Command1_Click();
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
    // The port of the last read that finished, or "1".
    static QString lastGoodPort();
    void setVerify(bool on) { station_.setVerify(on); }
    void setTrace(LineTrace* trace) { station_.setTrace(trace); }

    const Upload& upload() const { return station_.upload; }
    const ProgramImage& image() const { return station_.image; }
    CommPort& port() { return station_.MSComm1; }
    const Station& station() const { return station_; }
    // The status area's text as written (the label shows it with break points in paths).
    QString statusText() const { return shownText_; }

    QPushButton* Command1;
    QLineEdit* Text1;
    QLabel* Label1;
    QLineEdit* Text2;
    QLabel* Label2;
    QLabel* Status;

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
    void setStatus(const QString& text, bool problem = false);
    // Says once what was done to files; stays under the status until the next start.
    void setFileNote(const QString& note);
    int tw(int twips) const;
    // Grows the status area, and the window below the designed layout, to hold the text.
    void fitStatus();

    FileDir dir_;
    Station station_;
    QString statusText_;
    bool statusProblem_ = false;
    QString fileNote_;
    QString shownText_;
    PortLister portLister_ = systemPorts;
    QCompleter* completer_ = nullptr;
    QStandardItemModel* portModel_ = nullptr;
    QElapsedTimer elapsed_;
    bool portEdited_ = false;
    bool unloaded_ = false;
};

}  // namespace progread
