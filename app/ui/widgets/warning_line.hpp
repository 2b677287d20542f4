#pragma once

#include <quotalume/l10n/localized_message.hpp>

#include <QWidget>

#include <optional>

class QLabel;

namespace quotalume {

// A message under a warning triangle, rendered in the current language; hidden without one.
class WarningLine : public QWidget {
    Q_OBJECT

public:
    explicit WarningLine(QWidget* parent = nullptr);

    void setMessage(const std::optional<LocalizedMessage>& message);
    QString text() const;

private:
    QLabel* icon_;
    QLabel* text_;
};

}  // namespace quotalume
