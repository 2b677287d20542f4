#pragma once

#include <quotalume/l10n/app_language.hpp>

#include <QWidget>

#include <array>

class QAbstractButton;
class QButtonGroup;
class QStackedWidget;

namespace quotalume {

class Engine;

class AboutView;
class GeneralPage;
class MonitorBridge;
class NotificationsPage;
class SourcePage;
class WebhookPage;

// The settings window: five pages under a segmented control. Every change goes through the
// monitor; every text follows the interface language at once. Each time it appears, the webhook
// page shows what is stored, so an edit left unsaved is not mistaken for the configuration.
// As in a dialog, Escape closes it and Return presses the focused push button, else the
// default button of the part of the page that has focus (see SettingsForm::setDefaultButton).
class SettingsWindow final : public QWidget {
    Q_OBJECT

public:
    enum class Page { general, notifications, webhooks, source, about };
    // The page that deals with what the monitor reports going wrong: the Codex sources for a
    // failed reading of any of them, the webhook for a configuration that cannot be used, else
    // General.
    static Page pageFor(const Engine& monitor);
    // The narrowest the window gets; it is as tall as the page shown needs (within the
    // screen), and the user may resize it.
    static constexpr int minimumWidth = 560;

    explicit SettingsWindow(MonitorBridge& bridge, QWidget* parent = nullptr);

    void showPage(Page page);
    Page page() const;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void retranslate();
    void refresh();
    void fitToPage();

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
};

}  // namespace quotalume
