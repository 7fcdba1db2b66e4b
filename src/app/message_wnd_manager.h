// Shows message boxes and owns every box it ever showed until it is destroyed; answered
// boxes stay hidden in its list. User-interface thread only: other threads go through the
// user-interface dispatcher.
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/message_wnd.h"

namespace vexel {

class CLanguageManager;

class CMessageWndManager {
public:
    // The button texts come from texts, which must outlive the manager.
    explicit CMessageWndManager(const CLanguageManager& texts);
    ~CMessageWndManager();
    CMessageWndManager(const CMessageWndManager&) = delete;
    CMessageWndManager& operator=(const CMessageWndManager&) = delete;

    // The process's manager, or null before start-up and after shutdown.
    static CMessageWndManager* Instance();

    // Shows a new box; true when it is on screen. False, with the owner left as it was,
    // when no box can be made (no QApplication, or not on its thread).
    bool ShowMessage(const std::string& heading, const std::string& text, QWidget* owner,
                     MessageKind kind, int extraWidth = 0, MessageCallback callback = {});

    size_t BoxCount() const { return m_boxes.size(); }
    CMessageWnd* Box(size_t index) const { return m_boxes.at(index).get(); }

private:
    const CLanguageManager& m_texts;
    std::vector<std::unique_ptr<CMessageWnd>> m_boxes;
};

}  // namespace vexel
