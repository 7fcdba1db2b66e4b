// Message boxes on the offscreen platform: answers, owner handling and ownership.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QLabel>
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
    CMessageWnd* Show(MessageKind kind, const std::string& text = "Body", int extraWidth = 0) {
        const bool shown = m_manager.ShowMessage("Heading", text, m_owner.get(), kind, extraWidth,
                                                 [this](int result) {
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
    const AnswerCase cases[] = {
        {"Enter on a question",
         Question,
         [](auto* box) { QTest::keyClick(box, Qt::Key_Return); },
         {1}},
        {"keypad Enter on the focused No",
         Question,
         [](auto* box) { QTest::keyClick(box->NoButton(), Qt::Key_Enter); },
         {1}},
        {"Yes clicked", Question, [](auto* box) { Click(box->YesButton()); }, {1}},
        {"No clicked", Question, [](auto* box) { Click(box->NoButton()); }, {0}},
        {"Close clicked", Notice, [](auto* box) { Click(box->NoButton()); }, {0}},
        {"Enter on a notice", Notice, [](auto* box) { QTest::keyClick(box, Qt::Key_Return); }, {1}},
        {"Escape", Question, [](auto* box) { QTest::keyClick(box, Qt::Key_Escape); }, {}},
        {"window closed", Notice, [](auto* box) { box->close(); }, {}},
        {"answered twice",
         Question,
         [](auto* box) {
             QTest::keyClick(box, Qt::Key_Return);
             box->Answer(0);
             Click(box->NoButton());
         },
         {1}},
    };
    for (const AnswerCase& c : cases) {
        m_results.clear();
        m_ownerEnabled.clear();
        CMessageWnd* box = Show(c.kind);
        EXPECT_TRUE(box->isVisible()) << c.label;
        EXPECT_FALSE(m_owner->isEnabled()) << c.label;
        c.act(box);
        EXPECT_EQ(m_results, c.results) << c.label;
        EXPECT_EQ(m_ownerEnabled, std::vector<bool>(c.results.size(), true)) << c.label;
        EXPECT_TRUE(m_owner->isEnabled()) << c.label;
        EXPECT_FALSE(box->isVisible()) << c.label;
    }
    EXPECT_EQ(m_manager.BoxCount(), std::size(cases));  // answered boxes are kept
}

TEST_F(MessageWndTest, SeveralBoxesAtOnceAnswerIndependently) {
    CMessageWnd* first = Show(MessageKind::Question);
    CMessageWnd* second = Show(MessageKind::Notice);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(second->isVisible());
    QTest::keyClick(second, Qt::Key_Return);
    EXPECT_FALSE(second->isVisible());
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(m_owner->isEnabled());  // the first box still holds it
    Click(first->NoButton());
    EXPECT_EQ(m_results, (std::vector<int>{1, 0}));
    EXPECT_TRUE(m_owner->isEnabled());
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
