// The file pickers and the folder picker, driven through Qt's own file
// dialog (the test main turns the desktop's native one off).

#include "ModalAnswer.h"

#include "tests/support/qt/QtPrinting.h"

#include "dialogs/Dialogs.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvane::dialogs {
namespace {

using test::ModalAnswer;

std::string bytesOf(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The file names the picker lists as choosable in its current folder.
QStringList listedNames(QFileDialog* picker) {
    QStringList names;
    auto* view = picker->findChild<QListView*>("listView");
    if (view == nullptr || view->model() == nullptr)
        return names;
    const QAbstractItemModel* model = view->model();
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < model->rowCount(root); ++row) {
        const QModelIndex item = model->index(row, 0, root);
        if (model->flags(item) & Qt::ItemIsEnabled)
            names.push_back(item.data().toString());
    }
    names.sort();
    return names;
}

// The directory is read on a thread of the file system model; wait for it.
bool waitForListing(QFileDialog* picker, const QStringList& expected) {
    return QTest::qWaitFor([&] { return listedNames(picker) == expected; }, 5000);
}

QStringList shownFilters(QFileDialog* picker) {
    QStringList shown;
    if (auto* combo = picker->findChild<QComboBox*>("fileTypeCombo"))
        for (int i = 0; i < combo->count(); ++i)
            shown.push_back(combo->itemText(i));
    return shown;
}

// What the picker's Open or Save button does (QFileDialog keeps accept()
// protected; the dialog's own is public and virtual).
void acceptPicker(QFileDialog* picker) {
    QDialog* dialog = picker;
    dialog->accept();
}

// Types a name into the picker's file-name field, as a person would.
void typeFileName(QFileDialog* picker, const QString& name) {
    auto* field = picker->findChild<QLineEdit*>("fileNameEdit");
    if (field == nullptr) {
        ADD_FAILURE() << "the picker has no file-name field";
        return;
    }
    field->setText(name);
}

// Runs play() as the user of the next picker, which must be a QFileDialog.
ModalAnswer answerPicker(const std::function<void(QFileDialog*)>& play) {
    return ModalAnswer([play](QWidget* modal) {
        auto* picker = qobject_cast<QFileDialog*>(modal);
        if (picker == nullptr) {
            ADD_FAILURE() << "not a file dialog";
            modal->close();
            return;
        }
        play(picker);
    });
}

class FilePickers : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        // A folder name outside ASCII: paths travel as the file system's bytes.
        ASSERT_TRUE(QDir(root_.path())
                        .mkdir(QString::fromUtf8("S\xC3\xA0"
                                                 "fes")));
        folder_ = QDir(root_.filePath(QString::fromUtf8("S\xC3\xA0"
                                                        "fes")));
        for (const char* name : {"first.cx", "notes.txt", "README"})
            touch(name);
    }

    void touch(const QString& name) {
        QFile file(folder_.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }

    QString pathOf(const QString& name) const { return folder_.filePath(name); }

    QTemporaryDir root_;
    QDir folder_;
};

TEST_F(FilePickers, OpenSafeStartsOnThePathAndOffersBothFiltersInOrder) {
    std::string path = bytesOf(pathOf("first.cx"));
    const ModalAnswer answer = answerPicker([&](QFileDialog* picker) {
        EXPECT_EQ(picker->acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(picker->fileMode(), QFileDialog::ExistingFile) << "only an existing file";
        EXPECT_EQ(shownFilters(picker), QStringList({"Cofferix files (*.cx)", "All Files (*.*)"}));
        EXPECT_EQ(picker->selectedNameFilter(), "Cofferix files (*.cx)");
        EXPECT_EQ(picker->directory(), folder_);
        EXPECT_EQ(picker->selectedFiles(), QStringList({pathOf("first.cx")}));
        EXPECT_TRUE(waitForListing(picker, {"first.cx"})) << listedNames(picker).join(", ");
        picker->selectNameFilter(picker->nameFilters().at(1));
        // "All Files" also lists the name without a dot.
        EXPECT_TRUE(waitForListing(picker, {"README", "first.cx", "notes.txt"}))
            << listedNames(picker).join(", ");
        typeFileName(picker, "README");
        acceptPicker(picker);
    });
    EXPECT_TRUE(pickSafeToOpen(nullptr, path));
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(path, bytesOf(pathOf("README")));
}

TEST_F(FilePickers, NewSafeAppendsCxAndAcceptsAFileThatDoesNotExistYet) {
    std::string path;
    const ModalAnswer answer = answerPicker([&](QFileDialog* picker) {
        EXPECT_EQ(picker->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(picker->defaultSuffix(), "cx");
        EXPECT_FALSE(picker->testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(shownFilters(picker), QStringList({"Cofferix files (*.cx)", "All Files (*.*)"}));
        EXPECT_EQ(picker->selectedNameFilter(), "Cofferix files (*.cx)");
        picker->setDirectory(folder_);
        typeFileName(picker, "fresh");
        acceptPicker(picker);
    });
    EXPECT_TRUE(pickNewSafe(nullptr, path));
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(path, bytesOf(pathOf("fresh.cx")));
    EXPECT_FALSE(QFile::exists(pathOf("fresh.cx"))) << "the picker only names the file";
}

TEST_F(FilePickers, NewSafeAsksBeforeReplacingAnExistingFile) {
    std::string path;
    const ModalAnswer answer = answerPicker([&](QFileDialog* picker) {
        picker->setDirectory(folder_);
        typeFileName(picker, "first.cx");
        const ModalAnswer confirm([](QWidget* question) {
            auto* box = qobject_cast<QMessageBox*>(question);
            if (box == nullptr) {
                ADD_FAILURE() << "no overwrite question";
                question->close();
                return;
            }
            box->button(QMessageBox::Yes)->click();
        });
        acceptPicker(picker);
        EXPECT_TRUE(confirm.answered());
    });
    EXPECT_TRUE(pickNewSafe(nullptr, path));
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(path, bytesOf(pathOf("first.cx")));
}

TEST_F(FilePickers, AddFileOffersOnlyAllFilesAndNeverAsksAboutOverwriting) {
    std::string path;
    const ModalAnswer answer = answerPicker([&](QFileDialog* picker) {
        EXPECT_EQ(picker->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(picker->fileMode(), QFileDialog::AnyFile);
        EXPECT_TRUE(picker->testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(shownFilters(picker), QStringList({"All Files (*.*)"}));
        picker->setDirectory(folder_);
        EXPECT_TRUE(waitForListing(picker, {"README", "first.cx", "notes.txt"}))
            << listedNames(picker).join(", ");
        typeFileName(picker, "notes.txt");
        acceptPicker(picker);
    });
    EXPECT_TRUE(pickFileToAdd(nullptr, path));
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(path, bytesOf(pathOf("notes.txt")));
}

TEST_F(FilePickers, AddFileAppendsCxOnlyToANameThatDoesNotExist) {
    const struct {
        const char* typed;
        const char* chosen;
    } cases[] = {{"README", "README"}, {"plan", "plan.cx"}, {"first", "first.cx"}};
    for (const auto& c : cases) {
        std::string path;
        const ModalAnswer answer = answerPicker([&](QFileDialog* picker) {
            picker->setDirectory(folder_);
            typeFileName(picker, c.typed);
            acceptPicker(picker);
        });
        EXPECT_TRUE(pickFileToAdd(nullptr, path)) << c.typed;
        EXPECT_TRUE(answer.answered()) << c.typed;
        EXPECT_EQ(path, bytesOf(pathOf(c.chosen))) << c.typed;
    }
}

TEST_F(FilePickers, ChooseFolderGivesTheChosenFolderWithTheTitle) {
    std::string path;
    const ModalAnswer answer = answerPicker([&](QFileDialog* picker) {
        EXPECT_EQ(picker->windowTitle(), "Select a Directory");
        EXPECT_EQ(picker->fileMode(), QFileDialog::Directory);
        picker->setDirectory(folder_);
        acceptPicker(picker);
    });
    EXPECT_TRUE(ChooseFolder(nullptr, path, "Select a Directory"));
    EXPECT_TRUE(answer.answered());
    EXPECT_EQ(path, bytesOf(folder_.absolutePath()));
}

// Every picker, cancelled, returns false and leaves the path as it was.
TEST_F(FilePickers, CancelledPickersReturnFalseAndKeepThePath) {
    const std::vector<std::function<bool(std::string&)>> pickers = {
        [](std::string& path) { return pickSafeToOpen(nullptr, path); },
        [](std::string& path) { return pickNewSafe(nullptr, path); },
        [](std::string& path) { return pickFileToAdd(nullptr, path); },
        [](std::string& path) { return ChooseFolder(nullptr, path, "Select a Directory"); },
    };
    for (std::size_t i = 0; i < pickers.size(); ++i) {
        SCOPED_TRACE(i);
        std::string path = bytesOf(pathOf("first.cx"));
        const ModalAnswer answer = answerPicker([](QFileDialog* picker) { picker->reject(); });
        EXPECT_FALSE(pickers[i](path));
        EXPECT_TRUE(answer.answered());
        EXPECT_EQ(path, bytesOf(pathOf("first.cx")));
    }
}

// Qt's dialog keeps the folders it saw in the settings all Qt programs share;
// after each picker no folder of ours is there, and another program's stay.
TEST_F(FilePickers, NoPickerLeavesAFolderNameInTheSharedSettings) {
    const QString shared = root_.filePath(QStringLiteral("QtProject.conf"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, root_.path());
    QFile before(shared);
    ASSERT_TRUE(before.open(QIODevice::WriteOnly));
    before.write("[FileDialog]\nhistory=file:///srv/another-program\n");
    before.close();
    const std::vector<std::function<bool(std::string&)>> pickers = {
        [](std::string& path) { return pickSafeToOpen(nullptr, path); },
        [](std::string& path) { return pickNewSafe(nullptr, path); },
        [](std::string& path) { return pickFileToAdd(nullptr, path); },
        [](std::string& path) { return ChooseFolder(nullptr, path, "Select a Directory"); }};
    for (const auto& picker : pickers) {
        std::string path;
        const ModalAnswer answer = answerPicker([&](QFileDialog* dialog) {
            dialog->setDirectory(folder_);
            if (dialog->fileMode() != QFileDialog::Directory)
                typeFileName(dialog, dialog->acceptMode() == QFileDialog::AcceptSave ? "fresh.cx"
                                                                                     : "first.cx");
            acceptPicker(dialog);
        });
        EXPECT_TRUE(picker(path));
        QFile after(shared);
        ASSERT_TRUE(after.open(QIODevice::ReadOnly));
        const QByteArray kept = after.readAll();
        EXPECT_FALSE(kept.contains(QDir(root_.path()).dirName().toUtf8())) << kept.toStdString();
        EXPECT_TRUE(kept.contains("another-program")) << kept.toStdString();
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

} // namespace
} // namespace quorvane::dialogs
