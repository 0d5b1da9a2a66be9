// SPDX-License-Identifier: GPL-3.0-or-later
// Form1's controls: made, placed as designed (in twips), and wired to the window's handlers.
#include <QAbstractItemView>
#include <QCompleter>
#include <QRegularExpression>
#include <QScreen>
#include <QShortcut>
#include <QStandardItemModel>

#include "ui/form1.h"

namespace progread {

PortField::PortField(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);  // Enter opens the port, it adds nothing to the list
    setMaxVisibleItems(12);
}

void PortField::showPopup() {
    const QString typed = currentText();
    emit aboutToShowPorts();
    setEditText(typed);  // reading the list again keeps what the operator typed
    QComboBox::showPopup();
}

namespace {

constexpr auto kRed = "#b00020";
constexpr auto kGreen = "#1b7f2a";

// One line of the status area, in its own paragraph. A long path may break after each slash;
// a number never parts from its unit ("7682 字节"), nor from the word before it ("重发 1 次":
// two Han characters, the most such a word has here).
QString paragraph(const QString& text, const QString& style) {
    static const QRegularExpression numberSpace(
        QStringLiteral("(?<=\\d) (?=\\S)|(?<=[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]) (?=\\d)"));
    static const QRegularExpression wordBeforeNumber(
        QStringLiteral("(?<=[\\x{4e00}-\\x{9fff}])(?=[\\x{4e00}-\\x{9fff}] \\d)"));
    QString html = text;
    html.replace(wordBeforeNumber, QStringLiteral("\u2060"));
    html.replace(numberSpace, QStringLiteral("\u00A0"));
    html = html.toHtmlEscaped();
    html.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    return QStringLiteral("<p style=\"margin:0; %1\">%2</p>").arg(style, html);
}

template <typename W, typename... Args>
W* named(QWidget* parent, const char* name, Args&&... args) {
    auto* w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

}  // namespace

void Form1::makeControls() {
    Command1 = named<QPushButton>(this, "Command1", QStringLiteral("读入"));
    Stop = named<QPushButton>(this, "Stop", QStringLiteral("停止"));
    Compare = named<QPushButton>(this, "Compare", QStringLiteral("比较…"));
    Text1 = named<PortField>(this, "Text1");
    Label1 = named<QLabel>(this, "Label1", QStringLiteral("串口号"));
    Text2 = named<QLineEdit>(this, "Text2");
    Label2 = named<QLabel>(this, "Label2", QStringLiteral("程序步"));
    Status = named<QLabel>(this, "Status");
    Busy = named<QProgressBar>(this, "Busy");
    Status->setTextFormat(Qt::RichText);
    Status->setWordWrap(true);
    Status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Text1->setToolTip(
        tr("Port number (1 is the first serial port) or a device path such as /dev/ttyUSB0"));
    Stop->setToolTip(tr("Stop the read (Esc); the blocks read so far are kept"));
    Compare->setToolTip(tr("Compare the program read with a saved program file"));
    // The program's length is not known until its end marker comes: busy, not a percentage.
    Busy->setRange(0, 0);
    Busy->setTextVisible(false);
    Busy->hide();

    setTabOrder(Command1, Stop);
    setTabOrder(Stop, Text1);
    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Compare);
    Label1->setFocusPolicy(Qt::NoFocus);
    Label2->setFocusPolicy(Qt::NoFocus);
    Command1->setDefault(true);
    Command1->setFocus();
    Stop->setEnabled(false);
}

void Form1::placeControls() {
    // The stored layout. The port field is wide enough for a device path; 停止 sits beside 读入,
    // the busy bar beside 程序步, and the status line under the controls, with room for where
    // files went.
    setFixedSize(tw(kDesignedWidth), tw(kDesignedHeight));
    Command1->setGeometry(tw(2160), tw(3120), tw(1417), tw(481));
    Stop->setGeometry(tw(3720), tw(3120), tw(1417), tw(481));
    Compare->setGeometry(tw(5280), tw(3120), tw(1230), tw(481));
    Text1->setGeometry(tw(3000), tw(1440), tw(2400), tw(375));
    Label1->setGeometry(tw(1920), tw(1560), tw(855), tw(375));
    Text2->setGeometry(tw(3000), tw(2040), tw(855), tw(375));
    Label2->setGeometry(tw(1920), tw(2160), tw(615), tw(375));
    Busy->setGeometry(tw(3990), tw(2100), tw(1410), tw(255));
    Status->setGeometry(tw(240), tw(kStatusTop), tw(6270), tw(kStatusHeight));
}

void Form1::makePortList(const QString& port) {
    // The list shows each port with its description; the completer offers the paths as they
    // are typed.
    portModel_ = new QStandardItemModel(this);
    Text1->setModel(portModel_);
    completer_ = new QCompleter(portModel_, this);
    completer_->setCompletionRole(kPathRole);
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setFilterMode(Qt::MatchContains);
    Text1->setCompleter(completer_);
    Text1->setText(port);
    Text1->installEventFilter(this);
}

void Form1::connectControls() {
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Stop, &QPushButton::clicked, this, &Form1::Stop_Click);
    connect(Compare, &QPushButton::clicked, this, &Form1::Compare_Click);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (Text1->view()->isVisible()) return;  // Esc closes the open list first
        Stop_Click();
    });
    connect(Text1, &PortField::aboutToShowPorts, this, &Form1::refreshPorts);
    connect(Text1->lineEdit(), &QLineEdit::textEdited, this, [this] {
        portEdited_ = true;
        Text1_Change();
    });
    connect(Text1->lineEdit(), &QLineEdit::editingFinished, this, &Form1::Text1_EditingFinished);
    // A port picked from the list: the field gets its path alone, and it counts as typed.
    connect(Text1, &QComboBox::activated, this, [this](int row) {
        const QString path = Text1->itemData(row, kPathRole).toString();
        if (!path.isEmpty()) Text1->setText(path);
        portEdited_ = true;
        Text1_Change();
        Text1_EditingFinished();
    });
}

int Form1::tw(int twips) const {
    // 15 twips a pixel at 96 dpi, scaled for the screen.
    const qreal dpi = screen() ? screen()->logicalDotsPerInch() : 96.0;
    return qRound(twips / 15.0 * dpi / 96.0);
}

void Form1::fitStatus() {
    const int needed = Status->heightForWidth(Status->width());
    const int height = std::max(tw(kStatusHeight), needed);
    Status->resize(Status->width(), height);
    setFixedSize(tw(kDesignedWidth),
                 std::max(tw(kDesignedHeight),
                          Status->y() + height + tw(kDesignedHeight - kStatusTop - kStatusHeight)));
}

void Form1::showStatus() {
    QStringList plain, html;
    auto add = [&](const QString& text, const QString& style) {
        if (text.isEmpty()) return;
        plain << text;
        html << paragraph(text, style);
    };
    const QString red = QStringLiteral("color:%1;").arg(QLatin1String(kRed));
    if (ending_.how != Ending::How::None) {
        const QFont font = Status->font();
        const QString size = font.pointSizeF() > 0
                                 ? QStringLiteral("%1pt").arg(font.pointSizeF() * 1.3, 0, 'f', 1)
                                 : QStringLiteral("%1px").arg(qRound(font.pixelSize() * 1.3));
        const bool done = ending_.how == Ending::How::Done;
        add(Words::headline(ending_), QStringLiteral("font-weight:bold; font-size:%1; color:%2;")
                                          .arg(size, QLatin1String(done ? kGreen : kRed)));
    }
    for (const QString& line : ending_.details) add(line, {});
    for (const QString& warning : ending_.warnings) add(Words::warning(warning), red);
    add(message_, messageProblem_ ? red : QString());
    add(fileNote_, {});
    shownText_ = plain.join(QLatin1Char('\n'));
    Status->setText(html.join(QString()));
    fitStatus();
}

void Form1::refreshPorts() {
    const QString typed = Text1->text();
    portModel_->clear();
    auto* automatic = new QStandardItem(QStringLiteral("自动"));
    automatic->setData(QStringLiteral("自动"), kPathRole);
    automatic->setToolTip(
        tr("Try each port, USB adapters first, and read where the controller "
           "answers"));
    portModel_->appendRow(automatic);
    for (const PortEntry& port : portLister_()) {
        QStringList about;
        for (const QString& part : {port.description, port.manufacturer, port.serialNumber}) {
            if (!part.isEmpty()) about << part;
        }
        const QString suffix =
            about.isEmpty()
                ? QString()
                : QStringLiteral("  (") + about.join(QStringLiteral(", ")) + QLatin1Char(')');
        for (const QString& name : {port.path, port.byId}) {
            if (name.isEmpty()) continue;
            auto* item = new QStandardItem(name + suffix);
            item->setData(name, kPathRole);
            item->setToolTip(name + suffix);
            portModel_->appendRow(item);
        }
    }
    Text1->setText(typed);  // a new list does not change what the field holds
}

}  // namespace progread
