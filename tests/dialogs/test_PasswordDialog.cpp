// The password dialog as a person uses it: typing, the strength shown after
// every step, the byte limit, the ways out and the on-screen keyboard.

#include "ModalAnswer.h"

#include "tests/support/qt/QtPrinting.h"

#include "dialogs/Dialogs.h"
#include "dialogs/PasswordDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace quorvane::dialogs {
namespace {

using test::ModalAnswer;

struct PasswordView {
    QDialog* dialog = nullptr;
    QLineEdit* edit = nullptr;
    QProgressBar* bar = nullptr;
    QLabel* word = nullptr;
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
    QPushButton* keyboard = nullptr;
};

PasswordView viewOf(QWidget* modal) {
    PasswordView view;
    view.dialog = qobject_cast<QDialog*>(modal);
    if (view.dialog == nullptr)
        return view;
    view.edit = modal->findChild<QLineEdit*>("passwordEdit");
    view.bar = modal->findChild<QProgressBar*>("strengthBar");
    view.word = modal->findChild<QLabel*>("strengthWord");
    view.ok = modal->findChild<QPushButton*>("okButton");
    view.cancel = modal->findChild<QPushButton*>("cancelButton");
    view.keyboard = modal->findChild<QPushButton*>("keyboardButton");
    return view;
}

bool complete(const PasswordView& view) {
    return view.dialog && view.edit && view.bar && view.word && view.ok && view.cancel &&
           view.keyboard;
}

// Runs the dialog with play() acting as the user; returns 1 for OK, with the
// typed text in password, and 0 for a cancel, with password emptied.
int runWith(std::string& password, const std::function<void(const PasswordView&)>& play,
            std::optional<std::string> (*run)(QWidget*) = runPasswordDialog) {
    ModalAnswer answer([&](QWidget* modal) {
        const PasswordView view = viewOf(modal);
        if (!complete(view)) {
            ADD_FAILURE() << "not the password dialog";
            if (view.dialog)
                view.dialog->reject();
            return;
        }
        play(view);
    });
    const std::optional<std::string> typed = run(nullptr);
    EXPECT_TRUE(answer.answered());
    password = typed.value_or("");
    return typed ? 1 : 0;
}

// The text the dialog holds while it is open.
std::string typedSoFar(const PasswordView& view) {
    return qobject_cast<PasswordDialog*>(view.dialog)->typed();
}

// Types one character as a key press carrying its text, the way a keyboard
// (or the on-screen keyboard) delivers it, including non-ASCII ones.
void typeCharacter(QWidget* edit, const QString& character) {
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, character, Qt::NoModifier);
}

TEST(PasswordDialog, OpensWithCaptionEmptyBarWeakWordAndFocusOnTheHiddenEdit) {
    std::string password = "left over";
    const int result = runWith(password, [](const PasswordView& view) {
        EXPECT_EQ(view.dialog->windowTitle(), "Enter Password");
        EXPECT_EQ(view.bar->value(), 0);
        EXPECT_EQ(view.bar->minimum(), 0);
        EXPECT_EQ(view.bar->maximum(), 100);
        EXPECT_FALSE(view.bar->isTextVisible());
        EXPECT_EQ(view.word->text(), "- Weak");
        EXPECT_EQ(view.edit->echoMode(), QLineEdit::Password);
        EXPECT_FALSE(view.edit->accessibleName().isEmpty());
        EXPECT_TRUE(view.ok->isDefault());
        EXPECT_FALSE(view.cancel->isDefault());
        EXPECT_EQ(view.dialog->focusWidget(), view.edit);
        view.ok->click();
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(password, "");
}

TEST(PasswordDialog, ControlsInCreationOrderWithTheirTexts) {
    std::string password;
    runWith(password, [](const PasswordView& view) {
        std::vector<QString> shown;
        for (QObject* child : view.dialog->children()) {
            if (auto* button = qobject_cast<QAbstractButton*>(child))
                shown.push_back(button->text());
            else if (qobject_cast<QLineEdit*>(child))
                shown.push_back("<edit>");
            else if (qobject_cast<QProgressBar*>(child))
                shown.push_back("<bar>");
            else if (auto* label = qobject_cast<QLabel*>(child))
                shown.push_back(label->text());
        }
        const std::vector<QString> expected = {
            "OK",
            "Cancel",
            "<edit>",
            "Enter your Password:",
            "<bar>",
            "- Weak",
            "Use on-screen keyboard",
            "When entering you password be aware of software designed to monitor or track your ",
            "activities, be especially carefull when using puplic computers.",
            "The use of the on-screen keybord can reduce the risk from keyloggers"};
        EXPECT_EQ(shown, expected);
        view.cancel->click();
    });
}

// A new password is typed a second time into the same dialog, with every
// text of the first; only its title says that this one confirms.
TEST(PasswordDialog, TheConfirmationIsTheSameDialogUnderItsOwnTitle) {
    const auto textsOf = [](const QDialog* dialog) {
        QStringList shown;
        for (const QLabel* label : dialog->findChildren<QLabel*>())
            shown << label->text();
        return shown;
    };
    QStringList first;
    std::string typed;
    runWith(typed, [&](const PasswordView& view) {
        first = textsOf(view.dialog);
        view.cancel->click();
    });
    const auto play = [&](const PasswordView& view) {
        EXPECT_EQ(view.dialog->windowTitle(), "Confirm Password");
        EXPECT_EQ(textsOf(view.dialog), first);
        QTest::keyClicks(view.edit, QStringLiteral("again"));
        view.ok->click();
    };
    EXPECT_EQ(runWith(typed, play, runConfirmPasswordDialog), 1);
    EXPECT_EQ(typed, "again");
}

TEST(PasswordDialog, TabOrderIsOkCancelEditKeyboard) {
    std::string password;
    runWith(password, [](const PasswordView& view) {
        std::vector<QWidget*> chain;
        QWidget* widget = view.ok;
        do {
            if (widget->focusPolicy() & Qt::TabFocus)
                chain.push_back(widget);
            widget = widget->nextInFocusChain();
        } while (widget != view.ok && chain.size() < 20);
        const std::vector<QWidget*> expected = {view.ok, view.cancel, view.edit, view.keyboard};
        EXPECT_EQ(chain, expected);
        view.cancel->click();
    });
}

// The password follows every typed letter; bar and word at the score table's
// milestones for lower-case letters (the scores themselves are the strength
// tests' business).
TEST(PasswordDialog, StrengthAfterEveryTypedLetter) {
    const std::map<int, std::pair<int, QString>> milestones = {
        {1, {16, "- Weak       "}},  {8, {23, "- Weak       "}},  {9, {49, "- Ok         "}},
        {10, {50, "- Strong     "}}, {29, {69, "- Strong     "}}, {30, {70, "- Very Strong"}},
        {39, {79, "- Very Strong"}}, {40, {80, "- Very Strong"}}, {60, {100, "- Very Strong"}}};
    std::string password;
    const int result = runWith(password, [&](const PasswordView& view) {
        std::string typed;
        for (int n = 1; n <= 60; ++n) {
            const char letter = static_cast<char>('a' + (n - 1) % 26);
            QTest::keyClicks(view.edit, QString(QChar::fromLatin1(letter)));
            typed += letter;
            EXPECT_EQ(typedSoFar(view), typed) << "the password follows every change";
            const auto milestone = milestones.find(n);
            if (milestone == milestones.end())
                continue;
            EXPECT_EQ(view.bar->value(), milestone->second.first) << n << " letters";
            EXPECT_EQ(view.word->text(), milestone->second.second) << n << " letters";
        }
        view.ok->click();
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(password.size(), 60u);
}

TEST(PasswordDialog, WordStaysFromEightyUpAndShortWordsReplaceLongOnes) {
    std::string password;
    runWith(password, [&](const PasswordView& view) {
        QTest::keyClicks(view.edit, "Abcdef1!");
        EXPECT_EQ(view.word->text(), "- Strong     ");
        EXPECT_EQ(view.bar->value(), 68);
        QTest::keyClicks(view.edit, "x"); // 94: no word of its own
        EXPECT_EQ(view.word->text(), "- Strong     ");
        EXPECT_EQ(view.bar->value(), 94);
        view.edit->clear(); // 0 again
        EXPECT_EQ(view.word->text(), "- Weak       ");
        EXPECT_EQ(view.bar->value(), 0);
        EXPECT_EQ(password, "");
        QTest::keyClicks(view.edit, "Abc1");
        EXPECT_EQ(view.word->text(), "- Ok         ");
        EXPECT_EQ(view.bar->value(), 49);
        QTest::keyClicks(view.edit, "!");
        EXPECT_EQ(view.word->text(), "- Strong     ");
        EXPECT_EQ(view.bar->value(), 65);
        view.ok->click();
    });
    EXPECT_EQ(password, "Abc1!");
}

TEST(PasswordDialog, AtMost249BytesAreTakenEvenInsideACharacter) {
    std::string password;
    const int result = runWith(password, [&](const PasswordView& view) {
        QTest::keyClicks(view.edit, QString(248, QLatin1Char('a')));
        EXPECT_EQ(typedSoFar(view), std::string(248, 'a'));
        typeCharacter(view.edit, QString::fromUtf8("\xC3\xA9")); // bytes 249 and 250
        EXPECT_EQ(view.edit->text().size(), 249) << "the edit itself is not limited";
        EXPECT_EQ(typedSoFar(view), std::string(248, 'a') + "\xC3");
        EXPECT_EQ(view.bar->value(), 100);    // 249 + 25 + 15
        QTest::keyClicks(view.edit, "XYZ1!"); // beyond the limit: not taken, not scored
        EXPECT_EQ(typedSoFar(view), std::string(248, 'a') + "\xC3");
        view.ok->click();
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(password, std::string(248, 'a') + "\xC3");
}

TEST(PasswordDialog, MultiByteCharactersCountTheirBytes) {
    std::string password;
    runWith(password, [&](const PasswordView& view) {
        typeCharacter(view.edit, QString::fromUtf8("\xE2\x82\xAC")); // the euro sign
        EXPECT_EQ(typedSoFar(view), "\xE2\x82\xAC");
        EXPECT_EQ(view.bar->value(), 3);                                 // three bytes, no class
        typeCharacter(view.edit, QString::fromUtf8("\xF0\x9F\x94\x91")); // a key, 4 bytes
        EXPECT_EQ(typedSoFar(view), "\xE2\x82\xAC\xF0\x9F\x94\x91");
        EXPECT_EQ(view.bar->value(), 7);
        view.ok->click();
    });
    EXPECT_EQ(password, "\xE2\x82\xAC\xF0\x9F\x94\x91");
}

TEST(PasswordDialog, EnterInTheEditIsOk) {
    std::string password;
    const int result = runWith(password, [](const PasswordView& view) {
        QTest::keyClicks(view.edit, "secret");
        QTest::keyClick(view.edit, Qt::Key_Return);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(password, "secret");
}

// Cancel, Esc and the close box all hand nothing back, whatever was typed
// before.
TEST(PasswordDialog, EveryWayOfCancellingHandsNothingBack) {
    const std::vector<std::pair<const char*, std::function<void(const PasswordView&)>>> ways = {
        {"Cancel", [](const PasswordView& view) { view.cancel->click(); }},
        {"Esc", [](const PasswordView& view) { QTest::keyClick(view.edit, Qt::Key_Escape); }},
        {"close box", [](const PasswordView& view) { view.dialog->close(); }},
    };
    for (const auto& [name, leave] : ways) {
        std::string password;
        const int result = runWith(password, [&](const PasswordView& view) {
            QTest::keyClicks(view.edit, "typed before");
            EXPECT_EQ(typedSoFar(view), "typed before") << name;
            leave(view);
        });
        EXPECT_EQ(result, 0) << name;
        EXPECT_EQ(password, "") << name;
    }
}

// The on-screen keyboard is whatever program of that kind is on PATH; a fake
// one records each start.
class OnScreenKeyboardTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        savedPath_ = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(folder_.path()));
    }
    void TearDown() override { qputenv("PATH", savedPath_); }

    QString marker() const { return folder_.filePath("started"); }

    void installFakeKeyboard(const QString& name) {
        QFile script(folder_.filePath(name));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho " + name.toUtf8() + " >> '" + QFile::encodeName(marker()) +
                     "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    int startsRecorded() const {
        QFile file(marker());
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return static_cast<int>(file.readAll().count('\n'));
    }

    QTemporaryDir folder_;
    QByteArray savedPath_;
};

TEST_F(OnScreenKeyboardTest, EachPressStartsTheFirstKeyboardFoundAndTheDialogStays) {
    installFakeKeyboard("xvkbd");
    installFakeKeyboard("matchbox-keyboard");
    std::string password;
    const int result = runWith(password, [&](const PasswordView& view) {
        view.keyboard->click();
        view.keyboard->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return startsRecorded() == 2; }, 5000));
        EXPECT_TRUE(view.dialog->isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), view.dialog);
        QTest::keyClicks(view.edit, "still typing");
        view.ok->click();
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(password, "still typing");
    QFile file(marker());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "xvkbd\nxvkbd\n") << "onboard is missing, xvkbd comes next";
}

TEST_F(OnScreenKeyboardTest, NoKeyboardProgramIsSilentAndTheDialogStays) {
    std::string password;
    const int result = runWith(password, [&](const PasswordView& view) {
        view.keyboard->click();
        QTest::qWait(50);
        EXPECT_TRUE(view.dialog->isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), view.dialog) << "nothing was reported";
        view.cancel->click();
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(startsRecorded(), 0);
}

} // namespace
} // namespace quorvane::dialogs
