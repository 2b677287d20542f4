// What drawing the tray image costs beyond the work no tray image can skip: a transparent
// image of the same size with the same two percentages drawn on it.

#include "tray/menu_bar_renderer.hpp"

#include <QFont>
#include <QGuiApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace quotalume {
namespace {

MenuBarRenderer twoRings() {
    return {MenuBarStyle::ringsPercentage,
            {{QuotaWindow::fiveHour, 62.5, "62%"}, {QuotaWindow::weekly, 8, "8%"}}};
}

void BM_RenderRingsPercentage(benchmark::State& state) {
    const MenuBarRenderer renderer = twoRings();
    for (auto _ : state) {
        benchmark::DoNotOptimize(renderer.image());
    }
}
BENCHMARK(BM_RenderRingsPercentage)->Unit(benchmark::kMicrosecond);

void BM_FillAndDrawTwoStrings(benchmark::State& state) {
    const QSize size = twoRings().image()->size();
    QFont font = QGuiApplication::font();
    font.setPointSizeF(MenuBarLayout::make(2, MenuBarStyle::ringsPercentage)->fontSize);
    font.setBold(true);
    for (auto _ : state) {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(font);
        painter.drawText(QPointF(size.width() / 2.0, 10), QStringLiteral("62%"));
        painter.drawText(QPointF(size.width() / 2.0, 21), QStringLiteral("8%"));
        painter.end();
        benchmark::DoNotOptimize(image);
    }
}
BENCHMARK(BM_FillAndDrawTwoStrings)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quotalume

int main(int argc, char** argv) {
    // No display needed: the image is drawn in memory.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
