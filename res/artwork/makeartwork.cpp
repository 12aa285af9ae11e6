// Draws the window backgrounds, the information icon and the PNG of the
// program icon into res/. Run by hand when the artwork changes; the results
// are committed. Build and run from the project root:
//   g++ -std=c++20 -fPIC res/artwork/makeartwork.cpp -o /tmp/makeartwork \
//       $(pkg-config --cflags --libs Qt6Gui Qt6Svg) && \
//   QT_QPA_PLATFORM=offscreen /tmp/makeartwork res
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSvgRenderer>

#include <cstdio>

namespace {

// A faint speech bubble, the motif of the backgrounds.
void bubble(QPainter& p, QRectF r, QColor fill, bool tailLeft)
{
    QPainterPath path;
    path.addRoundedRect(r, r.height() * 0.28, r.height() * 0.28);
    QPainterPath tail;
    const qreal y = r.bottom() - r.height() * 0.1;
    if (tailLeft) {
        tail.moveTo(r.left() + r.width() * 0.12, y);
        tail.lineTo(r.left() - r.height() * 0.12, r.bottom() + r.height() * 0.18);
        tail.lineTo(r.left() + r.width() * 0.3, y);
    } else {
        tail.moveTo(r.right() - r.width() * 0.12, y);
        tail.lineTo(r.right() + r.height() * 0.12, r.bottom() + r.height() * 0.18);
        tail.lineTo(r.right() - r.width() * 0.3, y);
    }
    p.fillPath(path.united(tail), fill);
}

QImage mainBackground()
{
    QImage img(1000, 680, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 680);
    g.setColorAt(0.0, QColor("#FFFDF4"));
    g.setColorAt(0.25, QColor("#FFFFFF"));
    g.setColorAt(1.0, QColor("#FFFFFF"));
    p.fillRect(img.rect(), g);
    QRadialGradient glow(920, 640, 420);
    glow.setColorAt(0, QColor(254, 235, 158, 70));
    glow.setColorAt(1, QColor(254, 235, 158, 0));
    p.fillRect(img.rect(), glow);
    bubble(p, QRectF(700, 470, 200, 80), QColor(41, 153, 255, 16), true);
    bubble(p, QRectF(780, 570, 170, 64), QColor(254, 149, 22, 18), false);
    bubble(p, QRectF(640, 590, 110, 46), QColor(190, 166, 126, 16), true);
    return img;
}

QImage subBackground()
{
    QImage img(480, 200, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 200);
    g.setColorAt(0.0, QColor("#FEF6D8"));
    g.setColorAt(0.35, QColor("#FFFFFF"));
    g.setColorAt(1.0, QColor("#FFFFFF"));
    p.fillRect(img.rect(), g);
    bubble(p, QRectF(380, 120, 80, 34), QColor(254, 149, 22, 20), false);
    bubble(p, QRectF(330, 150, 56, 26), QColor(41, 153, 255, 16), true);
    return img;
}

QImage infoIcon()
{
    QImage img(64, 64, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 2, 0, 62);
    g.setColorAt(0, QColor("#5FB8E6"));
    g.setColorAt(1, QColor("#2999FF"));
    p.setBrush(g);
    p.setPen(QPen(QColor("#1F7ACC"), 2));
    p.drawEllipse(QRectF(3, 3, 58, 58));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(28, 13, 8, 8));
    p.drawRoundedRect(QRectF(28, 25, 8, 27), 3, 3);
    return img;
}

QImage renderSvg(const QString& file, int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QSvgRenderer svg(file);
    QPainter p(&img);
    svg.render(&p);
    return img;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString res = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("res");
    bool ok = mainBackground().save(res + "/main_bg.jpg", "JPG", 90);
    ok = subBackground().save(res + "/sub_bg.jpg", "JPG", 90) && ok;
    ok = infoIcon().save(res + "/tipsutil_res/icon_info.png", "PNG") && ok;
    ok = renderSvg(res + "/quillometry.svg", 256).save(res + "/quillometry.png", "PNG") && ok;
    std::printf("%s\n", ok ? "artwork written" : "writing the artwork failed");
    return ok ? 0 : 1;
}
