// The main of the Qt dialog tests: one QApplication for the whole program.

#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

QtMessageHandler qtDefaultHandler = nullptr;

// The offscreen platform says this once per window shown; it says nothing
// about the code under test and buries what does.
void quietOffscreenNoise(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    qtDefaultHandler(type, context, text);
}

} // namespace

int main(int argc, char** argv) {
    // Test discovery runs this program at build time, where there may be no
    // display at all.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Qt's own file dialog, which the tests can drive, never a desktop one.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    qtDefaultHandler = qInstallMessageHandler(quietOffscreenNoise);
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
