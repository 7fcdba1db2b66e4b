#include "app/message_wnd_manager.h"

#include <QApplication>
#include <QThread>
#include <utility>

namespace vexel {

namespace {

CMessageWndManager* g_instance = nullptr;

bool CanMakeWidgets() {
    const QCoreApplication* application = QCoreApplication::instance();
    return qobject_cast<const QApplication*>(application) != nullptr &&
           QThread::currentThread() == application->thread();
}

}  // namespace

CMessageWndManager::CMessageWndManager(const CLanguageManager& texts) : m_texts(texts) {
    if (g_instance == nullptr) g_instance = this;
}

CMessageWndManager::~CMessageWndManager() {
    m_boxes.clear();
    if (g_instance == this) g_instance = nullptr;
}

CMessageWndManager* CMessageWndManager::Instance() {
    return g_instance;
}

bool CMessageWndManager::ShowMessage(const std::string& heading, const std::string& text,
                                     QWidget* owner, MessageKind kind, int extraWidth,
                                     MessageCallback callback) {
    if (!CanMakeWidgets()) return false;
    MessageRequest request{heading, text, owner, kind, extraWidth, std::move(callback)};
    m_boxes.push_back(std::make_unique<CMessageWnd>(std::move(request), m_texts));
    return m_boxes.back()->ShowBox();
}

}  // namespace vexel
