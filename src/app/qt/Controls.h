#pragma once
// The window's controls as the updater draws them: texts across the Qt boundary as Latin-1,
// the flat message and image lines, the progress bar's labels and the status-bar panels'
// display of device fields, and where each control stands.

#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <string>
#include <string_view>

namespace q218 {

// 15 twips make one pixel at 96 dots per inch; every designed measure divides evenly.
constexpr int PixelsFromTwips(int twips) {
    return twips / 15;
}

// A control's place in the designed window: left and top edge, width and height, in twips.
struct Place {
    int left;
    int top;
    int width;
    int height;
};

// Names a control (the object name it is found by, the name a screen reader speaks) and puts
// it at its place.
void Identify(QWidget& widget, const char* objectName, const QString& spoken, const Place& place);

// Characters and serial bytes map one to one (code 0 to 255), so texts cross the Qt
// boundary as Latin-1.
QString ToQt(std::string_view text);
std::string FromQt(const QString& text);

// What a status-bar panel shows of a text: the text itself, never read as markup, with line
// breaks and other control characters (a tab excepted) drawn as spaces, so that a field from
// the device stays on one line, as the text boxes draw it.
QString PanelDisplay(std::string_view text);

// The message line and the image line. Like the original platform's text box, it does not
// select its whole text when the focus arrives by Tab, or when Qt moves the focus on from a
// button being disabled (every button is disabled during the transfer): a selection there is
// one the technician did not make.
class TextLine final : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void focusInEvent(QFocusEvent* event) override;
};

// The message line and the image line: flat, borderless, on the button-face colour.
void MakeFlat(QLineEdit& box);
// A label of the progress bar (track or fill): a plain box on `background`, never focused.
void MakeBarLabel(QLabel& label, const QColor& background);

}  // namespace q218
