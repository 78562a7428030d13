#include "app/qt/QtUpdaterView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "app/DeviceText.h"
#include "app/qt/ControlNames.h"
#include "app/qt/Controls.h"
#include "app/qt/KeyCodes.h"

namespace q218 {

namespace {

// The designed window, in twips.
constexpr int kClientWidth = 4410;
constexpr int kClientHeight = 2430;
constexpr int kPanelWidth = 1050;  // four panels fill the status bar's 4200 twips

constexpr Place kText2{120, 360, 2895, 285};
constexpr Place kText3{120, 960, 2895, 285};
constexpr Place kText4{1920, 240, 1050, 465};
constexpr Place kText1{0, 1200, 855, 285};
constexpr Place kCmdOK{3120, 240, 1215, 495};
constexpr Place kCmdUpdate{3120, 840, 1215, 495};
constexpr Place kCmdExit{3120, 1440, 1215, 495};
constexpr Place kUpdateBar{120, 1560, 2880, 285};
constexpr Place kStatusBar1{120, 2040, 4200, 375};

// The serial-number box holds at most six characters.
constexpr int kSerialBoxLength = 6;

// Counts a running ProcessEvents or message box for as long as it lasts, however it ends.
class NestingScope {
public:
    explicit NestingScope(int& depth) : m_depth(depth) { ++m_depth; }
    ~NestingScope() { --m_depth; }
    NestingScope(const NestingScope&) = delete;
    NestingScope& operator=(const NestingScope&) = delete;

private:
    int& m_depth;
};

}  // namespace

QtUpdaterView::QtUpdaterView(QWidget* parent) : QWidget(parent) {
    SetUpWindow();

    // Created in the order the focus moves through them (the designed tab positions):
    // cmdUpdate 0, the two bar labels 1 and 2, cmdOK 3, StatusBar1 4, Text2 5, cmdExit 6,
    // Text1 7, Text3 8, Text4 9. Labels and the status bar take no focus.
    m_cmdUpdate = new QPushButton(QStringLiteral("&Update"), this);
    Identify(*m_cmdUpdate, control::cmdUpdate, QStringLiteral("Update"), kCmdUpdate);
    m_cmdUpdate->setEnabled(false);

    m_updateBarBG = new QLabel(this);
    Identify(*m_updateBarBG, control::UpdateBarBG, QStringLiteral("Progress track"), kUpdateBar);
    MakeBarLabel(*m_updateBarBG, palette().color(QPalette::Button));

    m_updateBarFG = new QLabel(this);
    Identify(*m_updateBarFG, control::UpdateBarFG, QStringLiteral("Progress"), kUpdateBar);
    MakeBarLabel(*m_updateBarFG,
                 QColor(kProgressGreen.red, kProgressGreen.green, kProgressGreen.blue));
    m_updateBarFG->resize(0, m_updateBarFG->height());

    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    Identify(*m_cmdOK, control::cmdOK, QStringLiteral("OK"), kCmdOK);

    CreateStatusBar();

    m_text2 = new TextLine(this);
    Identify(*m_text2, control::Text2, QStringLiteral("Message"), kText2);
    MakeFlat(*m_text2);

    m_cmdExit = new QPushButton(QStringLiteral("Exit"), this);
    Identify(*m_cmdExit, control::cmdExit, QStringLiteral("Exit"), kCmdExit);

    m_text1 = new QLineEdit(this);
    Identify(*m_text1, control::Text1, QStringLiteral("Download working text"), kText1);
    m_text1->hide();

    m_text3 = new TextLine(this);
    Identify(*m_text3, control::Text3, QStringLiteral("Firmware image"), kText3);
    MakeFlat(*m_text3);

    CreateSerialBox();
    ConnectControls();
    m_cmdOK->setFocus(Qt::OtherFocusReason);
}

void QtUpdaterView::SetUpWindow() {
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    setObjectName(QString::fromLatin1(control::Main));
    setAccessibleName(QString::fromLatin1(kWindowTitle));
    // Fixed size: no maximize or minimize box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(PixelsFromTwips(kClientWidth), PixelsFromTwips(kClientHeight));
    // The 16 x 16 black-and-white icon, the same file the desktop entry installs.
    setWindowIcon(QIcon(QStringLiteral(":/q218-updater.png")));

    QFont defaultFont(QStringLiteral("MS Sans Serif"));
    defaultFont.setStyleHint(QFont::SansSerif);
    defaultFont.setPointSizeF(8.0);
    setFont(defaultFont);
}

void QtUpdaterView::CreateStatusBar() {
    m_statusBar1 = new QFrame(this);
    Identify(*m_statusBar1, control::StatusBar1, QStringLiteral("Device"), kStatusBar1);
    m_statusBar1->setFocusPolicy(Qt::NoFocus);
    struct PanelSpec {
        std::string_view key;
        const char* name;
    };
    const std::array<PanelSpec, 4> panelSpecs = {{{kPanelModel, "Device model"},
                                                  {kPanelSerial, "Device serial number"},
                                                  {kPanelRevision, "Device firmware revision"},
                                                  {kPanelDate, "Device firmware date"}}};
    int panelLeft = 0;
    for (const auto& spec : panelSpecs) {
        auto* panel = new QLabel(m_statusBar1);
        panel->setObjectName(ToQt(spec.key));
        panel->setAccessibleName(QString::fromLatin1(spec.name));
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setLineWidth(1);
        panel->setIndent(2);
        // Device text is shown as it is: a reply field read as markup could load any local
        // file (an image tag naming /dev/zero never ends).
        panel->setTextFormat(Qt::PlainText);
        panel->setGeometry(panelLeft, 0, PixelsFromTwips(kPanelWidth), m_statusBar1->height());
        panelLeft += PixelsFromTwips(kPanelWidth);
        m_panels.emplace(std::string(spec.key), Panel{panel, {}});
    }
}

void QtUpdaterView::CreateSerialBox() {
    m_text4 = new QLineEdit(QStringLiteral("888888"), this);
    Identify(*m_text4, control::Text4, QStringLiteral("Serial number"), kText4);
    m_text4->setMaxLength(kSerialBoxLength);
    QFont serialFont = font();
    serialFont.setPointSizeF(13.5);
    serialFont.setWeight(QFont::Normal);
    m_text4->setFont(serialFont);
    m_text4->hide();
    // Lies over the right-hand end of the message line when shown.
    m_text4->raise();
    m_text4->installEventFilter(this);
}

void QtUpdaterView::ConnectControls() {
    setTabOrder(m_cmdUpdate, m_cmdOK);
    setTabOrder(m_cmdOK, m_text2);
    setTabOrder(m_text2, m_cmdExit);
    setTabOrder(m_cmdExit, m_text1);
    setTabOrder(m_text1, m_text3);
    setTabOrder(m_text3, m_text4);

    // No button is the default or the cancel button: Enter acts only on the focused control,
    // and the window's filter gives it to the focused button (not auto-default: such a button
    // would also click on an auto-repeated Enter, and be drawn as the default when focused).
    for (QPushButton* button : {m_cmdOK, m_cmdUpdate, m_cmdExit}) {
        button->setAutoDefault(false);
        button->setDefault(false);
        button->installEventFilter(this);
    }
    connect(m_cmdOK, &QPushButton::clicked, this,
            [this] { Dispatch([this] { m_events->cmdOK_Click(); }); });
    connect(m_cmdUpdate, &QPushButton::clicked, this,
            [this] { Dispatch([this] { m_events->cmdUpdate_Click(); }); });
    connect(m_cmdExit, &QPushButton::clicked, this,
            [this] { Dispatch([this] { m_events->cmdExit_Click(); }); });
}

QtUpdaterView::~QtUpdaterView() = default;

void QtUpdaterView::Dispatch(const std::function<void()>& handler) {
    if (m_ending || m_events == nullptr) {
        return;
    }
    try {
        handler();
    } catch (const ProgramEnded&) {
        m_ending = true;
    }
    if (!m_ending) {
        return;
    }
    if (m_nesting > 0) {
        // Nested: the waiting handler below unwinds once Qt returns to ProcessEvents (or
        // the message box's loop ends).
        if (m_openBox != nullptr) {
            m_openBox->done(0);
        }
        return;
    }
    FinishProgram();
}

void QtUpdaterView::FinishProgram() {
    m_finished = true;
    hide();
    QCoreApplication::quit();
}

void QtUpdaterView::ThrowIfEnding() const {
    if (m_ending) {
        throw ProgramEnded{};
    }
}

void QtUpdaterView::closeEvent(QCloseEvent* event) {
    if (!m_finished && m_events != nullptr) {
        // The title bar's close is the technician's way out of any wait, also one that no
        // enabled button can end: it does what Exit does.
        Dispatch([this] { m_events->cmdExit_Click(); });
    }
    if (m_finished || m_events == nullptr) {
        event->accept();
    } else {
        // Nested in a wait: the window closes once the waiting handler has unwound.
        event->ignore();
    }
}

bool QtUpdaterView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_text4 && event->type() == QEvent::KeyPress) {
        const auto& keyEvent = static_cast<const QKeyEvent&>(*event);
        const std::int16_t keyCode = KeyCodeOf(keyEvent);
        const int shift = ShiftStateOf(keyEvent.modifiers());
        Dispatch([this, keyCode, shift] { m_events->Text4_KeyDown(keyCode, shift); });
        // Enter belongs to the handler; every other key is typed into the box as usual.
        return keyCode == kKeyEnter || m_ending;
    }
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button != nullptr && event->type() == QEvent::KeyPress) {
        const auto& keyEvent = static_cast<const QKeyEvent&>(*event);
        if (keyEvent.key() == Qt::Key_Return || keyEvent.key() == Qt::Key_Enter) {
            // Enter clicks the focused button once, never by auto-repeat: an Enter held in the
            // serial-number box after a valid entry would otherwise start the download on the
            // "&Update" that has just taken the focus.
            if (!keyEvent.isAutoRepeat()) {
                button->click();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// The controls in the order their enums list them.
QLineEdit* QtUpdaterView::Box(TextBox box) const {
    const std::array<QLineEdit*, 4> boxes{m_text1, m_text2, m_text3, m_text4};
    return boxes.at(static_cast<std::size_t>(box));
}

QPushButton* QtUpdaterView::ButtonWidget(Button button) const {
    const std::array<QPushButton*, 3> buttons{m_cmdOK, m_cmdUpdate, m_cmdExit};
    return buttons.at(static_cast<std::size_t>(button));
}

void QtUpdaterView::SetText(TextBox box, std::string_view text) {
    if (box == TextBox::Text1) {
        m_text1Text = text;
        return;
    }
    QLineEdit* edit = Box(box);
    edit->setText(ToQt(text));
    // Show the beginning of a text longer than the box, as a freshly set box does.
    edit->setCursorPosition(0);
}

std::string QtUpdaterView::GetText(TextBox box) const {
    return box == TextBox::Text1 ? m_text1Text : FromQt(Box(box)->text());
}

void QtUpdaterView::SetDetail(TextBox box, std::string_view text) {
    // Line by line, so that the lines stay lines while a control byte inside one is shown.
    QStringList lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.append(QString::fromStdString(Visible(text.substr(start, end - start))));
        start = end + 1;
    }
    const QString plain = lines.join(QLatin1Char('\n'));
    QLineEdit* edit = Box(box);
    // A tooltip that looks like markup is drawn as markup: converted, it is always plain.
    edit->setToolTip(plain.isEmpty() ? QString()
                                     : Qt::convertFromPlainText(plain, Qt::WhiteSpaceNormal));
    edit->setAccessibleDescription(plain);
    if (!plain.isEmpty()) {
        std::fputs(qPrintable(edit->text() + "\n  " + lines.join("\n  ") + '\n'), stderr);
    }
}

void QtUpdaterView::SetVisible(TextBox box, bool visible) {
    // Only the serial-number box is ever shown or hidden.
    if (box == TextBox::Text4) {
        m_text4->setVisible(visible);
    }
}

bool QtUpdaterView::IsVisible(TextBox box) const {
    return box == TextBox::Text4 && !m_text4->isHidden();
}

void QtUpdaterView::SetEnabled(Button button, bool enabled) {
    ButtonWidget(button)->setEnabled(enabled);
}

void QtUpdaterView::SetFocus(FocusTarget target) {
    const std::array<QWidget*, 4> widgets{m_cmdOK, m_cmdUpdate, m_cmdExit, m_text4};
    widgets.at(static_cast<std::size_t>(target))->setFocus(Qt::OtherFocusReason);
}

void QtUpdaterView::SetPanelText(std::string_view key, std::string_view text) {
    auto it = m_panels.find(key);
    if (it != m_panels.end()) {
        it->second.text = text;
        it->second.label->setText(PanelDisplay(text));
    }
}

std::string QtUpdaterView::GetPanelText(std::string_view key) const {
    auto it = m_panels.find(key);
    return it == m_panels.end() ? std::string() : it->second.text;
}

void QtUpdaterView::SetProgress(float fraction) {
    // A fraction outside 0 to 1 (or not a number) would draw the fill beyond its track.
    const double bounded = std::isnan(fraction) ? 0.0 : std::clamp(double{fraction}, 0.0, 1.0);
    const int width = static_cast<int>(std::lround(bounded * m_updateBarBG->width()));
    // Most frames move the fill by less than a pixel: nothing to draw then.
    if (width != m_updateBarFG->width()) {
        m_updateBarFG->resize(width, m_updateBarFG->height());
        m_pacer.FillMoved();
    }
}

void QtUpdaterView::SetProgressBackground(Rgb colour) {
    QPalette palette = m_updateBarBG->palette();
    palette.setColor(QPalette::Window, QColor(colour.red, colour.green, colour.blue));
    m_updateBarBG->setPalette(palette);
}

void QtUpdaterView::Beep() {
    QApplication::beep();
}

void QtUpdaterView::ShowMessageBox(std::string_view text) {
    ThrowIfEnding();
    QMessageBox box(QMessageBox::NoIcon, windowTitle(), ToQt(text), QMessageBox::Ok, this);
    box.setObjectName(QString::fromLatin1(control::MessageBox));
    box.setAccessibleName(windowTitle());
    box.setTextFormat(Qt::PlainText);
    {
        // Clicks and timers run handlers inside the box's own event loop.
        NestingScope scope(m_nesting);
        m_openBox = &box;
        box.exec();
        m_openBox = nullptr;
    }
    ThrowIfEnding();
}

void QtUpdaterView::ProcessEvents() {
    ProcessEventsFor(std::chrono::nanoseconds::max());
}

void QtUpdaterView::ProcessEventsFor(std::chrono::nanoseconds limit) {
    ThrowIfEnding();
    {
        NestingScope scope(m_nesting);
        m_wait.Run(limit, [this] { return m_ending; });
    }
    ThrowIfEnding();
}

}  // namespace q218
