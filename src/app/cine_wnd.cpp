#include "app/cine_wnd.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <algorithm>
#include <cmath>

#include "support/language_manager.h"
#include "viewer/cine_rate.h"
#include "viewer/viewport_2d.h"
#include "viewer/viewport_cine.h"

namespace vexel {
namespace {

constexpr uint32_t kCineText = 2501;
constexpr uint32_t kFpsText = 2502;
constexpr uint32_t kStartText = 2503;
constexpr uint32_t kStopText = 2504;

QString Text(uint32_t id) {
    return QString::fromStdString(GetString(id));
}

// A typed 0 is kept as typed; the arrows never go below 1.
class CRateSpinBox final : public QSpinBox {
public:
    using QSpinBox::QSpinBox;
    void stepBy(int steps) override {
        setValue(std::clamp(value() + steps, int(kMinCineRate), maximum()));
    }
};

}  // namespace

CCineWnd::CCineWnd(std::function<CViewport2D*()> activeViewport, QWidget* parent)
    : QDialog(parent, Qt::Tool), m_activeViewport(std::move(activeViewport)) {
    setWindowTitle(Text(kCineText));
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(new QLabel(Text(kFpsText), this));
    m_rate = new CRateSpinBox(this);
    m_rate->setRange(0, int(kMaxCineRate));
    layout->addWidget(m_rate);
    m_button = new QPushButton(Text(kStartText), this);
    layout->addWidget(m_button);
    connect(m_rate, &QSpinBox::valueChanged, this, [this](int rate) {
        if (CViewport2D* viewport = m_activeViewport()) viewport->Cine().SetRate(float(rate));
    });
    connect(m_button, &QPushButton::clicked, this, [this] {
        CViewport2D* viewport = m_activeViewport();
        SetPlaying(viewport == nullptr || !viewport->CinePlaying(), false);
    });
    InitRate(m_activeViewport());
}

void CCineWnd::InitRate(CViewport2D* viewport) {
    if (viewport == nullptr) return;
    SetRate(viewport->Cine().EffectiveRate(), nullptr);
}

void CCineWnd::SetRate(float rate, CViewport2D* viewport) {
    const QSignalBlocker quiet(m_rate);
    m_rate->setValue(int(std::lround(rate)));
    if (viewport != nullptr) viewport->Cine().SetRate(rate);
}

void CCineWnd::SetPlaying(bool play, bool fromEvent) {
    CViewport2D* viewport = m_activeViewport();
    if (!play) {
        if (!fromEvent && viewport != nullptr) viewport->Cine().Stop();
        m_button->setText(Text(kStartText));
        return;
    }
    if (!fromEvent) {
        if (viewport == nullptr || viewport->BrowseCount() < 2) return;
        if (m_rate->value() == 0) InitRate(viewport);
        if (!viewport->Cine().Start()) return;
    }
    m_button->setText(Text(kStopText));
}

void CCineWnd::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        hide();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace vexel
