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
#include "ui/station.h"

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

    const Upload& upload() const { return station_.upload; }
    const ProgramImage& image() const { return station_.image; }
    CommPort& port() { return station_.MSComm1; }
    const Station& station() const { return station_; }
    QString statusText() const { return Status->text(); }

    QPushButton* Command1;
    QLineEdit* Text1;
    QLabel* Label1;
    QLineEdit* Text2;
    QLabel* Label2;
    QLabel* Status;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showProgress(const std::string& text) override;
    void requestSent(long address, int attempt) override;
    void replyRejected(long address, const std::string& reason) override;
    void checksumsByAnotherRule() override;
    void verifying(long from, long to, bool lostAnswers) override;
    void uploadFinished(const UploadSummary& summary) override;
    void uploadStopped(const Error& error, bool wasRunning) override;
    void setStatus(const QString& text, bool problem = false);
    // Says once what was done to files; stays under the status until the next start.
    void setFileNote(const QString& note);
    int tw(int twips) const;

    FileDir dir_;
    Station station_;
    QString statusText_;
    bool statusProblem_ = false;
    QString fileNote_;
    QElapsedTimer elapsed_;
    bool portEdited_ = false;
    bool unloaded_ = false;
};

}  // namespace progread
