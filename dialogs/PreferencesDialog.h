#pragma once

#include "watch/CloseSettings.h"

#include <QDialog>

class QCheckBox;
class QSpinBox;

namespace quorvane::dialogs {

// Edit > Preferences: when an open safe closes by itself. Kept in the
// settings file that the tool reads too (settingsFilePath()).
class PreferencesDialog : public QDialog {
    Q_OBJECT

  public:
    PreferencesDialog(const CloseSettings& settings, QWidget* parent = nullptr);
    CloseSettings settings() const;

    QCheckBox* onScreenLock() const { return onScreenLock_; }
    QCheckBox* onSleep() const { return onSleep_; }
    QSpinBox* idleMinutes() const { return idleMinutes_; } // 0: never
    QSpinBox* graceSeconds() const { return graceSeconds_; }

  private:
    QCheckBox* onScreenLock_ = nullptr;
    QCheckBox* onSleep_ = nullptr;
    QSpinBox* idleMinutes_ = nullptr;
    QSpinBox* graceSeconds_ = nullptr;
};

// The settings file through QSettings; the defaults where it says nothing.
CloseSettings loadClosePreferences();
void saveClosePreferences(const CloseSettings& settings);

} // namespace quorvane::dialogs
