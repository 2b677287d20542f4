// What drawing the tray image costs beyond the work no tray image can skip: a transparent
// image of the same size with the same two percentages drawn on it.

#include "tray/tray_icon_image.hpp"

#include <QFont>
#include <QGuiApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace quotalume {
namespace {

constexpr int pixels = 48;

TrayIconImage twoRings() {
    return {MenuBarStyle::ringsPercentage,
            {{QuotaWindow::fiveHour, 62.5, "62%"}, {QuotaWindow::weekly, 8, "8%"}}};
}

void BM_RenderRingsPercentage(benchmark::State& state) {
    const TrayIconImage look = twoRings();
    for (auto _ : state) {
        benchmark::DoNotOptimize(look.image(pixels));
    }
}
BENCHMARK(BM_RenderRingsPercentage)->Unit(benchmark::kMicrosecond);

void BM_FillAndDrawTwoStrings(benchmark::State& state) {
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixels / 3);
    font.setBold(true);
    for (auto _ : state) {
        QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(font);
        painter.drawText(QPointF(pixels / 4.0, pixels / 2.0), QStringLiteral("62"));
        painter.drawText(QPointF(pixels / 4.0, pixels * 0.9), QStringLiteral("8"));
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
