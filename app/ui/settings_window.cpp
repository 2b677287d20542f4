#include "settings_window.hpp"

namespace quotalume {

SettingsWindow::SettingsWindow(MonitorBridge&, QWidget* parent) : QWidget(parent) {
    setObjectName("settingsWindow");
    resize(560, 570);
}

void SettingsWindow::showPage(Page page) {
    page_ = page;
}

}  // namespace quotalume
