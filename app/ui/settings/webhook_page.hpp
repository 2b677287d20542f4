#pragma once

#include <quotalume/webhook/webhook_configuration.hpp>

#include <QWidget>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quotalume {

class MonitorBridge;

// The webhook receiver: on or off, body format, address and the credentials the format uses.
// The fields are a working copy; only Save stores them, through the monitor.
class WebhookPage final : public QWidget {
    Q_OBJECT

public:
    explicit WebhookPage(MonitorBridge& bridge, QWidget* parent = nullptr);

    // The stored configuration and its on/off flag into the fields.
    void load();
    void retranslate();
    void refresh();

    // The fields as typed.
    WebhookConfiguration edited() const;
    // What test and save send: the address without surrounding white space and line breaks,
    // and only the credentials the format uses (json: both; feishu: the secret; others none).
    static WebhookConfiguration cleaned(WebhookConfiguration configuration);

private:
    void showCredentials();
    void save();

    MonitorBridge& bridge_;
    QGroupBox* receiver_;
    QFormLayout* form_;
    QCheckBox* enabled_;
    QCheckBox* warnings_;
    QComboBox* format_;
    QLineEdit* url_;
    QLineEdit* token_;
    QLineEdit* secret_;
    QPushButton* test_;
    QPushButton* save_;
    QLabel* feedback_;
};

}  // namespace quotalume
