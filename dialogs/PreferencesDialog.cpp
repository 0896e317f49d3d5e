#include "dialogs/PreferencesDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QSettings>
#include <QSpinBox>

namespace quorvane::dialogs {

namespace {

constexpr int LongestIdleMinutes = 24 * 60;
constexpr int LongestGraceSeconds = 600;

// Written as an INI file at the path the tool reads, rather than where Qt
// would put it by itself, so that both programs agree without Qt in the tool.
QSettings preferencesFile() {
    return QSettings(QFile::decodeName(settingsFilePath().c_str()), QSettings::IniFormat);
}

QString key(const char* name) {
    return QString::fromLatin1(close_setting::Group) + QLatin1Char('/') + QLatin1String(name);
}

} // namespace

PreferencesDialog::PreferencesDialog(const CloseSettings& settings, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("PreferencesDialog"));
    setWindowTitle(QStringLiteral("Preferences"));
    onScreenLock_ = new QCheckBox(QStringLiteral("Close the safe when the screen &locks"), this);
    onScreenLock_->setChecked(settings.onScreenLock);
    onSleep_ = new QCheckBox(QStringLiteral("Close the safe before &sleep"), this);
    onSleep_->setChecked(settings.onSleep);
    idleMinutes_ = new QSpinBox(this);
    idleMinutes_->setRange(0, LongestIdleMinutes);
    idleMinutes_->setSuffix(QStringLiteral(" min"));
    idleMinutes_->setSpecialValueText(QStringLiteral("never"));
    idleMinutes_->setValue(
        settings.idle
            ? static_cast<int>(std::chrono::ceil<std::chrono::minutes>(*settings.idle).count())
            : 0);
    graceSeconds_ = new QSpinBox(this);
    graceSeconds_->setRange(0, LongestGraceSeconds);
    graceSeconds_->setSuffix(QStringLiteral(" s"));
    graceSeconds_->setValue(
        static_cast<int>(std::chrono::ceil<std::chrono::seconds>(settings.grace).count()));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* form = new QFormLayout(this);
    form->addRow(onScreenLock_);
    form->addRow(onSleep_);
    form->addRow(QStringLiteral("Close after &idle minutes:"), idleMinutes_);
    form->addRow(QStringLiteral("&Grace for open files:"), graceSeconds_);
    form->addRow(buttons);
}

CloseSettings PreferencesDialog::settings() const {
    CloseSettings chosen;
    chosen.onScreenLock = onScreenLock_->isChecked();
    chosen.onSleep = onSleep_->isChecked();
    if (idleMinutes_->value() == 0)
        chosen.idle.reset();
    else
        chosen.idle = std::chrono::minutes(idleMinutes_->value());
    chosen.grace = std::chrono::seconds(graceSeconds_->value());
    return chosen;
}

CloseSettings loadClosePreferences() {
    // The one reader of the file, shared with the tool.
    return readCloseSettings(settingsFilePath());
}

void saveClosePreferences(const CloseSettings& settings) {
    if (settingsFilePath().empty())
        return;
    QSettings file = preferencesFile();
    file.setValue(key(close_setting::OnScreenLock), settings.onScreenLock);
    file.setValue(key(close_setting::OnSleep), settings.onSleep);
    file.setValue(
        key(close_setting::IdleMinutes),
        settings.idle
            ? static_cast<int>(std::chrono::ceil<std::chrono::minutes>(*settings.idle).count())
            : 0);
    file.setValue(
        key(close_setting::GraceSeconds),
        static_cast<int>(std::chrono::ceil<std::chrono::seconds>(settings.grace).count()));
    file.sync();
}

} // namespace quorvane::dialogs
