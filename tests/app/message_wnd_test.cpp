// Message boxes on the offscreen platform: answers, owner handling and ownership.
#include <gtest/gtest.h>

#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <memory>
#include <vector>

#include "app/message_wnd_manager.h"
#include "common/test_paths.h"
#include "support/language_manager.h"

namespace vexel {
namespace {

class MessageWndTest : public testing::Test {
protected:
    void SetUp() override {
        m_owner = std::make_unique<QWidget>();
        m_owner->resize(800, 600);
        m_owner->show();
    }

    // Shows a box on the owner that records its answers and the owner's state at each.
    CMessageWnd* Show(MessageKind kind) {
        const bool shown =
            m_manager.ShowMessage("Heading", "Body", m_owner.get(), kind, 0, [this](int result) {
                m_results.push_back(result);
                m_ownerEnabled.push_back(m_owner->isEnabled());
            });
        EXPECT_TRUE(shown);
        return m_manager.Box(m_manager.BoxCount() - 1);
    }

    CLanguageManager m_texts;  // English
    CMessageWndManager m_manager{m_texts};
    std::unique_ptr<QWidget> m_owner;
    std::vector<int> m_results;
    std::vector<bool> m_ownerEnabled;
};

struct AnswerCase {
    const char* label;
    MessageKind kind;
    std::function<void(CMessageWnd*)> act;
    std::vector<int> results;
};

void Click(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

TEST_F(MessageWndTest, AnswersAndTheOwnerIsEnabledBeforeTheCallback) {
    using enum MessageKind;
    const auto enter = [](auto* box) { QTest::keyClick(box, Qt::Key_Return); };
    const AnswerCase cases[] = {
        {"Enter on a question", Question, enter, {1}},
        {"Yes clicked", Question, [](auto* box) { Click(box->YesButton()); }, {1}},
        {"No clicked", Question, [](auto* box) { Click(box->NoButton()); }, {0}},
        {"Enter on a notice", Notice, enter, {1}},
        {"Escape", Question, [](auto* box) { QTest::keyClick(box, Qt::Key_Escape); }, {}},
        {"window closed", Notice, [](auto* box) { box->close(); }, {}},
        {"answered twice",
         Question,
         [&](auto* box) {
             enter(box);
             box->Answer(0);
             Click(box->NoButton());
         },
         {1}},
    };
    for (const AnswerCase& c : cases) {
        m_results.clear();
        m_ownerEnabled.clear();
        CMessageWnd* box = Show(c.kind);
        SCOPED_TRACE(c.label);
        EXPECT_FALSE(m_owner->isEnabled());
        c.act(box);
        EXPECT_EQ(m_results, c.results);
        EXPECT_EQ(m_ownerEnabled, std::vector<bool>(c.results.size(), true));
        EXPECT_TRUE(m_owner->isEnabled());
        EXPECT_FALSE(box->isVisible());
    }
    EXPECT_EQ(m_manager.BoxCount(), std::size(cases));  // answered boxes are kept
}

TEST_F(MessageWndTest, DestroyingTheManagerDeletesEveryBoxAndFreesTheOwner) {
    QWidget owner;
    owner.show();
    std::vector<QPointer<CMessageWnd>> boxes;
    {
        CMessageWndManager manager(m_texts);
        for (MessageKind kind : {MessageKind::Question, MessageKind::Notice, MessageKind::Notice}) {
            ASSERT_TRUE(manager.ShowMessage("H", "T", &owner, kind));
            boxes.emplace_back(manager.Box(manager.BoxCount() - 1));
        }
        QTest::keyClick(boxes[1], Qt::Key_Escape);
        EXPECT_FALSE(owner.isEnabled());
    }
    for (const QPointer<CMessageWnd>& box : boxes)
        EXPECT_TRUE(box.isNull());
    EXPECT_TRUE(owner.isEnabled());
}

TEST_F(MessageWndTest, OwnerDestroyedWhileTheBoxIsUp) {
    CMessageWnd* box = Show(MessageKind::Question);
    m_owner.reset();
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_FALSE(box->isVisible());
}

}  // namespace
}  // namespace vexel
