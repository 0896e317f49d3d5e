// The rename dialog and the About box.

#include "ModalAnswer.h"

#include "tests/support/qt/QtPrinting.h"

#include "dialogs/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace quorvane::dialogs {
namespace {

using test::ModalAnswer;

struct RenameView {
    QDialog* dialog = nullptr;
    QLineEdit* edit = nullptr;
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
};

// Runs the rename dialog with play() acting as the user; returns the name,
// none for a cancel.
std::optional<std::string> renameWith(const std::function<void(const RenameView&)>& play) {
    ModalAnswer answer([&](QWidget* modal) {
        RenameView view;
        view.dialog = qobject_cast<QDialog*>(modal);
        view.edit = modal->findChild<QLineEdit*>("nameEdit");
        view.ok = modal->findChild<QPushButton*>("okButton");
        view.cancel = modal->findChild<QPushButton*>("cancelButton");
        if (!view.dialog || !view.edit || !view.ok || !view.cancel) {
            ADD_FAILURE() << "not the rename dialog";
            if (view.dialog)
                view.dialog->reject();
            return;
        }
        play(view);
    });
    const std::optional<std::string> newEntryName = runRenameDialog(nullptr);
    EXPECT_TRUE(answer.answered());
    return newEntryName;
}

TEST(RenameDialog, CaptionPromptLimitFocusAndDefaultButton) {
    const std::optional<std::string> name = renameWith([](const RenameView& view) {
        EXPECT_EQ(view.dialog->windowTitle(), "Dialog");
        const auto labels = view.dialog->findChildren<QLabel*>();
        ASSERT_EQ(labels.size(), 1);
        EXPECT_EQ(labels.front()->text(), "Enter New Filename:");
        EXPECT_EQ(view.edit->maxLength(), 50);
        EXPECT_EQ(view.edit->echoMode(), QLineEdit::Normal);
        EXPECT_EQ(view.ok->text(), "OK");
        EXPECT_EQ(view.cancel->text(), "Cancel");
        EXPECT_TRUE(view.ok->isDefault());
        EXPECT_EQ(view.dialog->focusWidget(), view.edit);
        view.ok->click();
    });
    EXPECT_EQ(name, "");
}

TEST(RenameDialog, OkTakesTheTypedName) {
    EXPECT_EQ(renameWith([](const RenameView& view) {
                  QTest::keyClicks(view.edit, "report 2024.pdf");
                  view.ok->click();
              }),
              "report 2024.pdf");
    EXPECT_EQ(renameWith([](const RenameView& view) {
                  QTest::keyClicks(view.edit, "typed at once");
                  QTest::keyClick(view.edit, Qt::Key_Return);
              }),
              "typed at once");
}

TEST(RenameDialog, CancelEscAndCloseBoxHandNothingBack) {
    const std::function<void(const RenameView&)> ways[] = {
        [](const RenameView& view) { view.cancel->click(); },
        [](const RenameView& view) { QTest::keyClick(view.edit, Qt::Key_Escape); },
        [](const RenameView& view) { view.dialog->close(); },
    };
    for (const auto& leave : ways) {
        EXPECT_EQ(renameWith([&](const RenameView& view) {
                      QTest::keyClicks(view.edit, "new name.txt");
                      leave(view);
                  }),
                  std::nullopt);
    }
}

// The edit shows 50 characters; the name takes 49 bytes at most, and a
// character that does not fit whole is left out.
TEST(RenameDialog, ANameIsCutAtFortyNineBytesOnAWholeCharacter) {
    const std::vector<std::tuple<int, QString, std::string>> cases = {
        {60, QString(), std::string(49, 'n')},
        {48, QString::fromUtf8("\xC3\xA9"), std::string(48, 'n')}, // bytes 49 and 50
        {47, QString::fromUtf8("\xC3\xA9"), std::string(47, 'n') + "\xC3\xA9"},
    };
    for (const auto& [count, character, expected] : cases) {
        SCOPED_TRACE(count);
        const std::optional<std::string> name = renameWith([&](const RenameView& view) {
            QTest::keyClicks(view.edit, QString(count, QLatin1Char('n')));
            if (!character.isEmpty())
                QTest::sendKeyEvent(QTest::Click, view.edit, Qt::Key_unknown, character,
                                    Qt::NoModifier);
            EXPECT_EQ(view.edit->text().size(), std::min(count, 50) + character.size());
            view.ok->click();
        });
        EXPECT_EQ(name, expected);
    }
}

TEST(AboutDialog, ShowsCaptionIconNameVersionAndClosesOnOk) {
    QPixmap square(16, 16);
    square.fill(Qt::darkBlue);
    const QIcon savedIcon = QApplication::windowIcon();
    QApplication::setWindowIcon(QIcon(square));
    ModalAnswer answer([](QWidget* modal) {
        EXPECT_EQ(modal->windowTitle(), "About Quorvane");
        auto* icon = modal->findChild<QLabel*>("aboutIcon");
        auto* text = modal->findChild<QLabel*>("aboutText");
        auto* ok = modal->findChild<QPushButton*>("okButton");
        if (!icon || !text || !ok) {
            ADD_FAILURE() << "not the About box";
            modal->close();
            return;
        }
        EXPECT_FALSE(icon->pixmap().isNull());
        EXPECT_TRUE(text->text().contains("Quorvane"));
        EXPECT_TRUE(text->text().contains(QUORVANE_VERSION));
        EXPECT_EQ(ok->text(), "OK");
        EXPECT_TRUE(ok->isDefault());
        ok->click();
    });
    runAboutDialog(nullptr);
    EXPECT_TRUE(answer.answered());
    QApplication::setWindowIcon(savedIcon);
}

} // namespace
} // namespace quorvane::dialogs
