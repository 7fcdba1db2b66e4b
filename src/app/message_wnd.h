// The program's own message box: a heading, a word-wrapped text, the application icon and
// one or two buttons. It does not block: ShowMessage returns at once, the owner window is
// disabled while the box is up, and the answer arrives through a callback.
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <string>

class QLabel;
class QPushButton;

namespace vexel {

class CLanguageManager;

enum class MessageKind {
    Question = 0,  // "Yes" (result 1) and "No" (result 0)
    Notice = 1,    // "Close" (result 0)
};

// Receives 1 for "Yes" or Enter, 0 for "No"/"Close". Not called when the box is dismissed
// with Escape or the window's close button.
using MessageCallback = std::function<void(int result)>;

struct MessageRequest {
    std::string heading;  // UTF-8
    std::string text;     // UTF-8; may hold line breaks
    QWidget* owner = nullptr;
    MessageKind kind = MessageKind::Notice;
    int extraWidth = 0;  // pixels added to the standard width; 0 or less: standard width
    MessageCallback callback;
};

class CMessageWnd : public QDialog {
public:
    CMessageWnd(MessageRequest request, const CLanguageManager& texts);
    ~CMessageWnd() override;

    // Disables the owner and shows the box in front; true when it is on screen.
    bool ShowBox();
    // Re-enables the owner, hides the box, then runs the callback. Once per box.
    void Answer(int result);
    // Re-enables the owner and hides the box without a result.
    void Dismiss();

    bool IsOpen() const { return m_open; }
    MessageKind Kind() const { return m_kind; }
    QLabel* HeadingLabel() const { return m_heading; }
    QLabel* TextLabel() const { return m_text; }
    QPushButton* YesButton() const { return m_yes; }
    QPushButton* NoButton() const { return m_no; }

    static constexpr const char* kTitle = "Vexel DICOM Viewer";

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;

private:
    void BuildControls(const CLanguageManager& texts, const MessageRequest& request);
    void LayOut(int extraWidth);
    void PlaceOverOwner();
    void ReleaseOwner();

    MessageKind m_kind;
    MessageCallback m_callback;
    QPointer<QWidget> m_owner;
    bool m_disabledOwner = false;
    bool m_open = false;
    QLabel* m_icon = nullptr;
    QLabel* m_heading = nullptr;
    QLabel* m_text = nullptr;
    QPushButton* m_yes = nullptr;
    QPushButton* m_no = nullptr;
};

}  // namespace vexel
