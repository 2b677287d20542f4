#pragma once

#include "monitor_bridge.hpp"

#include <QWidget>

namespace quotalume {

// Placeholder until the settings window lands: the agreed interface over an empty window.
class SettingsWindow final : public QWidget {
    Q_OBJECT

public:
    enum class Page { general, notifications, webhooks, source, about };

    explicit SettingsWindow(MonitorBridge& bridge, QWidget* parent = nullptr);

    void showPage(Page page);
    Page page() const { return page_; }

private:
    Page page_ = Page::general;
};

}  // namespace quotalume
