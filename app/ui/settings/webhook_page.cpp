#include "settings/webhook_page.hpp"

#include "monitor_bridge.hpp"
#include "settings/settings_form.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstddef>

namespace quotalume {
namespace {

QLineEdit* field(QWidget* parent, const char* objectName, bool secret) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    if (secret) {
        // Never shown, and kept out of the clipboard and input-method history.
        edit->setEchoMode(QLineEdit::Password);
        edit->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData |
                                  Qt::ImhNoPredictiveText);
    }
    return edit;
}

}  // namespace

WebhookPage::WebhookPage(MonitorBridge& bridge, QWidget* parent)
    : QWidget(parent), bridge_(bridge) {
    setObjectName(QStringLiteral("settings.webhooks"));
    auto* layout = new QVBoxLayout(this);
    form_ = SettingsForm::addSection(this, "webhook.receiver", receiver_);

    enabled_ = new QCheckBox(receiver_);
    enabled_->setObjectName(QStringLiteral("webhook.toggle"));
    warnings_ = new QCheckBox(receiver_);
    warnings_->setObjectName(QStringLiteral("webhook.warnings_toggle"));
    format_ = new QComboBox(receiver_);
    format_->setObjectName(QStringLiteral("webhook.format"));
    for (WebhookFormat format : allWebhookFormats) {
        format_->addItem(QString(), QString::fromLatin1(rawValue(format).data(),
                                                        static_cast<int>(rawValue(format).size())));
    }
    url_ = field(receiver_, "webhook.url", false);
    url_->setPlaceholderText(QStringLiteral("https://"));
    token_ = field(receiver_, "webhook.token", true);
    secret_ = field(receiver_, "webhook.secret", true);
    test_ = new QPushButton(receiver_);
    test_->setObjectName(QStringLiteral("webhook.test"));
    save_ = new QPushButton(receiver_);
    save_->setObjectName(QStringLiteral("webhook.save"));
    feedback_ = SettingsForm::caption(receiver_, "webhook.feedback");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(test_);
    buttons->addWidget(save_);

    form_->addRow(enabled_);
    form_->addRow(warnings_);
    SettingsForm::addLabelledRow(form_, format_);
    SettingsForm::addLabelledRow(form_, url_)->setText(QStringLiteral("Webhook URL"));
    SettingsForm::addLabelledRow(form_, token_);
    SettingsForm::addLabelledRow(form_, secret_);
    form_->addRow(buttons);
    form_->addRow(feedback_);
    layout->addStretch();

    SettingsForm::setDefaultButton(this, save_);

    connect(format_, &QComboBox::currentIndexChanged, this, &WebhookPage::showCredentials);
    connect(test_, &QPushButton::clicked, this,
            [this] { bridge_.monitor().testWebhook(cleaned(edited())); });
    connect(save_, &QPushButton::clicked, this, &WebhookPage::save);

    retranslate();
    refresh();
}

void WebhookPage::load() {
    Engine& monitor = bridge_.monitor();
    const WebhookConfiguration stored = monitor.loadWebhook();
    enabled_->setChecked(monitor.settings().webhookEnabled);
    warnings_->setChecked(monitor.preferences().warnings().webhook);
    const auto format =
        std::find(allWebhookFormats.begin(), allWebhookFormats.end(), stored.format);
    format_->setCurrentIndex(static_cast<int>(format - allWebhookFormats.begin()));
    url_->setText(QString::fromStdString(stored.url));
    token_->setText(QString::fromStdString(stored.bearerToken));
    secret_->setText(QString::fromStdString(stored.signingSecret));
    showCredentials();
}

void WebhookPage::retranslate() {
    receiver_->setTitle(SettingsForm::text("webhook.receiver"));
    enabled_->setText(SettingsForm::text("webhook.toggle"));
    warnings_->setText(SettingsForm::text("webhook.warnings_toggle"));
    for (std::size_t i = 0; i < allWebhookFormats.size(); ++i) {
        format_->setItemText(static_cast<int>(i),
                             QString::fromStdString(title(allWebhookFormats[i])));
    }
    SettingsForm::setLabel(form_, format_, "webhook.format");
    SettingsForm::setLabel(form_, token_, "webhook.token");
    save_->setText(SettingsForm::text("webhook.save"));
    showCredentials();
}

void WebhookPage::refresh() {
    const Engine& monitor = bridge_.monitor();
    test_->setText(SettingsForm::text(monitor.setup().isTestingWebhook() ? "webhook.sending"
                                                                         : "webhook.test"));
    test_->setEnabled(!monitor.setup().isTestingWebhook());
    SettingsForm::show(feedback_, monitor.setup().webhookFeedback());
}

WebhookConfiguration WebhookPage::edited() const {
    WebhookConfiguration configuration;
    configuration.url = url_->text().toStdString();
    const int index = std::max(0, format_->currentIndex());
    configuration.format = allWebhookFormats[static_cast<std::size_t>(index)];
    configuration.bearerToken = token_->text().toStdString();
    configuration.signingSecret = secret_->text().toStdString();
    return configuration;
}

WebhookConfiguration WebhookPage::cleaned(WebhookConfiguration configuration) {
    // Unicode white space and line breaks, as pasted addresses carry them.
    configuration.url = QString::fromStdString(configuration.url).trimmed().toStdString();
    switch (configuration.format) {
        case WebhookFormat::json:
            break;
        case WebhookFormat::feishu:
            configuration.bearerToken.clear();
            break;
        case WebhookFormat::slack:
        case WebhookFormat::discord:
        case WebhookFormat::wecom:
            configuration.bearerToken.clear();
            configuration.signingSecret.clear();
            break;
    }
    return configuration;
}

void WebhookPage::showCredentials() {
    const WebhookFormat format = edited().format;
    form_->setRowVisible(token_, format == WebhookFormat::json);
    form_->setRowVisible(secret_, format == WebhookFormat::json || format == WebhookFormat::feishu);
    SettingsForm::setLabel(
        form_, secret_, format == WebhookFormat::feishu ? "webhook.bot_secret" : "webhook.secret");
}

void WebhookPage::save() {
    const WebhookConfiguration configuration = cleaned(edited());
    Engine& monitor = bridge_.monitor();
    if (monitor.saveWebhook(configuration, enabled_->isChecked())) {
        url_->setText(QString::fromStdString(configuration.url));
        WarningPreferences warnings = monitor.preferences().warnings();
        warnings.webhook = warnings_->isChecked();
        monitor.preferences().setWarnings(warnings);
    }
}

}  // namespace quotalume
