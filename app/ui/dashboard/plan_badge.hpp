#pragma once

#include <QString>
#include <QWidget>

#include <string_view>

namespace quotalume {

// The plan as a capsule: "Pro" on the brand gradient for the pro plan in any letter case,
// any other plan in capitals on a quiet grey.
class PlanBadge : public QWidget {
    Q_OBJECT

public:
    explicit PlanBadge(QWidget* parent = nullptr);

    void setPlan(std::string_view plan);
    const QString& text() const { return text_; }
    bool isPro() const { return pro_; }

    static bool isProPlan(std::string_view plan);
    static QString badgeText(std::string_view plan);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    bool pro_ = false;
};

}  // namespace quotalume
