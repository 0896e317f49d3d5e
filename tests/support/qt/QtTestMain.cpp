// The main of every Qt test program: one QApplication for the whole program,
// offscreen unless a platform is named, so that test discovery at build time
// needs no display.

#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

QtMessageHandler qtDefaultHandler = nullptr;

// The offscreen platform says these for every window, menu and pop-up it
// shows; they tell nothing about the code under test and bury what does.
void quietOffscreenNoise(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("This plugin does not support ")))
        return;
    qtDefaultHandler(type, context, text);
}

} // namespace

int main(int argc, char** argv) {
    // The window keeps its size in the user's settings file: each test
    // program has a settings folder of its own, so that none reads what
    // another one, or the user, left there.
    char settingsFolder[] = "/tmp/quorvane-test-settings-XXXXXX";
    const bool ownSettings = ::mkdtemp(settingsFolder) != nullptr;
    if (ownSettings)
        setenv("XDG_CONFIG_HOME", settingsFolder, 1);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt's own file dialogs, which a test can drive, never a desktop's.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    qtDefaultHandler = qInstallMessageHandler(quietOffscreenNoise);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    if (ownSettings) {
        std::error_code ignored;
        std::filesystem::remove_all(settingsFolder, ignored);
    }
    return result;
}
