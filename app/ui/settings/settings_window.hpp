#pragma once

#include <quotalume/app_language.hpp>

#include <QWidget>

#include <array>

class QAbstractButton;
class QButtonGroup;
class QStackedWidget;

namespace quotalume {

class AboutView;
class GeneralPage;
class MonitorBridge;
class NotificationsPage;
class SourcePage;
class WebhookPage;

// The settings window: five pages under a segmented control. Every change goes through the
// monitor; every text follows the interface language at once.
class SettingsWindow final : public QWidget {
    Q_OBJECT

public:
    enum class Page { general, notifications, webhooks, source, about };
    static constexpr int width = 560;
    static constexpr int height = 570;

    explicit SettingsWindow(MonitorBridge& bridge, QWidget* parent = nullptr);

    void showPage(Page page);
    Page page() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void retranslate();
    void refresh();

    MonitorBridge& bridge_;
    QButtonGroup* segments_;
    std::array<QAbstractButton*, 5> buttons_{};
    QStackedWidget* stack_;
    GeneralPage* general_;
    NotificationsPage* notifications_;
    WebhookPage* webhook_;
    SourcePage* source_;
    AboutView* about_;
    AppLanguage language_;
    bool loaded_ = false;
};

}  // namespace quotalume
