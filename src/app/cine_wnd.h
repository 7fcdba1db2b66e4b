// The small cine window: the frame rate of the active panel's viewport, a spin box to step
// it, and the Start/Stop button. It follows playback started or stopped elsewhere.
#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;
class QSpinBox;

namespace vexel {

class CViewport2D;

class CCineWnd final : public QDialog {
    Q_OBJECT

public:
    // `activeViewport` answers the active panel's viewport, or null.
    CCineWnd(std::function<CViewport2D*()> activeViewport, QWidget* parent);

    // Shows the viewport's rate: the user's, else the acquired one.
    void InitRate(CViewport2D* viewport);
    // Shows round(rate); with a viewport, also makes it that viewport's rate.
    void SetRate(float rate, CViewport2D* viewport);
    // From an event only the button follows; otherwise the active viewport starts or stops
    // (it starts only with at least two frames to show).
    void SetPlaying(bool play, bool fromEvent);

    QSpinBox& RateField() const { return *m_rate; }
    QPushButton& Button() const { return *m_button; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<CViewport2D*()> m_activeViewport;
    QSpinBox* m_rate = nullptr;
    QPushButton* m_button = nullptr;
};

}  // namespace vexel
