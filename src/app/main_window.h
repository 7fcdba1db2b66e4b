// The main window. For now a plain frame with the program's title and a File menu; closing
// it hides it and asks the application to quit in order.
#pragma once

#include <QMainWindow>
#include <functional>

namespace vexel {

class CMainWindow final : public QMainWindow {
    Q_OBJECT

public:
    explicit CMainWindow(std::function<void()> onClose);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<void()> m_onClose;
};

}  // namespace vexel
